#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// Numbers as the companion programs' command lines write them.

// A whole decimal number within [low, high] and nothing else: no sign, no spaces, no other
// characters.
std::optional<int64_t> ParseWholeNumber(std::string_view text, int64_t low, int64_t high);

// A bus address as one or two digits, 0..99 ("7" and "07" alike).
std::optional<int> ParseAddress(std::string_view text);
