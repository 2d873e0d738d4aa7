#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

// Reads, writes and waits on a test's descriptors: either side of a pseudo-terminal, a peer of the
// simulator, the window's own port. Written once for every test.

// Writes all bytes, resuming after an interruption; false on an error.
bool WriteBytes(int fd, const void* bytes, size_t count);
bool WriteBytes(int fd, const std::vector<uint8_t>& bytes);

// Reads until `count` bytes have come, or `timeout` passed without any, or the other side closed.
std::vector<uint8_t> ReadBytes(int fd, size_t count, std::chrono::milliseconds timeout);

// Waits until at least `count` bytes wait to be read on fd, at most `timeout`; false when they did
// not come. On a pseudo-terminal the waiting count (FIONREAD) lags the other side's write until a
// poll has seen the bytes, so the wait polls between its looks.
bool WaitForInput(int fd, int count, std::chrono::milliseconds timeout);
