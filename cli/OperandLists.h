#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Lists of meters and registers as engineers type them: items separated by commas, each one
// address or register, or a range FIRST:LAST ("01,07,10:19"; "P0,C0:C3"). A range runs upward in
// the registers' own order (P0 C0 C1 C2 C3 K0 K1 X0 X1 Y0 Y1). The items stay in the order typed;
// an item typed twice is asked twice. nullopt with `error` set (naming the item) on a mistake.
std::optional<std::vector<int>> ParseAddressList(std::string_view text, std::string& error);
std::optional<std::vector<int>> ParseRegisterList(std::string_view text, std::string& error);

// A register code, upper or lower case, as its index.
std::optional<int> ParseRegisterCode(std::string_view text);
