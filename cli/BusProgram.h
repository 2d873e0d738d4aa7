#pragma once

#include <atomic>
#include <cstdio>
#include <span>
#include <string_view>

// The whole of qd7-bus but the process around it: parses the arguments after the program name,
// opens the port, runs the command, writes to `out` and `err`, and gives the exit code. `stop`
// set (by a signal) ends the command after the line in hand.
int RunBusProgram(std::span<const std::string_view> args, FILE* out, FILE* err,
                  const std::atomic<bool>& stop);
