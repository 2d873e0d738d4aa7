#pragma once

// Makes sure the standard input, output and error are open, on the null device where they were
// not. A program started with one of them closed (by cron, a service manager, `>&-`) would
// otherwise get that number for the next file it opens: the serial port would become its
// standard output, and every line it prints would go onto the bus. Call it first in main, before
// any device is opened. False when a closed one could not be opened.
bool EnsureStandardStreams();

// Whether EnsureStandardStreams found the standard output closed (it is on the null device now):
// whatever a program prints as its result then goes nowhere, which it must say.
bool StandardOutputWasClosed();
