#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "serial/UniqueFd.h"

// Where a child's standard streams go besides the pipes.
struct ChildStreams {
    std::string strOutPath;     // stdout to this file (opened for writing), not to the pipe
    std::vector<int> closedFds; // left closed in the child, e.g. 1 for a program run with >&-
};

// A program (qd7-sim, qd7-bus) run as a child with its stdout and stderr on pipes. Every wait is
// bounded; a child still running at the end is killed.
class CSimProcess {
public:
    explicit CSimProcess(const std::vector<std::string>& args, const ChildStreams& streams = {});
    ~CSimProcess();
    CSimProcess(const CSimProcess&) = delete;
    CSimProcess& operator=(const CSimProcess&) = delete;

    bool IsStarted() const { return m_nPid > 0; }
    // The first line on stdout, without its newline; nothing if none came in time.
    std::optional<std::string> FirstLine(std::chrono::milliseconds timeout);
    // Reads stdout until what came so far satisfies `done`; false when it did not in time or
    // stdout ended first.
    bool WaitForOut(const std::function<bool(const std::string&)>& done,
                    std::chrono::milliseconds timeout);
    // Closes our end of the child's stdout: its next write there finds no reader.
    void CloseOut() { m_fdOut.Reset(); }
    bool Signal(int signal) const;
    // The exit code, or nothing when it did not exit in time or died of a signal.
    std::optional<int> WaitExit(std::chrono::milliseconds timeout);
    // All of stdout or stderr once the child has exited.
    std::string ReadOut() { return m_strOut + ReadAll(m_fdOut); }
    std::string ReadErr() { return ReadAll(m_fdErr); }

private:
    static std::string ReadAll(CUniqueFd& fd);

    pid_t m_nPid = -1;
    bool m_bReaped = false;
    CUniqueFd m_fdOut;
    CUniqueFd m_fdErr;
    std::string m_strOut;
};
