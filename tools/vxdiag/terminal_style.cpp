#include "terminal_style.h"

#include <fmt/color.h>
#include <fmt/format.h>

namespace vxdiag {

namespace {

std::string paint(const Style& style, fmt::text_style colour, const std::string& text) {
    if (!style.colour) return text;
    return fmt::format(colour, "{}", text);
}

}  // namespace

std::string bold(const Style& style, const std::string& text) { return paint(style, fmt::emphasis::bold, text); }
std::string good(const Style& style, const std::string& text) {
    return paint(style, fmt::fg(fmt::terminal_color::green) | fmt::emphasis::bold, text);
}
std::string bad(const Style& style, const std::string& text) {
    return paint(style, fmt::fg(fmt::terminal_color::red) | fmt::emphasis::bold, text);
}
std::string warn(const Style& style, const std::string& text) {
    return paint(style, fmt::fg(fmt::terminal_color::yellow) | fmt::emphasis::bold, text);
}
std::string dim(const Style& style, const std::string& text) { return paint(style, fmt::emphasis::faint, text); }

}  // namespace vxdiag
