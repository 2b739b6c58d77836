#include "playback/PracticeProgram.h"

#include "formats/EventWalker.h"

#include <algorithm>

namespace morvel {

namespace {

constexpr uint8_t META = STATUS_META;
constexpr uint8_t META_END_OF_TRACK = static_cast<uint8_t>(MetaType::EndOfTrack);
constexpr uint8_t META_TEMPO = static_cast<uint8_t>(MetaType::Tempo);
constexpr uint8_t META_TIME_SIGNATURE = static_cast<uint8_t>(MetaType::TimeSignature);
constexpr uint8_t NOTE_OFF = STATUS_NOTE_OFF;
constexpr uint8_t NOTE_ON = STATUS_NOTE_ON;
constexpr uint8_t KEY_PRESSURE = STATUS_KEY_PRESSURE;
constexpr int MAX_TRACKS = 128; // FluidSynth's player takes no more
constexpr uint8_t CLICK_VELOCITY_FIRST = 110;
constexpr uint8_t CLICK_VELOCITY_OTHERS = 80;

struct Event {
    int64_t Tick = 0;
    std::string Bytes; // complete: status byte first, no running status
    uint8_t Status() const { return static_cast<uint8_t>(Bytes[0]); }
    uint8_t MetaType() const { return Status() == META ? static_cast<uint8_t>(Bytes[1]) : 0; }
    bool IsNote() const {
        const uint8_t kind = Status() & 0xF0;
        return Status() < 0xF0 && (kind == NOTE_OFF || kind == NOTE_ON || kind == KEY_PRESSURE);
    }
    bool IsNoteOff() const {
        const uint8_t kind = Status() & 0xF0;
        return Status() < 0xF0 &&
               (kind == NOTE_OFF || (kind == NOTE_ON && static_cast<uint8_t>(Bytes[2]) == 0));
    }
};

struct Song {
    int Format = 1;
    uint16_t Division = 96;
    std::vector<std::vector<Event>> Tracks;
    std::vector<int64_t> Ends; // tick of each track's end: its end-of-track event or last event
};

// The event as a complete message: status byte first, no running status.
Event ToEvent(const MidiEvent& e) {
    Event event;
    event.Tick = static_cast<int64_t>(e.Tick);
    event.Bytes.push_back(static_cast<char>(e.Status));
    if (e.IsChannel()) {
        event.Bytes.push_back(static_cast<char>(e.Data1));
        if (ChannelDataBytes(e.Status) == 2) event.Bytes.push_back(static_cast<char>(e.Data2));
    } else {
        if (e.IsMeta()) event.Bytes.push_back(static_cast<char>(e.Meta));
        event.Bytes.append(e.Body);
    }
    return event;
}

bool ReadSong(std::string_view file, Song& song, std::string& why) {
    MidiFileHeader header;
    const bool read = ForEachTrack(file, header, why, [&](uint32_t, std::string_view chunk) {
        song.Tracks.emplace_back();
        std::vector<Event>& events = song.Tracks.back();
        uint64_t end = 0;
        const bool walked = ForEachEvent(
            chunk, [&](const MidiEvent& e) { events.push_back(ToEvent(e)); }, end, why);
        song.Ends.push_back(static_cast<int64_t>(end));
        return walked;
    });
    song.Format = header.Format;
    song.Division = static_cast<uint16_t>(header.Division);
    return read;
}

void PutNumber(std::string& out, uint32_t value, int bytes) {
    for (int s = 8 * (bytes - 1); s >= 0; s -= 8)
        out.push_back(static_cast<char>((value >> s) & 0xFF));
}

void PutVarLen(std::string& out, uint64_t value) {
    value = std::min<uint64_t>(value, 0x0FFFFFFF);
    char groups[4];
    int n = 0;
    do {
        groups[n++] = static_cast<char>(value & 0x7F);
        value >>= 7;
    } while (value && n < 4);
    while (n-- > 0)
        out.push_back(static_cast<char>(groups[n] | (n > 0 ? 0x80 : 0)));
}

// Writes `events` (ordered by tick) as one track chunk ending at `endTick` or at its last event.
void PutTrack(std::string& out, const std::vector<Event>& events, int64_t endTick) {
    std::string body;
    int64_t at = 0;
    for (const Event& e : events) {
        PutVarLen(body, static_cast<uint64_t>(e.Tick - at));
        at = e.Tick;
        if (e.Status() == META || e.Status() == STATUS_SYSEX ||
            e.Status() == STATUS_SYSEX_CONTINUATION) {
            body.push_back(e.Bytes[0]);
            size_t from = 1;
            if (e.Status() == META) body.push_back(e.Bytes[from++]);
            PutVarLen(body, e.Bytes.size() - from);
            body.append(e.Bytes, from);
        } else {
            body += e.Bytes;
        }
    }
    PutVarLen(body, static_cast<uint64_t>(std::max<int64_t>(endTick - at, 0)));
    body += {static_cast<char>(META), static_cast<char>(META_END_OF_TRACK), 0};
    out += "MTrk";
    PutNumber(out, static_cast<uint32_t>(body.size()), 4);
    out += body;
}

// The last event of `type` at or before `tick` over all tracks; later tracks win a tie, as
// they are played later at the same tick.
const Event* LastMetaAtOrBefore(const Song& song, uint8_t type, int64_t tick) {
    const Event* found = nullptr;
    for (const auto& track : song.Tracks)
        for (const Event& e : track) {
            if (e.Tick > tick) break;
            if (e.MetaType() == type && (!found || e.Tick >= found->Tick)) found = &e;
        }
    return found;
}

Event MakeEvent(int64_t tick, std::initializer_list<uint8_t> bytes) {
    Event e;
    e.Tick = tick;
    for (uint8_t b : bytes)
        e.Bytes.push_back(static_cast<char>(b));
    return e;
}

} // namespace

std::vector<Click> CountInClicks(uint32_t division, int numerator, int denominator) {
    std::vector<Click> clicks;
    if (numerator < 1 || denominator < 1 || division == 0) return clicks;
    const int64_t beat = 4 * static_cast<int64_t>(division) / denominator;
    if (beat < 1) return clicks;
    for (int i = 0; i < numerator; ++i) {
        clicks.push_back({i * beat, i == 0 ? SIDE_STICK : CLOSED_HI_HAT,
                          i == 0 ? CLICK_VELOCITY_FIRST : CLICK_VELOCITY_OTHERS,
                          std::max<int64_t>(beat / 2, 1)});
    }
    return clicks;
}

std::array<int, CHANNELS> ChannelPrograms(std::string_view file) {
    constexpr uint8_t PROGRAM_CHANGE = STATUS_PROGRAM_CHANGE;
    std::array<int, CHANNELS> programs;
    programs.fill(NO_PROGRAM);
    Song song;
    std::string why;
    if (!ReadSong(file, song, why)) return programs;
    std::array<int64_t, CHANNELS> firstChange;
    firstChange.fill(INT64_MAX);
    std::array<bool, CHANNELS> notes{};
    for (const auto& track : song.Tracks)
        for (const Event& e : track) {
            if (e.Status() >= 0xF0) continue;
            const int channel = e.Status() & 0x0F;
            if ((e.Status() & 0xF0) == PROGRAM_CHANGE && e.Tick < firstChange[channel]) {
                firstChange[channel] = e.Tick;
                programs[channel] = static_cast<uint8_t>(e.Bytes[1]);
            }
            if (e.IsNote()) notes[channel] = true;
        }
    for (int c = 0; c < CHANNELS; ++c) {
        if (!notes[c])
            programs[c] = NO_PROGRAM;
        else if (programs[c] == NO_PROGRAM)
            programs[c] = 0;
    }
    return programs;
}

bool BuildProgram(std::string_view file, const ProgramRequest& request, Program& program,
                  std::string& why) {
    Song song;
    if (!ReadSong(file, song, why)) return false;
    program = Program{};
    if (request.Tracks == TrackChoice::All && request.Origin <= 0 && !request.CountIn &&
        request.LoopEnd < 0) {
        program.Bytes = std::string(file); // nothing to change: the file as it is
        return true;
    }
    program.Origin = std::max<int64_t>(request.Origin, 0);

    const Event* signature = LastMetaAtOrBefore(song, META_TIME_SIGNATURE, program.Origin);
    if (signature && signature->Bytes.size() >= 4) {
        program.Numerator = static_cast<uint8_t>(signature->Bytes[2]);
        const int exponent = static_cast<uint8_t>(signature->Bytes[3]);
        program.Denominator = exponent < 8 ? 1 << exponent : 0;
    }
    std::vector<Click> clicks;
    if (request.CountIn)
        clicks = CountInClicks(song.Division, program.Numerator, program.Denominator);
    if (!clicks.empty())
        program.Lead = static_cast<int64_t>(clicks.size()) *
                       (4 * static_cast<int64_t>(song.Division) / program.Denominator);
    if (request.LoopEnd >= 0)
        program.End = program.ProgramTick(std::max(request.LoopEnd, program.Origin));

    // The extra track carries the clicks, the tempo and time signature in force at Origin,
    // and, for a loop, keeps the player going past the loop's end until it jumps back.
    const bool extra = (program.Origin > 0 || !clicks.empty() || program.End >= 0) &&
                       song.Tracks.size() < MAX_TRACKS;
    std::vector<Event> extraEvents;
    if (extra && program.Origin > 0) {
        for (uint8_t type : {META_TEMPO, META_TIME_SIGNATURE})
            if (const Event* e = LastMetaAtOrBefore(song, type, program.Origin)) {
                Event copy = *e;
                copy.Tick = 0;
                extraEvents.push_back(copy);
            }
    }
    for (const Click& c : clicks) {
        const uint8_t key = static_cast<uint8_t>(c.Key);
        extraEvents.push_back(MakeEvent(c.Tick, {static_cast<uint8_t>(NOTE_ON | PERCUSSION_CHANNEL),
                                                 key, static_cast<uint8_t>(c.Velocity)}));
        extraEvents.push_back(MakeEvent(
            c.Tick + c.Length, {static_cast<uint8_t>(NOTE_OFF | PERCUSSION_CHANNEL), key, 0}));
    }
    std::stable_sort(extraEvents.begin(), extraEvents.end(),
                     [](const Event& a, const Event& b) { return a.Tick < b.Tick; });

    std::string tracks;
    for (size_t i = 0; i < song.Tracks.size(); ++i) {
        const bool shown = static_cast<int>(i) == request.Track;
        const bool heard =
            request.Tracks == TrackChoice::All || (request.Tracks == TrackChoice::Only) == shown;
        std::vector<Event> kept;
        for (const Event& e : song.Tracks[i]) {
            if (!heard && e.IsNote()) continue;
            if (request.LoopEnd >= 0 && e.Tick >= request.LoopEnd &&
                !(e.Tick == request.LoopEnd && e.IsNoteOff()))
                continue;
            Event copy = e;
            if (e.Tick < program.Origin) {
                // Only the state reaches Origin; the extra track carries tempo and signature.
                if (e.IsNote() ||
                    (extra && (e.MetaType() == META_TEMPO || e.MetaType() == META_TIME_SIGNATURE)))
                    continue;
                copy.Tick = 0;
            } else {
                copy.Tick = program.ProgramTick(e.Tick);
            }
            kept.push_back(std::move(copy));
        }
        int64_t end = song.Ends[i];
        if (request.LoopEnd >= 0) end = std::min(end, request.LoopEnd);
        end = end < program.Origin ? 0 : program.ProgramTick(end);
        PutTrack(tracks, kept, std::max(end, kept.empty() ? 0 : kept.back().Tick));
    }
    if (extra) {
        // One quarter note past the loop's end: the player is still going when it jumps back.
        const int64_t end =
            std::max(program.Lead, program.End >= 0 ? program.End + song.Division : 0);
        PutTrack(tracks, extraEvents, end);
    }

    program.Bytes = "MThd";
    PutNumber(program.Bytes, 6, 4);
    PutNumber(program.Bytes, extra || song.Format != 0 ? 1 : 0, 2);
    PutNumber(program.Bytes, static_cast<uint32_t>(song.Tracks.size() + (extra ? 1 : 0)), 2);
    PutNumber(program.Bytes, song.Division, 2);
    program.Bytes += tracks;
    return true;
}

} // namespace morvel
