#pragma once

#include <filesystem>
#include <string_view>

#ifdef _WIN32
#include <fstream>
#endif

// Writing an export so that it never replaces another file and is never seen
// half-written.
namespace tavo::grid {

// Writes `content` to `wanted`, or, where a file of that name exists, to the
// first free "name (2).ext", "name (3).ext" ... in the same folder, and
// returns the path written. The bytes go to a temporary file in the folder
// first and take their final name only when complete. Throws tavo::Error
// naming the file and the reason (no permission, disk full, name too long...);
// nothing is left behind then.
std::filesystem::path writeNewFile(const std::filesystem::path& wanted, std::string_view content);

// The same, written in pieces: a text too large to hold goes to the
// temporary file as it is made. Every call throws tavo::Error as
// writeNewFile does; a file never committed leaves nothing behind.
class NewFile {
  public:
    explicit NewFile(const std::filesystem::path& wanted);
    ~NewFile();
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    void write(std::string_view content);
    // Gives the text its name (`wanted` or the first free "name (k).ext").
    std::filesystem::path commit();

  private:
    void closeTemporary();
    void abandon();

    std::filesystem::path wanted_;
    std::filesystem::path folder_;
    std::filesystem::path tmp_;
#ifdef _WIN32
    std::ofstream out_;
#else
    int fd_ = -1;
#endif
};

}  // namespace tavo::grid
