#pragma once
// What a terminal holds after update-cli's output: "ESC[nA ESC[J" (cursor up
// n, clear to the end) takes the last n lines away; a carriage return (a
// pseudo-terminal turns "\n" into "\r\n") is left out; other bytes are text.

#include <string>
#include <vector>

inline std::vector<std::string> Screen(const std::string& bytes)
{
    std::vector<std::string> lines{""};
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\x1b') {
            const size_t up = bytes.find("A\x1b[J", i);
            const int n = std::stoi(bytes.substr(i + 2, up - i - 2));
            lines.resize(lines.size() - static_cast<size_t>(n) - 1);
            lines.push_back("");
            i = up + 4 - 1;
        } else if (bytes[i] == '\n') {
            lines.push_back("");
        } else if (bytes[i] != '\r') {
            lines.back() += bytes[i];
        }
    }
    lines.pop_back();
    return lines;
}
