#include "protocol/NumberText.h"

#include <charconv>

std::optional<int64_t> ParseWholeNumber(std::string_view text, int64_t low, int64_t high) {
    // from_chars takes a leading minus; "-0" is no whole number as a user writes one.
    if (text.empty() || text.front() == '-') {
        return std::nullopt;
    }
    int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}
