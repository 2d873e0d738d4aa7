#include "cli/BackupDocument.h"

#include <algorithm>
#include <array>

#include "cli/JsonReader.h"
#include "cli/OperandLists.h"
#include "cli/ReadingFormat.h"
#include "protocol/Address.h"
#include "protocol/CodeTables.h"
#include "protocol/NumberText.h"

namespace {

constexpr std::string_view kFormat = "qd7-bus backup";

using Kind = JsonValue::Kind;

int SlotOf(int bank, int registerIndex) {
    return bank * kBackupRegistersPerBank + registerIndex - 1;
}

// The schema of an object: its members, which must be there, and the kind each holds.
struct Member {
    std::string_view name;
    Kind kind;
    bool bRequired;
};

std::string_view KindName(Kind kind) {
    switch (kind) {
    case Kind::Null:
        return "null";
    case Kind::Bool:
        return "true or false";
    case Kind::Number:
        return "a number";
    case Kind::String:
        return "a string";
    case Kind::Array:
        return "an array";
    case Kind::Object:
        return "an object";
    }
    return "?";
}

template <size_t N>
bool CheckMembers(const JsonValue& object, const std::array<Member, N>& schema,
                  std::string& error) {
    if (object.kind != Kind::Object) {
        error = "must be an object";
        return false;
    }
    for (const JsonMember& given : object.members) {
        const std::string& name = given.name;
        const JsonValue& value = given.value;
        const auto member = std::find_if(schema.begin(), schema.end(),
                                         [&name](const Member& m) { return m.name == name; });
        if (member == schema.end()) {
            error = "\"" + name + "\" is not part of a backup";
            return false;
        }
        if (value.kind != member->kind) {
            error = "\"" + name + "\" must be " + std::string(KindName(member->kind));
            return false;
        }
    }
    for (const Member& m : schema) {
        if (m.bRequired && object.Find(m.name) == nullptr) {
            error = "\"" + std::string(m.name) + "\" is missing";
            return false;
        }
    }
    return true;
}

// A whole number written as one, within [low, high].
std::optional<int> WholeMember(const JsonValue& object, std::string_view name, int low, int high,
                               std::string& error) {
    const std::optional<int64_t> n = ParseWholeNumber(object.Find(name)->text, low, high);
    if (!n) {
        error = "\"" + std::string(name) + "\" must be a whole number from " + std::to_string(low) +
                " to " + std::to_string(high);
        return std::nullopt;
    }
    return static_cast<int>(*n);
}

std::string StringMember(const JsonValue& object, std::string_view name) {
    const JsonValue* value = object.Find(name);
    return value != nullptr ? value->text : std::string();
}

bool ParseRegister(const JsonValue& item, BackupRegister& reg, std::string& error) {
    static constexpr std::array<Member, 5> kSchema = {{{"bank", Kind::Number, true},
                                                       {"register", Kind::String, true},
                                                       {"value", Kind::Number, true},
                                                       {"decimals", Kind::Number, true},
                                                       {"raw", Kind::String, false}}};
    if (!CheckMembers(item, kSchema, error)) {
        return false;
    }
    const std::string& code = item.Find("register")->text;
    const std::optional<int> index = ParseRegisterCode(code);
    if (!index || code != RegisterCodeTable[static_cast<size_t>(*index)]) {
        error = "\"register\": \"" + code + "\" is not a register (C0 C1 C2 C3 K0 K1 X0 X1 Y0 Y1)";
        return false;
    }
    if (*index == kRegisterProcessValue) {
        error = "\"register\": P0 is the process value, which is measured, not set";
        return false;
    }
    const std::optional<int> bank = WholeMember(item, "bank", 0, kBackupBanks - 1, error);
    const std::optional<int> decimals =
        bank ? WholeMember(item, "decimals", 0, ValueField::kMaxDecimals, error) : std::nullopt;
    if (!decimals) {
        return false;
    }
    std::string why;
    const std::optional<ValueField> value =
        ParseValueAtDecimals(item.Find("value")->text, *decimals, why);
    if (!value) {
        error = "\"value\": " + why;
        return false;
    }
    reg = BackupRegister{*bank, *index, *value, StringMember(item, "raw")};
    return true;
}

std::string Label(size_t i, const JsonValue& item) {
    std::string label = "registers[" + std::to_string(i) + "]";
    const JsonValue* code = item.kind == Kind::Object ? item.Find("register") : nullptr;
    const JsonValue* bank = item.kind == Kind::Object ? item.Find("bank") : nullptr;
    if (code != nullptr && code->kind == Kind::String && bank != nullptr &&
        bank->kind == Kind::Number) {
        label += " (" + code->text + ", bank " + bank->text + ")";
    }
    return label;
}

} // namespace

std::string FormatBackup(const BackupDocument& d) {
    std::string text = "{\n";
    text += "  \"format\": " + JsonString(kFormat) + ",\n";
    text += "  \"version\": " + std::to_string(BackupDocument::kVersion) + ",\n";
    text += "  \"program\": " + JsonString(d.program) + ",\n";
    text += "  \"address\": " + std::to_string(d.address) + ",\n";
    text += "  \"time\": " + JsonString(d.time) + ",\n";
    text += "  \"port\": " + JsonString(d.port) + ",\n";
    text += "  \"registers\": [\n";
    for (size_t i = 0; i < d.registers.size(); ++i) {
        const BackupRegister& r = d.registers[i];
        text += "    {\"bank\": " + std::to_string(r.bank) + ", \"register\": " +
                JsonString(RegisterCodeTable[static_cast<size_t>(r.registerIndex)]) +
                ", \"value\": " + FormatValueField(r.value) +
                ", \"decimals\": " + std::to_string(r.value.nDecimals) +
                ", \"raw\": " + JsonString(r.raw) + "}" +
                (i + 1 < d.registers.size() ? ",\n" : "\n");
    }
    return text + "  ]\n}\n";
}

std::optional<BackupDocument> ParseBackup(std::string_view text, std::string& error) {
    std::string why;
    const std::optional<JsonValue> root = ParseJson(text, why);
    if (!root) {
        error = "not json: " + why;
        return std::nullopt;
    }
    static constexpr std::array<Member, 7> kSchema = {{{"format", Kind::String, true},
                                                       {"version", Kind::Number, true},
                                                       {"program", Kind::String, false},
                                                       {"address", Kind::Number, true},
                                                       {"time", Kind::String, false},
                                                       {"port", Kind::String, false},
                                                       {"registers", Kind::Array, true}}};
    // The format first: another json file is no backup, whatever else it holds.
    const JsonValue* format = root->kind == Kind::Object ? root->Find("format") : nullptr;
    if (format == nullptr || format->kind != Kind::String || format->text != kFormat) {
        error = "not a qd7-bus backup (its \"format\" must be \"" + std::string(kFormat) + "\")";
        return std::nullopt;
    }
    if (!CheckMembers(*root, kSchema, error)) {
        return std::nullopt;
    }
    const std::string& version = root->Find("version")->text;
    if (version != std::to_string(BackupDocument::kVersion)) {
        error = "a backup of format version " + version + "; this qd7-bus reads version " +
                std::to_string(BackupDocument::kVersion);
        return std::nullopt;
    }
    BackupDocument document;
    const std::optional<int> address = WholeMember(*root, "address", 0, kAddressCount - 1, error);
    if (!address) {
        return std::nullopt;
    }
    document.address = *address;
    document.program = StringMember(*root, "program");
    document.time = StringMember(*root, "time");
    document.port = StringMember(*root, "port");

    const std::vector<JsonValue>& items = root->Find("registers")->items;
    std::array<std::optional<BackupRegister>, kBackupRegisterCount> slots;
    for (size_t i = 0; i < items.size(); ++i) {
        BackupRegister reg;
        if (!ParseRegister(items[i], reg, why)) {
            error = Label(i, items[i]) + ": " + why;
            return std::nullopt;
        }
        auto& slot = slots[static_cast<size_t>(SlotOf(reg.bank, reg.registerIndex))];
        if (slot) {
            error = Label(i, items[i]) + ": given twice";
            return std::nullopt;
        }
        slot = reg;
    }
    for (size_t i = 0; i < slots.size(); ++i) {
        if (!slots[i]) {
            error = "\"registers\": " +
                    std::string(RegisterCodeTable[i % kBackupRegistersPerBank + 1]) + " of bank " +
                    std::to_string(i / kBackupRegistersPerBank) +
                    " is missing; a backup holds the ten settings of both banks";
            return std::nullopt;
        }
        document.registers.push_back(*slots[i]);
    }
    return document;
}
