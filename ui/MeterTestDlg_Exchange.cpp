// The exchange steps: one request out, whatever reply has arrived in, and the "Send" button's text
// frame. None of them waits for a reply; their callers decide when to read.
#include "ui/MeterTestDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include <cstdio>

#include "protocol/FrameCodec.h"
#include "render/PanelLayout.h"
#include "ui/ComboHelper.h"

namespace {

// Each drain is one read of what has arrived, bounded, never a loop until the line is quiet (a
// chattering line could hold the thread). A request drains at most the frame buffer it reads
// into, 64 bytes; "Send" at most 60, the most a reply read takes. What lies beyond stays and
// leads the next reply's dump, where a line that carries more than a late reply shows instead of
// vanishing. The two bounds differ on purpose: each matches its own read.
constexpr int kRequestDrainBytes = kFrameBufferSize;
constexpr int kTextDrainBytes = kMaxResponseRead;
constexpr int kReplyWaitMs = 1000;

void DrawLamp(CLampDisplay& lamps, QPoint origin, LampState state) {
    lamps.DrawLamp(origin.x(), origin.y(), state);
}

QString Latin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

bool CMeterTestDlg::SendRequest(int address, int commandIndex, int bankDigit, int registerIndex,
                                double value) {
    FrameBuffer frame{};
    // A reply still on its way from an earlier request must not be taken for this one's.
    m_serialPort.Read(frame.data(), kRequestDrainBytes);
    DrawLamp(m_lampDisplay, kSendLampOrigin, LampGreen);

    const std::optional<uint8_t> crc =
        BuildRequestFrame(frame, address, commandIndex, bankDigit, registerIndex, value);
    if (crc) {
        m_pCrcLabel->setText(Latin1(FormatCrcText(*crc)));
        m_pTextEdit->setText(Latin1(FrameBody(frame)));
        // On screen before the write holds the thread.
        m_pCrcLabel->repaint();
        m_pTextEdit->repaint();
        m_serialPort.Write(frame.data(), kWireFrameLength);
    }
    DrawLamp(m_lampDisplay, kReceiveLampOrigin, LampDarkGreen);
    DrawLamp(m_lampDisplay, kSendLampOrigin, LampDarkGreen);
    // Arguments out of range build no frame: nothing went out, and the caller is told so.
    return crc.has_value();
}

void CMeterTestDlg::SendText() {
    FrameBuffer frame{};
    m_serialPort.Read(frame.data(), kTextDrainBytes);
    // With Autoscan off no tick brings back a port whose adapter was replugged: "Send" does. After
    // the drain, since that is where a device that went while nobody used the port is noticed;
    // this frame then goes to the device that is back.
    ReopenLostPort();
    DrawLamp(m_lampDisplay, kSendLampOrigin, LampGreen);

    const QByteArray text = m_pTextEdit->text().toLatin1();
    const uint8_t crc =
        BuildTextFrame(frame, std::string_view(text.constData(), static_cast<size_t>(text.size())));
    m_pCrcLabel->setText(Latin1(FormatCrcText(crc)));
    m_pCrcLabel->repaint(); // on screen before the write and the wait hold the thread
    m_serialPort.Write(frame.data(), kWireFrameLength);

    DrawLamp(m_lampDisplay, kSendLampOrigin, LampDarkGreen);
    DrawLamp(m_lampDisplay, kReceiveLampOrigin, LampDarkGreen);
    m_fnSleep(kReplyWaitMs);
    ReceiveResponse(nullptr);
}

bool CMeterTestDlg::ReceiveResponse(RegisterSnapshot* pSnapshot) {
    std::array<uint8_t, kFrameBufferSize> reply{};
    const int count = m_serialPort.Read(reply.data(), kMaxResponseRead);
    m_pResponseEdit->setText(Latin1(FormatHexDump(reply.data(), count)));
    // The reply's first bytes (ACK, STX, address) stay in view when the dump is wider than the
    // field.
    m_pResponseEdit->setCursorPosition(0);
    // On screen at once: a read-out goes on to its next request without returning to the loop.
    m_pResponseEdit->repaint();

    const DecodedResponse decoded = ParseResponseFrame(reply.data(), count);
    switch (decoded.status) {
    case ResponseStatus::ResponseCorrupt:
        // The polled address leaves the list; -1 (nothing polled since the reset) changes nothing.
        UpdateAddressList(m_pollCycle.CurrentAddress(), false);
        DrawLamp(m_lampDisplay, kReceiveLampOrigin, LampYellow);
        return false;
    case ResponseStatus::ResponseRejected:
        return false;
    case ResponseStatus::ResponseOk:
        break;
    }

    DrawLamp(m_lampDisplay, kReceiveLampOrigin, LampGreen);
    UpdateAddressList(decoded.address, true);
    if (pSnapshot != nullptr) {
        pSnapshot->address = static_cast<int16_t>(decoded.address);
        pSnapshot->values[static_cast<size_t>(decoded.registerIndex)] = decoded.value;
    }
    if (decoded.registerIndex == kRegisterProcessValue) {
        std::array<char, 8> entry{};
        std::snprintf(entry.data(), entry.size(), "%02d", decoded.address);
        const int position = FindStringPrefix(m_pAddressList, QString::fromLatin1(entry.data()));
        const int bank = m_pBank1->isChecked() ? 1 : 0;
        if (bank == decoded.bank && position >= 0 && m_pAddressList->currentIndex() == position) {
            const std::string text = FormatValueText(decoded.value, decoded.decimals);
            std::snprintf(m_szDisplayText.data(), m_szDisplayText.size(), "%s", text.c_str());
            m_digitDisplay.DrawValue(kValueOrigin.x(), kValueOrigin.y(), m_szDisplayText.data());
        }
    }
    return true;
}
