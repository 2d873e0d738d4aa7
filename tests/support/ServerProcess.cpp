#include "tests/support/ServerProcess.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "serial/UniqueFd.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kStartWait = 10s;
constexpr auto kStopWait = 5s;
constexpr auto kPollStep = 10ms;
constexpr const char* kListenState = "0A"; // TCP_LISTEN in /proc/net/tcp

} // namespace

uint16_t FreeTcpPort() {
    CUniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (!fd.IsValid() || bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    return ntohs(address.sin_port);
}

std::string ReadTextFile(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

bool IsListening(uint16_t port) {
    char local[32];
    std::snprintf(local, sizeof local, "0100007F:%04X", port);
    std::ifstream table("/proc/net/tcp");
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot;
        std::string localAddress;
        std::string remoteAddress;
        std::string state;
        fields >> slot >> localAddress >> remoteAddress >> state;
        if (localAddress == local && state == kListenState) {
            return true;
        }
    }
    return false;
}

namespace {

// The child runs `argv` with stdout and stderr appended to `logPath`; -1 when there is no child.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& logPath) {
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (out >= 0) {
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
        }
        execvp(args[0], args.data());
        std::fprintf(stderr, "cannot run %s\n", args[0]);
        _exit(127);
    }
    return pid;
}

} // namespace

int RunProgram(const std::vector<std::string>& argv, const std::string& logPath) {
    const pid_t pid = Spawn(argv, logPath);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

pid_t StartServer(const std::vector<std::string>& argv, const std::string& logPath, uint16_t port) {
    pid_t running = Spawn(argv, logPath);
    if (running < 0) {
        return -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + kStartWait;
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(running, nullptr, WNOHANG) == running) {
            return -1; // it ended: the log says why
        }
        if (IsListening(port)) {
            return running;
        }
        std::this_thread::sleep_for(kPollStep);
    }
    StopServer(running);
    return -1;
}

void StopServer(pid_t& pid) {
    if (pid <= 0) {
        return;
    }
    kill(pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + kStopWait;
    while (waitpid(pid, nullptr, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(kPollStep);
    }
    pid = -1;
}
