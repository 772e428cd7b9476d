#pragma once

#include <string_view>
#include <vector>

// The framing of what a snapshot script prints. Every frame starts with a
// line break, the run's boundary, a space, a tag and maybe an argument on
// the rest of that line; its body runs to the next frame. The boundary is
// random per run and never stands in any remote process's arguments or
// environment (it reaches the script on standard input and the shell's
// builtins write it), so no one on the remote can end a body early or make
// up a frame: a file's bytes are a body and nothing else.
namespace tavo::linuxwmi::remote_view {

struct Frame {
    std::string_view tag;   // "F", "E", "R", ...
    std::string_view arg;   // the header line after the tag and a space; may be empty
    std::string_view body;  // every byte up to the next frame
};

// The frames of `output` in order, read once from front to back. Bytes
// before the first frame are not the script's and are left out; a header
// cut off by the end of the output has an empty body.
std::vector<Frame> readFrames(std::string_view output, std::string_view boundary);

}  // namespace tavo::linuxwmi::remote_view
