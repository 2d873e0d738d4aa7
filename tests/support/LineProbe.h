#pragma once

// The line speeds a terminal device reports, read through the kernel's arbitrary-speed
// interface as an independent check of what the port class set (0 when it cannot be read).
struct ProbedSpeed {
    unsigned input = 0;
    unsigned output = 0;
};

ProbedSpeed ProbeLineSpeed(int fd);

// True when TIOCEXCL is in force on the device (Linux reports it through TIOCGEXCL).
bool ProbeExclusive(int fd);
