// The poll cycle as the window runs it: every tick of the 700 ms timer either sends a request for
// a meter's process value or reads the reply to the one before, as the cycle decides; the timer
// itself; and the list of meters that answered, kept by the cycle's rules.
#include "ui/MeterTestDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QTimer>

#include <cstdio>

#include "protocol/CodeTables.h"
#include "ui/ComboHelper.h"

namespace {

// "%02d": two digits, so that the entries' text order is their numeric order.
QString AddressText(int address) {
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "%02d", address);
    return QString::fromLatin1(text.data());
}

} // namespace

void CMeterTestDlg::OnPollTimer(unsigned timerId) {
    if (timerId == kPollTimerId) {
        // A port whose device vanished comes back first, so that this tick already uses it.
        ReopenLostPort();
        const int bank = m_pBank1->isChecked() ? 1 : 0;
        const PollAction action = m_pollCycle.OnTick(m_pPnp->isChecked(), SelectedAddress());
        if (action.step == PollStep::Read) {
            ReceiveResponse(nullptr);
        } else {
            SendRequest(action.address, kCommandRead, bank, kRegisterProcessValue, 0.0);
        }
    }
    DrawFrontPanel();
}

void CMeterTestDlg::StartPolling() {
    // Starting a running timer replaces it: its period begins afresh.
    m_pPollTimer->start(m_nPollPeriodMs);
    m_pollCycle.OnStartPolling();
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
    const QString entry = AddressText(address);
    const int position = FindStringPrefix(m_pAddressList, entry);
    switch (CPollCycle::ChangeFor(address, found, position >= 0)) {
    case ListChange::Ignore:
        return;
    case ListChange::Add:
        AddSortedString(m_pAddressList, entry);
        // The first meter found becomes the selected one; an existing selection stays.
        if (m_pAddressList->currentIndex() < 0) {
            m_pAddressList->setCurrentIndex(FindStringPrefix(m_pAddressList, entry));
        }
        break;
    case ListChange::Remove:
        m_pAddressList->removeItem(position);
        // The lowest address left becomes the selected meter, whichever entry was selected.
        m_pAddressList->setCurrentIndex(m_pAddressList->count() > 0 ? 0 : -1);
        break;
    case ListChange::Keep:
        break;
    }
    m_pollCycle.CountListed(m_pAddressList->count());
}
