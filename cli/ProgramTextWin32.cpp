#include "cli/ProgramText.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <thread>

#include <fcntl.h>
#include <io.h>

#include <windows.h>

#include <shellapi.h>

#include "cli/OutputFile.h"
#include "serial/TextWin32.h"

namespace {

constexpr int kStdout = 1;
constexpr int kStderr = 2;
// Room for a few hundred lines between the program and the console.
constexpr DWORD kPipeBytes = 64 * 1024;
constexpr size_t kChunkBytes = 4096;

// The console behind a C descriptor; nullptr when it is a file, a pipe or nothing.
HANDLE ConsoleOf(int fd) {
    const intptr_t nOsHandle = _get_osfhandle(fd);
    if (nOsHandle == -1 || nOsHandle == -2) {
        return nullptr;
    }
    const auto hHandle = reinterpret_cast<HANDLE>(nOsHandle);
    DWORD nMode = 0;
    return GetConsoleMode(hHandle, &nMode) ? hHandle : nullptr;
}

} // namespace

// Where stdout or stderr is a console, its descriptor is pointed at a pipe, and a thread hands
// what arrives there to the console with WriteConsoleW. The program's writes keep their order,
// both streams going through the one pipe. Should the console refuse text (it was closed), the
// pipe is closed too: the program's next write fails as on a reader that went away.
class CProgramText::CConsoleRelay {
public:
    CConsoleRelay() {
        const bool bOut = ConsoleOf(kStdout) != nullptr;
        const bool bErr = ConsoleOf(kStderr) != nullptr;
        if (!bOut && !bErr) {
            return;
        }
        HANDLE hRead = nullptr;
        HANDLE hWrite = nullptr;
        if (!CreatePipe(&hRead, &hWrite, nullptr, kPipeBytes)) {
            return; // the text goes to the console as bytes, as without a relay
        }
        const int fdPipe = _open_osfhandle(reinterpret_cast<intptr_t>(hWrite), _O_TEXT);
        if (fdPipe == -1) {
            CloseHandle(hRead);
            CloseHandle(hWrite);
            return;
        }
        // The console itself, kept on a descriptor of its own for the relay and for the end.
        m_fdConsole = _dup(bOut ? kStdout : kStderr);
        m_hConsole = m_fdConsole != -1 ? ConsoleOf(m_fdConsole) : nullptr;
        if (m_hConsole == nullptr) {
            _close(fdPipe);
            CloseHandle(hRead);
            return;
        }
        m_hRead = hRead;
        if (bOut) {
            Redirect(stdout, kStdout, fdPipe);
        }
        if (bErr) {
            Redirect(stderr, kStderr, fdPipe);
        }
        _close(fdPipe);
        m_thread = std::thread([this] { Relay(); });
    }

    // Hands the rest over: the streams go back to the console, which closes the pipe's writing
    // end, and the relay ends once it has shown what was still in the pipe.
    ~CConsoleRelay() {
        if (!m_thread.joinable()) {
            return;
        }
        std::fflush(stdout);
        std::fflush(stderr);
        for (const int fd : {kStdout, kStderr}) {
            if (m_savedFds[fd] != -1) {
                _dup2(m_savedFds[fd], fd);
                _close(m_savedFds[fd]);
            }
        }
        m_thread.join();
        _close(m_fdConsole);
    }

    CConsoleRelay(const CConsoleRelay&) = delete;
    CConsoleRelay& operator=(const CConsoleRelay&) = delete;

private:
    void Redirect(FILE* stream, int fd, int fdPipe) {
        std::fflush(stream);
        m_savedFds[fd] = _dup(fd);
        if (m_savedFds[fd] == -1 || _dup2(fdPipe, fd) != 0) {
            return;
        }
        // A console's streams are unbuffered; a pipe's would be held back until a buffer fills.
        std::setvbuf(stream, nullptr, _IONBF, 0);
    }

    void Relay() {
        std::array<char, kChunkBytes> chunk{};
        std::string pending;
        bool bShowing = true;
        for (;;) {
            DWORD nRead = 0;
            if (!ReadFile(m_hRead, chunk.data(), static_cast<DWORD>(chunk.size()), &nRead,
                          nullptr) ||
                nRead == 0) {
                break; // every writer has gone
            }
            pending.append(chunk.data(), nRead);
            // A character cut between two writes waits for its other bytes.
            const size_t nComplete = CompleteUtf8Length(pending);
            bShowing = Show(std::string_view(pending).substr(0, nComplete));
            if (!bShowing) {
                break;
            }
            pending.erase(0, nComplete);
        }
        if (bShowing && !pending.empty()) {
            Show(pending); // cut at the very end: shown as a replacement character
        }
        CloseHandle(m_hRead);
    }

    bool Show(std::string_view text) {
        const std::wstring wide = WideFromUtf8(text);
        size_t nShown = 0;
        while (nShown < wide.size()) {
            const DWORD nCount =
                static_cast<DWORD>(std::min<size_t>(wide.size() - nShown, kChunkBytes));
            DWORD nWritten = 0;
            if (!WriteConsoleW(m_hConsole, wide.data() + nShown, nCount, &nWritten, nullptr) ||
                nWritten == 0) {
                return false;
            }
            nShown += nWritten;
        }
        return true;
    }

    HANDLE m_hConsole = nullptr;
    HANDLE m_hRead = nullptr;
    int m_fdConsole = -1;
    std::array<int, 3> m_savedFds{-1, -1, -1}; // by descriptor: its console, while redirected
    std::thread m_thread;
};

CProgramText::CProgramText(int argc, char** argv) : m_bErrTerminal(IsTerminal(stderr)) {
    int nArgs = 0;
    if (LPWSTR* ppArgs = CommandLineToArgvW(GetCommandLineW(), &nArgs); ppArgs != nullptr) {
        for (int i = 1; i < nArgs; ++i) {
            m_strings.push_back(Utf8FromWide(ppArgs[i]));
        }
        LocalFree(ppArgs);
    } else {
        // Without the wide command line, the C library's arguments in the ANSI code page.
        for (int i = 1; i < argc; ++i) {
            m_strings.push_back(Utf8FromAnsi(argv[i]));
        }
    }
    m_args.assign(m_strings.begin(), m_strings.end());
    m_pRelay = std::make_unique<CConsoleRelay>();
}

CProgramText::~CProgramText() = default;
