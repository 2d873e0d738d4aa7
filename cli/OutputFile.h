#pragma once

#include <cstdio>

// True when `out` is a regular file that already holds data: a log being appended to, which has
// its csv header row already.
bool OutputHoldsData(FILE* out);
