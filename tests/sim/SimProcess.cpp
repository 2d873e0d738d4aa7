#include "tests/sim/SimProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <thread>

extern char** environ;

CSimProcess::CSimProcess(const std::vector<std::string>& args, const ChildStreams& streams) {
    std::array<int, 2> out{-1, -1};
    std::array<int, 2> err{-1, -1};
    if (::pipe2(out.data(), O_CLOEXEC) != 0) {
        return;
    }
    if (::pipe2(err.data(), O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return;
    }
    m_fdOut.Reset(out[0]);
    m_fdErr.Reset(err[0]);
    CUniqueFd outWrite(out[1]);
    CUniqueFd errWrite(err[1]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outWrite.Get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errWrite.Get(), STDERR_FILENO);
    if (!streams.strOutPath.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, streams.strOutPath.c_str(),
                                         O_WRONLY, 0);
    }
    for (const int fd : streams.closedFds) {
        posix_spawn_file_actions_addclose(&actions, fd);
    }
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    if (::posix_spawn(&m_nPid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        m_nPid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
}

CSimProcess::~CSimProcess() {
    if (m_nPid > 0 && !m_bReaped) {
        ::kill(m_nPid, SIGKILL);
        ::waitpid(m_nPid, nullptr, 0);
    }
}

std::optional<std::string> CSimProcess::FirstLine(std::chrono::milliseconds timeout) {
    if (!WaitForOut([](const std::string& out) { return out.find('\n') != std::string::npos; },
                    timeout)) {
        return std::nullopt;
    }
    return m_strOut.substr(0, m_strOut.find('\n'));
}

bool CSimProcess::WaitForOut(const std::function<bool(const std::string&)>& done,
                             std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done(m_strOut)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd pfd{m_fdOut.Get(), POLLIN, 0};
        if (left.count() <= 0 || ::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
            return false;
        }
        std::array<char, 256> chunk{};
        const ssize_t n = ::read(m_fdOut.Get(), chunk.data(), chunk.size());
        if (n <= 0) {
            return false;
        }
        m_strOut.append(chunk.data(), static_cast<size_t>(n));
    }
    return true;
}

bool CSimProcess::Signal(int signal) const {
    return m_nPid > 0 && ::kill(m_nPid, signal) == 0;
}

std::optional<int> CSimProcess::WaitExit(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (m_nPid > 0 && !m_bReaped) {
        int status = 0;
        const pid_t done = ::waitpid(m_nPid, &status, WNOHANG);
        if (done == m_nPid) {
            m_bReaped = true;
            if (WIFEXITED(status)) {
                return WEXITSTATUS(status);
            }
            return std::nullopt;
        }
        if (done < 0 || std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return std::nullopt;
}

std::string CSimProcess::ReadAll(CUniqueFd& fd) {
    std::string text;
    std::array<char, 4096> chunk{};
    while (fd.IsValid()) {
        pollfd pfd{fd.Get(), POLLIN, 0};
        if (::poll(&pfd, 1, 2000) <= 0) {
            break;
        }
        const ssize_t n = ::read(fd.Get(), chunk.data(), chunk.size());
        if (n <= 0) {
            break;
        }
        text.append(chunk.data(), static_cast<size_t>(n));
    }
    return text;
}
