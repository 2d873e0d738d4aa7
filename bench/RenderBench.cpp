// Cost of the front-panel drawing that every poll tick and every exchange step does: one value
// composed and copied (also with the printed panel put back behind a narrower value), one lamp
// bar switched, on the real artwork; and at a device pixel ratio the resources hold no artwork for
// (the argument, in percent), the panel drawn for it, which a window showing there pays before it
// shows, and the first value, whose glyphs are drawn for their places then.
#include <benchmark/benchmark.h>

#include <QImage>

#include "render/DigitDisplay.h"
#include "render/LampDisplay.h"
#include "render/PanelArt.h"
#include "render/PanelLayout.h"
#include "render/Resources.h"

namespace {

CPictureSurface MakePanelSurface(int& repaints, double ratio = 1.0) {
    CPictureSurface surface;
    surface.dRatio = ratio;
    surface.panel = ratio == 1.0 ? QImage(kPanelResource).convertToFormat(QImage::Format_RGB32)
                                 : MakeFrontPanel(ratio);
    surface.image = surface.panel;
    surface.repaint = [&repaints](const QRect&) { ++repaints; };
    return surface;
}

void BM_DrawValue(benchmark::State& state) {
    int repaints = 0;
    CPictureSurface surface = MakePanelSurface(repaints, static_cast<double>(state.range(0)) / 100);
    CDigitDisplay display;
    display.Attach(&surface);
    display.m_nColorRow = 1;
    for (auto _ : state) {
        display.DrawValue(kValueOrigin.x(), kValueOrigin.y(), "-12.34");
    }
    benchmark::DoNotOptimize(surface.image.constBits());
    if (repaints != static_cast<int>(state.iterations())) {
        state.SkipWithError("a value did not reach the picture");
    }
}
BENCHMARK(BM_DrawValue)->Arg(100)->Arg(150)->Unit(benchmark::kMicrosecond);

void BM_DrawFrontPanel(benchmark::State& state) {
    const double ratio = static_cast<double>(state.range(0)) / 100;
    for (auto _ : state) {
        QImage panel = MakeFrontPanel(ratio);
        benchmark::DoNotOptimize(panel.constBits());
    }
}
BENCHMARK(BM_DrawFrontPanel)->Arg(125)->Arg(150)->Arg(175)->Unit(benchmark::kMillisecond);

// The first value after an Attach: the composition image made, the glyph sheet read (at 100) or
// the value's glyphs drawn for their places (at 150).
void BM_FirstValue(benchmark::State& state) {
    int repaints = 0;
    CPictureSurface surface = MakePanelSurface(repaints, static_cast<double>(state.range(0)) / 100);
    for (auto _ : state) {
        CDigitDisplay display;
        display.Attach(&surface);
        display.m_nColorRow = 1;
        display.DrawValue(kValueOrigin.x(), kValueOrigin.y(), "-12.34");
    }
    benchmark::DoNotOptimize(surface.image.constBits());
    if (repaints != static_cast<int>(state.iterations())) {
        state.SkipWithError("a value did not reach the picture");
    }
}
BENCHMARK(BM_FirstValue)->Arg(100)->Arg(150)->Unit(benchmark::kMicrosecond);

// A meter going from 999999 to 1 and back: every other call puts the printed panel back in the
// sixth cell, which only the wider value covered, and writes the unit again where its cell lies
// there.
void BM_DrawValueNarrowing(benchmark::State& state) {
    int repaints = 0;
    CPictureSurface surface = MakePanelSurface(repaints);
    CDigitDisplay display;
    display.Attach(&surface);
    display.m_nColorRow = 1;
    display.DrawUnit(kUnitOrigin.x(), kUnitOrigin.y(), "Sec");
    repaints = 0;
    bool bWide = false;
    for (auto _ : state) {
        display.DrawValue(kValueOrigin.x(), kValueOrigin.y(), bWide ? "999999" : "    1");
        bWide = !bWide;
    }
    benchmark::DoNotOptimize(surface.image.constBits());
    if (repaints != static_cast<int>(state.iterations())) {
        state.SkipWithError("a value did not reach the picture");
    }
}
BENCHMARK(BM_DrawValueNarrowing)->Unit(benchmark::kMicrosecond);

void BM_DrawLamp(benchmark::State& state) {
    int repaints = 0;
    CPictureSurface surface = MakePanelSurface(repaints);
    CLampDisplay lamps;
    lamps.Attach(&surface);
    bool bLit = false;
    for (auto _ : state) {
        // The send lamp's round trip: lit before a write, resting after it.
        lamps.DrawLamp(kSendLampOrigin.x(), kSendLampOrigin.y(), bLit ? LampDarkGreen : LampGreen);
        bLit = !bLit;
    }
    benchmark::DoNotOptimize(surface.image.constBits());
    if (repaints != static_cast<int>(state.iterations())) {
        state.SkipWithError("a lamp did not reach the picture");
    }
}
BENCHMARK(BM_DrawLamp)->Unit(benchmark::kMicrosecond);

} // namespace
