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
#include "ui/DialogUnits.h"
#include "ui/MeterTestDlg.h"

namespace {

// One window on one pty for all benchmarks; the selected meter 03 is polled at every send tick.
struct CTickBench {
    CTickBench() {
        setenv("QD7_COM1", pty.SlavePath().c_str(), 1);
        pDlg = std::make_unique<CMeterTestDlg>();
        pDlg->OnInitDialog();
        pDlg->m_pPollTimer->stop();
        pDlg->UpdateAddressList(3, true);
        pDlg->m_pPnp->setChecked(false);
    }
    PtyPair pty;
    std::unique_ptr<CMeterTestDlg> pDlg;
};

CTickBench& Bench() {
    static CTickBench bench;
    return bench;
}

void BM_SendTick(benchmark::State& state) {
    CTickBench& bench = Bench();
    if (!bench.pDlg->m_serialPort.IsOpen()) {
        state.SkipWithError("the pty did not open");
        return;
    }
    for (auto _ : state) {
        bench.pDlg->m_pollCycle.OnStartPolling(); // the next tick sends
        bench.pDlg->OnPollTimer(0);
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
    if (!bench.pDlg->m_serialPort.IsOpen()) {
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
        PollCycleState awaiting = bench.pDlg->m_pollCycle.State();
        awaiting.bAwaitingResponse = true;
        bench.pDlg->m_pollCycle = CPollCycle(awaiting);
        state.ResumeTiming();
        bench.pDlg->OnPollTimer(0);
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
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
