#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct JsonMember;

// A json value as read (RFC 8259, strictly: no comments, no trailing commas, no duplicate keys).
// A number keeps the text it was written with, so that a decimal such as 123.40 reaches its
// reader unrounded, places and all.
struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object };

    Kind kind = Kind::Null;
    bool bValue = false;
    std::string text; // Number: as written; String: its characters, escapes decoded (UTF-8)
    std::vector<JsonValue> items;
    std::vector<JsonMember> members; // in the order written

    // The member named `key`, or null.
    const JsonValue* Find(std::string_view key) const;
};

// A member of an object: its name and its value.
struct JsonMember {
    std::string name;
    JsonValue value;
};

// The one value the text holds, with nothing but white space around it. Nothing, with `error`
// saying what and where ("line 3, column 14: ..."), for anything else. Nesting deeper than 64
// levels is refused, so that no file can exhaust the stack.
std::optional<JsonValue> ParseJson(std::string_view text, std::string& error);
