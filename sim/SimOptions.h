#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/CodeTables.h"
#include "sim/SimFaults.h"

// A meter made silent from the command line: always, or during [from, to) after the start.
struct SimSilence {
    int address = 0;
    bool bAlways = true;
    std::chrono::milliseconds from{0};
    std::chrono::milliseconds to{0};
};

// A meter that answers later than the others: --delay AA:MS.
struct SimMeterDelay {
    int address = 0;
    std::chrono::milliseconds delay{0};
};

// The command line of qd7-sim.
struct SimOptions {
    std::vector<int> meters{1};
    std::string strLink;   // symbolic link to the device, made at start and removed at exit
    std::string strDevice; // an existing port or pty, or a device server's port, to serve instead
                           // of a new pseudo-terminal
    std::string strListen; // a TCP address of our own to serve on instead (tcp://HOST:PORT)
    int nSpeed = 9600;     // line speed for --device
    uint32_t nSeed = 1;
    SimFaults faults;
    std::vector<SimSilence> silences;
    std::vector<int> readOnly;                      // meters that answer writes but store nothing
    int nWriteReplyCommand = kCommandWriteResponse; // a write's answer: WD, or RD as a read's
    std::vector<SimMeterDelay> meterDelays;
    bool bCountRequests = false; // every reply's value is its meter's count of requests
    bool bVerbose = false;
    bool bHelp = false;
    bool bVersion = false;
};

// Parses the arguments after the program name. False with `error` set on the first bad one.
bool ParseSimOptions(std::span<const std::string_view> args, SimOptions& options,
                     std::string& error);

// One line per option with what it does.
std::string SimUsage(std::string_view program);
