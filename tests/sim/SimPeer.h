#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "serial/UniqueFd.h"
#include "tests/support/FdIo.h"

// The tool's side of the line in the simulator's tests, with plain fds: what goes on the wire. The
// bytes go and come with tests/support/FdIo.h.

// The 35 bytes the tool sends to ask `address` for a register.
std::vector<uint8_t> RequestBytes(int address, int bank, int registerIndex);
// The 35 bytes of a text frame with `body`, as "Send" transmits it.
std::vector<uint8_t> TextBytes(std::string_view body);

// Opens a device as the tool does (read-write, no controlling terminal), raw.
CUniqueFd OpenPeer(const std::string& path);
