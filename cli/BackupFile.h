#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The files of backup and restore, named in UTF-8 on every system.

// Reads the whole file into `text`; false with `error` (the system's reason) when it cannot be
// read, or holds more than `limit` bytes, which no file of the kind does.
bool ReadSmallFile(const std::string& path, size_t limit, std::string& text, std::string& error);

// Writes `text` to `path` whole or not at all: into a new file beside it, flushed to the disk,
// which then takes the place of what was there. A failure leaves an earlier file as it was.
bool WriteWholeFile(const std::string& path, std::string_view text, std::string& error);
