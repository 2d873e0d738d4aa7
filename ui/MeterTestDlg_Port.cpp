// The serial port as the main window opens it: from the line settings, and again, quietly, when
// its device comes back after it vanished (an adapter unplugged and plugged in again).
#include "ui/MeterTestDlg.h"

PortHandle CMeterTestDlg::OpenSerialPort() {
    return m_serialPort.Open(PortNumber(m_portSettings), LineSpeed(m_portSettings),
                             DataBits(m_portSettings), ParityCode(m_portSettings),
                             StopBitsCode(m_portSettings));
}

bool CMeterTestDlg::ReopenLostPort() {
    // Only a port that was open and lost its device: a port the user could not open stays closed
    // until other settings are chosen. One attempt, no message: the tick comes again in 700 ms.
    // The same device, not whatever now has the port's number: with two adapters, COMn may name
    // the other one while the first is unplugged.
    if (!m_serialPort.IsLost() || m_serialPort.Reopen() == kNullPortHandle) {
        return false;
    }
    m_pollCycle.Reset();
    return true;
}
