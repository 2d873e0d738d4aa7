#include "tests/support/Ser2net.h"

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
#include <vector>

#include "serial/UniqueFd.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kStartWait = 10s;
constexpr auto kStopWait = 5s;
constexpr auto kPollStep = 10ms;
constexpr const char* kProgram = "ser2net";
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

CSer2net::CSer2net(std::string devicePath, Mode mode)
    : m_strDevice(std::move(devicePath)), m_mode(mode), m_nPort(FreeTcpPort()) {}

CSer2net::~CSer2net() {
    Stop();
}

std::string CSer2net::Url() const {
    return std::string(m_mode == Mode::Rfc2217 ? "rfc2217" : "tcp") +
           "://127.0.0.1:" + std::to_string(m_nPort);
}

std::string CSer2net::Log() const {
    std::ifstream file(m_dir.Path() + "/ser2net.log");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

bool CSer2net::Start() {
    if (m_nPid > 0 || m_dir.Path().empty() || m_nPort == 0) {
        return false;
    }
    // "local": no modem lines (a pty has none); the RFC 2217 client sets the line itself.
    const std::string config = m_dir.Path() + "/ser2net.yaml";
    {
        std::ofstream file(config);
        file << "connection: &qd7\n"
             << "  accepter: " << (m_mode == Mode::Rfc2217 ? "telnet(rfc2217),tcp," : "tcp,")
             << "127.0.0.1," << m_nPort << "\n"
             << "  connector: serialdev," << m_strDevice << ",9600n81,local\n";
        if (!file) {
            return false;
        }
    }
    const std::string log = m_dir.Path() + "/ser2net.log";
    const pid_t pid = fork();
    if (pid < 0) {
        return false;
    }
    if (pid == 0) {
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (out >= 0) {
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
        }
        // In the foreground, its messages on stdout, and no lock files of its own in /var/lock.
        execlp(kProgram, kProgram, "-n", "-d", "-u", "-c", config.c_str(),
               static_cast<char*>(nullptr));
        std::fprintf(stderr, "cannot run %s\n", kProgram);
        _exit(127);
    }
    m_nPid = pid;
    const auto deadline = std::chrono::steady_clock::now() + kStartWait;
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(m_nPid, nullptr, WNOHANG) == m_nPid) {
            m_nPid = -1; // it ended: the log says why
            return false;
        }
        if (IsListening()) {
            return true;
        }
        std::this_thread::sleep_for(kPollStep);
    }
    Stop();
    return false;
}

void CSer2net::Stop() {
    if (m_nPid <= 0) {
        return;
    }
    kill(m_nPid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + kStopWait;
    while (waitpid(m_nPid, nullptr, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(m_nPid, SIGKILL);
            waitpid(m_nPid, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(kPollStep);
    }
    m_nPid = -1;
}

// Read from the kernel's table of sockets rather than by connecting: a connection would make
// ser2net open the device, and hold it for a moment after.
bool CSer2net::IsListening() const {
    char local[32];
    std::snprintf(local, sizeof local, "0100007F:%04X", m_nPort);
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
