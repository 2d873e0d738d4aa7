#include "cli/JsonReader.h"

#include <algorithm>
#include <cstdint>
#include <tuple>
#include <utility>

namespace {

constexpr int kMaxDepth = 64;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads one value after another from the text, keeping its place for the error message.
class CJsonParser {
public:
    explicit CJsonParser(std::string_view text) : m_text(text) {}

    std::optional<JsonValue> Document(std::string& error) {
        std::optional<JsonValue> value = Value(0);
        SkipSpace();
        if (value && m_nPos != m_text.size()) {
            Fail("text after the end of the document");
            value.reset();
        }
        if (!value) {
            error = Where() + ": " + m_strError;
        }
        return value;
    }

private:
    std::optional<JsonValue> Value(int depth) {
        if (depth > kMaxDepth) {
            return Fail("nested more than 64 levels deep");
        }
        SkipSpace();
        if (m_nPos >= m_text.size()) {
            return Fail("the document ends where a value should be");
        }
        const char c = m_text[m_nPos];
        if (c == '{') {
            return Object(depth);
        }
        if (c == '[') {
            return Array(depth);
        }
        if (c == '"') {
            JsonValue value;
            value.kind = JsonValue::Kind::String;
            return String(value.text) ? std::optional(std::move(value)) : std::nullopt;
        }
        if (c == '-' || IsDigit(c)) {
            return Number();
        }
        for (const auto& [word, kind, flag] :
             {std::tuple{std::string_view("true"), JsonValue::Kind::Bool, true},
              std::tuple{std::string_view("false"), JsonValue::Kind::Bool, false},
              std::tuple{std::string_view("null"), JsonValue::Kind::Null, false}}) {
            if (m_text.substr(m_nPos, word.size()) == word) {
                m_nPos += word.size();
                JsonValue value;
                value.kind = kind;
                value.bValue = flag;
                return value;
            }
        }
        return Fail("no json value here");
    }

    std::optional<JsonValue> Object(int depth) {
        JsonValue object;
        object.kind = JsonValue::Kind::Object;
        ++m_nPos; // {
        SkipSpace();
        if (Take('}')) {
            return object;
        }
        for (;;) {
            SkipSpace();
            std::string key;
            if (m_nPos >= m_text.size() || m_text[m_nPos] != '"') {
                return Fail("a member's name in quotes expected");
            }
            const size_t keyAt = m_nPos;
            if (!String(key)) {
                return std::nullopt;
            }
            if (object.Find(key) != nullptr) {
                m_nPos = keyAt;
                return Fail("\"" + key + "\" is given twice");
            }
            SkipSpace();
            if (!Take(':')) {
                return Fail("':' expected after a member's name");
            }
            std::optional<JsonValue> value = Value(depth + 1);
            if (!value) {
                return std::nullopt;
            }
            object.members.push_back(JsonMember{std::move(key), std::move(*value)});
            SkipSpace();
            if (Take('}')) {
                return object;
            }
            if (!Take(',')) {
                return Fail("',' or '}' expected");
            }
        }
    }

    std::optional<JsonValue> Array(int depth) {
        JsonValue array;
        array.kind = JsonValue::Kind::Array;
        ++m_nPos; // [
        SkipSpace();
        if (Take(']')) {
            return array;
        }
        for (;;) {
            std::optional<JsonValue> value = Value(depth + 1);
            if (!value) {
                return std::nullopt;
            }
            array.items.push_back(std::move(*value));
            SkipSpace();
            if (Take(']')) {
                return array;
            }
            if (!Take(',')) {
                return Fail("',' or ']' expected");
            }
        }
    }

    // -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
    std::optional<JsonValue> Number() {
        const size_t start = m_nPos;
        Take('-');
        if (Take('0')) {
            // no leading zeros
        } else if (!Digits()) {
            return Fail("a number needs digits");
        }
        if (Take('.') && !Digits()) {
            return Fail("a number needs digits after its point");
        }
        if (Take('e') || Take('E')) {
            if (!Take('+')) {
                Take('-');
            }
            if (!Digits()) {
                return Fail("a number needs digits in its exponent");
            }
        }
        JsonValue value;
        value.kind = JsonValue::Kind::Number;
        value.text = m_text.substr(start, m_nPos - start);
        return value;
    }

    bool Digits() {
        const size_t start = m_nPos;
        while (m_nPos < m_text.size() && IsDigit(m_text[m_nPos])) {
            ++m_nPos;
        }
        return m_nPos > start;
    }

    bool String(std::string& out) {
        ++m_nPos; // "
        while (m_nPos < m_text.size()) {
            const char c = m_text[m_nPos];
            if (c == '"') {
                ++m_nPos;
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                Fail("a control character in a string");
                return false;
            }
            ++m_nPos;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (!Escape(out)) {
                return false;
            }
        }
        Fail("a string that does not end");
        return false;
    }

    bool Escape(std::string& out) {
        if (m_nPos >= m_text.size()) {
            Fail("a string that does not end");
            return false;
        }
        const char c = m_text[m_nPos++];
        static constexpr std::string_view kFrom = "\"\\/bfnrt";
        static constexpr std::string_view kTo = "\"\\/\b\f\n\r\t";
        if (const size_t at = kFrom.find(c); at != std::string_view::npos) {
            out += kTo[at];
            return true;
        }
        if (c != 'u') {
            --m_nPos;
            Fail("an unknown escape in a string");
            return false;
        }
        std::optional<uint32_t> code = Hex4();
        if (code && *code >= 0xD800 && *code < 0xDC00) {
            // A high surrogate: its low half must follow.
            std::optional<uint32_t> low;
            if (m_text.substr(m_nPos, 2) == "\\u") {
                m_nPos += 2;
                low = Hex4();
            }
            code = low && *low >= 0xDC00 && *low < 0xE000
                       ? std::optional(0x10000 + ((*code - 0xD800) << 10) + (*low - 0xDC00))
                       : std::nullopt;
        } else if (code && *code >= 0xDC00 && *code < 0xE000) {
            code.reset();
        }
        if (!code) {
            Fail("a \\u escape that is not a character");
            return false;
        }
        AppendUtf8(out, *code);
        return true;
    }

    std::optional<uint32_t> Hex4() {
        if (m_nPos + 4 > m_text.size()) {
            return std::nullopt;
        }
        uint32_t code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = m_text[m_nPos++];
            const size_t digit =
                std::string_view("0123456789abcdef")
                    .find(static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c));
            if (digit == std::string_view::npos) {
                return std::nullopt;
            }
            code = code * 16 + static_cast<uint32_t>(digit);
        }
        return code;
    }

    static void AppendUtf8(std::string& out, uint32_t code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    void SkipSpace() {
        while (m_nPos < m_text.size() && (m_text[m_nPos] == ' ' || m_text[m_nPos] == '\t' ||
                                          m_text[m_nPos] == '\n' || m_text[m_nPos] == '\r')) {
            ++m_nPos;
        }
    }

    bool Take(char c) {
        if (m_nPos < m_text.size() && m_text[m_nPos] == c) {
            ++m_nPos;
            return true;
        }
        return false;
    }

    std::nullopt_t Fail(std::string message) {
        if (m_strError.empty()) {
            m_strError = std::move(message);
            m_nErrorPos = std::min(m_nPos, m_text.size());
        }
        return std::nullopt;
    }

    std::string Where() const {
        const std::string_view before = m_text.substr(0, m_nErrorPos);
        const size_t lineStart = before.rfind('\n');
        const auto line = std::count(before.begin(), before.end(), '\n') + 1;
        const size_t column =
            m_nErrorPos - (lineStart == std::string_view::npos ? 0 : lineStart + 1) + 1;
        return "line " + std::to_string(line) + ", column " + std::to_string(column);
    }

    std::string_view m_text;
    size_t m_nPos = 0;
    std::string m_strError;
    size_t m_nErrorPos = 0;
};

} // namespace

const JsonValue* JsonValue::Find(std::string_view key) const {
    const auto found = std::find_if(members.begin(), members.end(),
                                    [key](const JsonMember& member) { return member.name == key; });
    return found == members.end() ? nullptr : &found->value;
}

std::optional<JsonValue> ParseJson(std::string_view text, std::string& error) {
    return CJsonParser(text).Document(error);
}
