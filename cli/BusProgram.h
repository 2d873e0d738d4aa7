#pragma once

#include <atomic>
#include <cstdio>
#include <span>
#include <string_view>

// What the process around the program found of its streams, before any relay of them.
struct BusProcess {
    // stderr is a terminal (a console) that a person watches: a scan shows its progress there.
    bool bErrTerminal = false;
    // The program was started with its standard output closed, and `out` leads nowhere: that is
    // said at once and ends in kExitOutput, unless the command writes nothing there (-qq).
    bool bOutputClosed = false;
};

// The whole of qd7-bus but the process around it: parses the arguments after the program name,
// opens the port, runs the command, writes to `out` and `err`, and gives the exit code. `stop`
// set (by a signal) ends the command after the line in hand, with kExitInterrupted. An output
// that cannot be written gives a message and kExitOutput; a reader that went away (a closed pipe)
// ends it quietly.
int RunBusProgram(std::span<const std::string_view> args, FILE* out, FILE* err,
                  const std::atomic<bool>& stop, const BusProcess& process = {});

// Closes `out` at the end of the program: what the last flush could not show (an error of the
// file system on close) still turns `code` into kExitOutput, with a message unless one was given.
int CloseBusOutput(FILE* out, FILE* err, int code);
