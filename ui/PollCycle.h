#pragma once

#include <cstdint>

// The poll cycle's state as a whole: what a test gives a cycle to start from and compares it with.
// The values of a default one are those of every reset.
struct PollCycleState {
    int scanCursor = 0;
    int currentAddress = -1; // none since the reset
    bool bAwaitingResponse = false;
    bool bProbeSelected = true;
    int listedCount = 0;

    bool operator==(const PollCycleState&) const = default;
};

// What a tick of the poll timer does: read whatever reply has arrived to the request before, or
// send a request for the process value to an address.
enum class PollStep { Read, Send };

struct PollAction {
    PollStep step = PollStep::Read;
    int address = -1; // Send: the address of the request, the new current address

    bool operator==(const PollAction&) const = default;
};

// What a reply, or its failure, does to the address list. Ignore: an address outside 00..99 (the
// -1 of no request since the reset among them) changes nothing, not even the listed count.
enum class ListChange { Ignore, Keep, Add, Remove };

// The poll cycle of the main window without the window: a tick alternates between sending a
// request and reading its reply, and with PNP on, the sends alternate between the selected meter
// and a probe of the next address of the scan. Also the rules by which the replies keep the
// address list. The window owns one, asks it what each tick does, and does it; the list itself,
// a drop-down list, stays with the window, which reports the entries it counts.
class CPollCycle {
public:
    // The reset values from construction on, so that a tick before the port's first opening
    // finds a defined state; or any state, for tests.
    explicit CPollCycle(const PollCycleState& state = {});

    PollCycleState State() const;
    // The address of the last request the cycle sent (-1: none since the reset). A missing or
    // corrupt reply takes it out of the list, whichever exchange read that reply.
    int CurrentAddress() const { return m_nCurrentAddress; }

    // Every (re)open of the port, successful or not. The list keeps its entries but counts as
    // empty until a reply counts it again, so the first request after a reopen is a probe.
    void Reset();
    // The poll timer (re)started: the next tick sends, and with PNP the selected meter comes
    // before the next probe. The scan's place, the current address and the count stay.
    void OnStartPolling();
    // A tick of the poll timer. bPnp: the PNP box; selectedAddress: the meter selected in the
    // list (0 when nothing is selected).
    PollAction OnTick(bool bPnp, int selectedAddress);

    // How the list changes for `address`: found, it answered correctly; not found, its reply was
    // missing or corrupt. bListed: the address is an entry of the list now.
    static ListChange ChangeFor(int address, bool found, bool bListed);
    // The number of entries after a change other than Ignore was applied.
    void CountListed(int count);

private:
    // In the order and with the types the cycle has always had: 8 bits each.
    int8_t m_nScanCursor = 0;      // the address probed last, 0..99; advanced before each probe
    int8_t m_nCurrentAddress = -1; // the address of the last request sent; -1 none
    bool m_bAwaitingResponse = false;
    bool m_bProbeSelected = true; // with PNP: the selected meter is asked next, if any is listed
    uint8_t m_nListedCount = 0;   // entries of the list as last counted
};
