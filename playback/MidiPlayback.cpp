#include "playback/MidiPlayback.h"

#include "io/SafeOpen.h"

#include <fluidsynth.h>
#if MORVEL_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

namespace morvel {

namespace {

constexpr size_t MAX_SYNTH_MESSAGES = 200;
// Frames rendered per call on the manual clock: FluidSynth's own block, so its player runs
// once per call and sees the clock of that block.
constexpr int RENDER_BLOCK = 64;

// FluidSynth's messages go to one list for the whole process: its log function is global.
std::mutex messagesMutex;
std::vector<std::string> synthMessages;
size_t synthMessagesDropped = 0;

void CollectMessage(int level, const char* message, void*) {
    if (level > FLUID_WARN || !message) return;
    std::lock_guard<std::mutex> lock(messagesMutex);
    if (synthMessages.size() >= MAX_SYNTH_MESSAGES) {
        synthMessages.erase(synthMessages.begin());
        ++synthMessagesDropped;
    }
    synthMessages.emplace_back(message);
}

size_t MessageCount() {
    std::lock_guard<std::mutex> lock(messagesMutex);
    return synthMessagesDropped + synthMessages.size();
}

void InstallLogFunctions() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG})
            fluid_set_log_function(level, CollectMessage, nullptr);
    });
}

// A regular file that can be opened; a FIFO or device under that name never blocks the check.
bool FileExists(const std::string& path) {
    std::string why;
    const int fd = OpenRegularFile(path, why);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

#if MORVEL_HAVE_ALSA
void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}
#endif

// ALSA writes its complaints (no card, no configuration) to standard error unless it is given
// an error handler; FluidSynth's own messages are collected instead (SynthMessages).
void SilenceAlsa() {
#if MORVEL_HAVE_ALSA
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(&IgnoreAlsaError); });
#endif
}

} // namespace

namespace {

// FluidSynth's settings and synthesizer, shared by the playback object and its loader
// thread: whichever lets go last deletes them, so an object that stops waiting for a hung
// loader leaves nothing behind that the loader still uses.
struct Engine {
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;

    // Written by the loader thread before `done`, read after it.
    std::string soundFont;
    std::vector<std::string> triedSoundFonts;
    std::string loadFailure; // an exception the loader ended with
    bool audio = false;      // the sound card opened when probed
    bool silent = false;     // no audio output: no SoundFont was wanted
    std::atomic<bool> done{false};
    std::mutex mutex;
    std::condition_variable finished;
    std::mutex instruments;        // one instrument selection at a time
    std::atomic<int> selecting{0}; // instrument selections not finished yet

    ~Engine() {
        if (synth) delete_fluid_synth(synth);
        if (settings) delete_fluid_settings(settings);
    }

    void Finish() {
        std::lock_guard<std::mutex> lock(mutex);
        done.store(true, std::memory_order_release);
        finished.notify_all();
    }
};

// The audio drivers worth trying here, best first: PipeWire and PulseAudio where their server
// is running (so no client library complains of a missing server), then ALSA.
std::vector<std::string> AudioDriverOrder(fluid_settings_t* settings) {
    std::vector<std::string> available;
    fluid_settings_foreach_option(
        settings, "audio.driver", &available, [](void* data, const char*, const char* option) {
            static_cast<std::vector<std::string>*>(data)->emplace_back(option);
        });
    auto has = [&](const char* name) {
        return std::find(available.begin(), available.end(), name) != available.end();
    };
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string dir = runtime && *runtime ? runtime : "";
    auto socketExists = [&](const std::string& relative) {
        struct stat st {};
        return !dir.empty() && ::stat((dir + "/" + relative).c_str(), &st) == 0;
    };
    std::vector<std::string> order;
    if (has("pipewire") && socketExists("pipewire-0")) order.emplace_back("pipewire");
    if (has("pulseaudio") && (socketExists("pulse/native") || std::getenv("PULSE_SERVER")))
        order.emplace_back("pulseaudio");
    if (has("alsa")) order.emplace_back("alsa");
    return order;
}

fluid_audio_driver_t* OpenAudio(Engine& engine, std::string* name = nullptr) {
    SilenceAlsa();
    for (const std::string& driver : AudioDriverOrder(engine.settings)) {
        fluid_settings_setstr(engine.settings, "audio.driver", driver.c_str());
        if (fluid_audio_driver_t* opened = new_fluid_audio_driver(engine.settings, engine.synth)) {
            if (name) *name = driver;
            return opened;
        }
    }
    return nullptr;
}

// Loads the first SoundFont that loads (FluidSynth's calls are thread-safe).
void LoadSoundFont(Engine& engine, const std::vector<std::string>& wanted) {
    std::vector<std::string> candidates = wanted;
    if (candidates.empty()) {
        char* configured = nullptr;
        if (fluid_settings_dupstr(engine.settings, "synth.default-soundfont", &configured) ==
                FLUID_OK &&
            configured) {
            if (*configured) candidates.emplace_back(configured);
            fluid_free(configured);
        }
        if (std::find(candidates.begin(), candidates.end(), MidiPlayback::DEBIAN_SOUNDFONT) ==
            candidates.end())
            candidates.emplace_back(MidiPlayback::DEBIAN_SOUNDFONT);
    }
    for (const std::string& path : candidates) {
        engine.triedSoundFonts.push_back(path);
        if (!FileExists(path)) continue;
        // No instrument is selected yet: a song selects those it uses (SelectInstruments).
        if (fluid_synth_sfload(engine.synth, path.c_str(), 0) != FLUID_FAILED) {
            engine.soundFont = path;
            return;
        }
    }
}

// The loader thread: the test hook, the sound card (audio clock only), the SoundFont. An
// exception ends the load, never the program.
void RunLoader(const std::shared_ptr<Engine>& engine, const MidiPlayback::Options& options) {
    try {
        if (options.BeforeLoading) options.BeforeLoading();
        if (options.TimeSource == MidiPlayback::Clock::Audio) {
            if (fluid_audio_driver_t* probe = OpenAudio(*engine)) {
                engine->audio = true;
                delete_fluid_audio_driver(probe);
            }
        }
        // Samples are read only to be heard: the system clock renders nothing.
        engine->silent = options.TimeSource != MidiPlayback::Clock::Manual && !engine->audio;
        if (!engine->silent) LoadSoundFont(*engine, options.SoundFonts);
    } catch (const std::exception& e) {
        engine->loadFailure = e.what();
    } catch (...) {
        engine->loadFailure = "unknown error";
    }
    engine->Finish();
}

constexpr auto LOADER_EXIT_WAIT = std::chrono::seconds(2);
constexpr int LEAVE_PROGRAM = -2;
// How long a stopped player's clock thread is given to take the stop: STOP_WAIT_STEPS steps.
constexpr auto STOP_WAIT_STEP = std::chrono::milliseconds(10);
constexpr int STOP_WAIT_STEPS = 20;

// Selects on each channel the instrument a song starts with (reading its samples from the
// SoundFont) and unselects it on channels the song leaves silent, so only what the song uses
// is in memory. Runs on a thread of its own once the SoundFont is loaded, since reading
// samples takes a noticeable time; the thread shares the engine, so it never outlives it.
void SelectInstruments(const std::shared_ptr<Engine>& engine,
                       const std::array<int, CHANNELS>& programs) {
    engine->selecting.fetch_add(1);
    std::thread([engine, programs] {
        std::unique_lock<std::mutex> lock(engine->mutex);
        engine->finished.wait(lock, [&] { return engine->done.load(std::memory_order_acquire); });
        lock.unlock();
        if (!engine->soundFont.empty()) {
            std::lock_guard<std::mutex> one(engine->instruments);
            for (int channel = 0; channel < CHANNELS; ++channel) {
                const int program = programs[static_cast<size_t>(channel)];
                if (program == LEAVE_PROGRAM) continue;
                if (program == NO_PROGRAM)
                    fluid_synth_unset_program(engine->synth, channel);
                else
                    fluid_synth_program_change(engine->synth, channel, program);
            }
        }
        lock.lock();
        engine->selecting.fetch_sub(1);
        engine->finished.notify_all();
    }).detach();
}

} // namespace

struct MidiPlayback::Impl {
    Options options;
    Clock clock = Clock::Audio;
    std::shared_ptr<Engine> engine = std::make_shared<Engine>();
    fluid_settings_t* settings = nullptr; // engine's, for short
    fluid_synth_t* synth = nullptr;
    fluid_audio_driver_t* driver = nullptr; // exists only while playing on the sound card
    fluid_player_t* player = nullptr;
    std::string audioDriverName;

    std::thread loader;   // probes the sound card and loads the SoundFont
    bool adopted = false; // the loader's findings are in force
    size_t firstMessage = 0;

    bool open = false;
    std::string fileName;
    SongPointer song;       // the song open now, kept while it is open
    std::string_view bytes; // its bytes
    MidiFileInfo info;
    std::string error;
    std::string failure; // a file the synthesizer refused while playing

    Practice practice;
    ProgramRequest request; // of the program below
    Program program;
    bool hasProgram = false;

    bool playing = false;
    bool paused = false;
    bool needsNewPlayer = false;     // FluidSynth's player ended; it cannot play again
    int64_t held = 0;                // song position while not playing
    int64_t pendingSeek = -1;        // a seek (program tick) FluidSynth has not applied yet
    int tickAtSeek = 0;              // FluidSynth's tick when that seek was asked for
    std::atomic<bool> loaded{false}; // FluidSynth has read the file (its tick callback ran)
    double speed = 1.0;

    // The loop as FluidSynth's tick callback sees it: program ticks, -1 without a loop. Set
    // while no player runs.
    std::atomic<int64_t> loopEnd{-1};
    std::atomic<int64_t> loopTarget{0};
    std::atomic<bool> jumpAsked{false};
    double boundaryMs = 0; // FluidSynth's thread only
    std::atomic<int> jumps{0};
    std::atomic<double> lastLateMs{0};
    std::atomic<double> maxLateMs{0};
    std::atomic<double> lastPassMs{0};
    double passStartMs = 0; // FluidSynth's thread while playing
    // The speed trainer as the tick callback sees it; set while no player runs.
    std::atomic<bool> raising{false};
    std::atomic<int> pass{0};
    std::atomic<double> passSpeed{1.0};
    std::chrono::steady_clock::time_point epoch = std::chrono::steady_clock::now();
    std::atomic<int64_t> renderedFrames{0}; // manual clock: frames rendered before this block

    ~Impl() {
        StopClock();
        DeletePlayer();
        synth = nullptr;
        settings = nullptr;
        if (!loader.joinable()) return;
        std::unique_lock<std::mutex> lock(engine->mutex);
        const bool done = engine->finished.wait_for(lock, LOADER_EXIT_WAIT, [this] {
            return engine->done.load(std::memory_order_acquire);
        });
        lock.unlock();
        // A loader still busy keeps the engine alive and ends with the process.
        if (done)
            loader.join();
        else
            loader.detach();
    }

    bool Ready() const { return engine->done.load(std::memory_order_acquire); }

    // Puts the loader's findings in force once it is done: the clock, and the sound card for
    // music already playing on the system clock meanwhile.
    void Adopt() {
        if (adopted || !Ready()) return;
        if (loader.joinable()) loader.join(); // done: returns at once
        adopted = true;
        if (clock != Clock::Audio) return;
        if (!engine->audio) {
            clock = Clock::System;
            return;
        }
        if (playing) {
            const bool wasPaused = paused;
            Halt();
            NewPlayer(request);
            StartAt(held, false);
            paused = wasPaused;
        }
    }

    bool AudioReady() const { return clock == Clock::Audio && adopted; }

    // The player's clock in milliseconds: rendered samples on the manual clock (the player's
    // own time, exact), the system clock otherwise.
    double NowMs() const {
        if (clock == Clock::Manual) {
            double rate = 44100.0;
            fluid_settings_getnum(settings, "synth.sample-rate", &rate);
            return static_cast<double>(renderedFrames.load()) * 1000.0 / rate;
        }
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - epoch)
            .count();
    }

    // FluidSynth's thread, once per tick it moves to: notes that the file is loaded, and
    // jumps back as soon as the loop's end is reached. Notes that would start at the end are
    // not in the program, so none is heard twice.
    static int OnTick(void* data, int tick) {
        auto* d = static_cast<Impl*>(data);
        d->loaded.store(true, std::memory_order_release);
        const int64_t end = d->loopEnd.load();
        if (end < 0) return FLUID_OK;
        if (!d->jumpAsked.load()) {
            if (tick < end) return FLUID_OK;
            if (fluid_player_seek(d->player, static_cast<int>(d->loopTarget.load())) != FLUID_OK)
                return FLUID_OK; // asked again at the next tick
            const int tempo = fluid_player_get_midi_tempo(d->player);
            const double msPerTick =
                tempo > 0 && d->info.Division ? tempo / 1000.0 / d->info.Division : 0;
            d->boundaryMs = d->NowMs() - static_cast<double>(tick - end) * msPerTick;
            d->lastPassMs.store(d->boundaryMs - d->passStartMs);
            d->passStartMs = d->boundaryMs;
            // The next pass one step faster: in force from the jump, which FluidSynth makes
            // at its next block and times anew from there.
            if (d->raising.load()) {
                const int next = d->pass.fetch_add(1) + 1;
                const double s = d->practice.PassSpeed(next);
                d->passSpeed.store(s);
                fluid_player_set_tempo(d->player, FLUID_PLAYER_TEMPO_INTERNAL, s);
            }
            d->jumpAsked.store(true);
        } else if (tick < end) {
            d->jumpAsked.store(false);
            const double late = d->NowMs() - d->boundaryMs;
            d->lastLateMs.store(late);
            if (late > d->maxLateMs.load()) d->maxLateMs.store(late);
            d->jumps.fetch_add(1);
        }
        return FLUID_OK;
    }

    static int OnEvent(void* data, fluid_midi_event_t* event) {
        auto* d = static_cast<Impl*>(data);
        const int tick = fluid_player_get_current_tick(d->player);
        d->options.OnEvent(d->program.SongTick(tick),
                           fluid_midi_event_get_type(event) | fluid_midi_event_get_channel(event),
                           fluid_midi_event_get_key(event), fluid_midi_event_get_velocity(event));
        return fluid_synth_handle_midi_event(d->synth, event);
    }

    void DeletePlayer() {
        if (!player) return;
        fluid_player_stop(player);
        // FluidSynth frees the player's tracks before it joins its clock thread, which may be
        // inside a tick; the player is freed only after that thread has taken the stop and gone
        // back to sleep (bounded: a clock that never ticks again leaves at once).
        for (int i = 0; i < STOP_WAIT_STEPS && fluid_player_get_status(player) == FLUID_PLAYER_PLAYING;
             ++i)
            std::this_thread::sleep_for(STOP_WAIT_STEP);
        std::this_thread::sleep_for(STOP_WAIT_STEP);
        delete_fluid_player(player);
        player = nullptr;
        loaded.store(false);
    }

    // A fresh FluidSynth player on the program for `wanted`, at tick 0. Only while no audio
    // driver runs: FluidSynth forbids deleting a player that a rendering thread may call.
    bool NewPlayer(const ProgramRequest& wanted) {
        DeletePlayer();
        pendingSeek = -1;
        needsNewPlayer = false;
        std::string why;
        if (!BuildProgram(bytes, wanted, program, why)) {
            program = Program{};
            program.Bytes = bytes;
        }
        request = wanted;
        hasProgram = true;
        const bool onSamples = clock == Clock::Manual || AudioReady();
        fluid_settings_setstr(settings, "player.timing-source", onSamples ? "sample" : "system");
        player = new_fluid_player(synth);
        if (!player) return false;
        fluid_player_set_tick_callback(player, &Impl::OnTick, this);
        if (options.OnEvent) fluid_player_set_playback_callback(player, &Impl::OnEvent, this);
        fluid_player_add_mem(player, program.Bytes.data(), program.Bytes.size());
        fluid_player_set_tempo(player, FLUID_PLAYER_TEMPO_INTERNAL, EffectiveSpeed());
        return true;
    }

    // Starts the time that drives the player: the sound card in audio mode. When the sound
    // card no longer opens, the player moves to the system clock.
    void StartClock() {
        if (!AudioReady() || driver) return;
        driver = OpenAudio(*engine, &audioDriverName);
        if (driver) return;
        clock = Clock::System;
        NewPlayer(request);
    }

    void StopClock() {
        if (!driver) return;
        delete_fluid_audio_driver(driver);
        driver = nullptr;
        // Voices left sounding would go on where they stopped once the card plays again.
        fluid_synth_all_sounds_off(synth, -1);
    }

    int64_t Clamp(int64_t tick) const { return std::clamp<int64_t>(tick, 0, info.LengthTicks); }

    bool Raising() const { return practice.Loop && practice.RaiseSpeed; }
    double EffectiveSpeed() const { return raising.load() ? passSpeed.load() : speed; }
    // The trainer begins again at its first pass (only while no player runs).
    void RestartPasses() {
        raising.store(Raising());
        pass.store(0);
        passSpeed.store(practice.PassSpeed(0));
    }

    // FluidSynth's position (song ticks) while playing; a seek it has not applied yet counts
    // as done.
    int64_t PlayingTick() {
        int64_t tick = fluid_player_get_current_tick(player);
        if (pendingSeek >= 0) {
            if (tick == tickAtSeek)
                tick = pendingSeek;
            else
                pendingSeek = -1;
        }
        const int64_t song = Clamp(program.SongTick(tick));
        // Past the loop's end the jump back is due within FluidSynth's next block.
        if (practice.Loop && song >= practice.LoopTo) return practice.LoopFrom;
        return song;
    }

    void StartPlayer(int64_t programTick) {
        fluid_player_seek(player, static_cast<int>(programTick));
        pendingSeek = programTick;
        tickAtSeek = fluid_player_get_current_tick(player);
        fluid_player_play(player);
    }

    // Halts FluidSynth's player and keeps the position it had.
    void Halt() {
        if (!playing) return;
        held = PlayingTick();
        fluid_player_stop(player);
        StopClock();
        fluid_synth_all_notes_off(synth, -1);
        pendingSeek = -1;
        playing = false;
    }

    ProgramRequest BaseRequest() const {
        ProgramRequest r;
        r.Tracks = practice.Tracks;
        r.Track = practice.Track;
        if (practice.Loop) r.LoopEnd = practice.LoopTo;
        return r;
    }

    static bool SameRequest(const ProgramRequest& a, const ProgramRequest& b) {
        return a.Tracks == b.Tracks && a.Track == b.Track && a.Origin == b.Origin &&
               a.CountIn == b.CountIn && a.LoopEnd == b.LoopEnd;
    }

    // Plays from song tick `from` while halted: the count-in first when `countIn` and it is
    // asked for. A new program (and player) only when the one there cannot play it.
    void StartAt(int64_t from, bool countIn) {
        from = Clamp(from);
        const bool counting = countIn && practice.CountIn;
        ProgramRequest wanted = BaseRequest();
        if (practice.Loop) {
            if (from < practice.LoopFrom || from >= practice.LoopTo || counting)
                from = practice.LoopFrom;
            if (practice.CountIn && (counting || practice.CountInEachPass)) {
                wanted.Origin = practice.LoopFrom;
                wanted.CountIn = true;
            }
        } else if (counting) {
            wanted.Origin = from;
            wanted.CountIn = true;
        }
        // Without a count-in now, a program that starts earlier serves as well.
        if (!wanted.CountIn && hasProgram && !practice.Loop) {
            ProgramRequest same = request;
            same.Origin = 0;
            same.CountIn = false;
            if (SameRequest(same, wanted) && from >= request.Origin) wanted = request;
        }
        if (!player || needsNewPlayer || !SameRequest(wanted, request)) {
            if (!NewPlayer(wanted)) return;
        }
        loopEnd.store(program.End);
        loopTarget.store(practice.Loop ? (practice.CountInEachPass && program.Lead > 0
                                              ? 0
                                              : program.ProgramTick(practice.LoopFrom))
                                       : 0);
        jumpAsked.store(false);
        fluid_player_set_tempo(player, FLUID_PLAYER_TEMPO_INTERNAL, EffectiveSpeed());
        passStartMs = NowMs();
        StartClock();
        StartPlayer(counting ? 0 : program.ProgramTick(std::max(from, program.Origin)));
        playing = true;
    }

    // Notices the end of the file (or a file FluidSynth refused) while playing.
    void Refresh() {
        Adopt();
        if (!playing || !player) return;
        const bool done = fluid_player_get_status(player) == FLUID_PLAYER_DONE;
        const int64_t tick = PlayingTick();
        // A loop never ends, even one that reaches past the file's end.
        if (!done && (practice.Loop || tick < info.LengthTicks)) return;
        const bool refused = done && !loaded.load(std::memory_order_acquire);
        Halt();
        paused = false;
        needsNewPlayer = true;
        held = info.LengthTicks;
        if (refused) {
            held = 0;
            failure = "Cannot play \"" + fileName + "\": the synthesizer refused the file.";
            error = failure;
        }
    }
};

MidiPlayback::MidiPlayback() : MidiPlayback(Options{}) {}

MidiPlayback::MidiPlayback(const Options& options) : d_(std::make_unique<Impl>()) {
    InstallLogFunctions();
    d_->firstMessage = MessageCount();
    d_->options = options;
    d_->clock = options.TimeSource;
    Engine& engine = *d_->engine;
    engine.settings = new_fluid_settings();
    // Only the samples of the instruments a song selects are read into memory.
    fluid_settings_setint(engine.settings, "synth.dynamic-sample-loading", 1);
    // A reset would select the default instrument on every channel, loading its samples.
    fluid_settings_setint(engine.settings, "player.reset-synth", 0);
    if (d_->clock == Clock::Manual) {
        // Time passes by rendering; effects would only cost time in tests.
        fluid_settings_setint(engine.settings, "synth.reverb.active", 0);
        fluid_settings_setint(engine.settings, "synth.chorus.active", 0);
    }
    engine.synth = new_fluid_synth(engine.settings);
    d_->settings = engine.settings;
    d_->synth = engine.synth;
    if (!engine.synth) {
        engine.Finish();
        return;
    }
    d_->loader =
        std::thread([shared = d_->engine, options = d_->options] { RunLoader(shared, options); });
}

MidiPlayback::~MidiPlayback() = default;

bool MidiPlayback::OpenBytes(std::string bytes, const std::string& name) {
    return OpenBytes(SongOfBytes(std::move(bytes), name));
}

bool MidiPlayback::OpenBytes(SongPointer song) {
    Close();
    d_->error.clear();
    if (!song) return false;
    const std::string& name = song->Path;
    const std::string_view bytes = song->Bytes;
    d_->info = ReadMidiFileInfo(song->Timeline);
    if (!d_->info.Valid) {
        d_->error = "Cannot play \"" + name + "\": " + d_->info.Error + ".";
        return false;
    }
    if (!d_->synth) {
        d_->error = "Cannot play \"" + name + "\": the synthesizer could not be started.";
        return false;
    }
    d_->song = std::move(song);
    d_->bytes = d_->song->Bytes;
    d_->fileName = name;
    d_->Adopt();
    std::array<int, CHANNELS> programs = ChannelPrograms(bytes);
    if (d_->practice.CountIn && programs[PERCUSSION_CHANNEL] == NO_PROGRAM)
        programs[PERCUSSION_CHANNEL] = 0;
    SelectInstruments(d_->engine, programs);
    if (!d_->NewPlayer(d_->BaseRequest())) {
        d_->error = "Cannot play \"" + name + "\": the synthesizer has no player.";
        return false;
    }
    d_->open = true;
    d_->held = 0;
    return true;
}

void MidiPlayback::Close() {
    d_->Halt();
    d_->StopClock();
    d_->DeletePlayer();
    d_->open = false;
    d_->playing = false;
    d_->paused = false;
    d_->held = 0;
    d_->hasProgram = false;
    d_->bytes = {};
    d_->song.reset();
    d_->fileName.clear();
    d_->info = MidiFileInfo{};
}

bool MidiPlayback::IsOpen() const {
    return d_->open;
}
const std::string& MidiPlayback::FileName() const {
    return d_->fileName;
}
const std::string& MidiPlayback::Error() const {
    return d_->error;
}

std::string MidiPlayback::TakeFailure() {
    d_->Refresh();
    return std::exchange(d_->failure, std::string());
}

void MidiPlayback::Play() {
    if (!d_->open) return;
    d_->Refresh();
    const bool resuming = d_->paused;
    d_->paused = false;
    if (d_->playing) return;
    if (d_->held >= d_->info.LengthTicks) d_->held = 0; // from the end: again from the top
    if (!resuming) d_->RestartPasses();
    d_->StartAt(d_->held, !resuming);
}

void MidiPlayback::PlayFrom(int64_t tick) {
    if (!d_->open) return;
    d_->Refresh();
    d_->Halt();
    d_->paused = false;
    d_->RestartPasses();
    d_->StartAt(tick, true);
}

void MidiPlayback::Pause() {
    if (!d_->open) return;
    d_->Refresh();
    if (d_->playing) {
        d_->Halt();
        d_->paused = true;
    } else if (d_->paused) {
        Play();
    }
}

void MidiPlayback::Stop() {
    d_->Refresh();
    d_->Halt();
    d_->paused = false;
}

void MidiPlayback::Rewind() {
    Seek(d_->practice.Loop ? d_->practice.LoopFrom : 0);
}

void MidiPlayback::Seek(int64_t tick) {
    if (!d_->open) return;
    d_->Refresh();
    tick = d_->Clamp(tick);
    if (!d_->playing) {
        d_->held = tick;
        return;
    }
    const Practice& p = d_->practice;
    if (tick >= d_->program.Origin && (!p.Loop || (tick >= p.LoopFrom && tick < p.LoopTo))) {
        fluid_player_stop(d_->player);
        d_->StartPlayer(d_->program.ProgramTick(tick));
        return;
    }
    d_->Halt();
    d_->StartAt(tick, false);
}

bool MidiPlayback::IsPlaying() {
    d_->Refresh();
    return d_->playing;
}

bool MidiPlayback::IsPaused() const {
    return d_->paused;
}

int64_t MidiPlayback::Length() const {
    return d_->info.LengthTicks;
}

int64_t MidiPlayback::Position() {
    d_->Refresh();
    return d_->playing ? d_->PlayingTick() : d_->held;
}

uint32_t MidiPlayback::Division() const {
    return d_->info.Division;
}

uint32_t MidiPlayback::SequenceTempo() const {
    return d_->info.SequenceTempo();
}

double MidiPlayback::CurrentTempo() const {
    if (d_->player && d_->loaded.load(std::memory_order_acquire)) {
        const int microseconds = fluid_player_get_midi_tempo(d_->player);
        if (microseconds > 0) return MICROSECONDS_PER_MINUTE / microseconds;
    }
    return SequenceTempo() * d_->speed;
}

int64_t MidiPlayback::SynthLength() const {
    if (!d_->player || !d_->loaded.load(std::memory_order_acquire)) return 0;
    return fluid_player_get_total_ticks(d_->player);
}

bool MidiPlayback::SetSpeed(double factor) {
    if (!(factor >= MIN_SPEED && factor <= MAX_SPEED)) return false;
    d_->speed = factor;
    if (d_->player)
        fluid_player_set_tempo(d_->player, FLUID_PLAYER_TEMPO_INTERNAL, d_->EffectiveSpeed());
    return true;
}

double MidiPlayback::Speed() const {
    return d_->speed;
}

double MidiPlayback::CurrentSpeed() const {
    return d_->EffectiveSpeed();
}

double MidiPlayback::Practice::PassSpeed(int pass) const {
    const double from = std::clamp(SpeedFrom, MIN_SPEED, MAX_SPEED);
    const double to = std::clamp(SpeedTo, MIN_SPEED, MAX_SPEED);
    const double step = std::max(SpeedStep, 0.0);
    if (to <= from) return from;
    return std::min(from + step * std::max(pass, 0), to);
}

void MidiPlayback::SetPractice(const Practice& practice) {
    Practice p = practice;
    const int64_t length = d_->info.LengthTicks;
    const int64_t pastEnd =
        static_cast<int64_t>(MAX_LOOP_PAST_END_QUARTERS) * std::max<uint32_t>(d_->info.Division, 1);
    p.LoopFrom = std::clamp<int64_t>(p.LoopFrom, 0, length);
    p.LoopTo = std::clamp<int64_t>(p.LoopTo, 0, length + pastEnd);
    if (p.LoopFrom >= p.LoopTo) p.Loop = false;
    if (p.Tracks != TrackChoice::All && p.Track < 0) p.Tracks = TrackChoice::All;
    if (p == d_->practice) return;
    if (p.CountIn && !d_->practice.CountIn && d_->open) {
        // The clicks need the percussion channel's kit.
        std::array<int, CHANNELS> programs;
        programs.fill(LEAVE_PROGRAM);
        const std::array<int, CHANNELS> song = ChannelPrograms(d_->bytes);
        if (song[PERCUSSION_CHANNEL] == NO_PROGRAM) {
            programs[PERCUSSION_CHANNEL] = 0;
            SelectInstruments(d_->engine, programs);
        }
    }
    d_->Refresh();
    const bool wasPlaying = d_->playing;
    d_->Halt();
    const Practice before = std::exchange(d_->practice, p);
    // A new loop or new trainer steps begin at the first pass; the tracks heard do not.
    const bool newPasses = before.Loop != p.Loop || before.LoopFrom != p.LoopFrom ||
                           before.LoopTo != p.LoopTo || before.RaiseSpeed != p.RaiseSpeed ||
                           before.SpeedFrom != p.SpeedFrom || before.SpeedStep != p.SpeedStep ||
                           before.SpeedTo != p.SpeedTo;
    if (newPasses) d_->RestartPasses();
    if (wasPlaying) d_->StartAt(d_->held, false);
}

const MidiPlayback::Practice& MidiPlayback::CurrentPractice() const {
    return d_->practice;
}

MidiPlayback::LoopJumps MidiPlayback::LoopJumpStats() const {
    return {d_->jumps.load(), d_->lastLateMs.load(), d_->maxLateMs.load(), d_->lastPassMs.load()};
}

const Program& MidiPlayback::CurrentProgram() const {
    return d_->program;
}

MidiPlayback::Clock MidiPlayback::TimeSource() const {
    d_->Adopt();
    return d_->clock;
}
bool MidiPlayback::HasAudio() const {
    d_->Adopt();
    return d_->clock == Clock::Audio;
}
bool MidiPlayback::IsReady() const {
    return d_->Ready();
}
void MidiPlayback::WaitUntilReady() const {
    std::unique_lock<std::mutex> lock(d_->engine->mutex);
    d_->engine->finished.wait(lock,
                              [this] { return d_->Ready() && d_->engine->selecting.load() == 0; });
    lock.unlock();
    d_->Adopt();
}
bool MidiPlayback::HasSoundFont() const {
    return !SoundFont().empty();
}
const std::string& MidiPlayback::SoundFont() const {
    static const std::string none;
    return d_->Ready() ? d_->engine->soundFont : none;
}

std::vector<std::string> MidiPlayback::Notices() const {
    std::vector<std::string> notices;
    if (!d_->Ready()) return notices;
    d_->Adopt();
    if (d_->clock == Clock::System) notices.emplace_back(NO_AUDIO_NOTICE);
    const Engine& engine = *d_->engine;
    if (engine.soundFont.empty() && !engine.silent) {
        std::string tried;
        for (const std::string& path : engine.triedSoundFonts)
            tried += (tried.empty() ? "" : ", ") + path;
        std::string notice =
            NO_SOUNDFONT_NOTICE + (tried.empty() ? std::string("none named") : tried);
        if (!engine.loadFailure.empty()) notice += " (" + engine.loadFailure + ")";
        notices.push_back(notice);
    }
    return notices;
}

std::vector<std::string> MidiPlayback::SynthMessages() const {
    std::lock_guard<std::mutex> lock(messagesMutex);
    const size_t skip =
        d_->firstMessage > synthMessagesDropped ? d_->firstMessage - synthMessagesDropped : 0;
    if (skip >= synthMessages.size()) return {};
    return {synthMessages.begin() + static_cast<std::ptrdiff_t>(skip), synthMessages.end()};
}

void MidiPlayback::Advance(int milliseconds) {
    if (d_->clock != Clock::Manual || !d_->synth || milliseconds <= 0) return;
    double rate = 44100.0;
    fluid_settings_getnum(d_->settings, "synth.sample-rate", &rate);
    int64_t frames = static_cast<int64_t>(std::llround(milliseconds * rate / 1000.0));
    std::vector<float> left(RENDER_BLOCK), right(RENDER_BLOCK);
    while (frames > 0) {
        const int n = static_cast<int>(std::min<int64_t>(frames, RENDER_BLOCK));
        fluid_synth_write_float(d_->synth, n, left.data(), 0, 1, right.data(), 0, 1);
        d_->renderedFrames.fetch_add(n);
        frames -= n;
    }
}

} // namespace morvel
