#pragma once

#include <string>
#include <string_view>
#include <vector>

// qd7-bus run in the test's own process, and what the tests read of its output.
struct Outcome {
    int code = -1;
    std::string out;
    std::string err;
    std::vector<std::string> lines;
};

// qd7-bus in this process on `port`. `prefill` stands in the output file before the run, as in a
// log appended to.
Outcome RunBus(const std::string& port, std::vector<std::string_view> args,
               const std::string& prefill = {});

// The pieces between the separators; a trailing empty piece is left out.
std::vector<std::string> Split(const std::string& text, char separator);
// The status field of each csv row after the header (Split leaves out an empty raw field).
std::vector<std::string> CsvStatuses(const Outcome& run);
size_t Count(const std::string& text, std::string_view needle);
