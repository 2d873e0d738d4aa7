#include "tests/cli/BusRun.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>

#include "cli/BusProgram.h"

namespace {

std::string ReadBack(FILE* file) {
    std::string text;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) {
        text += static_cast<char>(c);
    }
    std::fclose(file);
    return text;
}

} // namespace

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1) {
        parts.push_back(text.substr(start, end - start));
    }
    if (start < text.size()) {
        parts.push_back(text.substr(start));
    }
    return parts;
}

Outcome RunBus(const std::string& port, std::vector<std::string_view> args,
               const std::string& prefill) {
    args.insert(args.begin(), {"--port", port});
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    if (out == nullptr || err == nullptr) {
        ADD_FAILURE() << "no temporary file";
        return {};
    }
    std::fputs(prefill.c_str(), out);
    std::fflush(out);
    const std::atomic<bool> stop{false};
    Outcome outcome;
    outcome.code = RunBusProgram(args, out, err, stop);
    outcome.out = ReadBack(out);
    outcome.err = ReadBack(err);
    outcome.lines = Split(outcome.out, '\n');
    return outcome;
}

std::vector<std::string> CsvStatuses(const Outcome& run) {
    constexpr size_t kStatusField = 6;
    std::vector<std::string> statuses;
    for (size_t i = 1; i < run.lines.size(); ++i) {
        const std::vector<std::string> f = Split(run.lines[i], ',');
        statuses.push_back(f.size() > kStatusField ? f[kStatusField]
                                                   : "(not a row: " + run.lines[i] + ")");
    }
    return statuses;
}

size_t Count(const std::string& text, std::string_view needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
        ++n;
    }
    return n;
}
