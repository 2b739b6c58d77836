// Building the quantised score. Works in three steps:
// 1. the measures: from the conductor map, each measure with its span in ticks and in
//    divisions (DIVISIONS per quarter), its beats (quarters, the last one possibly shorter);
// 2. per exported track, the notes with their strings and frets (from the columns of the text
//    tablature) and their quantised onsets and ends, beat grids chosen per beat;
// 3. per measure, the chords and rests cut into beats that one note value (dotted or in a
//    triplet) can show.
#include "formats/Score.h"

#include "core/Chords.h"
#include "core/Conversion.h"
#include "core/Placement.h"
#include "formats/MidiTimeline.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace morvel {

namespace {

constexpr uint32_t DIVISIONS = 12; // per quarter: sixteenths are 3, eighth triplets 4
constexpr uint32_t STRAIGHT_STEP = 3;
constexpr uint32_t TRIPLET_STEP = 4;
// Bounds on the measures a damaged file could ask for: at most MAX_BEATS beats, and no more
// than BEATS_PER_NOTE per note past the first FREE_BEATS, so the text stays in proportion to
// the notes.
constexpr uint64_t MAX_BEATS = 4'000'000;
constexpr uint64_t FREE_BEATS = 100'000;
constexpr uint64_t BEATS_PER_NOTE = 64;
constexpr int DRUM_CHANNEL = 9;
constexpr uint32_t DEFAULT_TEMPO = 500000;

struct Measure {
    double StartTick = 0;
    double Ticks = 0;
    uint64_t StartDiv = 0;
    uint32_t Divs = 0;
    uint64_t FirstBeat = 0;
    uint32_t Numerator = 4;
    uint32_t Denominator = 4;
    uint32_t Beats() const { return (Divs + DIVISIONS - 1) / DIVISIONS; }
    double BeatTicks() const { return Ticks * DIVISIONS / Divs; }
    uint32_t BeatDivs(uint32_t k) const { return std::min(DIVISIONS, Divs - k * DIVISIONS); }
};

uint32_t MeasureDivs(double quarters) {
    const double divs = std::round(quarters * DIVISIONS / STRAIGHT_STEP) * STRAIGHT_STEP;
    if (!(divs >= STRAIGHT_STEP)) return STRAIGHT_STEP;
    return divs > 1e6 ? 1'000'000 - 1'000'000 % STRAIGHT_STEP : static_cast<uint32_t>(divs);
}

// The measures of the song, from tick 0 on.
class Bars {
  public:
    // Measures from the time-signature changes until one holds `lastTick`; false when that
    // would take more than MAX_BEATS beats.
    bool Build(const std::vector<TimeSignatureChange>& changes, uint32_t division,
               uint64_t lastTick, uint64_t maxBeats) {
        maxBeats_ = std::min(maxBeats, MAX_BEATS);
        size_t next = 0;
        uint32_t num = 4, den = 4;
        double tick = 0;
        while (true) {
            while (next < changes.size() && static_cast<double>(changes[next].Tick) <= tick) {
                num = changes[next].Numerator;
                den = changes[next].Denominator;
                ++next;
            }
            double ticks = double(division) * 4.0 * num / den;
            uint32_t divs = MeasureDivs(4.0 * num / den);
            if (next < changes.size() && static_cast<double>(changes[next].Tick) < tick + ticks) {
                // A change inside a measure ends that measure early.
                ticks = static_cast<double>(changes[next].Tick) - tick;
                divs = MeasureDivs(ticks / division);
            }
            if (!Add(tick, ticks, divs, num, den)) return false;
            tick += ticks;
            if (tick >= static_cast<double>(lastTick)) return true;
        }
    }
    // More measures like the last until `div` lies inside the song.
    bool ExtendTo(uint64_t div) {
        while (EndDiv() < div) {
            const Measure last = list_.back();
            if (!Add(last.StartTick + last.Ticks, last.Ticks, last.Divs, last.Numerator,
                     last.Denominator))
                return false;
        }
        return true;
    }

    const std::vector<Measure>& List() const { return list_; }
    uint64_t EndDiv() const { return list_.back().StartDiv + list_.back().Divs; }
    uint64_t BeatCount() const { return list_.back().FirstBeat + list_.back().Beats(); }

    size_t AtTick(double tick) const {
        auto it = std::upper_bound(list_.begin(), list_.end(), tick,
                                   [](double t, const Measure& m) { return t < m.StartTick; });
        return it == list_.begin() ? 0 : static_cast<size_t>(it - list_.begin()) - 1;
    }
    size_t AtDiv(uint64_t div) const {
        auto it = std::upper_bound(list_.begin(), list_.end(), div,
                                   [](uint64_t d, const Measure& m) { return d < m.StartDiv; });
        return it == list_.begin() ? 0 : static_cast<size_t>(it - list_.begin()) - 1;
    }

  private:
    bool Add(double tick, double ticks, uint32_t divs, uint32_t num, uint32_t den) {
        Measure m;
        m.StartTick = tick;
        m.Ticks = ticks;
        m.Divs = divs;
        m.Numerator = num;
        m.Denominator = den;
        if (!list_.empty()) {
            m.StartDiv = EndDiv();
            m.FirstBeat = BeatCount();
        }
        if (m.FirstBeat + m.Beats() > maxBeats_) return false;
        list_.push_back(m);
        return true;
    }

    uint64_t maxBeats_ = MAX_BEATS;
    std::vector<Measure> list_;
};

// Per-beat choice between the straight and the triplet grid, and the snapping itself.
class Quantiser {
  public:
    explicit Quantiser(const Bars& bars) : bars_(bars) {}

    void Reset() {
        const size_t beats = static_cast<size_t>(bars_.BeatCount());
        straightError_.assign(beats, 0.0f);
        tripletError_.assign(beats, 0.0f);
        triplet_.assign(beats, 0);
    }
    void Observe(uint64_t tick) {
        const Place p = Locate(static_cast<double>(tick));
        straightError_[p.Beat] += static_cast<float>(Snap(p, false).Error);
        // A beat shorter than a quarter has no triplet grid.
        tripletError_[p.Beat] += p.Divs == DIVISIONS ? static_cast<float>(Snap(p, true).Error)
                                                     : std::numeric_limits<float>::infinity();
    }
    void Decide() {
        for (size_t b = 0; b < triplet_.size(); ++b)
            triplet_[b] = tripletError_[b] < straightError_[b] ? 1 : 0;
        straightError_ = {};
        tripletError_ = {};
    }
    // The grid position of `tick` in divisions; `shift` grows to the distance moved.
    uint64_t Quantise(uint64_t tick, uint64_t& shift) const {
        const Place p = Locate(static_cast<double>(tick));
        const Snapped s = Snap(p, triplet_[p.Beat] != 0);
        shift = std::max<uint64_t>(shift, static_cast<uint64_t>(std::llround(s.Error)));
        return s.Div;
    }
    bool IsTriplet(uint64_t beat) const { return beat < triplet_.size() && triplet_[beat]; }
    uint64_t BeatCount() const { return bars_.BeatCount(); }
    // The next grid position after `div`.
    uint64_t NextGridPoint(uint64_t div) const {
        const Measure& m = bars_.List()[bars_.AtDiv(div)];
        if (div >= m.StartDiv + m.Divs) return div + STRAIGHT_STEP;
        const uint32_t k = static_cast<uint32_t>(div - m.StartDiv) / DIVISIONS;
        const uint64_t beatStart = m.StartDiv + uint64_t(k) * DIVISIONS;
        const uint32_t step = IsTriplet(m.FirstBeat + k) ? TRIPLET_STEP : STRAIGHT_STEP;
        const uint64_t rel = div - beatStart;
        return beatStart + std::min<uint64_t>(m.BeatDivs(k), (rel / step + 1) * step);
    }

  private:
    struct Place {
        const Measure* M;
        uint32_t K;      // beat in the measure
        size_t Beat;     // beat in the song
        uint32_t Divs;   // divisions of the beat
        double Offset;   // ticks from the beat's start
        double Length;   // ticks of the beat
    };
    struct Snapped {
        uint64_t Div;
        double Error;
    };

    Place Locate(double tick) const {
        const Measure& m = bars_.List()[bars_.AtTick(tick)];
        const double beatTicks = m.BeatTicks();
        const uint32_t beats = m.Beats();
        double beat = std::floor((tick - m.StartTick) / beatTicks);
        const uint32_t k = beat < 0 ? 0 : beat >= beats ? beats - 1 : static_cast<uint32_t>(beat);
        const uint32_t divs = m.BeatDivs(k);
        const double start = m.StartTick + k * beatTicks;
        return {&m, k, static_cast<size_t>(m.FirstBeat + k), divs, tick - start,
                beatTicks * divs / DIVISIONS};
    }
    static Snapped Snap(const Place& p, bool triplet) {
        const uint32_t step = triplet ? TRIPLET_STEP : STRAIGHT_STEP;
        const uint32_t points = p.Divs / step;
        const double grid = p.Length / points;
        double j = std::round(p.Offset / grid);
        j = std::clamp(j, 0.0, double(points));
        const uint64_t div = p.M->StartDiv + uint64_t(p.K) * DIVISIONS +
                             static_cast<uint64_t>(j) * step;
        return {div, std::fabs(p.Offset - j * grid)};
    }

    const Bars& bars_;
    std::vector<float> straightError_;
    std::vector<float> tripletError_;
    std::vector<uint8_t> triplet_;
};

// One note as placed, in divisions from the start of the song.
struct PlacedNote {
    uint32_t Start = 0; // the song has at most MAX_BEATS beats
    uint32_t End = 0;
    uint32_t Column = 0; // note column of the text tablature
    int Pitch = 0;       // sounding MIDI pitch
    uint8_t String = NO_STRING;
    uint8_t Fret = 0;
    uint8_t Velocity = 0;
};

struct Chord {
    uint32_t Start = 0;
    uint32_t End = 0;
    uint32_t First = 0; // index of its first note
    uint32_t Count = 0;
};

struct PartNotes {
    std::vector<PlacedNote> Notes;
    std::vector<Chord> Chords;
    std::vector<TabColumn> Columns; // note columns of the text tablature, in order
    std::vector<uint8_t> TripletBeats;
};

// A stretch of one measure that one note value shows.
struct Piece {
    uint32_t Start = 0; // divisions from the measure's start
    uint32_t Length = 0;
    int64_t Chord = -1; // -1: a rest
    bool TieFromPrevious = false;
    bool TieToNext = false;
    bool Triplet = false;
    bool TupletStart = false;
    bool TupletStop = false;
    bool WholeMeasureRest = false;
};

struct StraightValue {
    uint32_t Length;
    NoteValue Value;
    uint8_t Dots;
};
constexpr StraightValue STRAIGHT_VALUES[] = {
    {48, NoteValue::Whole, 0},   {36, NoteValue::Half, 1},    {24, NoteValue::Half, 0},
    {18, NoteValue::Quarter, 1}, {12, NoteValue::Quarter, 0}, {9, NoteValue::Eighth, 1},
    {6, NoteValue::Eighth, 0},   {3, NoteValue::Sixteenth, 0},
};

std::string TrimmedName(std::string name) {
    TrimTrailingBlanks(name);
    while (!name.empty() && (name.front() == ' ' || name.front() == '\t')) name.erase(0, 1);
    return name;
}

// Cuts the chords and rests of one part into the beats of each measure.
class BarMaker {
  public:
    BarMaker(const Bars& bars, const Conversion& conversion, const PartNotes& part)
        : bars_(bars), conversion_(conversion), part_(part) {}

    void MakeBars(std::vector<ScoreBar>& out) {
        const std::vector<Measure>& measures = bars_.List();
        out.assign(measures.size(), ScoreBar{});
        size_t chord = 0; // first chord that may reach into the measure
        for (size_t m = 0; m < measures.size(); ++m) {
            const Measure& measure = measures[m];
            while (chord < part_.Chords.size() && part_.Chords[chord].End <= measure.StartDiv &&
                   part_.Chords[chord].Start < measure.StartDiv)
                ++chord;
            MakePieces(measure, chord);
            std::vector<ScoreBeat>& voice = out[m].Voices[0];
            voice.reserve(pieces_.size());
            for (const Piece& piece : pieces_)
                voice.push_back(BeatOf(piece));
        }
    }

  private:
    // Cuts the chords and rests of `measure` into pieces, starting at chord `first`.
    void MakePieces(const Measure& measure, size_t first) {
        pieces_.clear();
        const uint64_t m0 = measure.StartDiv;
        const uint64_t m1 = m0 + measure.Divs;
        uint64_t cursor = m0;
        const std::vector<Chord>& chords = part_.Chords;
        for (size_t c = first; c < chords.size() && chords[c].Start < m1; ++c) {
            if (chords[c].End <= m0) continue;
            const uint64_t s = std::max<uint64_t>(chords[c].Start, m0);
            if (s > cursor) AddSegment(measure, cursor, s, -1, false, false);
            const uint64_t e = std::min<uint64_t>(chords[c].End, m1);
            AddSegment(measure, s, e, static_cast<int64_t>(c), chords[c].Start < m0,
                       chords[c].End > m1);
            cursor = e;
        }
        if (cursor < m1) {
            if (cursor == m0) {
                Piece rest;
                rest.Length = measure.Divs;
                rest.WholeMeasureRest = true;
                pieces_.push_back(rest);
                return;
            }
            AddSegment(measure, cursor, m1, -1, false, false);
        }
    }

    void AddSegment(const Measure& measure, uint64_t from, uint64_t to, int64_t chord,
                    bool tiedIn, bool tiedOut) {
        uint32_t s = static_cast<uint32_t>(from - measure.StartDiv);
        const uint32_t e = static_cast<uint32_t>(to - measure.StartDiv);
        const size_t firstPiece = pieces_.size();
        auto triplet = [&](uint32_t k) { return IsTriplet(measure.FirstBeat + k); };
        while (s < e) {
            const uint32_t k = s / DIVISIONS;
            const uint32_t bs = k * DIVISIONS;
            const uint32_t be = std::min(bs + DIVISIONS, measure.Divs);
            Piece piece;
            piece.Start = s;
            piece.Chord = chord;
            if (triplet(k) && !(s == bs && e >= be)) {
                const uint32_t pe = std::min(e, be);
                piece.Length = pe - s;
                piece.Triplet = true;
                piece.TupletStart = s == bs;
                piece.TupletStop = pe == be;
            } else {
                // Straight values stop where a triplet beat is entered only in part.
                uint32_t limit = e;
                if (limit % DIVISIONS != 0 && triplet(limit / DIVISIONS))
                    limit = limit / DIVISIONS * DIVISIONS;
                piece.Length = 0;
                for (const StraightValue& v : STRAIGHT_VALUES) {
                    if (v.Length > limit - s) continue;
                    if (v.Length >= DIVISIONS ? s % DIVISIONS != 0
                                              : s % DIVISIONS + v.Length > DIVISIONS)
                        continue;
                    piece.Length = v.Length;
                    break;
                }
                if (piece.Length == 0) piece.Length = std::max<uint32_t>(1, limit - s);
            }
            pieces_.push_back(piece);
            s += piece.Length;
        }
        if (chord < 0) return;
        for (size_t p = firstPiece; p < pieces_.size(); ++p) {
            pieces_[p].TieFromPrevious = p > firstPiece || tiedIn;
            pieces_[p].TieToNext = p + 1 < pieces_.size() || tiedOut;
        }
    }

    bool IsTriplet(uint64_t beat) const {
        return beat < part_.TripletBeats.size() && part_.TripletBeats[beat];
    }

    ScoreBeat BeatOf(const Piece& piece) const {
        ScoreBeat beat;
        beat.Start = piece.Start;
        beat.Duration = piece.Length;
        beat.WholeMeasureRest = piece.WholeMeasureRest;
        beat.Rest = piece.Chord < 0;
        if (piece.Triplet) {
            beat.Value = piece.Length == 2 * TRIPLET_STEP ? NoteValue::Quarter : NoteValue::Eighth;
            beat.Tuplet = {3, 2};
            beat.TupletStart = piece.TupletStart;
            beat.TupletStop = piece.TupletStop;
        } else {
            beat.Value = NoteValue::Sixteenth;
            for (const StraightValue& v : STRAIGHT_VALUES)
                if (v.Length == piece.Length) {
                    beat.Value = v.Value;
                    beat.Dots = v.Dots;
                }
        }
        if (beat.Rest) return beat;
        const Chord& chord = part_.Chords[static_cast<size_t>(piece.Chord)];
        beat.Notes.reserve(chord.Count);
        for (uint32_t n = 0; n < chord.Count; ++n) {
            const PlacedNote& placed = part_.Notes[chord.First + n];
            ScoreNote note;
            note.Pitch = placed.Pitch;
            note.String = placed.String;
            note.Fret = placed.Fret;
            note.Velocity = placed.Velocity;
            note.TieStart = piece.TieToNext;
            note.TieStop = piece.TieFromPrevious;
            beat.Notes.push_back(note);
        }
        if (conversion_.Settings.ShowChord && !piece.TieFromPrevious) {
            const uint32_t column = part_.Notes[chord.First].Column;
            if (column < part_.Columns.size() && part_.Columns[column].Label == LABEL_NOTES) {
                beat.ChordIndex = ChordIndexOfColumn(part_.Columns[column]);
                if (beat.ChordIndex >= 0)
                    beat.ChordName = TrimmedName(ChordNames[static_cast<size_t>(beat.ChordIndex)]);
            }
        }
        return beat;
    }

    const Bars& bars_;
    const Conversion& conversion_;
    const PartNotes& part_;
    std::vector<Piece> pieces_;
};

bool IsDrumTrack(const TrackRecord& track) {
    return !track.Notes.empty() &&
           std::all_of(track.Notes.begin(), track.Notes.end(),
                       [](const NoteRecord& n) { return n.Channel == DRUM_CHANNEL; });
}

// True when the timeline's notes of a track are the tablature's notes, one for one.
bool SameNotes(const TrackRecord& track, const TimelineTrack* timeline) {
    if (!timeline || timeline->Notes.size() != track.Notes.size()) return false;
    uint64_t tick = 0;
    for (size_t i = 0; i < track.Notes.size(); ++i) {
        const NoteRecord& n = track.Notes[i];
        const TimelineNote& t = timeline->Notes[i];
        tick += n.DeltaTime;
        if (t.Start != tick || t.Key != n.Note || t.Channel != n.Channel) return false;
    }
    return true;
}

// The columns of the text tablature that hold notes, per track.
std::vector<std::vector<TabColumn>> ConvertWithColumns(Conversion& conversion,
                                                       std::string_view bytes,
                                                       const std::string& displayName) {
    std::vector<std::vector<TabColumn>> columns;
    conversion.SetReportSink([](std::string_view) {});
    conversion.SetColumnObserver([&](uint32_t track, const TabColumn& column) {
        if (column.Label != LABEL_NOTES && column.Label != LABEL_TOO_LOW &&
            column.Label != LABEL_TOO_HIGH)
            return;
        if (columns.size() <= track) columns.resize(track + 1);
        columns[track].push_back(column);
    });
    conversion.ConvertMidiBytes(bytes, displayName);
    conversion.SetColumnObserver({});
    conversion.SetReportSink({});
    return columns;
}

// The tracks that become parts; false with `summary.Error` set when there is none or one
// asked for has no notes.
bool ChooseTracks(const Conversion& conversion, const ScoreOptions& options,
                  std::vector<uint32_t>& tracks, ScoreSummary& summary) {
    tracks = options.Tracks;
    if (tracks.empty()) {
        for (uint32_t t = 0; t < conversion.TrackList.size(); ++t) {
            const TrackRecord& track = conversion.TrackList[t];
            if (track.Notes.empty()) continue;
            if (options.LeaveOutDrums && IsDrumTrack(track)) {
                summary.DrumTracks.push_back(t + 1);
                continue;
            }
            tracks.push_back(t);
        }
    }
    for (uint32_t t : tracks) {
        if (t >= conversion.TrackList.size() || conversion.TrackList[t].Notes.empty()) {
            summary.Error = "track " + std::to_string(t + 1) + " has no notes";
            return false;
        }
    }
    if (tracks.empty()) {
        summary.Error = "no track with notes to write";
        return false;
    }
    return true;
}

// Onset and end ticks of a track's notes: the timeline's where its notes are the
// tablature's, else each note lasting until the next onset, a quarter for the last.
std::vector<TimelineNote> NoteTimes(const TrackRecord& track, const TimelineTrack* timed,
                                    bool matched, uint32_t division) {
    if (matched) return timed->Notes;
    std::vector<TimelineNote> guessed(track.Notes.size());
    uint64_t tick = 0;
    for (size_t i = 0; i < track.Notes.size(); ++i) {
        tick += track.Notes[i].DeltaTime;
        guessed[i].Start = tick;
    }
    uint64_t next = tick + division;
    for (size_t i = guessed.size(); i-- > 0;) {
        guessed[i].End = next;
        if (i > 0 && guessed[i - 1].Start != guessed[i].Start) next = guessed[i].Start;
    }
    return guessed;
}

// The string and fret the text tablature shows for `record` in its column, and the pitch
// they sound; the note's own pitch without string where the column shows none for it.
void Place(const Conversion& conversion, const NoteRecord& record, const TabColumn* tab,
           PlacedNote& note) {
    const int transpose = conversion.TuningSettings.Transpose;
    note.Pitch = record.Note + transpose - 12;
    if (!tab || tab->Label != LABEL_NOTES) return;
    const int64_t placed = FoldNote(record.Note, conversion.StringPitch, conversion.Settings).Pitch;
    for (int s = 0; s < STRING_COUNT; ++s) {
        if (tab->Fret[s] == NO_FRET ||
            conversion.StringPitch[static_cast<size_t>(s)] + tab->Fret[s] != placed)
            continue;
        note.String = static_cast<uint8_t>(s + 1);
        note.Fret = tab->Fret[s];
        note.Pitch = conversion.StringPitch[static_cast<size_t>(s)] + transpose - 12 + tab->Fret[s];
        return;
    }
}

// Quantised notes and chords of one part; `songEnd` grows to the last note end.
void CollectNotes(const Conversion& conversion, const TrackRecord& track,
                  const std::vector<TimelineNote>& raw, Quantiser& quantiser, PartNotes& part,
                  uint32_t& songEnd, ScoreSummary& summary) {
    quantiser.Reset();
    for (const TimelineNote& n : raw) {
        quantiser.Observe(n.Start);
        quantiser.Observe(n.End);
    }
    quantiser.Decide();

    part.Notes.resize(track.Notes.size());
    uint32_t column = 0;
    for (size_t i = 0; i < track.Notes.size(); ++i) {
        const NoteRecord& record = track.Notes[i];
        if (i > 0 && record.DeltaTime > 0) ++column;
        PlacedNote& note = part.Notes[i];
        note.Column = column;
        note.Start = static_cast<uint32_t>(quantiser.Quantise(raw[i].Start, summary.LargestShift));
        note.End = static_cast<uint32_t>(quantiser.Quantise(raw[i].End, summary.LargestShift));
        note.Velocity = raw[i].Velocity;
        Place(conversion, record, column < part.Columns.size() ? &part.Columns[column] : nullptr,
              note);
        if (note.String == NO_STRING) ++summary.NotesWithoutPosition;
        ++summary.NotesWritten;
    }
    // Columns snapped to one onset join into one chord unless two of their notes need the
    // same string; then the later column moves on to the next grid position.
    uint32_t chordStart = 0;
    uint8_t strings = 0; // strings taken by the chord at chordStart
    for (size_t i = 0; i < part.Notes.size();) {
        size_t j = i;
        uint8_t taken = 0;
        for (; j < part.Notes.size() && part.Notes[j].Column == part.Notes[i].Column; ++j)
            if (part.Notes[j].String != NO_STRING)
                taken |= static_cast<uint8_t>(1u << (part.Notes[j].String - 1));
        uint32_t start = part.Notes[i].Start;
        if (i > 0 && start <= chordStart) {
            start = chordStart;
            if (strings & taken) start = static_cast<uint32_t>(quantiser.NextGridPoint(chordStart));
        }
        if (i == 0 || start != chordStart) strings = 0;
        chordStart = start;
        strings |= taken;
        for (; i < j; ++i) {
            PlacedNote& note = part.Notes[i];
            note.Start = start;
            if (note.End <= start) note.End = static_cast<uint32_t>(quantiser.NextGridPoint(start));
            songEnd = std::max(songEnd, note.End);
        }
    }
    // Chords: notes that start together; each lasts to its own end or the next onset.
    for (uint32_t i = 0; i < part.Notes.size();) {
        Chord chord;
        chord.Start = part.Notes[i].Start;
        chord.First = i;
        while (i < part.Notes.size() && part.Notes[i].Start == chord.Start) {
            chord.End = std::max(chord.End, part.Notes[i].End);
            ++i;
        }
        chord.Count = i - chord.First;
        if (i < part.Notes.size()) chord.End = std::min(chord.End, part.Notes[i].Start);
        part.Chords.push_back(chord);
    }
    // Grid choices, kept for cutting note values; the song's beats may grow later.
    part.TripletBeats.resize(static_cast<size_t>(quantiser.BeatCount()));
    for (size_t b = 0; b < part.TripletBeats.size(); ++b)
        part.TripletBeats[b] = quantiser.IsTriplet(b) ? 1 : 0;
}

// The measures as the score holds them, with keys and tempo marks.
void FillMeasures(const Bars& bars, const MidiTimeline& timeline, Score& score) {
    const std::vector<Measure>& list = bars.List();
    score.Measures.resize(list.size());
    for (size_t m = 0; m < list.size(); ++m) {
        ScoreMeasure& out = score.Measures[m];
        out.StartTick = static_cast<uint64_t>(list[m].StartTick);
        out.Length = list[m].Divs;
        out.Numerator = list[m].Numerator;
        out.Denominator = list[m].Denominator;
    }
    // Keys: the first measure and every measure in which the file sets one.
    score.Measures.front().KeyChange = true;
    for (const KeySignatureChange& change : timeline.KeySignatures) {
        ScoreMeasure& at = score.Measures[bars.AtTick(static_cast<double>(change.Tick))];
        at.KeyChange = true;
        at.Fifths = change.Fifths;
        at.Minor = change.Minor;
    }
    for (size_t m = 1; m < score.Measures.size(); ++m) {
        if (score.Measures[m].KeyChange) continue;
        score.Measures[m].Fifths = score.Measures[m - 1].Fifths;
        score.Measures[m].Minor = score.Measures[m - 1].Minor;
    }
    // Tempo marks: the start and every change, at the nearest division.
    struct Mark {
        uint64_t Div;
        uint32_t Microseconds;
    };
    std::vector<Mark> marks;
    const auto at = [&](uint64_t tick) {
        const Measure& m = list[bars.AtTick(static_cast<double>(tick))];
        const double rel = (static_cast<double>(tick) - m.StartTick) * m.Divs / m.Ticks;
        return m.StartDiv + static_cast<uint64_t>(std::clamp(std::round(rel), 0.0, double(m.Divs)));
    };
    if (timeline.Tempos.empty() || timeline.Tempos.front().Tick > 0)
        marks.push_back({0, DEFAULT_TEMPO});
    uint32_t current = 0;
    for (const TempoChange& change : timeline.Tempos) {
        if (static_cast<double>(change.Tick) >= list.back().StartTick + list.back().Ticks) break;
        const uint64_t div = at(change.Tick);
        if (!marks.empty() && marks.back().Div == div)
            marks.back().Microseconds = change.MicrosecondsPerQuarter;
        else if (change.MicrosecondsPerQuarter != current || marks.empty())
            marks.push_back({div, change.MicrosecondsPerQuarter});
        current = marks.back().Microseconds;
    }
    for (const Mark& mark : marks) {
        const size_t m = bars.AtDiv(mark.Div);
        if (mark.Div >= list[m].StartDiv + list[m].Divs) continue; // past the last measure
        ScoreTempo tempo;
        tempo.Position = static_cast<uint32_t>(mark.Div - list[m].StartDiv);
        tempo.MicrosecondsPerQuarter = mark.Microseconds;
        score.Measures[m].Tempos.push_back(tempo);
    }
}

} // namespace

bool BuildScore(Conversion& conversion, std::string_view bytes, const std::string& displayName,
                const ScoreOptions& options, Score& score, ScoreSummary& summary,
                const MidiTimeline* givenTimeline) {
    summary = ScoreSummary{};
    score = Score{};
    score.Title = options.WorkTitle;
    score.Divisions = DIVISIONS;
    std::vector<std::vector<TabColumn>> columns = ConvertWithColumns(conversion, bytes, displayName);

    MidiTimeline read;
    if (!givenTimeline) read = ReadMidiTimeline(bytes);
    const MidiTimeline empty;
    const MidiTimeline& given = givenTimeline ? *givenTimeline : read;
    const MidiTimeline& timeline = given.Valid ? given : empty; // the tablature's notes still go out
    const uint32_t division = conversion.Header.Division ? conversion.Header.Division : 96;
    score.Division = division;

    std::vector<uint32_t> tracks;
    if (!ChooseTracks(conversion, options, tracks, summary)) return false;

    // The song's last tick, from the note ends of the timeline where its notes are the
    // tablature's, else from the onsets.
    std::vector<bool> matched(tracks.size());
    uint64_t lastTick = 0;
    for (size_t p = 0; p < tracks.size(); ++p) {
        const TrackRecord& track = conversion.TrackList[tracks[p]];
        const TimelineTrack* timed =
            tracks[p] < timeline.Tracks.size() ? &timeline.Tracks[tracks[p]] : nullptr;
        matched[p] = SameNotes(track, timed);
        if (matched[p]) {
            for (const TimelineNote& n : timed->Notes)
                lastTick = std::max(lastTick, n.End);
        } else {
            uint64_t tick = 0;
            for (const NoteRecord& n : track.Notes)
                tick += n.DeltaTime;
            lastTick = std::max(lastTick, tick + division);
        }
    }

    Bars bars;
    uint64_t noteCount = 0;
    for (uint32_t t : tracks)
        noteCount += conversion.TrackList[t].Notes.size();
    if (!bars.Build(timeline.TimeSignatures, division, lastTick,
                    FREE_BEATS + BEATS_PER_NOTE * noteCount)) {
        summary.Error = "the song is too long to write as MusicXML";
        return false;
    }

    // Notes, strings, frets and quantised times, part by part.
    std::vector<PartNotes> notes(tracks.size());
    score.Parts.resize(tracks.size());
    Quantiser quantiser(bars);
    uint32_t songEnd = 0;
    for (size_t p = 0; p < tracks.size(); ++p) {
        ScorePart& part = score.Parts[p];
        part.Track = tracks[p];
        const TrackRecord& track = conversion.TrackList[part.Track];
        if (part.Track < columns.size()) notes[p].Columns = std::move(columns[part.Track]);
        const TimelineTrack* timed =
            part.Track < timeline.Tracks.size() ? &timeline.Tracks[part.Track] : nullptr;
        part.Name = TrimmedName(timed ? timed->Name : track.TrackName);
        if (part.Name.empty()) part.Name = TrimmedName(track.TrackName);
        if (part.Name.empty()) part.Name = "Track " + std::to_string(part.Track + 1);
        part.Program = timed ? timed->Program : -1;
        part.Channel = track.Notes.front().Channel & 0x0F;
        for (int s = 0; s < SCORE_STRINGS; ++s)
            part.Tuning[static_cast<size_t>(s)] = conversion.StringPitch[static_cast<size_t>(s)] +
                                                  conversion.TuningSettings.Transpose - 12;
        CollectNotes(conversion, track, NoteTimes(track, timed, matched[p], division), quantiser,
                     notes[p], songEnd, summary);
        summary.Parts.push_back(part.Track + 1);
    }
    if (!bars.ExtendTo(songEnd)) {
        summary.Error = "the song is too long to write as MusicXML";
        return false;
    }
    FillMeasures(bars, timeline, score);
    for (size_t p = 0; p < tracks.size(); ++p) {
        BarMaker(bars, conversion, notes[p]).MakeBars(score.Parts[p].Bars);
        notes[p] = PartNotes{};
    }
    return true;
}

std::string FormatScoreSummary(const ScoreSummary& summary) {
    return std::to_string(summary.NotesWritten) + " notes written, " +
           std::to_string(summary.NotesWithoutPosition) + " without string and fret, " +
           "largest quantisation shift " + std::to_string(summary.LargestShift) + " ticks";
}

} // namespace morvel
