// Cost of the measure view for tracks of 100, 1,000 and 10,000 non-empty measures: showing
// the track (panels, layout and the first paint), painting one panel, and scrolling.
#include "tests/support/MidiBuilder.h"
#include "tests/support/ScriptedPrompts.h"
#include "painter/MeasurePainter.h"
#include "view/TabForm.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace {

// One 4/4 track at 480 ticks a quarter: a three-note chord and three single notes in every
// one of `measures` measures.
std::string SongOf(int measures) {
    morvel::test::TrackBuilder track;
    for (int m = 0; m < measures; ++m) {
        track.Chord(0, {52, 59, 64}, 480);
        for (int k = 0; k < 3; ++k)
            track.Note(0, 67 + 2 * k, 480);
    }
    track.End();
    return morvel::test::MidiBuilder(0, 480).Add(track).Bytes();
}

struct Fixture {
    explicit Fixture(int measures) {
        conv.SetReportSink([](std::string_view) {});
        conv.SetReporter([](const std::string&) {});
        conv.ConvertMidiBytes(SongOf(measures), "bench.mid");
        form = std::make_unique<morvel::TTabForm>(conv, display, prompts);
        form->resize(575, 358);
        form->show();
        QApplication::processEvents();
        form->BuildTracksMenu();
    }
    morvel::Conversion conv;
    morvel::DisplaySettings display;
    morvel::test::ScriptedPrompts prompts; // asks nothing
    std::unique_ptr<morvel::TTabForm> form;
};

void ShowTrack(benchmark::State& state) {
    Fixture fx(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        fx.form->TrackMenuClick(1);
        fx.form->TabScroll()->viewport()->repaint();
        QApplication::processEvents();
    }
    state.counters["panels"] = fx.form->TabScroll()->PanelCount();
}

// The whole road from bytes to a drawn view: conversion, Tracks menu, panels, first paint.
void OpenAndShow(benchmark::State& state) {
    Fixture fx(1);
    const std::string song = SongOf(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        fx.form->ResetTabulature();
        fx.conv.ConvertMidiBytes(song, "bench.mid");
        fx.form->BuildTracksMenu();
        fx.form->TrackMenuClick(1);
        fx.form->TabScroll()->viewport()->repaint();
    }
    state.counters["panels"] = fx.form->TabScroll()->PanelCount();
}

void PaintPanel(benchmark::State& state) {
    Fixture fx(static_cast<int>(state.range(0)));
    fx.form->TrackMenuClick(1);
    QImage image(550, 117, QImage::Format_RGB32);
    const int measure = static_cast<int>(state.range(0)) / 2 + 1;
    for (auto _ : state) {
        QPainter painter(&image);
        painter.setFont(fx.form->font());
        // The context is gathered for every paint, as a panel does.
        const morvel::MeasurePaintContext context = fx.form->TabScroll()->PaintContext();
        benchmark::DoNotOptimize(
            morvel::DrawMeasure(painter, context, 0, 0, 550, 117, 1, measure, 10));
    }
}

void ScrollPage(benchmark::State& state) {
    Fixture fx(static_cast<int>(state.range(0)));
    fx.form->TrackMenuClick(1);
    QScrollBar* bar = fx.form->TabScroll()->verticalScrollBar();
    const int page = bar->pageStep();
    for (auto _ : state) {
        int next = bar->value() + page;
        bar->setValue(next > bar->maximum() ? 0 : next);
        fx.form->TabScroll()->viewport()->repaint();
    }
}

void ResizeWindow(benchmark::State& state) {
    Fixture fx(static_cast<int>(state.range(0)));
    fx.form->TrackMenuClick(1);
    bool larger = false;
    for (auto _ : state) {
        larger = !larger;
        fx.form->resize(575, larger ? 500 : 358);
        QApplication::processEvents();
    }
}

BENCHMARK(ShowTrack)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenAndShow)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(PaintPanel)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(ScrollPage)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(ResizeWindow)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
