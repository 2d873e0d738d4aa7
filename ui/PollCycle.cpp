#include "ui/PollCycle.h"

#include "protocol/FrameCodec.h"

CPollCycle::CPollCycle(const PollCycleState& state)
    : m_nScanCursor(static_cast<int8_t>(state.scanCursor)),
      m_nCurrentAddress(static_cast<int8_t>(state.currentAddress)),
      m_bAwaitingResponse(state.bAwaitingResponse), m_bProbeSelected(state.bProbeSelected),
      m_nListedCount(static_cast<uint8_t>(state.listedCount)) {}

PollCycleState CPollCycle::State() const {
    return {m_nScanCursor, m_nCurrentAddress, m_bAwaitingResponse, m_bProbeSelected,
            m_nListedCount};
}

void CPollCycle::Reset() {
    *this = CPollCycle();
}

void CPollCycle::OnStartPolling() {
    m_bAwaitingResponse = false;
    m_bProbeSelected = true;
}

PollAction CPollCycle::OnTick(bool bPnp, int selectedAddress) {
    // A request and its reply take two ticks: the reply is read on the tick after the send, never
    // sooner, whatever has arrived by then.
    if (m_bAwaitingResponse) {
        m_bAwaitingResponse = false;
        return {PollStep::Read, -1};
    }
    if (!bPnp) {
        m_nCurrentAddress = static_cast<int8_t>(selectedAddress);
    } else if (m_bProbeSelected && m_nListedCount != 0) {
        m_nCurrentAddress = static_cast<int8_t>(selectedAddress);
        m_bProbeSelected = false;
    } else {
        ++m_nScanCursor;
        if (m_nScanCursor >= kAddressCount) {
            m_nScanCursor = 0;
        }
        m_bProbeSelected = true;
        m_nCurrentAddress = m_nScanCursor;
    }
    m_bAwaitingResponse = true;
    return {PollStep::Send, m_nCurrentAddress};
}

ListChange CPollCycle::ChangeFor(int address, bool found, bool bListed) {
    if (address < 0 || address >= kAddressCount) {
        return ListChange::Ignore;
    }
    if (found && !bListed) {
        return ListChange::Add;
    }
    if (!found && bListed) {
        return ListChange::Remove;
    }
    return ListChange::Keep;
}

void CPollCycle::CountListed(int count) {
    m_nListedCount = static_cast<uint8_t>(count);
}
