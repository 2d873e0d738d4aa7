#include "protocol/ValueField.h"

#include <algorithm>

namespace {

constexpr int kFieldDigits = 6;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int64_t PowerOfTen(int n) {
    int64_t power = 1;
    for (int i = 0; i < n; ++i) {
        power *= 10;
    }
    return power;
}

// A decimal number as typed, split at its point: the digits before it without leading zeros and
// the digits after it as typed.
struct Decimal {
    bool bNegative = false;
    std::string_view whole;
    std::string_view places;
};

std::optional<Decimal> SplitDecimal(std::string_view text) {
    Decimal d;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        d.bNegative = text.front() == '-';
        text.remove_prefix(1);
    }
    const size_t point = text.find('.');
    d.whole = text.substr(0, point);
    d.places = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    const bool bDigits = std::all_of(d.whole.begin(), d.whole.end(), IsDigit) &&
                         std::all_of(d.places.begin(), d.places.end(), IsDigit);
    if (!bDigits || d.whole.size() + d.places.size() == 0) {
        return std::nullopt;
    }
    d.whole.remove_prefix(std::min(d.whole.find_first_not_of('0'), d.whole.size()));
    return d;
}

// The whole part, when it has at most six digits (else the number is out of range anyway).
std::optional<int64_t> WholeValue(const Decimal& d) {
    if (d.whole.size() > static_cast<size_t>(kFieldDigits)) {
        return std::nullopt;
    }
    int64_t value = 0;
    for (const char c : d.whole) {
        value = value * 10 + (c - '0');
    }
    return value;
}

// N at `decimals` places, the places beyond cut off; the next place, when `bRound`, rounds half
// away from zero.
int64_t DigitsAt(const Decimal& d, int64_t whole, int decimals, bool bRound) {
    int64_t n = whole;
    for (int i = 0; i < decimals; ++i) {
        const size_t at = static_cast<size_t>(i);
        n = n * 10 + (at < d.places.size() ? d.places[at] - '0' : 0);
    }
    const auto next = static_cast<size_t>(decimals);
    if (bRound && next < d.places.size() && d.places[next] >= '5') {
        ++n;
    }
    return n;
}

ValueField MakeField(bool bNegative, int64_t digits, int decimals) {
    return ValueField{bNegative && digits != 0, static_cast<int>(digits), decimals};
}

// The field without trailing zero places, as a nearest value is named.
ValueField Shortest(ValueField field) {
    while (field.nDecimals > 0 && field.nDigits % 10 == 0) {
        field.nDigits /= 10;
        --field.nDecimals;
    }
    return field;
}

std::string Quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

bool BeyondRange(const Decimal& d, std::optional<int64_t> whole) {
    const bool bAnyPlace =
        std::any_of(d.places.begin(), d.places.end(), [](char c) { return c != '0'; });
    return !whole || *whole > ValueField::kMaxDigits ||
           (*whole == ValueField::kMaxDigits && bAnyPlace);
}

} // namespace

int64_t ValueField::Nanos() const {
    const int64_t magnitude = nDigits * PowerOfTen(kMaxDecimals - std::clamp(nDecimals, 0, 9));
    return bNegative ? -magnitude : magnitude;
}

bool ValueField::SameValue(const ValueField& other) const {
    return Nanos() == other.Nanos();
}

std::string FormatValueField(const ValueField& field) {
    std::string digits = std::to_string(field.nDigits);
    const auto places =
        static_cast<size_t>(std::clamp(field.nDecimals, 0, ValueField::kMaxDecimals));
    if (places > 0) {
        if (digits.size() <= places) {
            digits.insert(0, places + 1 - digits.size(), '0');
        }
        digits.insert(digits.size() - places, 1, '.');
    }
    return (field.bNegative && field.nDigits != 0 ? "-" : "") + digits;
}

std::array<char, 8> ValueFieldCharacters(const ValueField& field) {
    std::array<char, 8> text{};
    text[0] = field.bNegative ? '-' : '+';
    int n = std::clamp(field.nDigits, 0, ValueField::kMaxDigits);
    for (int i = kFieldDigits; i >= 1; --i) {
        text[static_cast<size_t>(i)] = static_cast<char>('0' + n % 10);
        n /= 10;
    }
    text[7] = static_cast<char>('0' + std::clamp(field.nDecimals, 0, ValueField::kMaxDecimals));
    return text;
}

std::optional<ValueField> ReadValueField(const uint8_t* bytes) {
    if (bytes == nullptr) {
        return std::nullopt;
    }
    ValueField field;
    for (int i = 1; i <= kFieldDigits + 1; ++i) {
        if (!IsDigit(static_cast<char>(bytes[i]))) {
            return std::nullopt;
        }
    }
    for (int i = 1; i <= kFieldDigits; ++i) {
        field.nDigits = field.nDigits * 10 + (bytes[i] - '0');
    }
    field.nDecimals = bytes[kFieldDigits + 1] - '0';
    field.bNegative = bytes[0] == '-' && field.nDigits != 0;
    return field;
}

std::optional<ValueField> ParseValueText(std::string_view text, std::string& error) {
    const std::optional<Decimal> d = SplitDecimal(text);
    if (!d) {
        error = Quoted(text) + " is not a decimal number such as 123.4 or -15.25";
        return std::nullopt;
    }
    const std::optional<int64_t> whole = WholeValue(*d);
    if (BeyondRange(*d, whole)) {
        error = Quoted(text) +
                " is out of range: a register holds -999999 to 999999; the nearest value that "
                "can be written is " +
                FormatValueField(MakeField(d->bNegative, ValueField::kMaxDigits, 0));
        return std::nullopt;
    }
    std::string_view significant = d->places;
    significant.remove_suffix(significant.size() -
                              std::min(significant.find_last_not_of('0') + 1, significant.size()));
    const auto fewest = static_cast<int>(significant.size());
    if (fewest <= ValueField::kMaxDecimals &&
        DigitsAt(*d, *whole, fewest, false) <= ValueField::kMaxDigits) {
        // The places typed, less the trailing zeros that six digits cannot hold.
        int decimals = std::min(static_cast<int>(d->places.size()), ValueField::kMaxDecimals);
        while (DigitsAt(*d, *whole, decimals, false) > ValueField::kMaxDigits) {
            --decimals;
        }
        return MakeField(d->bNegative, DigitsAt(*d, *whole, decimals, false), decimals);
    }
    // The finest places at which the rounded number fits six digits give the nearest value.
    ValueField nearest;
    for (int decimals = ValueField::kMaxDecimals; decimals >= 0; --decimals) {
        const int64_t n = DigitsAt(*d, *whole, decimals, true);
        if (n <= ValueField::kMaxDigits) {
            nearest = MakeField(d->bNegative, n, decimals);
            break;
        }
    }
    error = Quoted(text) +
            " cannot be written exactly: a register holds six digits and at most nine decimal "
            "places; the nearest value that can be written is " +
            FormatValueField(Shortest(nearest));
    return std::nullopt;
}

std::optional<ValueField> ParseValueAtDecimals(std::string_view text, int decimals,
                                               std::string& error) {
    const std::optional<Decimal> d = SplitDecimal(text);
    if (!d || decimals < 0 || decimals > ValueField::kMaxDecimals) {
        error = Quoted(text) + " is not a decimal number such as 123.4 or -15.25";
        return std::nullopt;
    }
    const std::string_view beyond =
        d->places.substr(std::min(d->places.size(), static_cast<size_t>(decimals)));
    if (std::any_of(beyond.begin(), beyond.end(), [](char c) { return c != '0'; })) {
        error = Quoted(text) + " has more places than its " + std::to_string(decimals) +
                " decimal places";
        return std::nullopt;
    }
    const std::optional<int64_t> whole = WholeValue(*d);
    if (!whole || DigitsAt(*d, *whole, decimals, false) > ValueField::kMaxDigits) {
        error = Quoted(text) + " does not fit six digits with " + std::to_string(decimals) +
                " decimal places";
        return std::nullopt;
    }
    return MakeField(d->bNegative, DigitsAt(*d, *whole, decimals, false), decimals);
}
