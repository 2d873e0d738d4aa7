// CPU time of the two kinds of poll tick on the real main window (offscreen platform): a send
// tick (drain, lamps, build, show body and CRC, write 35 bytes, redraw) and a reply tick (read,
// dump, parse, list, value text, redraw). The line is a pty at 9600 bit/s: it sends at once, but
// the write still holds RTS for the frame's time on the line (36.5 ms), so the send tick's wall
// time shows that wait and its CPU time the work.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QTimer>

#include <cstdlib>
#include <memory>
#include <vector>

#include "tests/support/PtyMeter.h"
#include "tests/support/PtyPair.h"
#include "tests/support/WindowUnderTest.h"
#include "ui/DialogUnits.h"
#include "ui/MeterTestDlg.h"

namespace {

// One window on one pty for all benchmarks, initialised as start-up does, its ticks driven here;
// the selected meter 03 is polled at every send tick.
struct CTickBench {
    CTickBench()
        : window({.com1 = pty.SlavePath(), .start = CWindowUnderTest::Start::Initialised}) {
        window.Session().UpdateAddressList(3, true);
        window.Pnp()->setChecked(false);
    }
    CMeterSession& Session() { return window.Session(); }
    PtyPair pty;
    CWindowUnderTest window;
};

// Made in main, after the application object and before the benchmarks run; gone before the
// application object is.
CTickBench* g_pBench = nullptr;

CTickBench& Bench() {
    return *g_pBench;
}

void BM_SendTick(benchmark::State& state) {
    CTickBench& bench = Bench();
    if (bench.Session().State() != DeviceState::Open) {
        state.SkipWithError("the pty did not open");
        return;
    }
    for (auto _ : state) {
        PollCycleState ready = bench.Session().PollState();
        ready.bAwaitingResponse = false; // the next tick sends
        bench.Session().SetPollState(ready);
        bench.Session().OnPollTimer(0);
        state.PauseTiming();
        if (bench.pty.ReadMaster(35, 1000).size() != 35) {
            state.SkipWithError("the request did not arrive");
            break;
        }
        state.ResumeTiming();
    }
}
BENCHMARK(BM_SendTick)->Unit(benchmark::kMicrosecond);

void BM_ReplyTick(benchmark::State& state) {
    CTickBench& bench = Bench();
    if (bench.Session().State() != DeviceState::Open) {
        state.SkipWithError("the pty did not open");
        return;
    }
    const std::vector<uint8_t> reply = ReplyFrame("03RD0P0-0012342");
    for (auto _ : state) {
        state.PauseTiming();
        if (!Answer(bench.pty, reply)) {
            state.SkipWithError("the reply did not arrive");
            break;
        }
        PollCycleState awaiting = bench.Session().PollState();
        awaiting.bAwaitingResponse = true;
        bench.Session().SetPollState(awaiting);
        state.ResumeTiming();
        bench.Session().OnPollTimer(0);
    }
}
BENCHMARK(BM_ReplyTick)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    InstallDialogFontSubstitutes();
    benchmark::Initialize(&argc, argv);
    {
        CTickBench bench;
        g_pBench = &bench;
        benchmark::RunSpecifiedBenchmarks();
        g_pBench = nullptr;
    }
    benchmark::Shutdown();
    return 0;
}
