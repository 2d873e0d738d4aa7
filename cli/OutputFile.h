#pragma once

#include <cstdio>

// True when `out` is a regular file that already holds data: a log being appended to, which has
// its csv header row already.
bool OutputHoldsData(FILE* out);

// True when `stream` is a terminal (a console on Windows) that a person watches: progress is
// shown there, never into a file or a pipe.
bool IsTerminal(FILE* stream);
