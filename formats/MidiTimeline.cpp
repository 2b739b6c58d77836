// The timeline reader: one walk over each track chunk (formats/EventWalker.h), notes paired
// first in first out per key and channel through index chains, so pairing costs constant time
// per event.
#include "formats/MidiTimeline.h"

#include "formats/BlockArray.h"
#include "formats/EventWalker.h"

#include <algorithm>
#include <array>
#include <memory>

namespace morvel {

namespace {

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

    // Calls `visit(note)` for every note still sounding.
    template <typename Visit> void ForEachSounding(Visit&& visit) const {
        for (int slot = 0; slot < KEY_SLOTS; ++slot)
            for (uint32_t note = head_[slot]; note != NO_NOTE; note = next_[note])
                visit(note);
    }

  private:
    std::array<uint32_t, KEY_SLOTS> head_{};
    std::array<uint32_t, KEY_SLOTS> tail_{};
    BlockArray<uint32_t> next_; // by note index
};

// Where a track's notes go: kept in the track (ReadMidiTimeline), handed on one by one
// (ForEachTrackNote) or nowhere. Start gives the note its index; End comes once per note.
class NoteSink {
  public:
    virtual ~NoteSink() = default;
    // False when the notes go nowhere: they need not be paired then.
    virtual bool Pairs() const { return true; }
    virtual void Start(TimelineTrack& track, const TimelineNote& note) = 0;
    virtual void End(TimelineTrack& track, uint32_t note, uint64_t tick) = 0;
};

class KeptNotes final : public NoteSink {
  public:
    void Start(TimelineTrack& track, const TimelineNote& note) override {
        track.Notes.push_back(note);
    }
    void End(TimelineTrack& track, uint32_t note, uint64_t tick) override {
        track.Notes[note].End = tick;
    }
};

class NoNotes final : public NoteSink {
  public:
    bool Pairs() const override { return false; }
    void Start(TimelineTrack&, const TimelineNote&) override {}
    void End(TimelineTrack&, uint32_t, uint64_t) override {}
};

class TrackReader {
  public:
    TrackReader(MidiTimeline& song, PendingNotes& pending, NoteSink& sink)
        : song_(song), pending_(pending), sink_(sink), pairs_(sink.Pairs()) {}

    // Reads one chunk into `track`; false with the song's Error set when it cannot be read.
    bool Read(std::string_view chunk, TimelineTrack& track) {
        pending_.Reset();
        notes_ = 0;
        uint64_t end = 0;
        const bool read = ForEachEvent(
            chunk,
            [&](const MidiEvent& event) {
                if (event.IsChannel())
                    ChannelEvent(track, event);
                else if (event.IsMeta())
                    MetaEvent(track, event);
            },
            end, song_.Error);
        if (!read) return false;
        track.EndTick = end;
        // Notes still sounding end with the track.
        pending_.ForEachSounding([&](uint32_t note) { sink_.End(track, note, end); });
        return true;
    }

  private:
    void ChannelEvent(TimelineTrack& track, const MidiEvent& event) {
        const uint8_t key = event.Data1 & 0x7F;
        const int slot = event.Channel() * 128 + key;
        if (event.Kind() == STATUS_NOTE_ON && event.Data2 != 0) {
            if (!pairs_) return;
            pending_.Start(notes_++, slot);
            sink_.Start(track, {event.Tick, event.Tick, key, event.Channel(), event.Data2});
        } else if (event.Kind() == STATUS_NOTE_OFF || event.Kind() == STATUS_NOTE_ON) {
            if (!pairs_) return;
            const uint32_t note = pending_.Stop(slot);
            if (note != NO_NOTE) sink_.End(track, note, event.Tick);
        } else if (event.Kind() == STATUS_PROGRAM_CHANGE && track.Program < 0) {
            track.Program = event.Data1 & 0x7F;
        }
    }

    void MetaEvent(TimelineTrack& track, const MidiEvent& event) {
        const std::string_view body = event.Body;
        const uint64_t tick = event.Tick;
        switch (event.Meta) {
        case MetaType::TrackName:
            if (track.Name.empty()) track.Name = std::string(body);
            break;
        case MetaType::Tempo:
            if (body.size() == 3) {
                const uint32_t tempo = Big(body, 0, 3);
                if (tempo > 0) song_.Tempos.push_back({tick, tempo});
            }
            break;
        case MetaType::TimeSignature:
            if (body.size() >= 2 && body[0] != 0 && static_cast<uint8_t>(body[1]) < 32)
                song_.TimeSignatures.push_back(
                    {tick, static_cast<uint8_t>(body[0]), 1u << static_cast<uint8_t>(body[1])});
            break;
        case MetaType::KeySignature:
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
    NoteSink& sink_;
    const bool pairs_;
    uint32_t notes_ = 0; // note-ons of the track so far
};

template <typename Change> void SortByTick(std::vector<Change>& changes) {
    std::stable_sort(changes.begin(), changes.end(),
                     [](const Change& a, const Change& b) { return a.Tick < b.Tick; });
}

// The timeline of `bytes`, each track's notes going to `sink`.
MidiTimeline ReadTimeline(std::string_view bytes, NoteSink& sink) {
    MidiTimeline song;
    MidiFileHeader header;
    auto pending = std::make_unique<PendingNotes>();
    TrackReader reader(song, *pending, sink);
    const bool read =
        ForEachTrack(bytes, header, song.Error, [&](uint32_t, std::string_view chunk) {
            song.Tracks.emplace_back();
            if (!reader.Read(chunk, song.Tracks.back())) return false;
            song.Tracks.back().Notes.shrink_to_fit(); // held as long as the song is open
            song.LengthTicks = std::max(song.LengthTicks, song.Tracks.back().EndTick);
            return true;
        });
    song.Format = header.Format;
    song.Division = header.Division;
    if (!read) return song;
    SortByTick(song.Tempos);
    SortByTick(song.TimeSignatures);
    SortByTick(song.KeySignatures);
    song.Valid = true;
    return song;
}

class HandedOnNotes final : public NoteSink {
  public:
    HandedOnNotes(const std::function<void(uint32_t, const TimelineNote&)>& onStart,
                  const std::function<void(uint32_t, uint64_t)>& onEnd)
        : onStart_(onStart), onEnd_(onEnd) {}
    void Start(TimelineTrack&, const TimelineNote& note) override { onStart_(started_++, note); }
    void End(TimelineTrack&, uint32_t note, uint64_t tick) override { onEnd_(note, tick); }

  private:
    const std::function<void(uint32_t, const TimelineNote&)>& onStart_;
    const std::function<void(uint32_t, uint64_t)>& onEnd_;
    uint32_t started_ = 0;
};

} // namespace

MidiTimeline ReadMidiTimeline(std::string_view bytes) {
    KeptNotes kept;
    return ReadTimeline(bytes, kept);
}

MidiTimeline ReadMidiTimelineWithoutNotes(std::string_view bytes) {
    NoNotes none;
    return ReadTimeline(bytes, none);
}

bool ForEachTrackNote(std::string_view bytes, uint32_t track,
                      const std::function<void(uint32_t index, const TimelineNote& note)>& onStart,
                      const std::function<void(uint32_t index, uint64_t end)>& onEnd) {
    MidiTimeline song; // gathers the conductor events of the one chunk, which go unused
    MidiFileHeader header;
    auto pending = std::make_unique<PendingNotes>();
    HandedOnNotes sink(onStart, onEnd);
    TrackReader reader(song, *pending, sink);
    bool found = false;
    ForEachTrack(bytes, header, song.Error, [&](uint32_t index, std::string_view chunk) {
        if (index < track) return true;
        TimelineTrack read;
        found = reader.Read(chunk, read);
        return false;
    });
    return found;
}

} // namespace morvel
