#pragma once

// The serial line's settings as one value, in the platform-neutral codes of the port class: what
// the window's setup dialog and qd7-bus's options choose, what CSerialPort::Open takes and what
// the termios and Win32 backends apply.
struct LineSettings {
    int speed = 9600; // bit/s
    int dataBits = 8; // 7 or 8
    int parity = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int stopBits = 0; // 0 one, 2 two (1, one and a half, is refused)
};
