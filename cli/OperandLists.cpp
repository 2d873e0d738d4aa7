#include "cli/OperandLists.h"

#include <array>
#include <cctype>

#include "protocol/Address.h"
#include "protocol/CodeTables.h"

namespace {

std::string Quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

// Splits on commas and ranges on the colon; `parse` turns one item into its number, `what` names
// the kind of item in a message ("an address 00..99").
template <typename Parse>
std::optional<std::vector<int>> ParseList(std::string_view text, Parse parse, std::string_view what,
                                          std::string& error) {
    std::vector<int> items;
    for (size_t start = 0; start <= text.size();) {
        const size_t comma = std::min(text.find(',', start), text.size());
        const std::string_view item = text.substr(start, comma - start);
        start = comma + 1;
        const size_t colon = item.find(':');
        const std::string_view firstText = item.substr(0, colon);
        const std::optional<int> first = parse(firstText);
        if (!first) {
            error = Quoted(firstText) + " is not " + std::string(what);
            return std::nullopt;
        }
        if (colon == std::string_view::npos) {
            items.push_back(*first);
            continue;
        }
        const std::string_view lastText = item.substr(colon + 1);
        const std::optional<int> last = parse(lastText);
        if (!last) {
            error = Quoted(lastText) + " is not " + std::string(what);
            return std::nullopt;
        }
        if (*last < *first) {
            error = "the range " + Quoted(item) + " runs downward";
            return std::nullopt;
        }
        for (int n = *first; n <= *last; ++n) {
            items.push_back(n);
        }
    }
    return items;
}

} // namespace

std::optional<int> ParseRegisterCode(std::string_view text) {
    if (text.size() != 2) {
        return std::nullopt;
    }
    const std::array<char, 2> code = {
        static_cast<char>(std::toupper(static_cast<unsigned char>(text[0]))),
        static_cast<char>(std::toupper(static_cast<unsigned char>(text[1])))};
    for (size_t i = 0; i < RegisterCodeTable.size(); ++i) {
        if (RegisterCodeTable[i] == std::string_view(code.data(), code.size())) {
            return static_cast<int>(i);
        }
    }
    return std::nullopt;
}

std::optional<std::vector<int>> ParseAddressList(std::string_view text, std::string& error) {
    return ParseList(text, ParseAddress, "an address 00..99", error);
}

std::optional<std::vector<int>> ParseRegisterList(std::string_view text, std::string& error) {
    return ParseList(text, ParseRegisterCode, "a register (P0 C0 C1 C2 C3 K0 K1 X0 X1 Y0 Y1)",
                     error);
}
