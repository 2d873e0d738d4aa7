// qd7-sim: simulated QD7 meters on a pseudo-terminal or a port, for running and testing the tool
// without hardware.

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "Version.h"
#include "serial/PortAddress.h"
#include "serial/StandardStreams.h"
#include "sim/SimBus.h"
#include "sim/SimOptions.h"
#include "sim/SimServer.h"

namespace {

constexpr std::string_view kProgram = "qd7-sim";

void PrintError(const std::string& message) {
    std::fprintf(stderr, "%.*s: %s\n", static_cast<int>(kProgram.size()), kProgram.data(),
                 message.c_str());
}

// Makes `link` point at `target`. An old symbolic link (left by a killed run) is replaced; any
// other file is left alone and the start fails.
bool MakeLink(const std::string& link, const std::string& target) {
    std::array<char, 4096> old{};
    if (::readlink(link.c_str(), old.data(), old.size() - 1) >= 0) {
        ::unlink(link.c_str());
    } else if (errno != ENOENT) {
        PrintError(link + ": exists and is not a symbolic link; not replaced");
        return false;
    }
    if (::symlink(target.c_str(), link.c_str()) != 0) {
        PrintError(link + ": " + std::strerror(errno));
        return false;
    }
    return true;
}

// Removes the link only while it still points at our device: another run may have taken it over.
void RemoveLink(const std::string& link, const std::string& target) {
    std::array<char, 4096> current{};
    const ssize_t n = ::readlink(link.c_str(), current.data(), current.size() - 1);
    if (n >= 0 && std::string_view(current.data(), static_cast<size_t>(n)) == target) {
        ::unlink(link.c_str());
    }
}

std::vector<CSimMeter> MakeMeters(const SimOptions& options) {
    std::vector<CSimMeter> meters;
    for (const int address : options.meters) {
        meters.emplace_back(address);
    }
    return meters;
}

// What the options say of single meters, of every reply's value and of how writes are taken.
void ApplyMeterOptions(const SimOptions& options, CSimBus& bus) {
    for (const SimSilence& silence : options.silences) {
        if (silence.bAlways) {
            bus.SetSilent(silence.address, true);
        } else {
            bus.AddSilentWindow(silence.address, silence.from, silence.to);
        }
    }
    for (const SimMeterDelay& delay : options.meterDelays) {
        bus.SetMeterDelay(delay.address, delay.delay);
    }
    bus.SetCountRequests(options.bCountRequests);
    for (const int address : options.readOnly) {
        bus.SetReadOnly(address, true);
    }
    bus.SetWriteReplyCommand(options.nWriteReplyCommand);
}

void LogLine(std::string_view line) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
}

// What the options name: our own TCP port, a device server's port, an existing device or a new
// pseudo-terminal.
bool OpenServed(const SimOptions& options, CSimServer& server) {
    std::string error;
    bool bOpened = false;
    if (!options.strListen.empty()) {
        bOpened = server.Listen(options.strListen, error);
    } else if (IsNetworkPort(options.strDevice)) {
        bOpened = server.OpenNetwork(options.strDevice, options.nSpeed, error);
    } else if (!options.strDevice.empty()) {
        bOpened = server.OpenDevice(options.strDevice, options.nSpeed, error);
    } else {
        bOpened = server.OpenPty();
        error = "cannot create a pseudo-terminal";
    }
    if (!bOpened) {
        PrintError(error);
    }
    return bOpened;
}

} // namespace

int main(int argc, char** argv) {
    // Before the pty or a port opens: with stdout or stderr closed, the device would get that
    // number and our own lines (the device path, --verbose) would go to the tool as noise.
    if (!EnsureStandardStreams()) {
        PrintError("the closed standard streams cannot be opened on the null device");
        return 1;
    }
    const std::vector<std::string_view> args(argv + std::min(argc, 1), argv + argc);
    SimOptions options;
    std::string error;
    if (!ParseSimOptions(args, options, error)) {
        PrintError(error);
        return 2;
    }
    if (options.bHelp) {
        std::fputs(SimUsage(kProgram).c_str(), stdout);
        return 0;
    }
    if (options.bVersion) {
        std::printf("%.*s %s\n", static_cast<int>(kProgram.size()), kProgram.data(), kQd7Version);
        return 0;
    }

    // The signals that end the run are taken by sigtimedwait below, on this thread only: the
    // server's thread inherits the blocked mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    CSimBus bus(MakeMeters(options), options.faults, options.nSeed);
    ApplyMeterOptions(options, bus);
    CSimServer server(bus);
    if (!OpenServed(options, server)) {
        return 1;
    }
    if (options.bVerbose) {
        bus.SetLogSink(LogLine);
        server.SetTrafficLog(LogLine);
    }
    const std::string device = server.DevicePath();
    if (!options.strLink.empty() && !MakeLink(options.strLink, device)) {
        return 1;
    }
    if (!server.Start()) {
        PrintError("cannot start serving " + device);
        if (!options.strLink.empty()) {
            RemoveLink(options.strLink, device);
        }
        return 1;
    }
    std::printf("%s%s%s\n", device.c_str(), options.strLink.empty() ? "" : " ",
                options.strLink.c_str());
    std::fflush(stdout);

    int status = 0;
    const timespec poll{0, 200 * 1000 * 1000};
    while (true) {
        const int signal = sigtimedwait(&stopSignals, nullptr, &poll);
        if (signal > 0) {
            break;
        }
        if (!server.IsRunning()) {
            const std::string failure = server.Failure();
            PrintError(failure.empty() ? "serving " + device + " failed" : failure);
            status = 1;
            break;
        }
    }
    server.Stop();
    if (!options.strLink.empty()) {
        RemoveLink(options.strLink, device);
    }
    return status;
}
