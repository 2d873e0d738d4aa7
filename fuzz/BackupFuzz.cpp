// A backup file as restore reads it, whatever it holds: the json reader and the schema check must
// neither crash nor read out of bounds on any text, and a text they take must be a backup that is
// written back and read again unchanged, so that what restore sends is what the file says.
//
// The inputs are short (the smoke run's limit), so whole backups are rare; a valid backup is
// built from each input as well, its values and places taken from the input's bytes, which takes
// the round trip through every shape of value the field can carry.
#include "cli/BackupDocument.h"
#include "cli/JsonReader.h"
#include "protocol/ValueField.h"

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace {

bool SameBackup(const BackupDocument& a, const BackupDocument& b) {
    if (a.address != b.address || a.program != b.program || a.time != b.time || a.port != b.port ||
        a.registers.size() != b.registers.size()) {
        return false;
    }
    for (size_t i = 0; i < a.registers.size(); ++i) {
        const BackupRegister& x = a.registers[i];
        const BackupRegister& y = b.registers[i];
        if (x.bank != y.bank || x.registerIndex != y.registerIndex ||
            !x.value.SameValueAndPlaces(y.value) || x.raw != y.raw) {
            return false;
        }
    }
    return true;
}

void RoundTrip(const BackupDocument& document) {
    std::string error;
    const std::optional<BackupDocument> again = ParseBackup(FormatBackup(document), error);
    if (!again || !SameBackup(document, *again)) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    ParseJson(text, error);
    if (const std::optional<BackupDocument> backup = ParseBackup(text, error)) {
        RoundTrip(*backup);
    }

    BackupDocument built;
    built.address = size % 100;
    built.port = std::string(text.substr(0, 16)); // any bytes, escaped as json strings are
    for (int i = 0; i < kBackupRegisterCount; ++i) {
        const size_t at = size == 0 ? 0 : (static_cast<size_t>(i) * 3) % size;
        const uint32_t bits =
            size == 0 ? 0 : data[at] | (data[(at + 1) % size] << 8) | (data[(at + 2) % size] << 16);
        const ValueField value{(bits & 1) != 0, static_cast<int>((bits >> 1) % 1000000),
                               static_cast<int>((bits >> 21) % 10)};
        built.registers.push_back(BackupRegister{i / kBackupRegistersPerBank,
                                                 i % kBackupRegistersPerBank + 1, value, ""});
    }
    RoundTrip(built);
    return 0;
}
