#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

// The Telnet layer of an RFC 2217 connection: data with its escapes, the negotiation of options,
// and the COM-port option's messages. Pure byte work, no I/O: the network port feeds it what the
// socket delivered and sends what it produces.
//
// The options this end wants: binary transmission both ways (frames carry any byte, and a CR
// must not gain a NUL), suppress-go-ahead both ways (full duplex), and the COM-port option on our
// side (RFC 2217: we are its client). Every other option is refused; a request that changes
// nothing is not answered, so two ends never loop.

namespace telnet {
inline constexpr uint8_t kIac = 255;
inline constexpr uint8_t kDont = 254;
inline constexpr uint8_t kDo = 253;
inline constexpr uint8_t kWont = 252;
inline constexpr uint8_t kWill = 251;
inline constexpr uint8_t kSb = 250;
inline constexpr uint8_t kSe = 240;
inline constexpr uint8_t kBinary = 0;
inline constexpr uint8_t kSuppressGoAhead = 3;
inline constexpr uint8_t kComPort = 44;
} // namespace telnet

// COM-port option commands as the client sends them; the server answers each with the same
// command plus kServerOffset.
namespace comport {
inline constexpr uint8_t kSetBaudRate = 1;
inline constexpr uint8_t kSetDataSize = 2;
inline constexpr uint8_t kSetParity = 3;
inline constexpr uint8_t kSetStopSize = 4;
inline constexpr uint8_t kSetControl = 5;
inline constexpr uint8_t kPurgeData = 12;
inline constexpr uint8_t kServerOffset = 100;
// SET-CONTROL values.
inline constexpr uint8_t kNoFlowControl = 1;
inline constexpr uint8_t kDtrOn = 8;
inline constexpr uint8_t kDtrOff = 9;
inline constexpr uint8_t kRtsOn = 11;
inline constexpr uint8_t kRtsOff = 12;
// PURGE-DATA: both the server's receive and transmit buffers.
inline constexpr uint8_t kPurgeBoth = 3;
} // namespace comport

// One COM-port option message from the server: its command (100 and up) and value.
struct ComPortMessage {
    uint8_t command = 0;
    std::vector<uint8_t> value;
};

class CTelnetCodec {
public:
    // What this end says first: the options it offers and asks for.
    std::vector<uint8_t> Opening();

    // Data to send, with IAC doubled and, while the server has not agreed to binary from us, a CR
    // followed by NUL as Telnet's plain text asks.
    void EncodeData(std::span<const uint8_t> bytes, std::vector<uint8_t>& out) const;
    // A COM-port option command to send, its value's IAC bytes doubled.
    static std::vector<uint8_t> ComPortCommand(uint8_t command, std::span<const uint8_t> value);

    // Takes received bytes in any pieces: data goes to `data`, the server's COM-port messages to
    // `messages`, and the answers that the negotiation needs to `replies` (to be sent).
    void Receive(std::span<const uint8_t> bytes, std::vector<uint8_t>& data,
                 std::vector<ComPortMessage>& messages, std::vector<uint8_t>& replies);

    // The server agreed to the COM-port option (DO COM-PORT-OPTION) / refused it (DONT).
    bool ComPortAccepted() const { return m_local[telnet::kComPort].bEnabled; }
    bool ComPortRefused() const { return m_bComPortRefused; }

private:
    enum class State { Data, Iac, Command, Sb, SbIac, Cr };
    struct Option {
        bool bEnabled = false;
        bool bPending = false; // we asked and await the answer
    };

    void OnCommand(uint8_t command, uint8_t option, std::vector<uint8_t>& replies);
    void OnSubnegotiation(std::vector<ComPortMessage>& messages);
    static bool WantLocal(uint8_t option);
    static bool WantRemote(uint8_t option);

    State m_state = State::Data;
    uint8_t m_command = 0;
    std::vector<uint8_t> m_sb; // a subnegotiation being read
    bool m_bSbOverflow = false;
    std::array<Option, 256> m_local{};  // options of this end (WILL/WONT, asked with DO/DONT)
    std::array<Option, 256> m_remote{}; // options of the server
    bool m_bComPortRefused = false;
};
