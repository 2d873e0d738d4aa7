#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// A real server run by a test (ser2net, mosquitto): started as a child with its output in a log
// file, waited for until it listens on its port of 127.0.0.1, ended and waited for.

// Starts `argv` with stdout and stderr appended to `logPath`, then waits until something listens
// on 127.0.0.1:port (read from the kernel's table of sockets, not by connecting, which a server
// may take as a client). Its pid, or -1 when it ended or did not listen within a few seconds.
pid_t StartServer(const std::vector<std::string>& argv, const std::string& logPath, uint16_t port);
// Runs `argv` to its end, its output to `logPath`; its exit code, -1 when it did not run or died.
int RunProgram(const std::vector<std::string>& argv, const std::string& logPath);
// SIGTERM, then SIGKILL after a few seconds; waits for it. `pid` is -1 afterwards.
void StopServer(pid_t& pid);
bool IsListening(uint16_t port);
// A TCP port on 127.0.0.1 that nothing listens on now (the system's pick): a free port for a
// server, or one that refuses a connection.
uint16_t FreeTcpPort();
// The whole of a text file; empty when it cannot be read.
std::string ReadTextFile(const std::string& path);
