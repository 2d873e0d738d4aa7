#pragma once

#include <unistd.h>

#include <utility>

// Owns one file descriptor and closes it when it goes: the devices of the serial port, and the
// simulator's pseudo-terminals and ports.
class CUniqueFd {
public:
    CUniqueFd() = default;
    explicit CUniqueFd(int fd) : m_hFd(fd) {}
    ~CUniqueFd() { Reset(); }
    CUniqueFd(CUniqueFd&& other) noexcept : m_hFd(std::exchange(other.m_hFd, -1)) {}
    CUniqueFd& operator=(CUniqueFd&& other) noexcept {
        if (this != &other) {
            Reset(std::exchange(other.m_hFd, -1));
        }
        return *this;
    }
    CUniqueFd(const CUniqueFd&) = delete;
    CUniqueFd& operator=(const CUniqueFd&) = delete;

    int Get() const { return m_hFd; }
    bool IsValid() const { return m_hFd >= 0; }
    void Reset(int fd = -1) {
        if (m_hFd >= 0) {
            ::close(m_hFd);
        }
        m_hFd = fd;
    }

private:
    int m_hFd = -1;
};
