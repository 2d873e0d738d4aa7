#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "protocol/FrameCodec.h"
#include "tests/serial/RecordingSerialOps.h"
#include "tests/support/EnvGuard.h"
#include "tests/ui/RecordingMeterView.h"
#include "ui/MeterSession.h"

// The meter session under test, without a window: shown through a recording view, its port's
// system calls the recording fake with COM1 a device of the fake's, started as the window starts
// it (Autoscan and PNP on, Bank 1 off, polling, the port opened). The line's record and the
// view's calls start empty after that.
class SessionFixture : public ::testing::Test {
protected:
    void SetUp() override {
        m_env.Set("QD7_COM1", "/fake/com1");
        m_view.Check(Box::Autoscan, true);
        m_view.Check(Box::Pnp, true);
        m_session.StartPolling();
        m_session.OpenPortFromSettings();
        ASSERT_EQ(m_session.State(), DeviceState::Open);
        m_line.ClearEvents();
        m_view.calls.clear();
    }

    // The body of the request the last send tick wrote, or how many bytes went out instead.
    std::string SentBody() {
        const std::vector<uint8_t> sent = std::exchange(m_line.sent, {});
        if (sent.size() != static_cast<size_t>(kWireFrameLength)) {
            return "(" + std::to_string(sent.size()) + " bytes)";
        }
        return {sent.begin() + 1, sent.begin() + 1 + kFrameBodyLength};
    }

    // Each address answered correctly, in this order.
    void List(std::initializer_list<int> addresses) {
        for (const int address : addresses) {
            m_session.UpdateAddressList(address, true);
        }
    }

    CEnvGuard m_env;
    FakeLine m_line;
    CRecordingMeterView m_view{&m_line};
    CMeterSession m_session{m_view, MakeRecordingOps(m_line)};
};
