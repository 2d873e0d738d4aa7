#pragma once

#include <string>

// The device behind port number n (1-based, as in "COM%d"). Empty for a number below 1.
std::string PortDevicePath(int port);
