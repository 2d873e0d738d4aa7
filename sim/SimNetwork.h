#pragma once

#include <optional>
#include <string>

#include "serial/PortAddress.h"
#include "serial/UniqueFd.h"

// The simulator's side of TCP: a listening socket that a tool connects to as to a device server's
// raw TCP port.

// Listens on the address (a host name or address literal; port 0 takes a free one), non-blocking.
// `url` is the address as bound, with the port the system chose: what a tool is told to open.
CUniqueFd ListenTcp(const NetworkAddress& address, std::string& url, std::string& error);

// The next waiting client, non-blocking, with small segments sent at once; invalid when none.
CUniqueFd AcceptClient(int listenFd);
