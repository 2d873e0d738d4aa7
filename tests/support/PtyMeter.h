#pragma once

#include <cstdint>
#include <vector>

#include "tests/support/PtyPair.h"

// The far side of the pty as a meter the test plays by hand.

// Waits until at least `count` bytes wait on the slave side (what the window's port reads), at
// most `timeoutMs`; pty input can show up a moment after the master wrote it.
bool WaitInput(const PtyPair& pty, int count, int timeoutMs = 1000);

// Writes `bytes` to the master and waits until the slave side has them all, on top of
// `alreadyWaiting` bytes that were there before.
bool Answer(PtyPair& pty, const std::vector<uint8_t>& bytes, int alreadyWaiting = 0);

// A meter's reply: ACK, STX, the 15-character body (e.g. "03RD0P0+0001251": address 03, bank 0,
// P0, 12.5), ETX and the CRC-8 of the body and the ETX.
std::vector<uint8_t> ReplyFrame(const char* body);
