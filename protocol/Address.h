#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A meter's bus address, 0..99: two decimal digits in every frame, in the window's list and in
// qd7-bus's rows. Every program reads and writes it through these, so that "07" means the same
// meter wherever it is typed or shown.

inline constexpr int kAddressCount = 100;

constexpr bool IsAddress(int address) {
    return address >= 0 && address < kAddressCount;
}

// The two digits of an address 0..99, as "%02d" writes them.
constexpr std::array<char, 2> AddressDigits(int address) {
    return {static_cast<char>('0' + address / 10), static_cast<char>('0' + address % 10)};
}

// "07": two digits, so that a list of addresses sorted as text is sorted by number. A number
// outside 0..99 is written as "%02d" writes it ("-1", "123").
std::string FormatAddress(int address);

// An address as a user writes it, and as a request body begins: one or two decimal digits, 0..99
// ("7" and "07" alike), nothing else (no sign, no space).
std::optional<int> ParseAddress(std::string_view text);

// The address a reply carries in its two address bytes: 10 × (first − '0') + (second − '0'), taken
// when it lies in 0..99. Only the resulting number is checked, so "0:" reads as 10, as the meters'
// replies have always been read. Inline: every reply is parsed through it.
constexpr std::optional<int> ReplyAddress(uint8_t tens, uint8_t ones) {
    const int address = 10 * (static_cast<int>(tens) - '0') + (static_cast<int>(ones) - '0');
    return IsAddress(address) ? std::optional<int>(address) : std::nullopt;
}
