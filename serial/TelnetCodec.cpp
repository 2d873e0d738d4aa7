#include "serial/TelnetCodec.h"

using namespace telnet;

namespace {

constexpr uint8_t kCr = 0x0D;
constexpr uint8_t kNul = 0x00;
// The longest subnegotiation kept: COM-port messages carry at most a few bytes, a signature a
// line of text. A longer one is read to its end and dropped.
constexpr size_t kMaxSubnegotiation = 512;

void Append(std::vector<uint8_t>& out, uint8_t command, uint8_t option) {
    out.insert(out.end(), {kIac, command, option});
}

} // namespace

bool CTelnetCodec::WantLocal(uint8_t option) {
    return option == kBinary || option == kSuppressGoAhead || option == kComPort;
}

bool CTelnetCodec::WantRemote(uint8_t option) {
    return option == kBinary || option == kSuppressGoAhead;
}

std::vector<uint8_t> CTelnetCodec::Opening() {
    std::vector<uint8_t> out;
    for (const uint8_t option : {kBinary, kSuppressGoAhead, kComPort}) {
        if (!m_local[option].bEnabled && !m_local[option].bPending) {
            m_local[option].bPending = true;
            Append(out, kWill, option);
        }
    }
    for (const uint8_t option : {kBinary, kSuppressGoAhead}) {
        if (!m_remote[option].bEnabled && !m_remote[option].bPending) {
            m_remote[option].bPending = true;
            Append(out, kDo, option);
        }
    }
    return out;
}

void CTelnetCodec::EncodeData(std::span<const uint8_t> bytes, std::vector<uint8_t>& out) const {
    const bool bBinary = m_local[kBinary].bEnabled;
    for (const uint8_t byte : bytes) {
        out.push_back(byte);
        if (byte == kIac) {
            out.push_back(kIac);
        } else if (byte == kCr && !bBinary) {
            out.push_back(kNul);
        }
    }
}

std::vector<uint8_t> CTelnetCodec::ComPortCommand(uint8_t command, std::span<const uint8_t> value) {
    std::vector<uint8_t> out = {kIac, kSb, kComPort, command};
    for (const uint8_t byte : value) {
        out.push_back(byte);
        if (byte == kIac) {
            out.push_back(kIac);
        }
    }
    out.insert(out.end(), {kIac, kSe});
    return out;
}

void CTelnetCodec::Receive(std::span<const uint8_t> bytes, std::vector<uint8_t>& data,
                           std::vector<ComPortMessage>& messages, std::vector<uint8_t>& replies) {
    for (const uint8_t byte : bytes) {
        switch (m_state) {
        case State::Cr:
            // Outside binary mode the server sends CR as CR NUL (or CR LF, which is data).
            m_state = State::Data;
            if (byte == kNul) {
                break;
            }
            [[fallthrough]];
        case State::Data:
            if (byte == kIac) {
                m_state = State::Iac;
            } else {
                data.push_back(byte);
                if (byte == kCr && !m_remote[kBinary].bEnabled) {
                    m_state = State::Cr;
                }
            }
            break;
        case State::Iac:
            if (byte == kIac) {
                data.push_back(kIac);
                m_state = State::Data;
            } else if (byte == kWill || byte == kWont || byte == kDo || byte == kDont) {
                m_command = byte;
                m_state = State::Command;
            } else if (byte == kSb) {
                m_sb.clear();
                m_bSbOverflow = false;
                m_state = State::Sb;
            } else {
                m_state = State::Data; // NOP, data mark, go-ahead and the like carry nothing here
            }
            break;
        case State::Command:
            OnCommand(m_command, byte, replies);
            m_state = State::Data;
            break;
        case State::Sb:
            if (byte == kIac) {
                m_state = State::SbIac;
            } else if (m_sb.size() < kMaxSubnegotiation) {
                m_sb.push_back(byte);
            } else {
                m_bSbOverflow = true;
            }
            break;
        case State::SbIac:
            if (byte == kIac) {
                if (m_sb.size() < kMaxSubnegotiation) {
                    m_sb.push_back(kIac);
                }
                m_state = State::Sb;
            } else {
                // IAC SE ends it; any other command inside is a broken peer: end it there too.
                if (!m_bSbOverflow) {
                    OnSubnegotiation(messages);
                }
                m_state = State::Data;
            }
            break;
        }
    }
}

void CTelnetCodec::OnSubnegotiation(std::vector<ComPortMessage>& messages) {
    if (m_sb.size() < 2 || m_sb[0] != kComPort) {
        return;
    }
    messages.push_back(ComPortMessage{m_sb[1], std::vector<uint8_t>(m_sb.begin() + 2, m_sb.end())});
}

void CTelnetCodec::OnCommand(uint8_t command, uint8_t option, std::vector<uint8_t>& replies) {
    const bool bLocal = command == kDo || command == kDont;
    Option& state = bLocal ? m_local[option] : m_remote[option];
    const bool bAsksOn = command == kDo || command == kWill;
    const bool bWanted = bLocal ? WantLocal(option) : WantRemote(option);
    const bool bWasPending = state.bPending;
    state.bPending = false;
    if (bAsksOn) {
        if (state.bEnabled) {
            return; // no change: no answer
        }
        if (bWanted) {
            state.bEnabled = true;
            if (!bWasPending) {
                Append(replies, bLocal ? kWill : kDo, option);
            }
        } else {
            Append(replies, bLocal ? kWont : kDont, option);
        }
        return;
    }
    if (bLocal && option == kComPort) {
        m_bComPortRefused = true;
    }
    if (!state.bEnabled) {
        return; // refusal of our request, or no change
    }
    state.bEnabled = false;
    if (!bWasPending) {
        Append(replies, bLocal ? kWont : kDont, option);
    }
}
