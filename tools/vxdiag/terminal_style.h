// Colours for the readable lines: ANSI codes only on a terminal or when asked.
#pragma once

#include <string>

namespace vxdiag {

struct Style {
    bool colour = false;
};

// Colours a text (bold, green, red, yellow, dim); plain when the style has no colour.
std::string bold(const Style& style, const std::string& text);
std::string good(const Style& style, const std::string& text);
std::string bad(const Style& style, const std::string& text);
std::string warn(const Style& style, const std::string& text);
std::string dim(const Style& style, const std::string& text);

}  // namespace vxdiag
