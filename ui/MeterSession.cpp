#include "ui/MeterSession.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>

#include "protocol/Address.h"
#include "protocol/CodeTables.h"
#include "protocol/FrameCodec.h"
#include "protocol/NumberText.h"
#include "serial/PortAddress.h"

namespace {

// Each drain is one read of what has arrived, bounded, never a loop until the line is quiet (a
// chattering line could hold the thread). A request drains at most the frame buffer it reads
// into, 64 bytes; "Send" at most 60, the most a reply read takes. What lies beyond stays and
// leads the next reply's dump, where a line that carries more than a late reply shows instead of
// vanishing. The two bounds differ on purpose: each matches its own read.
constexpr int kRequestDrainBytes = kFrameBufferSize;
constexpr int kTextDrainBytes = kMaxResponseRead;
constexpr int kSendReplyWaitMs = 1000;

// The register read-out's pauses and drain. More than a request's own drain of 64: poll replies
// that arrive during the settling pause (five of 19 bytes and more) must not lead the reply for
// P0. One read, bounded like every drain.
constexpr int kReadOutSettleMs = 500;
constexpr int kReadOutDrainBytes = 100;
constexpr int kReadOutReplyWaitMs = 700;
// Eleven positions in a range of ten: the bar shows full from the tenth register on.
constexpr int kProgressTop = 10;

} // namespace

// The way from a thread that finished the session's work back to the view, cut at the session's
// end: such a thread may still be running then, and must not reach a view that is going.
class CWakeLine {
public:
    explicit CWakeLine(IMeterView& view) : m_pView(&view) {}
    void Wake() {
        const std::lock_guard lock(m_mutex);
        if (m_pView != nullptr) {
            m_pView->WakeSession();
        }
    }
    void Cut() {
        const std::lock_guard lock(m_mutex);
        m_pView = nullptr;
    }

private:
    std::mutex m_mutex;
    IMeterView* m_pView;
};

CMeterSession::CMeterSession(IMeterView& view, std::unique_ptr<ISerialOps> pOps)
    : m_view(view), m_pWake(std::make_shared<CWakeLine>(view)), m_serialPort(std::move(pOps)) {
    std::snprintf(m_szDisplayText.data(), m_szDisplayText.size(), "%5.0f", 0.0);
}

CMeterSession::~CMeterSession() {
    // The port, destroyed next, waits for an open still running; its end reaches nobody now.
    m_pWake->Cut();
}

std::function<void()> CMeterSession::WakeWhenDone() const {
    return [pWake = m_pWake] { pWake->Wake(); };
}

DeviceState CMeterSession::State() const {
    switch (m_stage) {
    case Stage::NotStarted:
        return DeviceState::NotStarted;
    case Stage::Ended:
        return DeviceState::Ended;
    case Stage::Running:
        break;
    }
    if (m_serialPort.IsOpen()) {
        return DeviceState::Open;
    }
    if (m_serialPort.IsLost()) {
        return DeviceState::Lost;
    }
    return m_serialPort.IsOpening() ? DeviceState::Opening : DeviceState::Closed;
}

void CMeterSession::OpenPortFromSettings() {
    m_stage = Stage::Running;
    m_lostCycle.reset();
    m_bReopening = false;
    // Defined meanwhile, and reset again once the open has ended, as after every attempt.
    m_pollCycle.Reset();
    if (m_serialPort.BeginOpen(PortNumber(m_portSettings), ToLineSettings(m_portSettings),
                               WakeWhenDone())) {
        FinishOpen();
    }
}

void CMeterSession::FinishOpen() {
    const std::string& warning = m_serialPort.Warning();
    if (!m_serialPort.IsOpen()) {
        std::array<char, 32> message{};
        std::snprintf(message.data(), message.size(), "COM%d can't open!",
                      PortNumber(m_portSettings));
        std::string reason = m_serialPort.FailureReason();
        if (!warning.empty()) {
            reason += "\n" + warning;
        }
        m_view.ReportOpenFailure(message.data(), reason);
    } else if (!warning.empty()) {
        NoteOnce(m_serialPort.OpenedPath() + ": " + warning);
    }
    // Whether it opened or not: the list keeps its entries but counts as empty until a reply
    // counts it again.
    m_pollCycle.Reset();
}

void CMeterSession::OnWake() {
    if (m_stage == Stage::Running) {
        TakeOpened();
    }
}

void CMeterSession::TakeOpened() {
    if (!m_serialPort.TakeOpened()) {
        return;
    }
    if (m_bReopening) {
        FinishReopen();
    } else {
        FinishOpen();
    }
}

bool CMeterSession::ClosePort() {
    // The timer first: no tick may find the port half closed.
    m_view.StopPollTimer();
    m_bReopening = false;
    m_lostCycle.reset();
    return m_serialPort.Close();
}

void CMeterSession::End() {
    ClosePort();
    m_stage = Stage::Ended;
    m_pWake->Cut();
}

void CMeterSession::ApplyLineSettings(const PortSettings& settings) {
    m_portSettings = settings;
    ClosePort();
    OpenPortFromSettings();
    if (m_view.IsChecked(Box::Autoscan)) {
        StartPolling();
    }
}

void CMeterSession::OpenIfNotOpen() {
    switch (State()) {
    case DeviceState::Closed:
        ApplyLineSettings(m_portSettings);
        break;
    case DeviceState::Lost:
        m_nRetryAtMs = 0;
        RetryLostPort();
        break;
    default:
        break;
    }
}

void CMeterSession::RetryLostPort() {
    // Only a port that was open and lost its device: a port the user could not open stays closed
    // until the setup dialog's OK. No message: a device still away is tried again later. The same
    // device, not whatever now has the port's number: with two adapters, COMn may name the other
    // one while the first is unplugged.
    if (!m_serialPort.IsLost() || m_serialPort.IsOpening() || m_view.NowMs() < m_nRetryAtMs) {
        return;
    }
    m_bReopening = true;
    if (m_serialPort.BeginReopen(WakeWhenDone())) {
        FinishReopen();
    }
}

void CMeterSession::FinishReopen() {
    m_bReopening = false;
    if (!m_serialPort.IsOpen()) {
        // A device server that is away is not asked at every tick; a device whose name is gone
        // costs a look at a folder, and is.
        if (IsNetworkPort(m_serialPort.ReopenPath())) {
            m_nRetryAtMs = m_view.NowMs() + m_nRetryDelayMs;
            m_nRetryDelayMs = std::min(2 * m_nRetryDelayMs, kLongestRetryMs);
        }
        return;
    }
    // The meter on display is asked first, where the cycle stood: the list, its selection and
    // the scan's place are as the loss left them.
    PollCycleState state = m_lostCycle.value_or(PollCycleState{});
    state.currentAddress = -1;
    state.bAwaitingResponse = false;
    state.bProbeSelected = true;
    state.listedCount = m_view.AddressEntryCount();
    m_pollCycle = CPollCycle(state);
    m_lostCycle.reset();
    if (!m_serialPort.Warning().empty()) {
        NoteOnce(m_serialPort.OpenedPath() + ": " + m_serialPort.Warning());
    }
}

void CMeterSession::NoticeLoss() {
    if (!m_serialPort.IsLost() || m_lostCycle) {
        return;
    }
    m_lostCycle = m_pollCycle.State();
    m_nRetryAtMs = 0; // the first attempt at the next tick
    m_nRetryDelayMs = kFirstRetryMs;
    if (!m_serialPort.HasStableIdentity()) {
        const std::string& name = m_serialPort.ReopenPath();
        NoteOnce("COM" + std::to_string(PortNumber(m_portSettings)) + ": " + name +
                 (IsNetworkPort(name) ? " has no stable identity: it is connected to again at "
                                        "this address, whatever answers there then"
                                      : " has no stable identity: it is opened again by this "
                                        "name, whatever device that names then"));
    }
}

bool CMeterSession::DeviceAway() const {
    return !m_serialPort.IsOpen() && (m_serialPort.IsLost() || m_serialPort.IsOpening());
}

void CMeterSession::NoteOnce(const std::string& note) {
    if (std::find(m_vecNoted.begin(), m_vecNoted.end(), note) == m_vecNoted.end()) {
        m_vecNoted.push_back(note);
        m_view.ReportNote(note);
    }
}

void CMeterSession::OnPollTimer(unsigned timerId) {
    if (timerId == kPollTimerId) {
        // An open that ended since, or a port whose device vanished, comes first, so that this
        // tick already uses it.
        TakeOpened();
        RetryLostPort();
        const int bank = m_view.IsChecked(Box::Bank1) ? 1 : 0;
        const PollAction action = m_pollCycle.OnTick(m_view.IsChecked(Box::Pnp), SelectedAddress());
        if (action.step == PollStep::Read) {
            ReceiveResponse(nullptr);
        } else {
            SendRequest(action.address, kCommandRead, bank, kRegisterProcessValue, 0.0);
        }
    }
    DrawFrontPanel();
}

void CMeterSession::StartPolling() {
    // Starting a running timer replaces it: its period begins afresh.
    m_view.StartPollTimer();
    m_pollCycle.OnStartPolling();
}

void CMeterSession::StopPolling() {
    m_view.StopPollTimer();
}

void CMeterSession::UpdateAddressList(int address, bool found) {
    const std::string entry = FormatAddress(address);
    const int position = m_view.FindAddressEntry(entry);
    switch (CPollCycle::ChangeFor(address, found, position >= 0)) {
    case ListChange::Ignore:
        return;
    case ListChange::Add:
        m_view.AddAddressEntry(entry);
        // The first meter found becomes the selected one; an existing selection stays.
        if (m_view.SelectedAddressEntry() < 0) {
            m_view.SelectAddressEntry(m_view.FindAddressEntry(entry));
        }
        break;
    case ListChange::Remove:
        m_view.RemoveAddressEntry(position);
        // The lowest address left becomes the selected meter, whichever entry was selected.
        m_view.SelectAddressEntry(m_view.AddressEntryCount() > 0 ? 0 : -1);
        break;
    case ListChange::Keep:
        break;
    }
    m_pollCycle.CountListed(m_view.AddressEntryCount());
}

int CMeterSession::SelectedAddress() const {
    // The two digits of the selected entry; the empty text (no selection) reads as 0.
    return ParseAddress(m_view.AddressListText()).value_or(0);
}

bool CMeterSession::SendRequest(int address, int commandIndex, int bankDigit, int registerIndex,
                                double value) {
    FrameBuffer frame{};
    // A reply still on its way from an earlier request must not be taken for this one's.
    m_serialPort.Read(frame.data(), kRequestDrainBytes);
    m_view.DrawLamp(Lamp::Send, LampColour::Green);

    const std::optional<uint8_t> crc =
        BuildRequestFrame(frame, address, commandIndex, bankDigit, registerIndex, value);
    if (crc) {
        m_view.ShowCrcText(FormatCrcText(*crc));
        m_view.ShowFrameBody(FrameBody(frame));
        // The lamp is green on screen for the time the frame goes out.
        m_view.ShowNow();
        m_serialPort.Write(frame.data(), kWireFrameLength);
    }
    m_view.DrawLamp(Lamp::Receive, LampColour::DarkGreen);
    m_view.DrawLamp(Lamp::Send, LampColour::DarkGreen);
    NoticeLoss();
    // Arguments out of range build no frame: nothing went out, and the caller is told so.
    return crc.has_value();
}

void CMeterSession::SendText() {
    FrameBuffer frame{};
    m_serialPort.Read(frame.data(), kTextDrainBytes);
    // With Autoscan off no tick brings back a port whose adapter was replugged: "Send" does. After
    // the drain, since that is where a device that went while nobody used the port is noticed;
    // this frame then goes to the device that is back, where it opens at once (one that must
    // first be searched for other holders, or a device server, opens for the next "Send").
    NoticeLoss();
    TakeOpened();
    RetryLostPort();
    m_view.DrawLamp(Lamp::Send, LampColour::Green);

    const uint8_t crc = BuildTextFrame(frame, m_view.FrameText());
    // The text edit keeps what the user typed; only the CRC label changes.
    m_view.ShowCrcText(FormatCrcText(crc));
    m_view.ShowNow();
    m_serialPort.Write(frame.data(), kWireFrameLength);

    m_view.DrawLamp(Lamp::Send, LampColour::DarkGreen);
    m_view.DrawLamp(Lamp::Receive, LampColour::DarkGreen);
    m_view.Sleep(kSendReplyWaitMs);
    ReceiveResponse(nullptr);
}

bool CMeterSession::ReceiveResponse(RegisterSnapshot* pSnapshot) {
    std::array<uint8_t, kFrameBufferSize> reply{};
    const int count = m_serialPort.Read(reply.data(), kMaxResponseRead);
    m_view.ShowResponse(FormatHexDump(reply.data(), count));

    NoticeLoss();
    const DecodedResponse decoded = ParseResponseFrame(reply.data(), count);
    switch (decoded.status) {
    case ResponseStatus::ResponseCorrupt:
        // The polled address leaves the list; -1 (nothing polled since the reset) changes nothing.
        // A device that is away answers for no meter: the list waits for its return.
        if (!DeviceAway()) {
            UpdateAddressList(m_pollCycle.CurrentAddress(), false);
        }
        m_view.DrawLamp(Lamp::Receive, LampColour::Yellow);
        return false;
    case ResponseStatus::ResponseRejected:
        return false;
    case ResponseStatus::ResponseOk:
        break;
    }

    m_view.DrawLamp(Lamp::Receive, LampColour::Green);
    UpdateAddressList(decoded.address, true);
    if (pSnapshot != nullptr) {
        pSnapshot->address = static_cast<int16_t>(decoded.address);
        pSnapshot->values[static_cast<size_t>(decoded.registerIndex)] = decoded.value;
    }
    if (decoded.registerIndex == kRegisterProcessValue) {
        // Shown only for the selected meter, in the bank that "Bank 1" asks for.
        const int position = m_view.FindAddressEntry(FormatAddress(decoded.address));
        const int bank = m_view.IsChecked(Box::Bank1) ? 1 : 0;
        if (bank == decoded.bank && position >= 0 && m_view.SelectedAddressEntry() == position) {
            const std::string text = FormatValueText(decoded.value, decoded.decimals);
            std::snprintf(m_szDisplayText.data(), m_szDisplayText.size(), "%s", text.c_str());
            m_view.DrawValue(m_szDisplayText.data());
        }
    }
    return true;
}

void CMeterSession::ReadAllRegisters(RegisterSnapshot* pSnapshot, IReadOutProgress* pProgress) {
    if (pSnapshot == nullptr) {
        return;
    }
    if (m_view.IsChecked(Box::Autoscan)) {
        StopPolling();
    }
    m_view.Sleep(kReadOutSettleMs);
    std::array<uint8_t, kReadOutDrainBytes> discarded{};
    m_serialPort.Read(discarded.data(), kReadOutDrainBytes);
    NoticeLoss();
    if (pProgress != nullptr) {
        pProgress->SetRange(0, kProgressTop);
    }

    const int address = SelectedAddress();
    const int bank = m_view.IsChecked(Box::Bank1) ? 1 : 0; // one bank for the whole run
    for (int registerIndex = 0; registerIndex < kRegisterCount; ++registerIndex) {
        SendRequest(address, kCommandRead, bank, registerIndex, 0.0);
        m_view.Sleep(kReadOutReplyWaitMs);
        ReceiveResponse(pSnapshot);
        if (pProgress != nullptr) {
            pProgress->SetPosition(registerIndex + 1);
        }
    }

    // Afresh: a poll request outstanding before the run is forgotten.
    if (m_view.IsChecked(Box::Autoscan)) {
        StartPolling();
    }
    if (pProgress != nullptr) {
        pProgress->SetPosition(0);
    }
}

void CMeterSession::DrawFrontPanel() {
    m_view.DrawValue(m_szDisplayText.data());
    m_view.DrawUnit(m_strUnit.c_str());
}
