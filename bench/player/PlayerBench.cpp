// morvel-player-bench: the player window's own cost while a long file plays with "Follow
// Music" on, and how far the highlight trails the measure being played.
//
//   morvel-player-bench [file.mid|""] [seconds per run]  CPU share and lag at several speeds
//   morvel-player-bench --length                       a 60-second file at speed 1 and 2
//   morvel-player-bench --loop                         how late the loop jumps back, by
//                                                      FluidSynth's clock and the system's
//   morvel-player-bench --memory file.mid              peak memory with the default
//                                                      SoundFont once the file plays
//
// The CPU share counts the user-interface thread only (timer, highlight, scrolling, the
// panels it repaints); FluidSynth's own threads are left out. Runs on the system clock with
// no audio driver, under the offscreen platform.
#include "core/Conversion.h"
#include "playback/MidiPlayback.h"
#include "player/TMidiPlayer.h"
#include "tests/support/ScriptedPrompts.h"
#include "measureview/MeasureView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <utility>

namespace {

// The bytes of the MIDI file at `path`, read as the window reads it; empty when it cannot be.
std::string ReadSong(const std::string& path) {
    std::string bytes, why;
    bool refused = false;
    if (!morvel::ReadSongBytes(path, bytes, why, refused))
        std::fprintf(stderr, "%s: %s\n", path.c_str(), why.c_str());
    return bytes;
}

using namespace morvel;

double CpuSeconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void RunFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop for `seconds`: the percentage of one core the user-interface thread
// took, and the whole process.
std::pair<double, double> CpuShareWhile(int seconds) {
    const double threadStart = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    const double processStart = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    QElapsedTimer wall;
    wall.start();
    RunFor(seconds * 1000);
    const double elapsed = static_cast<double>(wall.elapsed()) / 1000.0;
    return {100.0 * (CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - threadStart) / elapsed,
            100.0 * (CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processStart) / elapsed};
}

void Put32(std::string& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8)
        out.push_back(static_cast<char>((v >> s) & 0xFF));
}

// One track of quarter notes at 120 beats per minute, `measures` measures of 4/4 at 96 ticks
// per quarter: two seconds a measure.
std::string QuarterNotes(int measures) {
    std::string track = {0, '\xFF', 0x51, 3, 0x07, '\xA1', 0x20};
    for (int i = 0; i < measures * 4; ++i) {
        track += {0, '\x90', static_cast<char>(60 + i % 12), 100};
        track += {0x60, '\x80', static_cast<char>(60 + i % 12), 0};
    }
    track += {0, '\xFF', 0x2F, 0};
    std::string file = "MThd";
    Put32(file, 6);
    file += {0, 0, 0, 1, 0, 0x60};
    file += "MTrk";
    Put32(file, static_cast<uint32_t>(track.size()));
    return file + track;
}

std::string WriteFile(const QTemporaryDir& dir, const std::string& bytes) {
    const std::string path = dir.filePath("bench.mid").toStdString();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

int LengthCheck() {
    QTemporaryDir dir;
    const std::string path = WriteFile(dir, QuarterNotes(30));
    MidiPlayback::Options options;
    options.TimeSource = MidiPlayback::Clock::System;
    MidiPlayback playback(options);
    for (double speed : {1.0, 2.0}) {
        if (!playback.OpenBytes(ReadSong(path), path)) return 1;
        playback.SetSpeed(speed);
        QElapsedTimer clock;
        clock.start();
        playback.Play();
        while (playback.IsPlaying())
            RunFor(5);
        std::printf("60-second file at speed %.0f: length %lld ticks, end reached after %.2f s\n",
                    speed, static_cast<long long>(playback.Length()),
                    static_cast<double>(clock.elapsed()) / 1000.0);
    }
    return 0;
}

// How late after the loop's end the next pass begins, over a loop of measures 3 and 4 of
// the generated file, at speeds 1/8, 1 and 2: with the manual clock (rendered samples, the
// player's own time) and with the system clock (as on a machine without a sound card).
int LoopCheck() {
    const std::string bytes = QuarterNotes(8);
    constexpr int64_t MEASURE = 4 * 0x60;
    MidiPlayback::Practice practice;
    practice.Loop = true;
    practice.LoopFrom = 2 * MEASURE;
    practice.LoopTo = 4 * MEASURE;
    for (MidiPlayback::Clock clock : {MidiPlayback::Clock::Manual, MidiPlayback::Clock::System}) {
        for (double speed : {0.125, 1.0, 2.0}) {
            MidiPlayback::Options options;
            options.TimeSource = clock;
            MidiPlayback playback(options);
            if (!playback.OpenBytes(bytes, "loop.mid")) return 1;
            // The instrument's samples are read in the background after the SoundFont, holding
            // the synthesizer meanwhile: measured once they are in.
            playback.WaitUntilReady();
            playback.SetSpeed(speed);
            playback.SetPractice(practice);
            playback.PlayFrom(practice.LoopFrom);
            const int passMs = static_cast<int>(4000 / speed);
            const int passes = clock == MidiPlayback::Clock::Manual ? 20 : (speed < 1 ? 2 : 5);
            if (clock == MidiPlayback::Clock::Manual)
                playback.Advance(passes * passMs + passMs / 2);
            else
                RunFor(passes * passMs + passMs / 2);
            const MidiPlayback::LoopJumps jumps = playback.LoopJumpStats();
            std::printf("%s clock, speed %5.3f: %d jumps, latest %.2f ms late, at most %.2f ms\n",
                        clock == MidiPlayback::Clock::Manual ? "FluidSynth's" : "system", speed,
                        jumps.Count, jumps.LastLateMs, jumps.MaxLateMs);
        }
    }
    return 0;
}

long StatusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

// Resident memory of the playback service with the default SoundFont, before and after a
// file plays for three seconds (samples load as the song selects its instruments). It renders
// on the manual clock: silent playing on the system clock loads no SoundFont at all.
int MemoryCheck(const std::string& path) {
    MidiPlayback::Options options;
    options.TimeSource = MidiPlayback::Clock::Manual;
    MidiPlayback playback(options);
    playback.WaitUntilReady();
    std::printf("SoundFont %s loaded: resident %ld KB\n", playback.SoundFont().c_str(),
                StatusKb("VmRSS:"));
    if (!playback.OpenBytes(ReadSong(path), path)) {
        std::printf("%s\n", playback.Error().c_str());
        return 1;
    }
    playback.Play();
    playback.Advance(3000);
    std::printf("%s played 3 s: resident %ld KB, peak %ld KB\n", path.c_str(), StatusKb("VmRSS:"),
                StatusKb("VmHWM:"));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc > 1 && std::string(argv[1]) == "--length") return LengthCheck();
    if (argc > 1 && std::string(argv[1]) == "--loop") return LoopCheck();
    if (argc > 2 && std::string(argv[1]) == "--memory") return MemoryCheck(argv[2]);

    QTemporaryDir dir;
    // An empty name stands for the generated file (20 minutes of quarter notes).
    std::string path = argc > 1 ? argv[1] : "";
    if (path.empty()) path = WriteFile(dir, QuarterNotes(600));
    const int seconds = argc > 2 ? std::max(std::atoi(argv[2]), 1) : 20;

    Conversion conv;
    conv.SetReporter([](const std::string&) {});
    DisplaySettings display;
    MeasureView view(conv, display);
    view.resize(575, 358);
    view.show();
    MidiPlayback::Options options;
    options.TimeSource = MidiPlayback::Clock::System;
    MidiPlayback playback(options);
    morvel::test::ScriptedPrompts prompts; // its messages are printed
    auto printMessages = [&prompts] {
        for (const QString& text : prompts.Messages)
            std::printf("%s\n", qPrintable(text));
        prompts.Messages.clear();
    };
    TMidiPlayer player(view, conv, playback, prompts);

    player.PrepareFile(OpenSong(conv, path));
    printMessages();
    // The track with the most notes.
    int track = 1;
    for (size_t i = 0; i < conv.TrackList.size(); ++i)
        if (conv.TrackList[i].Notes.size() > conv.TrackList[size_t(track) - 1].Notes.size())
            track = static_cast<int>(i) + 1;
    if (conv.TrackList.empty() || !playback.IsOpen()) {
        std::printf("%s: nothing to play\n", path.c_str());
        return 1;
    }
    conv.Settings.FollowMusic = 1;
    view.ShowTrack(track);
    const TrackRecord& record = conv.TrackList[size_t(track) - 1];
    const uint32_t measureTicks = MeasureTicks(conv.Header.Division, record);
    const int64_t n = player.SelectedTrackMeasureCount();
    std::printf("%s: track %d, %lld measures, %lld ticks, %u beats per minute\n", path.c_str(),
                track, static_cast<long long>(n), static_cast<long long>(playback.Length()),
                playback.SequenceTempo());

    for (double speed : {0.125, 1.0, 2.0}) {
        player.changeTempo(speed);
        playback.Stop();
        playback.Rewind();
        playback.Play();
        RunFor(300);

        const auto [share, whole] = CpuShareWhile(seconds);

        // Lag: sampled every 2 ms, how long the highlight has differed from the measure the
        // position is in.
        QElapsedTimer since;
        bool behind = false;
        qint64 worst = 0;
        QTimer sampler;
        sampler.setTimerType(Qt::PreciseTimer);
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            const int64_t position = playback.Position();
            const int64_t expected =
                std::clamp<int64_t>(measureTicks ? position / measureTicks + 1 : 1, 1, n);
            if (view.PlayingMeasure() == expected) {
                behind = false;
            } else if (!behind) {
                behind = true;
                since.start();
            } else {
                worst = std::max(worst, since.elapsed());
            }
        });
        sampler.start(2);
        RunFor(seconds * 1000);
        sampler.stop();
        std::printf("speed %5.3f: UI thread %.2f %% of one core (whole process %.2f %%); "
                    "highlight at most %lld ms behind (timer %d ms); at %lld of %lld ticks\n",
                    speed, share, whole, static_cast<long long>(worst),
                    TMidiPlayer::TIMER_INTERVAL_MS, static_cast<long long>(playback.Position()),
                    static_cast<long long>(playback.Length()));
        printMessages();
    }

    // Looping measures 3 and 4 at half speed, Follow Music on.
    MidiPlayback::Practice practice;
    practice.Loop = true;
    practice.LoopFrom = 2 * static_cast<int64_t>(measureTicks);
    practice.LoopTo = 4 * static_cast<int64_t>(measureTicks);
    player.changeTempo(0.5);
    playback.SetPractice(practice);
    playback.PlayFrom(practice.LoopFrom);
    RunFor(300);
    const auto [share, whole] = CpuShareWhile(seconds);
    std::printf("looping measures 3-4 at speed 0.5: UI thread %.2f %% of one core (whole process "
                "%.2f %%); %d jumps, at most %.2f ms late\n",
                share, whole, playback.LoopJumpStats().Count, playback.LoopJumpStats().MaxLateMs);
    return 0;
}
