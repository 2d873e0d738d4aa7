#include "tests/support/Ser2net.h"

#include <fstream>

#include "tests/support/ServerProcess.h"

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
    return ReadTextFile(m_dir.Path() + "/ser2net.log");
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
    // In the foreground, its messages on stdout, and no lock files of its own in /var/lock. Its
    // listening is read from the kernel's table rather than by connecting: a connection would make
    // ser2net open the device, and hold it for a moment after.
    m_nPid = StartServer({"ser2net", "-n", "-d", "-u", "-c", config}, m_dir.Path() + "/ser2net.log",
                         m_nPort);
    return m_nPid > 0;
}

void CSer2net::Stop() {
    StopServer(m_nPid);
}
