#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Finds request frames in the byte stream a meter hears. A frame is STX, 15 body bytes, ETX and the
// CRC-8 of body and ETX; whatever lies between frames (the 0x00 and 0xFF fill of the tool's 35-byte
// frames, noise, other meters' replies) is skipped. Frames may arrive split over several reads.
struct ScannedFrame {
    std::string body;    // the 15 bytes after the STX
    bool bValid = false; // ETX in place and CRC matching
};

class CRequestScanner {
public:
    void Push(std::span<const uint8_t> bytes);

    // The next candidate that starts with STX and is complete. An invalid candidate gives up only
    // its STX, so a real frame that starts inside it is still found.
    std::optional<ScannedFrame> Next();

    // Bytes kept while waiting for the rest of a frame; never more than one frame's worth plus the
    // last read.
    size_t PendingSize() const { return m_vecPending.size(); }

private:
    std::vector<uint8_t> m_vecPending;
};
