#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The value field of a frame: a sign, six decimal digits N and a decimal-places digit d, which
// carry the value ±N × 10^-d. Any value a register is to hold has to fit it exactly: 0.0001 is
// N 1, d 4; 123.4 is N 1234, d 1 (or N 12340, d 2, which a meter shows with two places).
struct ValueField {
    static constexpr int kMaxDigits = 999999;
    static constexpr int kMaxDecimals = 9;

    bool bNegative = false;
    int nDigits = 0;   // 0..kMaxDigits
    int nDecimals = 0; // 0..kMaxDecimals

    // The same number, whatever the places: 123.4 equals 123.40, and -0 equals 0.
    bool SameValue(const ValueField& other) const;
    // The same number with the same places, which a meter shows alike.
    bool SameValueAndPlaces(const ValueField& other) const {
        return SameValue(other) && nDecimals == other.nDecimals;
    }
    // The number in units of 10^-9, the finest the field carries.
    int64_t Nanos() const;
};

// "123.4", "-0.0001", "20": the number with its places, as a person types it back; no '+'.
std::string FormatValueField(const ValueField& field);

// The 8 characters of the field in a frame: sign, six digits, the decimal-places digit
// ("+0012341"), the sign as the field holds it.
std::array<char, 8> ValueFieldCharacters(const ValueField& field);

// The field at offsets [sign .. decimals] of a frame: '-' is negative, any other sign byte
// positive (as a reply is decoded); nothing unless the seven digits are digits.
std::optional<ValueField> ReadValueField(const uint8_t* bytes);

// A decimal number as a person types it ("123.4", "-15.25", "+5", ".5", "0.0001"): the field that
// carries it exactly, with the places it was typed with as far as six digits hold them (trailing
// zeros are dropped only where they would not fit). A number that cannot be carried, in range or
// precision, gives nothing, and `error` says why and names the nearest value that can be carried.
std::optional<ValueField> ParseValueText(std::string_view text, std::string& error);

// The same number held to `decimals` places, as a backup stores it: nothing (with `error`) when it
// has more non-zero places than that, or does not fit six digits at that many places.
std::optional<ValueField> ParseValueAtDecimals(std::string_view text, int decimals,
                                               std::string& error);
