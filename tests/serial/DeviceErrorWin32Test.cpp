// What the Windows backend makes of the system's error codes: one meaning per code for the open
// and for the calls on an open port, and when a wait for the transmit-empty event ends a frame.

#include <gtest/gtest.h>

#include "serial/DeviceErrorWin32.h"
#include "serial/TransmitEmptyWin32.h"

namespace {

TEST(DeviceErrorWin32Test, CodesOfAMissingDeviceMeanGoneOnAnOpenPort) {
    struct Case {
        DWORD nCode;
        OpenFailure atOpen;
        bool bGoneOnOpenPort;
    };
    const Case cases[] = {
        // An unplugged adapter: "no such device" at the open, and gone under an open handle
        // (ClearCommError, WriteFile and EscapeCommFunction fail with ERROR_NOT_READY).
        {ERROR_NOT_READY, OpenFailure::NoDevice, true},
        {ERROR_DEV_NOT_EXIST, OpenFailure::NoDevice, true},
        {ERROR_FILE_NOT_FOUND, OpenFailure::NoDevice, true},
        {ERROR_PATH_NOT_FOUND, OpenFailure::NoDevice, true},
        {ERROR_BAD_UNIT, OpenFailure::NoDevice, true},
        {ERROR_DEVICE_NOT_CONNECTED, OpenFailure::NoDevice, true},
        {ERROR_DEVICE_REMOVED, OpenFailure::NoDevice, true},
        // What drivers give while their device goes; at the open the system's message says more.
        {ERROR_BAD_COMMAND, OpenFailure::Other, true},
        {ERROR_GEN_FAILURE, OpenFailure::Other, true},
        {ERROR_OPERATION_ABORTED, OpenFailure::Other, true},
        {ERROR_BROKEN_PIPE, OpenFailure::Other, true},
        {ERROR_INVALID_HANDLE, OpenFailure::Other, true},
        // Held by another program at the open; on an open handle, a driver whose device is gone.
        {ERROR_ACCESS_DENIED, OpenFailure::InUse, true},
        {ERROR_SHARING_VIOLATION, OpenFailure::InUse, false},
        {ERROR_BUSY, OpenFailure::InUse, false},
        // A name no device has; a device that takes no serial requests.
        {ERROR_INVALID_NAME, OpenFailure::NoDevice, false},
        {ERROR_NOT_SUPPORTED, OpenFailure::NotSerial, false},
        {ERROR_INVALID_FUNCTION, OpenFailure::NotSerial, false},
        // Passing failures: the system's message at the open, never taken for an unplug.
        {ERROR_INVALID_PARAMETER, OpenFailure::Other, false},
        {ERROR_COUNTER_TIMEOUT, OpenFailure::Other, false},
        {ERROR_NOT_ENOUGH_MEMORY, OpenFailure::Other, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OpenFailureOfError(c.nCode), c.atOpen) << "error " << c.nCode;
        EXPECT_EQ(IsDeviceGoneError(c.nCode), c.bGoneOnOpenPort) << "error " << c.nCode;
    }
}

TEST(TransmitEmptyWaitTest, OnlyASucceededWaitWithTheEventEndsTheFrame) {
    using enum TransmitEmptyVerdict;
    struct Case {
        bool bSucceeded;
        DWORD nError;
        DWORD nEvents;
        TransmitEmptyVerdict verdict;
    };
    const Case cases[] = {
        {true, 0, EV_TXEMPTY, Empty},
        {true, 0, EV_TXEMPTY | EV_RXCHAR, Empty},
        // Ended by a new event mask, or by another event: the frame is still going out.
        {true, 0, 0, WaitAgain},
        {true, 0, EV_RXCHAR | EV_ERR, WaitAgain},
        // A failed wait's events mean nothing, whatever they hold.
        {false, ERROR_NOT_READY, EV_TXEMPTY, Gone},
        {false, ERROR_OPERATION_ABORTED, 0, Gone}, // not cancelled by the port itself
        {false, ERROR_INVALID_PARAMETER, EV_TXEMPTY, GiveUp},
        {false, ERROR_NOT_SUPPORTED, 0, GiveUp},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(JudgeTransmitEmptyWait(c.bSucceeded, c.nError, c.nEvents), c.verdict)
            << c.bSucceeded << " error " << c.nError << " events " << c.nEvents;
    }
}

} // namespace
