// The timeline reader: one pass over each track chunk, notes paired first in first out per key
// and channel through index chains, so pairing costs constant time per event.
#include "formats/MidiTimeline.h"

#include "io/ByteCursor.h"

#include <algorithm>
#include <array>
#include <memory>

namespace morvel {

namespace {

constexpr size_t HEADER_BYTES = 14;
constexpr size_t CHUNK_HEADER_BYTES = 8;
constexpr uint32_t NO_NOTE = UINT32_MAX;
constexpr int KEY_SLOTS = 16 * 128;

uint32_t Big(std::string_view bytes, size_t at, int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i)
        value = (value << 8) | static_cast<uint8_t>(bytes[at + static_cast<size_t>(i)]);
    return value;
}

// Notes still sounding, per key and channel, as chains of note indices in start order.
class PendingNotes {
  public:
    void Reset() {
        head_.fill(NO_NOTE);
        tail_.fill(NO_NOTE);
        next_.clear();
    }
    void Start(uint32_t note, int slot) {
        next_.push_back(NO_NOTE);
        if (tail_[slot] == NO_NOTE)
            head_[slot] = note;
        else
            next_[tail_[slot]] = note;
        tail_[slot] = note;
    }
    // The oldest sounding note of the slot, taken off its chain; NO_NOTE when none.
    uint32_t Stop(int slot) {
        const uint32_t note = head_[slot];
        if (note == NO_NOTE) return NO_NOTE;
        head_[slot] = next_[note];
        if (head_[slot] == NO_NOTE) tail_[slot] = NO_NOTE;
        return note;
    }

  private:
    std::array<uint32_t, KEY_SLOTS> head_{};
    std::array<uint32_t, KEY_SLOTS> tail_{};
    std::vector<uint32_t> next_; // by note index
};

class TrackReader {
  public:
    TrackReader(MidiTimeline& song, PendingNotes& pending) : song_(song), pending_(pending) {}

    // Reads one chunk into `track`; false with the song's Error set when it cannot be read.
    bool Read(std::string_view chunk, TimelineTrack& track) {
        pending_.Reset();
        ByteCursor in(chunk);
        uint64_t tick = 0;
        uint8_t running = 0;
        while (!in.AtEnd()) {
            uint32_t delta = 0;
            if (!in.VarLen(delta)) return Fail("a track ends inside a delta time");
            tick += delta;
            uint8_t status = 0;
            if (!in.Byte(status)) return Fail("a track ends after a delta time");
            uint8_t first = 0;
            if (status < 0x80) {
                if (running == 0) return Fail("a data byte without a status byte");
                first = status;
                status = running;
            } else if (status < 0xF0) {
                running = status;
                if (!in.Byte(first)) return Fail("a track ends inside an event");
            }
            if (status < 0xF0) {
                const uint8_t kind = status & 0xF0;
                uint8_t second = 0;
                if (kind != 0xC0 && kind != 0xD0 && !in.Byte(second))
                    return Fail("a track ends inside an event");
                ChannelEvent(track, tick, status, first, second);
                continue;
            }
            if (status == 0xF0 || status == 0xF7) {
                uint32_t length = 0;
                std::string_view body;
                if (!in.VarLen(length) || !in.Take(length, body))
                    return Fail("a track ends inside a system-exclusive event");
                continue;
            }
            if (status != 0xFF) return Fail("an event no MIDI file may hold");
            uint8_t type = 0;
            uint32_t length = 0;
            std::string_view body;
            if (!in.Byte(type) || !in.VarLen(length) || !in.Take(length, body))
                return Fail("a track ends inside a meta event");
            if (type == 0x2F) break;
            MetaEvent(track, tick, type, body);
        }
        track.EndTick = tick;
        // Notes still sounding end with the track.
        for (TimelineNote& note : track.Notes)
            if (note.End == NO_END) note.End = tick;
        return true;
    }

  private:
    static constexpr uint64_t NO_END = UINT64_MAX;

    bool Fail(const char* why) {
        song_.Error = why;
        return false;
    }

    void ChannelEvent(TimelineTrack& track, uint64_t tick, uint8_t status, uint8_t first,
                      uint8_t second) {
        const uint8_t kind = status & 0xF0;
        const uint8_t channel = status & 0x0F;
        const int slot = channel * 128 + (first & 0x7F);
        if (kind == 0x90 && second != 0) {
            pending_.Start(static_cast<uint32_t>(track.Notes.size()), slot);
            track.Notes.push_back({tick, NO_END, static_cast<uint8_t>(first & 0x7F), channel,
                                   second});
        } else if (kind == 0x80 || kind == 0x90) {
            const uint32_t note = pending_.Stop(slot);
            if (note != NO_NOTE) track.Notes[note].End = tick;
        } else if (kind == 0xC0 && track.Program < 0) {
            track.Program = first & 0x7F;
        }
    }

    void MetaEvent(TimelineTrack& track, uint64_t tick, uint8_t type, std::string_view body) {
        switch (type) {
        case 0x03:
            if (track.Name.empty()) track.Name = std::string(body);
            break;
        case 0x51:
            if (body.size() == 3) {
                const uint32_t tempo = Big(body, 0, 3);
                if (tempo > 0) song_.Tempos.push_back({tick, tempo});
            }
            break;
        case 0x58:
            if (body.size() >= 2 && body[0] != 0 && static_cast<uint8_t>(body[1]) < 32)
                song_.TimeSignatures.push_back(
                    {tick, static_cast<uint8_t>(body[0]), 1u << static_cast<uint8_t>(body[1])});
            break;
        case 0x59:
            if (body.size() >= 2) {
                const int8_t fifths = static_cast<int8_t>(body[0]);
                if (fifths >= -7 && fifths <= 7)
                    song_.KeySignatures.push_back({tick, fifths, body[1] != 0});
            }
            break;
        default:
            break;
        }
    }

    MidiTimeline& song_;
    PendingNotes& pending_;
};

template <typename Change> void SortByTick(std::vector<Change>& changes) {
    std::stable_sort(changes.begin(), changes.end(),
                     [](const Change& a, const Change& b) { return a.Tick < b.Tick; });
}

} // namespace

MidiTimeline ReadMidiTimeline(std::string_view bytes) {
    MidiTimeline song;
    if (bytes.size() < HEADER_BYTES || bytes.substr(0, 4) != "MThd") {
        song.Error = "not a Standard MIDI File";
        return song;
    }
    const uint32_t headerLength = Big(bytes, 4, 4);
    if (headerLength < 6 || headerLength > bytes.size() - CHUNK_HEADER_BYTES) {
        song.Error = "the file header is damaged";
        return song;
    }
    song.Format = static_cast<int>(Big(bytes, 8, 2));
    const uint32_t trackCount = Big(bytes, 10, 2);
    song.Division = Big(bytes, 12, 2);
    if (song.Division == 0) {
        song.Error = "the file header gives no division";
        return song;
    }
    // A time-code division (top bit set) counts frames; it is read as plain ticks.
    size_t at = CHUNK_HEADER_BYTES + headerLength;
    auto pending = std::make_unique<PendingNotes>();
    TrackReader reader(song, *pending);
    while (song.Tracks.size() < trackCount) {
        if (bytes.size() - at < CHUNK_HEADER_BYTES) {
            song.Error = "the file ends before its last track";
            return song;
        }
        const std::string_view id = bytes.substr(at, 4);
        const uint32_t length = Big(bytes, at + 4, 4);
        at += CHUNK_HEADER_BYTES;
        if (length > bytes.size() - at) {
            song.Error = "the file ends inside a track";
            return song;
        }
        const std::string_view chunk = bytes.substr(at, length);
        at += length;
        if (id != "MTrk") continue; // chunks of other kinds are skipped
        song.Tracks.emplace_back();
        if (!reader.Read(chunk, song.Tracks.back())) return song;
        song.LengthTicks = std::max(song.LengthTicks, song.Tracks.back().EndTick);
    }
    SortByTick(song.Tempos);
    SortByTick(song.TimeSignatures);
    SortByTick(song.KeySignatures);
    song.Valid = true;
    return song;
}

} // namespace morvel
