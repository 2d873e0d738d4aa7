#pragma once

#include <string>
#include <vector>

// What a register read-out of the simulator's meters sends and gives back.

// The value texts ("%g") of a meter with the simulator's default registers, P0 held at time 0.
std::vector<std::string> ExpectedTexts(int address, int bank);
// The eleven request bodies of a read-out: RX for P0 .. Y1, value 0.
std::vector<std::string> ReadOutBodies(int address, int bank);
