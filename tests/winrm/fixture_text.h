#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace tavo::testing {

// A fixture reply as the responder would send it, its placeholders filled.
inline std::string fixtureReply(const std::string& relative,
                                const std::string& context = "uuid:ctx-1") {
    std::ifstream in(std::string(TAVO_TEST_DATA) + "/winrm/" + relative, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    std::string text = s.str();
    for (const auto& [key, value] : {std::pair<std::string, std::string>{"{{CONTEXT}}", context},
                                     {"{{RELATES_TO}}", "uuid:request"},
                                     {"{{MESSAGE_ID}}", "uuid:reply"},
                                     {"{{QUERY}}", "SELECT * FROM Win32_Nothing"}}) {
        for (auto at = text.find(key); at != std::string::npos; at = text.find(key, at))
            text.replace(at, key.size(), value);
    }
    return text;
}

}  // namespace tavo::testing
