#include "grid/text_arena.h"

#include "grid/huge_pages.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <utility>

namespace tavo::grid {

namespace {
// A small grid (a BIOS report, one row) takes one small block; a large one
// grows to blocks of 16 MiB, which the allocator maps straight from the
// kernel and returns to it when the grid goes, and which are faulted in as
// huge pages: a grid of a hundred thousand rows otherwise spends more on
// page faults than on its text.
constexpr std::size_t kFirstBlock = 4096;
constexpr std::size_t kLargestBlock = std::size_t{16} << 20;

// Largest blocks that grids gave back, kept for the next grid: a periodic
// report fills a grid as large as the last one every pass, and memory fresh
// from the kernel costs a fault and a zeroing per page. At most 256 MiB are
// kept; the rest goes back to the system.
class BlockPool {
  public:
    std::unique_ptr<char[]> take() {
        std::lock_guard lock(mutex_);
        if (free_.empty()) return nullptr;
        auto block = std::move(free_.back());
        free_.pop_back();
        return block;
    }
    void give(std::unique_ptr<char[]> block) {
        std::lock_guard lock(mutex_);
        if (free_.size() < kKept) free_.push_back(std::move(block));
    }

  private:
    static constexpr std::size_t kKept = 16;
    std::mutex mutex_;
    std::vector<std::unique_ptr<char[]>> free_;
};

// Never destroyed: a grid that outlives the statics may still give back.
BlockPool& pool() {
    static BlockPool* const p = new BlockPool;
    return *p;
}
}  // namespace

TextArena::~TextArena() {
    clear();
}

char* TextArena::allocate(std::size_t size, std::size_t align) {
    auto at = reinterpret_cast<std::uintptr_t>(next_);
    at = (at + align - 1) & ~(static_cast<std::uintptr_t>(align) - 1);
    if (next_ && at + size <= reinterpret_cast<std::uintptr_t>(end_)) {
        next_ = reinterpret_cast<char*>(at + size);
        return reinterpret_cast<char*>(at);
    }
    // Each block doubles the last, up to the largest; a piece larger than a
    // quarter of that gets a block of its own, and the current block keeps
    // handing out what it has left.
    const std::size_t grown = std::min(kLargestBlock, std::max(kFirstBlock, held_));
    if (size + align > grown / 4 && held_ > 0) {
        // new char[] is aligned for any fundamental type.
        blocks_.push_back(std::unique_ptr<char[]>(new char[size]));
        sizes_.push_back(size);
        held_ += size;
        return blocks_.back().get();
    }
    const std::size_t blockSize = std::max(grown, size + align);
    std::unique_ptr<char[]> block = blockSize == kLargestBlock ? pool().take() : nullptr;
    if (!block) {
        block.reset(new char[blockSize]);
        adviseHugePages(block.get(), blockSize);
    }
    blocks_.push_back(std::move(block));
    sizes_.push_back(blockSize);
    held_ += blockSize;
    next_ = blocks_.back().get() + size;
    end_ = blocks_.back().get() + blockSize;
    return blocks_.back().get();
}

void TextArena::clear() {
    for (std::size_t i = 0; i < blocks_.size(); ++i)
        if (sizes_[i] == kLargestBlock) pool().give(std::move(blocks_[i]));
    blocks_.clear();
    blocks_.shrink_to_fit();
    sizes_.clear();
    sizes_.shrink_to_fit();
    next_ = end_ = nullptr;
    held_ = 0;
}

void TextArena::swap(TextArena& other) noexcept {
    blocks_.swap(other.blocks_);
    sizes_.swap(other.sizes_);
    std::swap(next_, other.next_);
    std::swap(end_, other.end_);
    std::swap(held_, other.held_);
}

}  // namespace tavo::grid
