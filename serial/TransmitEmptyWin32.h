#pragma once

#include <windows.h>

// What a finished wait for the transmit-empty event (WaitCommEvent on a mask of EV_TXEMPTY) says
// about the frame being sent.
enum class TransmitEmptyVerdict {
    Empty,     // the driver reports its output sent
    WaitAgain, // it ended for another reason (another event, an empty mask): the frame is still
               // going out, so wait once more
    GiveUp,    // the wait failed: this driver's event is not to be relied on, and the frame's end
               // is judged by the driver's queue and the frame's time on the line alone
    Gone,      // failed with an error of a device that went away: the port's status tells
               // whether it has, or whether this driver just ended a wait it cannot serve
};

// bSucceeded: the wait (or the overlapped result that ended it) succeeded; nError: the error it
// failed with; nEvents: the events it reported. Only a wait that succeeded with EV_TXEMPTY among
// its events means "empty"; an error never does.
TransmitEmptyVerdict JudgeTransmitEmptyWait(bool bSucceeded, DWORD nError, DWORD nEvents);
