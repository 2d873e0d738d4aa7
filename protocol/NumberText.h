#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// Numbers as the companion programs' command lines write them.

// A whole decimal number within [low, high] and nothing else: no sign, no spaces, no other
// characters.
std::optional<int64_t> ParseWholeNumber(std::string_view text, int64_t low, int64_t high);
