#pragma once

#include <filesystem>
#include <string_view>

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

}  // namespace tavo::grid
