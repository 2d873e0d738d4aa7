#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/FrameCodec.h"

// What became of one request. Ok, Corrupt and Rejected are the codec's verdicts on the frame that
// answered (ResponseStatus, mapped in ReplyStatusOf alone); Silent and NoDevice say why no frame
// answered at all.
enum class ReplyStatus {
    Ok,       // the reply asked for: ResponseOk, from the meter asked, with its bank and register
    Silent,   // nothing that starts like a reply
    Corrupt,  // a reply start (ACK STX) cut short or with a wrong CRC: ResponseCorrupt
    Rejected, // a frame with a good CRC for this meter that is not the reply asked for
    NoDevice, // the port's device has gone away (an adapter unplugged): nothing was asked. Only
              // the exchange that owns the port says so; the finder never does.
};

// The verdict on a frame that names the meter asked, from the codec's status of it: ResponseOk is
// Ok, ResponseCorrupt Corrupt, ResponseRejected Rejected. A ResponseOk frame that is not the reply
// asked for (another bank or register) the finder then rejects.
ReplyStatus ReplyStatusOf(ResponseStatus status);

// The reply a request waits for. Bank and register -1 take any. A write's answer (bWrite) may
// carry WD, the command meters answer a write with, or RD as some answer it; it is the meter's
// word only, and a write is judged by reading the register back.
struct ReplyExpectation {
    int address = 0;
    int bank = -1;
    int registerIndex = -1;
    bool bWrite = false;
};

// Finds a meter's reply in the bytes that come back after a request, fed as they arrive. The
// reply is found by its ACK STX start wherever it stands: after line noise, after an echo of the
// request (RS485 converters that hear their own transmitter), after a reply of another meter. It
// must have a good CRC and carry the address, bank and register expected; a well-formed reply of
// another address is someone else's and passes unremarked.
class CReplyFinder {
public:
    explicit CReplyFinder(const ReplyExpectation& expectation);

    // Takes the next bytes received; true once the expected reply has been found.
    bool Feed(const uint8_t* bytes, size_t count);

    bool Found() const { return m_status == ReplyStatus::Ok; }
    // The verdict on what has come so far: Ok once found; else Rejected if a well-formed frame
    // for this meter was refused, else Corrupt if a reply start was seen, else Silent.
    ReplyStatus Status() const;
    // The decoded reply; meaningful when Found().
    const DecodedResponse& Reply() const { return m_reply; }
    // The bytes behind the verdict: the reply or the frame refused (19 bytes), a corrupt reply's
    // bytes from its ACK, or what was heard while silent (at most kMaxResponseRead bytes).
    std::vector<uint8_t> Raw() const;

private:
    void Scan();
    // Judges the 19 bytes at m_nScan.
    void Judge();

    ReplyExpectation m_expect;
    std::vector<uint8_t> m_vecBytes; // received, from the first position still undecided on
    size_t m_nScan = 0;              // bytes before it cannot start the reply
    std::vector<uint8_t> m_vecHeard; // the first bytes received, for a silent verdict
    ReplyStatus m_status = ReplyStatus::Silent;
    std::vector<uint8_t> m_vecRaw;
    DecodedResponse m_reply;
};
