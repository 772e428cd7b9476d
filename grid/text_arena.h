#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace tavo::grid {

// Memory handed out in pieces from a few large blocks and given back all at
// once: a grid's cells are written once per pass and freed with it, so a
// heap allocation each would cost more than the text itself. A piece never
// moves until clear(), so views of it stay valid. The largest blocks go
// back to a pool of the process for the next arena.
class TextArena {
  public:
    TextArena() = default;
    ~TextArena();
    TextArena(const TextArena&) = delete;
    TextArena& operator=(const TextArena&) = delete;

    // `size` bytes aligned to `align` (a power of two, at most that of
    // std::max_align_t); uninitialised.
    char* allocate(std::size_t size, std::size_t align = 1);
    void clear();
    // The bytes of all blocks held, handed out or not.
    std::size_t heldBytes() const { return held_; }

    void swap(TextArena& other) noexcept;

  private:
    std::vector<std::unique_ptr<char[]>> blocks_;
    std::vector<std::size_t> sizes_;  // of each block
    char* next_ = nullptr;
    char* end_ = nullptr;
    std::size_t held_ = 0;
};

}  // namespace tavo::grid
