// The session when its device goes away and comes back, and when opening it would wait: without a
// window, through the recording view (whose clock the test moves) and the recording serial fake,
// which can open on a thread of its own and hold there like a device server that does not answer.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "protocol/FrameCodec.h"
#include "tests/support/PtyMeter.h"
#include "tests/ui/SessionFixture.h"

namespace {

using namespace std::chrono_literals;

// An open that holds inside OpenDevice until the test lets it go (or, against a hang, until a
// bound passes, which a test that waited for it then sees).
class COpenGate {
public:
    void Hold() {
        std::unique_lock lock(m_mutex);
        ++m_nEntered;
        m_changed.notify_all();
        m_bTimedOut = !m_changed.wait_for(lock, 10s, [this] { return m_bReleased; });
    }
    bool WaitEntered(int count) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 10s, [&] { return m_nEntered >= count; });
    }
    void Release() {
        const std::lock_guard lock(m_mutex);
        m_bReleased = true;
        m_changed.notify_all();
    }
    int Entered() {
        const std::lock_guard lock(m_mutex);
        return m_nEntered;
    }
    bool TimedOut() {
        const std::lock_guard lock(m_mutex);
        return m_bTimedOut;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_nEntered = 0;
    bool m_bReleased = false;
    bool m_bTimedOut = false;
};

class DeviceLossTest : public SessionFixture {
protected:
    // The device is unplugged: the next use of the port finds it gone, and it does not open.
    void Unplug() {
        m_line.bGone = true;
        m_line.openFailure = OpenFailure::NoDevice;
    }
    void Replug() {
        m_line.bGone = false;
        m_line.openFailure = OpenFailure::None;
    }
    // The fake clock when each attempt to open `path` was made, ticking every 700 ms for `ticks`.
    std::vector<int64_t> AttemptTimes(const std::string& path, int ticks) {
        std::vector<int64_t> times;
        for (int i = 0; i < ticks; ++i) {
            m_view.nNowMs += 700;
            m_line.ClearEvents();
            m_session.OnPollTimer(0);
            if (m_line.TimeOf("open " + path) >= 0) {
                times.push_back(m_view.nNowMs);
            }
        }
        return times;
    }
};

// The adapter unplugged between a probe and its reply: that read fails for the device, not for
// meter 43, and nothing leaves the list. The panel shows as without a port meanwhile. Back, it is
// opened at the next tick, which asks the meter on display at once, and the scan goes on where it
// stood.
TEST_F(DeviceLossTest, AReplugKeepsTheListTheSelectionAndTheScan) {
    List({3, 7, 12});
    m_view.SelectAddressEntry(1);
    m_session.SetPollState(PollCycleState{42, -1, false, false, 3}); // a probe is next
    m_session.OnPollTimer(0);
    EXPECT_EQ(SentBody(), "43RX0P0+0000000");
    Unplug();
    m_session.OnPollTimer(0);
    EXPECT_EQ(m_session.State(), DeviceState::Lost);
    EXPECT_EQ(m_view.LampOf(Lamp::Receive), LampColour::Yellow);
    EXPECT_EQ(m_view.response, "");

    for (int i = 0; i < 5; ++i) {
        m_session.OnPollTimer(0);
    }
    EXPECT_EQ(m_view.entries, (std::vector<std::string>{"03", "07", "12"}));
    EXPECT_EQ(m_view.AddressListText(), "07");
    EXPECT_TRUE(m_view.boxes.empty());

    Replug();
    m_line.sent.clear();
    m_session.OnPollTimer(0);
    EXPECT_EQ(m_session.State(), DeviceState::Open);
    EXPECT_EQ(SentBody(), "07RX0P0+0000000");
    m_line.input = ReplyFrame("07RD0P0+0001251");
    m_session.OnPollTimer(0);
    EXPECT_EQ(m_view.value, "  12.5");
    m_session.OnPollTimer(0);
    EXPECT_EQ(SentBody(), "44RX0P0+0000000");
    EXPECT_EQ(m_view.entries, (std::vector<std::string>{"03", "07", "12"}));
}

// A device server that does not answer holds the open, never the tick: it runs on a thread of its
// own, the ticks meanwhile go on at once and begin no second one, and its end is taken in when the
// view wakes the session (or at a tick).
TEST_F(DeviceLossTest, AReconnectThatHangsNeverHoldsTheTick) {
    List({7});
    Unplug();
    m_session.OnPollTimer(0);
    ASSERT_EQ(m_session.State(), DeviceState::Lost);

    COpenGate gate;
    Replug();
    m_line.bOpensAtOnce = false;
    m_line.fnInOpen = [&gate] { gate.Hold(); };
    const int wakes = m_view.Wakes();
    m_session.OnPollTimer(0);
    ASSERT_TRUE(gate.WaitEntered(1));
    for (int i = 0; i < 4; ++i) {
        m_session.OnPollTimer(0);
    }
    EXPECT_FALSE(gate.TimedOut()) << "a tick waited for the open";
    EXPECT_EQ(gate.Entered(), 1);
    EXPECT_EQ(m_session.State(), DeviceState::Lost);
    EXPECT_EQ(m_view.entries, std::vector<std::string>{"07"});

    gate.Release();
    ASSERT_TRUE(m_view.WaitForWake(wakes));
    m_session.OnWake();
    EXPECT_EQ(m_session.State(), DeviceState::Open);
    m_line.sent.clear();
    m_session.OnPollTimer(0);
    EXPECT_EQ(SentBody(), "07RX0P0+0000000");
}

// The open from the settings may end after start-up: its box comes when it is taken in, and a port
// that did not open is opened again by OK in the setup dialog with nothing changed.
TEST_F(DeviceLossTest, AnOpenThatEndsLaterShowsItsBoxThenAndOkTriesAgain) {
    m_session.ClosePort();
    m_line.bOpensAtOnce = false;
    m_line.openFailure = OpenFailure::InUse;
    const int wakes = m_view.Wakes();
    m_session.OpenPortFromSettings();
    EXPECT_EQ(m_session.State(), DeviceState::Opening);
    EXPECT_TRUE(m_view.boxes.empty());
    ASSERT_TRUE(m_view.WaitForWake(wakes));
    m_session.OnWake();
    ASSERT_EQ(m_view.boxes.size(), 1U);
    EXPECT_EQ(m_view.boxes[0].first, "COM1 can't open!");
    EXPECT_EQ(m_session.State(), DeviceState::Closed);
    EXPECT_EQ(m_session.PollState(), PollCycleState{});

    m_line.openFailure = OpenFailure::None;
    m_line.bOpensAtOnce = true;
    m_session.OpenIfNotOpen();
    EXPECT_EQ(m_session.State(), DeviceState::Open);
    EXPECT_EQ(m_view.boxes.size(), 1U);
    m_line.ClearEvents();
    m_session.OpenIfNotOpen(); // open already: nothing happens
    EXPECT_TRUE(m_line.events.empty());
}

// A device server that is away is tried at the first tick after the drop, then after 1, 2, 4 ...
// 30 s, never at every tick; the name it is reached by is said once to have no stable identity.
// Back, it is opened at the next attempt, and a later drop is tried at once again.
TEST_F(DeviceLossTest, ADeviceServerThatIsAwayIsTriedWithABackOff) {
    const std::string server = "rfc2217://gw.plant.example:4001";
    m_env.Set("QD7_COM1", server);
    m_session.ApplyLineSettings(m_session.Settings());
    ASSERT_EQ(m_session.State(), DeviceState::Open);
    Unplug();
    m_session.OnPollTimer(0);
    ASSERT_EQ(m_session.State(), DeviceState::Lost);

    const std::vector<int64_t> times = AttemptTimes(server, 200);
    ASSERT_GE(times.size(), 8U);
    EXPECT_EQ(times[0], 700); // the first tick after the drop
    const std::vector<int64_t> waits = {1000, 2000, 4000, 8000, 16000, 30000, 30000};
    for (size_t i = 0; i < waits.size(); ++i) {
        SCOPED_TRACE(i);
        const int64_t gap = times[i + 1] - times[i];
        EXPECT_GE(gap, waits[i]);
        EXPECT_LT(gap, waits[i] + 700);
    }
    EXPECT_EQ(m_view.notes,
              std::vector<std::string>{"COM1: " + server +
                                       " has no stable identity: it is connected to again at this "
                                       "address, whatever answers there then"});

    Replug();
    ASSERT_EQ(AttemptTimes(server, 50).size(), 1U);
    EXPECT_EQ(m_session.State(), DeviceState::Open);
    Unplug();
    m_session.OnPollTimer(0);
    EXPECT_EQ(AttemptTimes(server, 1).size(), 1U);
    EXPECT_EQ(AttemptTimes(server, 1).size(), 0U);

    // OK in the setup dialog does not wait for the back-off.
    m_line.ClearEvents();
    m_session.OpenIfNotOpen();
    EXPECT_GE(m_line.TimeOf("open " + server), 0);
    EXPECT_EQ(m_view.notes.size(), 1U);
}

} // namespace
