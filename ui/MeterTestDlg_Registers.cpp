// The register read-out: all eleven registers of the selected meter, one request each, into the
// caller's snapshot, with its progress on the caller's bar. It holds the thread for its whole run
// and suspends the poll cycle meanwhile.
#include "ui/MeterTestDlg.h"

#include <QCheckBox>
#include <QProgressBar>

#include <algorithm>
#include <array>

#include "protocol/CodeTables.h"

namespace {

constexpr int kSettleMs = 500;
// More than a request's own drain of 64: poll replies that arrive during the settling pause (five
// of 19 bytes and more) must not lead the reply for P0. One read, bounded like every drain.
constexpr int kDrainBytes = 100;
constexpr int kReplyWaitMs = 700;
// Eleven positions in a range of ten: the bar shows full from the tenth register on.
constexpr int kProgressTop = 10;

// Qt ignores a position outside the range, so it is held to the range (past the end shows full).
// Painted at once: the thread stays held until the read-out ends, so a queued update would only
// show then.
void SetProgressPosition(QProgressBar* pProgress, int position) {
    pProgress->setValue(std::clamp(position, pProgress->minimum(), pProgress->maximum()));
    pProgress->repaint();
}

} // namespace

void CMeterTestDlg::ReadAllRegisters(RegisterSnapshot* pSnapshot, QProgressBar* pProgress) {
    if (pSnapshot == nullptr) {
        return;
    }
    if (m_pAutoscan->isChecked()) {
        StopPolling();
    }
    m_fnSleep(kSettleMs);
    std::array<uint8_t, kDrainBytes> discarded{};
    m_serialPort.Read(discarded.data(), kDrainBytes);
    if (pProgress != nullptr) {
        pProgress->setRange(0, kProgressTop);
    }

    const int address = SelectedAddress();
    const int bank = m_pBank1->isChecked() ? 1 : 0; // one bank for the whole run
    for (int registerIndex = 0; registerIndex < kRegisterCount; ++registerIndex) {
        SendRequest(address, kCommandRead, bank, registerIndex, 0.0);
        m_fnSleep(kReplyWaitMs);
        ReceiveResponse(pSnapshot);
        if (pProgress != nullptr) {
            SetProgressPosition(pProgress, registerIndex + 1);
        }
    }

    // Afresh: a poll request outstanding before the run is forgotten.
    if (m_pAutoscan->isChecked()) {
        StartPolling();
    }
    if (pProgress != nullptr) {
        SetProgressPosition(pProgress, 0);
    }
}
