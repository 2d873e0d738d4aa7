// The poll cycle: every tick of the 700 ms timer either sends a request for a meter's process
// value or reads the reply to the one before, and walks the address scan between polls of the
// selected meter. Also the timer itself and the list of meters that answered.
#include "ui/MeterTestDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QTimer>

#include <cstdio>

#include "ui/ComboHelper.h"

namespace {

constexpr int kAddressCount = 100;

} // namespace

void CMeterTestDlg::OnPollTimer(unsigned timerId) {
    if (timerId == kPollTimerId) {
        ReopenLostPort();
        if (m_bAwaitingResponse) {
            ReceiveResponse(nullptr);
            m_bAwaitingResponse = false;
        } else {
            const int bank = m_pBank1->isChecked() ? 1 : 0;
            const bool bPnp = m_pPnp->isChecked();
            if (!bPnp) {
                m_nCurrentAddress = static_cast<int8_t>(SelectedAddress());
            } else if (m_bProbeSelected && m_nListedCount != 0) {
                m_nCurrentAddress = static_cast<int8_t>(SelectedAddress());
                m_bProbeSelected = false;
            } else {
                ++m_nScanCursor;
                if (m_nScanCursor >= kAddressCount) {
                    m_nScanCursor = 0;
                }
                m_bProbeSelected = true;
                m_nCurrentAddress = m_nScanCursor;
            }
            SendRequest(m_nCurrentAddress, 0, bank, 0, 0.0);
            m_bAwaitingResponse = true;
        }
    }
    DrawFrontPanel();
}

void CMeterTestDlg::ResetPollCycle() {
    m_nScanCursor = 0;
    m_nCurrentAddress = -1;
    m_bAwaitingResponse = false;
    m_bProbeSelected = true;
    m_nListedCount = 0;
}

void CMeterTestDlg::StartPolling() {
    // Starting a running timer replaces it: its period begins afresh.
    m_pPollTimer->start(m_nPollPeriodMs);
    m_bAwaitingResponse = false;
    m_bProbeSelected = true;
}

void CMeterTestDlg::StopPolling() {
    m_pPollTimer->stop();
}

int CMeterTestDlg::SelectedAddress() const {
    // The two digits of the selected entry; the empty text (no selection) reads as 0.
    const QByteArray text = m_pAddressList->currentText().toLatin1();
    int address = 0;
    if (std::sscanf(text.constData(), "%d", &address) != 1) {
        return 0;
    }
    return address;
}

void CMeterTestDlg::UpdateAddressList(int address, bool found) {
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "%02d", address);
    const QString entry = QString::fromLatin1(text.data());
    const int position = FindStringPrefix(m_pAddressList, entry);
    if (address < 0 || address >= kAddressCount) {
        return;
    }
    if (position < 0 && found) {
        AddSortedString(m_pAddressList, entry);
        if (m_pAddressList->currentIndex() < 0) {
            m_pAddressList->setCurrentIndex(FindStringPrefix(m_pAddressList, entry));
        }
    } else if (position >= 0 && !found) {
        m_pAddressList->removeItem(position);
        // The lowest address left becomes the selected meter, whichever entry was selected.
        m_pAddressList->setCurrentIndex(m_pAddressList->count() > 0 ? 0 : -1);
    }
    m_nListedCount = static_cast<uint8_t>(m_pAddressList->count());
}
