#include "serial/TransmitEmptyWin32.h"

#include "serial/DeviceErrorWin32.h"

TransmitEmptyVerdict JudgeTransmitEmptyWait(bool bSucceeded, DWORD nError, DWORD nEvents) {
    if (bSucceeded) {
        return (nEvents & EV_TXEMPTY) != 0 ? TransmitEmptyVerdict::Empty
                                           : TransmitEmptyVerdict::WaitAgain;
    }
    return IsDeviceGoneError(nError) ? TransmitEmptyVerdict::Gone : TransmitEmptyVerdict::GiveUp;
}
