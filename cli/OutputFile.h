#pragma once

#include <cstdio>

// True when `out` is a regular file that already holds data: a log being appended to, which has
// its csv header row already.
bool OutputHoldsData(FILE* out);

// True when `stream` is a terminal (a console on Windows) that a person watches: progress is
// shown there, never into a file or a pipe.
bool IsTerminal(FILE* stream);

// Before an output call: clears what FailedOutputError reads.
void ClearOutputError();
// The error number of the output call that just failed (errno, EIO when it set none), where a
// reader that went away is EPIPE on every system: the Windows C library reports a write to a
// pipe whose reader has left as EINVAL, the system's error being "the pipe is being closed".
int FailedOutputError();
