#include "player/MidiPlayback.h"

#include "core/SafeOpen.h"

#include <fluidsynth.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include <unistd.h>

namespace morvel {

namespace {

constexpr size_t MAX_SYNTH_MESSAGES = 200;
constexpr int RENDER_BLOCK = 1024; // frames rendered per call on the manual clock

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

// The whole content of the regular file `path`; false with `why` set when it cannot be read
// (a FIFO or device is refused at once instead of waited on).
bool ReadRegularFile(const std::string& path, std::string& bytes, std::string& why) {
    bool refused = false;
    const int fd = OpenRegularFile(path, why, &refused);
    if (refused) why = "it " + why;
    if (fd < 0) return false;
    bytes.clear();
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            why = std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (got == 0) break;
        bytes.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    return true;
}

} // namespace

struct MidiPlayback::Impl {
    Options options;
    Clock clock = Clock::Audio;
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
    fluid_audio_driver_t* driver = nullptr; // exists only while playing on the sound card
    fluid_player_t* player = nullptr;
    std::string audioDriverName;

    std::thread soundFontLoader; // loads the SoundFont while the program starts
    std::string soundFont;
    std::vector<std::string> triedSoundFonts;
    size_t firstMessage = 0;

    bool open = false;
    std::string fileName;
    std::string bytes;
    MidiFileInfo info;
    std::string error;
    std::string failure; // a file the synthesizer refused while playing

    bool playing = false;
    bool paused = false;
    bool needsNewPlayer = false;     // FluidSynth's player ended; it cannot play again
    int64_t held = 0;                // position while not playing
    int64_t pendingSeek = -1;        // a seek FluidSynth has not applied yet
    int tickAtSeek = 0;              // FluidSynth's tick when that seek was asked for
    std::atomic<bool> loaded{false}; // FluidSynth has read the file (its tick callback ran)
    double speed = 1.0;

    ~Impl() {
        WaitForSoundFont();
        StopClock();
        DeletePlayer();
        if (synth) delete_fluid_synth(synth);
        if (settings) delete_fluid_settings(settings);
    }

    static int OnTick(void* data, int) {
        static_cast<Impl*>(data)->loaded.store(true, std::memory_order_release);
        return FLUID_OK;
    }

    fluid_audio_driver_t* OpenAudio() {
        std::vector<std::string> names;
        char* preferred = nullptr;
        if (fluid_settings_dupstr(settings, "audio.driver", &preferred) == FLUID_OK && preferred) {
            names.emplace_back(preferred);
            fluid_free(preferred);
        }
        if (std::find(names.begin(), names.end(), "pulseaudio") == names.end())
            names.emplace_back("pulseaudio");
        for (const std::string& name : names) {
            fluid_settings_setstr(settings, "audio.driver", name.c_str());
            if (fluid_audio_driver_t* opened = new_fluid_audio_driver(settings, synth)) {
                audioDriverName = name;
                return opened;
            }
        }
        return nullptr;
    }

    void UseSystemClock() {
        clock = Clock::System;
        fluid_settings_setstr(settings, "player.timing-source", "system");
    }

    // Loads the first SoundFont that loads. It runs on a thread of its own from construction,
    // since a large SoundFont takes a noticeable part of a second (FluidSynth's calls are
    // thread-safe); soundFont and triedSoundFonts are read only after WaitForSoundFont.
    void LoadSoundFont() {
        std::vector<std::string> candidates = options.SoundFonts;
        if (candidates.empty()) {
            char* configured = nullptr;
            if (fluid_settings_dupstr(settings, "synth.default-soundfont", &configured) ==
                    FLUID_OK &&
                configured) {
                if (*configured) candidates.emplace_back(configured);
                fluid_free(configured);
            }
            if (std::find(candidates.begin(), candidates.end(), DEBIAN_SOUNDFONT) ==
                candidates.end())
                candidates.emplace_back(DEBIAN_SOUNDFONT);
        }
        for (const std::string& path : candidates) {
            triedSoundFonts.push_back(path);
            if (!FileExists(path)) continue;
            if (fluid_synth_sfload(synth, path.c_str(), 1) != FLUID_FAILED) {
                soundFont = path;
                return;
            }
        }
    }

    void WaitForSoundFont() {
        if (soundFontLoader.joinable()) soundFontLoader.join();
    }

    void DeletePlayer() {
        if (!player) return;
        fluid_player_stop(player);
        delete_fluid_player(player);
        player = nullptr;
        loaded.store(false);
    }

    // A fresh FluidSynth player on the open file at tick 0. Only while no audio driver runs:
    // FluidSynth forbids deleting a player that a rendering thread may call.
    bool NewPlayer() {
        DeletePlayer();
        pendingSeek = -1;
        needsNewPlayer = false;
        player = new_fluid_player(synth);
        if (!player) return false;
        fluid_player_set_tick_callback(player, &Impl::OnTick, this);
        fluid_player_add_mem(player, bytes.data(), bytes.size());
        fluid_player_set_tempo(player, FLUID_PLAYER_TEMPO_INTERNAL, speed);
        return true;
    }

    // Starts the time that drives the player: the sound card in audio mode. False when the
    // sound card no longer opens; the player then moves to the system clock.
    void StartClock() {
        if (clock != Clock::Audio || driver) return;
        driver = OpenAudio();
        if (driver) return;
        UseSystemClock();
        NewPlayer();
    }

    void StopClock() {
        if (!driver) return;
        delete_fluid_audio_driver(driver);
        driver = nullptr;
        // Voices left sounding would go on where they stopped once the card plays again.
        fluid_synth_all_sounds_off(synth, -1);
    }

    int64_t Clamp(int64_t tick) const { return std::clamp<int64_t>(tick, 0, info.LengthTicks); }

    // FluidSynth's position while playing; a seek it has not applied yet counts as done.
    int64_t PlayingTick() {
        const int tick = fluid_player_get_current_tick(player);
        if (pendingSeek >= 0) {
            if (tick == tickAtSeek) return pendingSeek;
            pendingSeek = -1;
        }
        return Clamp(tick);
    }

    void StartPlayer(int64_t from) {
        fluid_player_seek(player, static_cast<int>(from));
        pendingSeek = from;
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

    // Notices the end of the file (or a file FluidSynth refused) while playing.
    void Refresh() {
        if (!playing || !player) return;
        const bool done = fluid_player_get_status(player) == FLUID_PLAYER_DONE;
        const int64_t tick = PlayingTick();
        if (!done && tick < info.LengthTicks) return;
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
    d_->settings = new_fluid_settings();
    if (d_->clock == Clock::Manual) {
        fluid_settings_setstr(d_->settings, "player.timing-source", "sample");
        // Time passes by rendering; effects would only cost time in tests.
        fluid_settings_setint(d_->settings, "synth.reverb.active", 0);
        fluid_settings_setint(d_->settings, "synth.chorus.active", 0);
    } else if (d_->clock == Clock::System) {
        d_->UseSystemClock();
    }
    d_->synth = new_fluid_synth(d_->settings);
    if (d_->clock == Clock::Audio) {
        // The sound card is opened while playing only; here it is tried once.
        if (fluid_audio_driver_t* probe = d_->OpenAudio())
            delete_fluid_audio_driver(probe);
        else
            d_->UseSystemClock();
    }
    if (d_->synth) d_->soundFontLoader = std::thread([impl = d_.get()] { impl->LoadSoundFont(); });
}

MidiPlayback::~MidiPlayback() = default;

bool MidiPlayback::Open(const std::string& path) {
    Close();
    std::string bytes, why;
    if (!ReadRegularFile(path, bytes, why)) {
        d_->error = "Cannot open \"" + path + "\": " + why + ".";
        return false;
    }
    return OpenBytes(bytes, path);
}

bool MidiPlayback::OpenBytes(const std::string& bytes, const std::string& name) {
    Close();
    d_->error.clear();
    d_->info = ReadMidiFileInfo(bytes);
    if (!d_->info.Valid) {
        d_->error = "Cannot play \"" + name + "\": " + d_->info.Error + ".";
        return false;
    }
    if (!d_->synth) {
        d_->error = "Cannot play \"" + name + "\": the synthesizer could not be started.";
        return false;
    }
    d_->bytes = bytes;
    d_->fileName = name;
    if (!d_->NewPlayer()) {
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
    d_->bytes.clear();
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
    d_->paused = false;
    if (d_->playing) return;
    d_->WaitForSoundFont();
    if (d_->held >= d_->info.LengthTicks) d_->held = 0; // from the end: again from the top
    if (d_->needsNewPlayer && !d_->NewPlayer()) return;
    d_->StartClock();
    d_->StartPlayer(d_->held);
    d_->playing = true;
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
    Seek(0);
}

void MidiPlayback::Seek(int64_t tick) {
    if (!d_->open) return;
    d_->Refresh();
    tick = d_->Clamp(tick);
    if (!d_->playing) {
        d_->held = tick;
        return;
    }
    fluid_player_stop(d_->player);
    d_->StartPlayer(tick);
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
    if (d_->player) fluid_player_set_tempo(d_->player, FLUID_PLAYER_TEMPO_INTERNAL, factor);
    return true;
}

double MidiPlayback::Speed() const {
    return d_->speed;
}

MidiPlayback::Clock MidiPlayback::TimeSource() const {
    return d_->clock;
}
bool MidiPlayback::HasAudio() const {
    return d_->clock == Clock::Audio;
}
bool MidiPlayback::HasSoundFont() const {
    d_->WaitForSoundFont();
    return !d_->soundFont.empty();
}
const std::string& MidiPlayback::SoundFont() const {
    d_->WaitForSoundFont();
    return d_->soundFont;
}

std::vector<std::string> MidiPlayback::Notices() const {
    std::vector<std::string> notices;
    if (d_->clock == Clock::System) notices.emplace_back(NO_AUDIO_NOTICE);
    d_->WaitForSoundFont();
    if (d_->soundFont.empty()) {
        std::string tried;
        for (const std::string& path : d_->triedSoundFonts)
            tried += (tried.empty() ? "" : ", ") + path;
        notices.push_back(NO_SOUNDFONT_NOTICE +
                          (tried.empty() ? std::string("none named") : tried));
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
        frames -= n;
    }
}

} // namespace morvel
