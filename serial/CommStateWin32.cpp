#include "serial/CommStateWin32.h"

// The port class's codes are the ones the driver takes.
static_assert(NOPARITY == 0 && ODDPARITY == 1 && EVENPARITY == 2 && MARKPARITY == 3 &&
              SPACEPARITY == 4);
static_assert(ONESTOPBIT == 0 && TWOSTOPBITS == 2);
static_assert(sizeof(DCB) == 28, "the record the drivers know");

bool SetLineInDcb(DCB& dcb, const LineSettings& s) {
    const bool bValid = s.speed > 0 && (s.dataBits == 7 || s.dataBits == 8) &&
                        s.parity >= NOPARITY && s.parity <= SPACEPARITY &&
                        (s.stopBits == ONESTOPBIT || s.stopBits == TWOSTOPBITS);
    if (!bValid) {
        return false;
    }
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = static_cast<DWORD>(s.speed);
    dcb.ByteSize = static_cast<BYTE>(s.dataBits);
    dcb.Parity = static_cast<BYTE>(s.parity);
    dcb.StopBits = static_cast<BYTE>(s.stopBits);
    dcb.fBinary = TRUE;
    dcb.fParity = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = FALSE;
    return true;
}

COMMTIMEOUTS FirstByteReadTimeouts() {
    COMMTIMEOUTS timeouts{};
    // Both MAXDWORD, and a constant below MAXDWORD: the documented combination of "what is
    // there, else the first byte to come", with no time-out of the driver's own to speak of.
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = MAXDWORD - 1;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    return timeouts;
}
