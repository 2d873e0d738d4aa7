#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "serial/UniqueFd.h"

// The tool's side of the line in the simulator's tests, with plain fds: what goes on the wire and
// how it is read back.

// The 35 bytes the tool sends to ask `address` for a register.
std::vector<uint8_t> RequestBytes(int address, int bank, int registerIndex);
// The 35 bytes of a text frame with `body`, as "Send" transmits it.
std::vector<uint8_t> TextBytes(std::string_view body);

// Opens a device as the tool does (read-write, no controlling terminal), raw.
CUniqueFd OpenPeer(const std::string& path);
bool WriteBytes(int fd, const std::vector<uint8_t>& bytes);
// Reads until `count` bytes have come or `timeout` passed without any.
std::vector<uint8_t> ReadBytes(int fd, size_t count, std::chrono::milliseconds timeout);
