// Building the quantised score. Works in four steps:
// 1. the measures: from the conductor map, each measure with its span in ticks and in
//    divisions (DIVISIONS per quarter), its beats (quarters, the last one possibly shorter);
// 2. per exported track, the notes with their strings and frets (from the columns of the text
//    tablature) and their quantised onsets and ends: every time is snapped where it lies in
//    its own beat, on the grid chosen for that beat, so an error never reaches the next beat;
// 3. the voices: a note held while later notes start goes to the lower voice;
// 4. per measure and voice, the chords and rests cut into beats that one note value (dotted
//    or in a triplet) can show.
#include "formats/Score.h"

#include "core/Chords.h"
#include "core/Conversion.h"
#include "core/Placement.h"
#include "formats/BlockArray.h"
#include "formats/MidiTimeline.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>

namespace morvel {

namespace {

// Per quarter: thirty-seconds are 3, sixteenth triplets 4, sixteenths 6, eighth triplets 8.
constexpr uint32_t DIVISIONS = 24;
constexpr uint32_t STRAIGHT_STEP = 3; // the finest straight step: measures are multiples of it
// Bounds on the measures a damaged file could ask for: at most MAX_BEATS beats, and no more
// than BEATS_PER_NOTE per note past the first FREE_BEATS, so the text stays in proportion to
// the notes.
constexpr uint64_t MAX_BEATS = 4'000'000;
constexpr uint64_t FREE_BEATS = 100'000;
constexpr uint64_t BEATS_PER_NOTE = 64;
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

// The grids a beat may take, simplest first, and their steps in divisions. Thirty-second
// triplets are the last resort of ornaments that no other grid keeps apart.
enum Grid : uint8_t {
    SIXTEENTHS,
    EIGHTH_TRIPLETS,
    THIRTY_SECONDS,
    SIXTEENTH_TRIPLETS,
    THIRTY_SECOND_TRIPLETS,
    GRID_COUNT
};
constexpr uint32_t GRID_STEP[GRID_COUNT] = {6, 8, 3, 4, 2};
constexpr bool IsTripletGrid(uint8_t grid) {
    return grid == EIGHTH_TRIPLETS || grid == SIXTEENTH_TRIPLETS || grid == THIRTY_SECOND_TRIPLETS;
}
// An onset may lie at most this far (in quarter notes: a sixty-fourth note) from its true
// place. The thirty-second grid keeps every onset within it, so a beat always has a grid that
// does. Per beat the grid is the simplest that fits every onset of the beat cleanly (within
// CLEAN_FIT_QUARTERS, so that sixteenth triplets are not taken for thirty-seconds), else the
// simplest within the tolerance. The thirty-second triplets are taken only where onsets
// needing one string would meet on every other grid.
constexpr double TOLERANCE_QUARTERS = 1.0 / 16;
constexpr double CLEAN_FIT_QUARTERS = 1.0 / 48;

// Per-beat choice of grid, and the snapping itself.
class Quantiser {
  public:
    Quantiser(const Bars& bars, uint32_t division)
        : bars_(bars), tolerance_(TOLERANCE_QUARTERS * division),
          tight_(CLEAN_FIT_QUARTERS * division) {}

    void Reset() {
        const size_t beats = static_cast<size_t>(bars_.BeatCount());
        error_.assign(beats * GRID_COUNT, 0.0f);
        least_.assign(beats, 0);
        grid_.assign(beats, SIXTEENTHS);
    }
    // Gives back the per-beat arrays; Reset makes them again.
    void Release() {
        error_ = std::vector<float>();
        least_ = std::vector<uint8_t>();
        grid_ = std::vector<uint8_t>();
    }
    // An onset at `tick`: it weighs on the choice of its beat's grid.
    void Observe(uint64_t tick) {
        const Place p = Locate(static_cast<double>(tick));
        for (uint8_t g = 0; g < GRID_COUNT; ++g) {
            float& error = error_[p.Beat * GRID_COUNT + g];
            error = Fits(p, g) ? std::max(error, static_cast<float>(Snap(p, g).Error))
                               : std::numeric_limits<float>::infinity();
        }
    }
    // Per beat the simplest grid, no simpler than its floor (Refine), that keeps every onset
    // within the tolerance; where none does, the one that comes closest.
    void Decide() {
        for (size_t b = 0; b < grid_.size(); ++b) {
            const float* error = &error_[b * GRID_COUNT];
            // Thirty-second triplets only where a simpler grid joined onsets it must not.
            const uint8_t last = least_[b] > SIXTEENTHS ? GRID_COUNT : THIRTY_SECOND_TRIPLETS;
            uint8_t best = least_[b];
            bool within = false;
            for (double bound : {tight_, tolerance_}) {
                for (uint8_t g = least_[b]; g < last && !within; ++g) {
                    within = error[g] <= bound + 1e-6;
                    if (within) best = g;
                }
            }
            for (uint8_t g = least_[b]; g < last && !within; ++g)
                if (error[g] < error[best]) best = g;
            grid_[b] = best;
        }
    }
    // Makes the beat holding `div` take a finer grid than it has; false when it has the finest.
    bool Refine(uint64_t div) {
        const size_t beat = BeatAtDiv(div);
        if (beat >= grid_.size() || grid_[beat] + 1 >= GRID_COUNT) return false;
        least_[beat] = static_cast<uint8_t>(grid_[beat] + 1);
        return true;
    }
    // The grid position of `tick` in divisions.
    uint64_t Quantise(uint64_t tick) const {
        const Place p = Locate(static_cast<double>(tick));
        return Snap(p, grid_[p.Beat]).Div;
    }
    // The tick a grid position stands for.
    double TickOf(uint64_t div) const {
        const Measure& m = bars_.List()[bars_.AtDiv(div)];
        return m.StartTick + static_cast<double>(div - m.StartDiv) * m.Ticks / m.Divs;
    }
    double Tolerance() const { return tolerance_; }
    bool IsTriplet(uint64_t beat) const {
        return beat < grid_.size() && IsTripletGrid(grid_[beat]);
    }
    uint64_t BeatCount() const { return bars_.BeatCount(); }
    // The next grid position after `div`.
    uint64_t NextGridPoint(uint64_t div) const {
        const Measure& m = bars_.List()[bars_.AtDiv(div)];
        if (div >= m.StartDiv + m.Divs) return div + STRAIGHT_STEP;
        const uint32_t k = static_cast<uint32_t>(div - m.StartDiv) / DIVISIONS;
        const uint64_t beatStart = m.StartDiv + uint64_t(k) * DIVISIONS;
        const uint64_t beat = m.FirstBeat + k;
        uint32_t step = GRID_STEP[beat < grid_.size() ? grid_[beat] : uint8_t(SIXTEENTHS)];
        if (m.BeatDivs(k) % step != 0) step = STRAIGHT_STEP;
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

    size_t BeatAtDiv(uint64_t div) const {
        const Measure& m = bars_.List()[bars_.AtDiv(div)];
        const uint64_t k = std::min<uint64_t>((div - m.StartDiv) / DIVISIONS, m.Beats() - 1);
        return static_cast<size_t>(m.FirstBeat + k);
    }
    Place Locate(double tick) const {
        const Measure& m = bars_.List()[bars_.AtTick(tick)];
        const double beatTicks = m.BeatTicks();
        double k = std::floor((tick - m.StartTick) / beatTicks);
        k = std::clamp(k, 0.0, double(m.Beats() - 1));
        const uint32_t beat = static_cast<uint32_t>(k);
        const uint32_t divs = m.BeatDivs(beat);
        const double start = m.StartTick + beat * beatTicks;
        return {&m, beat, static_cast<size_t>(m.FirstBeat + beat), divs, tick - start,
                beatTicks * divs / DIVISIONS};
    }
    // Triplets need a whole beat; a shorter beat takes the straight grids that divide it.
    static bool Fits(const Place& p, uint8_t grid) {
        if (IsTripletGrid(grid)) return p.Divs == DIVISIONS;
        return p.Divs % GRID_STEP[grid] == 0;
    }
    static Snapped Snap(const Place& p, uint8_t grid) {
        if (!Fits(p, grid)) grid = THIRTY_SECONDS;
        const uint32_t step = GRID_STEP[grid];
        const uint32_t points = p.Divs / step;
        const double spacing = p.Length / points;
        double j = std::round(p.Offset / spacing);
        j = std::clamp(j, 0.0, double(points));
        const uint64_t div = p.M->StartDiv + uint64_t(p.K) * DIVISIONS +
                             static_cast<uint64_t>(j) * step;
        return {div, std::fabs(p.Offset - j * spacing)};
    }

    const Bars& bars_;
    const double tolerance_; // in ticks
    const double tight_;     // in ticks
    std::vector<float> error_;   // per beat and grid: the largest onset error, in ticks
    std::vector<uint8_t> least_; // per beat: the simplest grid it may take
    std::vector<uint8_t> grid_;  // per beat: the grid it took
};

constexpr uint8_t FIRST_OF_COLUMN = 1; // the first note of a column of the text tablature
constexpr uint8_t LOWER_VOICE = 2;

// One note as placed, in divisions from the start of the song.
struct WorkNote {
    uint32_t Start = 0; // the song has at most MAX_BEATS beats
    uint32_t End = 0;
    int16_t Pitch = 0;       // sounding MIDI pitch
    int16_t ChordIndex = -1; // with Show Chords: the chord its column names, else -1
    uint8_t String = NO_STRING;
    uint8_t Fret = 0;
    uint8_t Velocity = 0;
    uint8_t Flags = 0; // FIRST_OF_COLUMN, LOWER_VOICE
    int Voice() const { return (Flags & LOWER_VOICE) ? 1 : 0; }
};

// The notes of one voice that start together: from Notes[First] of their part on, while they
// have its start and voice.
struct Chord {
    uint32_t First = 0;
    uint32_t End = 0; // its notes' latest end, or that voice's next onset if earlier
};

struct PartNotes {
    // Column by column; once the voices are known, the notes of each chord lie together, in
    // the order they had.
    BlockArray<WorkNote> Notes;
    BlockArray<Chord> Chords[2]; // per voice
    std::vector<uint8_t> TripletBeats;

    uint32_t StartOf(const Chord& chord) const { return Notes[chord.First].Start; }
    uint32_t SizeOf(const Chord& chord) const {
        const WorkNote& first = Notes[chord.First];
        uint32_t n = chord.First + 1;
        while (n < Notes.size() && Notes[n].Start == first.Start &&
               Notes[n].Voice() == first.Voice())
            ++n;
        return n - chord.First;
    }
};

// Onsets and ends in ticks, before quantising.
struct RawTimes {
    const std::vector<NoteRecord>* Records = nullptr; // the track's stored notes
    std::vector<uint64_t> End; // per note: its end (the latest of the notes merged in it)
};

// The onsets of a track's columns in ticks, one after the other, from its stored notes: a
// column starts with the first note and with every note stored after a delta time.
class ColumnOnsets {
  public:
    explicit ColumnOnsets(const std::vector<NoteRecord>& records) : records_(records) {}
    size_t Count() const {
        size_t count = 0;
        for (size_t i = 0; i < records_.size(); ++i)
            if (i == 0 || records_[i].DeltaTime > 0) ++count;
        return count;
    }
    // The onset of the next column; the last one's again once there is none.
    uint64_t Next() {
        do {
            tick_ += records_[next_].DeltaTime;
        } while (++next_ < records_.size() && records_[next_].DeltaTime == 0);
        return tick_;
    }
    bool AtEnd() const { return next_ >= records_.size(); }

  private:
    const std::vector<NoteRecord>& records_;
    size_t next_ = 0;
    uint64_t tick_ = 0;
};

// The note columns of the text tablature of one track, in order.
using TrackColumns = BlockArray<TabColumn>;

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

struct ValueOfLength {
    uint32_t Length; // in divisions
    NoteValue Value;
    uint8_t Dots;
};
constexpr ValueOfLength STRAIGHT_VALUES[] = {
    {96, NoteValue::Whole, 0},     {72, NoteValue::Half, 1},         {48, NoteValue::Half, 0},
    {36, NoteValue::Quarter, 1},   {24, NoteValue::Quarter, 0},      {18, NoteValue::Eighth, 1},
    {12, NoteValue::Eighth, 0},    {9, NoteValue::Sixteenth, 1},     {6, NoteValue::Sixteenth, 0},
    {3, NoteValue::ThirtySecond, 0},
};
// Inside a triplet beat: the written value of a length (three in the time of two).
constexpr ValueOfLength TRIPLET_VALUES[] = {
    {16, NoteValue::Quarter, 0},  {12, NoteValue::Eighth, 1},       {8, NoteValue::Eighth, 0},
    {6, NoteValue::Sixteenth, 1}, {4, NoteValue::Sixteenth, 0},     {2, NoteValue::ThirtySecond, 0},
};

std::string TrimmedName(std::string name) {
    TrimTrailingBlanks(name);
    while (!name.empty() && (name.front() == ' ' || name.front() == '\t')) name.erase(0, 1);
    return name;
}

// Compound time (6/8, 9/8, 12/8): the dotted quarter is the beat a note value may not cross.
uint32_t GroupDivs(const Measure& measure) {
    const bool compound = measure.Denominator == 8 && measure.Numerator % 3 == 0 &&
                          measure.Numerator > 3;
    return compound ? DIVISIONS * 3 / 2 : DIVISIONS;
}

// Cuts the chords and rests of one part into the beats of each measure, voice by voice.
class BarMaker {
  public:
    BarMaker(const Bars& bars, const Conversion& conversion, PartNotes& part)
        : bars_(bars), conversion_(conversion), part_(part) {}

    void MakeBars(std::vector<ScoreBar>& out) {
        const std::vector<Measure>& measures = bars_.List();
        out.assign(measures.size(), ScoreBar{});
        size_t chord[2] = {0, 0}; // per voice: first chord that may reach into the measure
        std::vector<Piece> pieces[2];
        for (size_t m = 0; m < measures.size(); ++m) {
            const Measure& measure = measures[m];
            size_t noteCount = 0;
            size_t firstNote = part_.Notes.size(); // no note before it is used again
            for (int v = 0; v < 2; ++v) {
                BlockArray<Chord>& chords = part_.Chords[v];
                size_t& c = chord[v];
                while (c < chords.size() && chords[c].End <= measure.StartDiv)
                    ++c;
                chords.ReleaseBefore(c);
                if (c < chords.size()) firstNote = std::min<size_t>(firstNote, chords[c].First);
            }
            part_.Notes.ReleaseBefore(firstNote);
            for (int v = 0; v < 2; ++v) {
                const BlockArray<Chord>& chords = part_.Chords[v];
                const size_t c = chord[v];
                pieces[v].clear();
                // The lower voice is written only in measures it has notes in.
                if (v == 1 && (c >= chords.size() ||
                               part_.StartOf(chords[c]) >= measure.StartDiv + measure.Divs))
                    continue;
                pieces_ = &pieces[v];
                MakePieces(measure, chords, c);
                for (const Piece& piece : pieces[v])
                    if (piece.Chord >= 0)
                        noteCount += part_.SizeOf(chords[static_cast<size_t>(piece.Chord)]);
            }
            ScoreBar& bar = out[m];
            bar.Notes.reserve(noteCount);
            for (int v = 0; v < 2; ++v) {
                std::vector<ScoreBeat>& voice = bar.Voices[v];
                voice.reserve(pieces[v].size());
                for (const Piece& piece : pieces[v])
                    voice.push_back(BeatOf(piece, part_.Chords[v], bar));
            }
        }
    }

  private:
    // Cuts the chords and rests of `measure` into pieces, starting at chord `first`.
    void MakePieces(const Measure& measure, const BlockArray<Chord>& chords, size_t first) {
        pieces_->clear();
        const uint64_t m0 = measure.StartDiv;
        const uint64_t m1 = m0 + measure.Divs;
        uint64_t cursor = m0;
        for (size_t c = first; c < chords.size() && part_.StartOf(chords[c]) < m1; ++c) {
            if (chords[c].End <= m0) continue;
            const uint32_t start = part_.StartOf(chords[c]);
            const uint64_t s = std::max<uint64_t>(start, m0);
            if (s > cursor) AddSegment(measure, cursor, s, -1, false, false);
            const uint64_t e = std::min<uint64_t>(chords[c].End, m1);
            AddSegment(measure, s, e, static_cast<int64_t>(c), start < m0, chords[c].End > m1);
            cursor = e;
        }
        if (cursor < m1) {
            if (cursor == m0) {
                Piece rest;
                rest.Length = measure.Divs;
                rest.WholeMeasureRest = true;
                pieces_->push_back(rest);
                return;
            }
            AddSegment(measure, cursor, m1, -1, false, false);
        }
    }

    void AddSegment(const Measure& measure, uint64_t from, uint64_t to, int64_t chord,
                    bool tiedIn, bool tiedOut) {
        uint32_t s = static_cast<uint32_t>(from - measure.StartDiv);
        const uint32_t e = static_cast<uint32_t>(to - measure.StartDiv);
        const uint32_t group = GroupDivs(measure);
        const size_t firstPiece = pieces_->size();
        auto triplet = [&](uint32_t k) { return IsTriplet(measure.FirstBeat + k); };
        while (s < e) {
            const uint32_t k = s / DIVISIONS;
            const uint32_t bs = k * DIVISIONS;
            const uint32_t be = std::min(bs + DIVISIONS, measure.Divs);
            Piece piece;
            piece.Start = s;
            piece.Chord = chord;
            if (triplet(k) && !(s == bs && e >= be)) {
                const uint32_t left = std::min(e, be) - s;
                piece.Length = left;
                for (const ValueOfLength& v : TRIPLET_VALUES)
                    if (v.Length <= left) {
                        piece.Length = v.Length;
                        break;
                    }
                piece.Triplet = true;
                piece.TupletStart = s == bs;
                piece.TupletStop = s + piece.Length == be;
            } else {
                // Straight values stop where a triplet beat is entered only in part.
                uint32_t limit = e;
                if (limit % DIVISIONS != 0 && triplet(limit / DIVISIONS))
                    limit = limit / DIVISIONS * DIVISIONS;
                piece.Length = 0;
                for (const ValueOfLength& v : STRAIGHT_VALUES) {
                    if (v.Length > limit - s) continue;
                    // A value of a beat or more starts on a beat and, in compound time, fills
                    // whole beats; a shorter one stays inside its beat.
                    const bool compound = group != DIVISIONS;
                    if (v.Length >= group ? s % group != 0 || (compound && v.Length % group != 0)
                                          : s % group + v.Length > group)
                        continue;
                    piece.Length = v.Length;
                    break;
                }
                if (piece.Length == 0) piece.Length = std::max<uint32_t>(1, limit - s);
            }
            pieces_->push_back(piece);
            s += piece.Length;
        }
        if (chord < 0) return;
        for (size_t p = firstPiece; p < pieces_->size(); ++p) {
            (*pieces_)[p].TieFromPrevious = p > firstPiece || tiedIn;
            (*pieces_)[p].TieToNext = p + 1 < pieces_->size() || tiedOut;
        }
    }

    bool IsTriplet(uint64_t beat) const {
        return beat < part_.TripletBeats.size() && part_.TripletBeats[beat];
    }

    ScoreBeat BeatOf(const Piece& piece, const BlockArray<Chord>& chords, ScoreBar& bar) const {
        ScoreBeat beat;
        beat.Start = piece.Start;
        beat.Duration = piece.Length;
        beat.WholeMeasureRest = piece.WholeMeasureRest;
        beat.Rest = piece.Chord < 0;
        beat.Value = NoteValue::ThirtySecond;
        if (piece.Triplet) {
            beat.Tuplet = {3, 2};
            beat.TupletStart = piece.TupletStart;
            beat.TupletStop = piece.TupletStop;
            for (const ValueOfLength& v : TRIPLET_VALUES)
                if (v.Length == piece.Length) {
                    beat.Value = v.Value;
                    beat.Dots = v.Dots;
                }
        } else {
            for (const ValueOfLength& v : STRAIGHT_VALUES)
                if (v.Length == piece.Length) {
                    beat.Value = v.Value;
                    beat.Dots = v.Dots;
                }
        }
        if (beat.Rest) return beat;
        const Chord& chord = chords[static_cast<size_t>(piece.Chord)];
        beat.FirstNote = static_cast<uint32_t>(bar.Notes.size());
        beat.NoteCount = part_.SizeOf(chord);
        for (uint32_t n = 0; n < beat.NoteCount; ++n) {
            const WorkNote& placed = part_.Notes[chord.First + n];
            ScoreNote note;
            note.Pitch = placed.Pitch;
            note.String = placed.String;
            note.Fret = placed.Fret;
            note.Velocity = placed.Velocity;
            note.TieStart = piece.TieToNext;
            note.TieStop = piece.TieFromPrevious;
            bar.Notes.push_back(note);
        }
        if (conversion_.Settings.ShowChord && !piece.TieFromPrevious)
            beat.ChordIndex = part_.Notes[chord.First].ChordIndex;
        return beat;
    }

    const Bars& bars_;
    const Conversion& conversion_;
    PartNotes& part_;
    std::vector<Piece>* pieces_ = nullptr;
};

bool IsDrumTrack(const TrackRecord& track) {
    return !track.Notes.empty() &&
           std::all_of(track.Notes.begin(), track.Notes.end(),
                       [](const NoteRecord& n) { return n.Channel == DRUM_CHANNEL; });
}

// The columns of the text tablature that hold notes, per track.
std::vector<TrackColumns> ConvertWithColumns(Conversion& conversion, std::string_view bytes,
                                             const std::string& displayName) {
    std::vector<TrackColumns> columns;
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

// The string and fret the text tablature shows for `record` in its column (one not taken by
// another note of the column, `taken` a bit per string), and the pitch they sound; the note's
// own pitch without string where the column shows none for it.
void Place(const Conversion& conversion, const NoteRecord& record, const TabColumn* tab,
           uint8_t& taken, WorkNote& note) {
    const int transpose = conversion.TuningSettings.Transpose;
    note.Pitch = static_cast<int16_t>(record.Note + transpose - 12);
    if (!tab || tab->Label != LABEL_NOTES) return;
    const int64_t placed = FoldNote(record.Note, conversion.StringPitch, conversion.Settings).Pitch;
    for (int s = 0; s < STRING_COUNT; ++s) {
        if (tab->Fret[s] == NO_FRET || (taken & (1u << s)) ||
            conversion.StringPitch[static_cast<size_t>(s)] + tab->Fret[s] != placed)
            continue;
        taken = static_cast<uint8_t>(taken | (1u << s));
        note.String = static_cast<uint8_t>(s + 1);
        note.Fret = tab->Fret[s];
        note.Pitch = static_cast<int16_t>(conversion.StringPitch[static_cast<size_t>(s)] +
                                          transpose - 12 + tab->Fret[s]);
        return;
    }
}

uint8_t StringBit(const WorkNote& note) {
    return note.String == NO_STRING ? 0 : static_cast<uint8_t>(1u << (note.String - 1));
}

// Where the notes of a track get their ends and velocities: the timeline's notes of that
// track, kept in memory or read from the file's bytes; none when the timeline could not be read.
struct TimelineSource {
    const TimelineTrack* Kept = nullptr;
    std::string_view Bytes;
    uint32_t Track = 0;
    bool FromBytes = false;

    bool Walk(const std::function<void(uint32_t, const TimelineNote&)>& onStart,
              const std::function<void(uint32_t, uint64_t)>& onEnd) const {
        if (FromBytes) return ForEachTrackNote(Bytes, Track, onStart, onEnd);
        if (!Kept) return false;
        for (uint32_t i = 0; i < Kept->Notes.size(); ++i)
            onStart(i, Kept->Notes[i]);
        for (uint32_t i = 0; i < Kept->Notes.size(); ++i)
            onEnd(i, Kept->Notes[i].End);
        return true;
    }
};

// The notes of one track with their strings and frets (from the note columns of the text
// tablature, given back on return), their onsets and ends in ticks, and the track's last tick.
// Notes of one key that start together in one column sound as one: the longest end is kept.
// The ends and velocities are the timeline's where its notes are the tablature's, one for one;
// otherwise every note lasts until the next onset (a quarter for the last) and has velocity 0.
uint64_t GatherNotes(const Conversion& conversion, const TrackRecord& track,
                     TrackColumns& columns, const TimelineSource& source,
                     uint32_t division, PartNotes& part, RawTimes& raw) {
    const std::vector<NoteRecord>& records = track.Notes;
    raw.Records = &records;
    std::vector<uint32_t> target(records.size()); // the note each stored note is merged into
    std::vector<uint16_t> keys;                    // of the notes of the current column
    uint32_t column = 0;
    size_t columnStart = 0;
    uint8_t taken = 0;
    uint64_t tick = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        const NoteRecord& record = records[i];
        tick += record.DeltaTime;
        if (i == 0 || record.DeltaTime > 0) {
            if (i > 0) ++column;
            columnStart = part.Notes.size();
            taken = 0;
            keys.clear();
        }
        const auto same = std::find(keys.begin(), keys.end(), record.Note);
        if (same != keys.end()) {
            target[i] = static_cast<uint32_t>(columnStart + size_t(same - keys.begin()));
            continue;
        }
        const TabColumn* tab = column < columns.size() ? &columns[column] : nullptr;
        WorkNote note;
        if (part.Notes.size() == columnStart) note.Flags = FIRST_OF_COLUMN;
        Place(conversion, record, tab, taken, note);
        if (conversion.Settings.ShowChord && tab && tab->Label == LABEL_NOTES)
            note.ChordIndex = static_cast<int16_t>(ChordIndexOfColumn(*tab));
        target[i] = static_cast<uint32_t>(part.Notes.size());
        part.Notes.push_back(note);
        keys.push_back(record.Note);
    }
    columns.clear();

    raw.End.assign(part.Notes.size(), 0);
    bool matched = true;
    size_t started = 0;
    uint32_t created = 0;
    uint64_t onset = 0;
    const bool walked = source.Walk(
        [&](uint32_t index, const TimelineNote& note) {
            ++started;
            if (!matched || index >= records.size()) {
                matched = false;
                return;
            }
            onset += records[index].DeltaTime;
            if (note.Start != onset || note.Key != records[index].Note ||
                note.Channel != records[index].Channel) {
                matched = false;
                return;
            }
            if (target[index] == created) part.Notes[created++].Velocity = note.Velocity;
        },
        [&](uint32_t index, uint64_t end) {
            if (index >= target.size()) return;
            uint64_t& last = raw.End[target[index]];
            last = std::max(last, end);
        });
    if (walked && matched && started == records.size()) {
        uint64_t last = 0;
        for (size_t k = 0; k < raw.End.size(); ++k)
            last = std::max(last, raw.End[k]);
        return last;
    }
    // Each note lasts until the next column's onset.
    ColumnOnsets onsets(records);
    onsets.Next();
    uint64_t end = onsets.AtEnd() ? tick + division : onsets.Next();
    for (size_t k = 0; k < part.Notes.size(); ++k) {
        WorkNote& note = part.Notes[k];
        if (k > 0 && (note.Flags & FIRST_OF_COLUMN))
            end = onsets.AtEnd() ? tick + division : onsets.Next();
        note.Velocity = 0;
        raw.End[k] = end;
    }
    return tick + division;
}

// Places the columns' onsets on the grid. Columns snapped to one onset join into one chord
// unless two of their notes need the same string: then the beat takes a finer grid, and
// where even the finest joins them, the later column moves to the next grid position if that
// lies before the next column's and within the tolerance of its own onset; otherwise they
// join (one string then holds two notes of the chord).
void PlaceOnsets(const std::vector<NoteRecord>& records, Quantiser& quantiser,
                 PartNotes& part) {
    const size_t groups = ColumnOnsets(records).Count();
    std::vector<uint32_t> starts(groups);
    std::vector<uint8_t> strings(groups);
    for (size_t i = 0, g = 0; i < part.Notes.size(); ++i) {
        if (i > 0 && (part.Notes[i].Flags & FIRST_OF_COLUMN)) ++g;
        strings[g] |= StringBit(part.Notes[i]);
    }
    for (int pass = 0; pass <= GRID_COUNT; ++pass) {
        quantiser.Decide();
        ColumnOnsets onsets(records);
        for (size_t g = 0; g < groups; ++g)
            starts[g] = static_cast<uint32_t>(quantiser.Quantise(onsets.Next()));
        bool refined = false;
        uint8_t chordStrings = 0;
        for (size_t g = 0; g < groups; ++g) {
            if (g == 0 || starts[g] != starts[g - 1]) chordStrings = 0;
            if (chordStrings & strings[g]) refined = quantiser.Refine(starts[g]) || refined;
            chordStrings |= strings[g];
        }
        if (!refined) break;
    }
    uint64_t chordStart = 0;
    uint8_t chordStrings = 0;
    ColumnOnsets onsets(records);
    for (size_t g = 0; g < groups; ++g) {
        const double tick = double(onsets.Next());
        uint64_t start = std::max<uint64_t>(starts[g], chordStart);
        if (g > 0 && start == chordStart && (chordStrings & strings[g])) {
            const uint64_t next = quantiser.NextGridPoint(chordStart);
            if ((g + 1 == groups || next < starts[g + 1]) &&
                std::fabs(quantiser.TickOf(next) - tick) <= quantiser.Tolerance() + 1e-6)
                start = next;
        }
        if (g == 0 || start != chordStart) chordStrings = 0;
        chordStart = start;
        chordStrings |= strings[g];
        starts[g] = static_cast<uint32_t>(start); // starts[g + 1] is still the snapped onset
    }
    for (size_t i = 0, g = 0; i < part.Notes.size(); ++i) {
        if (i > 0 && (part.Notes[i].Flags & FIRST_OF_COLUMN)) ++g;
        part.Notes[i].Start = starts[g];
    }
}

// Splits the notes into the two voices: a note still sounding when the onset after next
// begins (it is held while others move) goes to the lower voice and keeps its length; every
// other note is in the upper voice, lasting to its own end or that voice's next onset. Then
// the notes of each onset are ordered upper voice first, so that each chord's notes lie
// together, and the chords of each voice are made.
void AssignVoices(PartNotes& part) {
    BlockArray<WorkNote>& notes = part.Notes;
    const uint32_t count = static_cast<uint32_t>(notes.size());
    std::vector<uint32_t> onsets; // the first note of each onset, and the end
    for (uint32_t i = 0; i < count; ++i)
        if (i == 0 || notes[i].Start != notes[i - 1].Start) onsets.push_back(i);
    const size_t onsetCount = onsets.size();
    onsets.push_back(count);
    const auto startOf = [&](size_t o) { return notes[onsets[o]].Start; };
    const auto setVoice = [&](uint32_t i, int voice) {
        notes[i].Flags = static_cast<uint8_t>(voice ? notes[i].Flags | LOWER_VOICE
                                                    : notes[i].Flags & ~LOWER_VOICE);
    };
    for (size_t o = 0; o + 1 < onsetCount; ++o) {
        const uint32_t next = startOf(o + 1);
        uint32_t after = 0;
        if (o + 2 < onsetCount) {
            after = startOf(o + 2);
        } else {
            for (uint32_t i = onsets[o + 1]; i < count; ++i)
                after = std::max(after, notes[i].End);
        }
        for (uint32_t i = onsets[o]; i < onsets[o + 1]; ++i)
            if (notes[i].End > next && notes[i].End >= after) setVoice(i, 1);
    }
    // Where every note under a held one is held too, nothing moves: they stay one voice.
    {
        std::vector<uint32_t> moving(onsetCount + 1, UINT32_MAX); // start of the next onset
        for (size_t o = onsetCount; o-- > 0;) {                   // with an unheld note
            bool unheld = false;
            for (uint32_t i = onsets[o]; i < onsets[o + 1] && !unheld; ++i)
                unheld = notes[i].Voice() == 0;
            moving[o] = unheld ? startOf(o) : moving[o + 1];
        }
        for (size_t o = 0; o + 1 < onsetCount; ++o)
            for (uint32_t i = onsets[o]; i < onsets[o + 1]; ++i)
                if (notes[i].Voice() == 1 && moving[o + 1] >= notes[i].End) setVoice(i, 0);
    }
    std::vector<WorkNote> lower;
    for (size_t o = 0; o < onsetCount; ++o) {
        uint32_t first[2] = {onsets[o], onsets[o]}, to = onsets[o];
        lower.clear();
        for (uint32_t i = onsets[o]; i < onsets[o + 1]; ++i) {
            if (notes[i].Voice() == 1)
                lower.push_back(notes[i]);
            else
                notes[to++] = notes[i];
        }
        first[1] = to;
        for (const WorkNote& note : lower)
            notes[to++] = note;
        for (int v = 0; v < 2; ++v) {
            const uint32_t end = v == 0 ? first[1] : onsets[o + 1];
            if (first[v] == end) continue;
            Chord chord;
            chord.First = first[v];
            for (uint32_t i = first[v]; i < end; ++i)
                chord.End = std::max(chord.End, notes[i].End);
            BlockArray<Chord>& chords = part.Chords[v];
            if (!chords.empty()) chords.back().End = std::min(chords.back().End, startOf(o));
            chords.push_back(chord);
        }
    }
}

// Quantised onsets, ends, voices and chords of one part, from its gathered notes and their
// times in ticks (given back on return); `songEnd` grows to the last note end.
void CollectNotes(Quantiser& quantiser, RawTimes& raw, PartNotes& part, uint32_t& songEnd,
                  ScoreSummary& summary) {
    quantiser.Reset();
    const std::vector<NoteRecord>& records = *raw.Records;
    {
        ColumnOnsets onsets(records);
        while (!onsets.AtEnd())
            quantiser.Observe(onsets.Next());
    }
    PlaceOnsets(records, quantiser, part);

    double shift = 0;
    ColumnOnsets onsets(records);
    double start = 0;
    for (size_t i = 0; i < part.Notes.size(); ++i) {
        WorkNote& note = part.Notes[i];
        if (note.Flags & FIRST_OF_COLUMN) start = double(onsets.Next());
        uint32_t end = static_cast<uint32_t>(quantiser.Quantise(raw.End[i]));
        shift = std::max(shift, std::fabs(quantiser.TickOf(note.Start) - start));
        shift = std::max(shift, std::fabs(quantiser.TickOf(end) - double(raw.End[i])));
        if (end <= note.Start) end = static_cast<uint32_t>(quantiser.NextGridPoint(note.Start));
        note.End = end;
        songEnd = std::max(songEnd, note.End);
        if (note.String == NO_STRING) ++summary.NotesWithoutPosition;
        ++summary.NotesWritten;
    }
    summary.LargestShift = std::max<uint64_t>(summary.LargestShift, std::llround(shift));
    raw = RawTimes{};
    AssignVoices(part);
    // Grid choices, kept for cutting note values; the song's beats may grow later.
    part.TripletBeats.resize(static_cast<size_t>(quantiser.BeatCount()));
    for (size_t b = 0; b < part.TripletBeats.size(); ++b)
        part.TripletBeats[b] = quantiser.IsTriplet(b) ? 1 : 0;
    quantiser.Release();
}

// Falling tempo steps closer than this (in quarters) and smaller than this share of the tempo
// belong to one ritardando; it takes at least RIT_STEPS of them.
constexpr double RIT_SPACING_QUARTERS = 8;
constexpr double RIT_LARGEST_STEP = 0.2;
constexpr size_t RIT_STEPS = 3;
// A tempo within this share of the one before a ritardando is its "a tempo".
constexpr double A_TEMPO_MATCH = 0.02;

struct Mark {
    uint64_t Div;
    uint32_t Microseconds;
    TempoText Text = TempoText::None;
};

// Names gradually falling runs of tempo changes and the returns after them.
void NameTempoRuns(std::vector<Mark>& marks) {
    size_t i = 1;
    while (i < marks.size()) {
        size_t j = i; // the run is marks[i .. j)
        while (j < marks.size()) {
            const double before = marks[j - 1].Microseconds, now = marks[j].Microseconds;
            const bool falling = now > before && now <= before * (1 + RIT_LARGEST_STEP);
            const bool close = double(marks[j].Div - marks[j - 1].Div) <=
                               RIT_SPACING_QUARTERS * DIVISIONS;
            if (!falling || (j > i && !close)) break;
            ++j;
        }
        if (j - i < RIT_STEPS) {
            ++i;
            continue;
        }
        marks[i].Text = TempoText::Ritardando;
        for (size_t k = i + 1; k + 1 < j; ++k)
            marks[k].Text = TempoText::InRun;
        marks[j - 1].Text = TempoText::RitEnd;
        const double before = marks[i - 1].Microseconds;
        if (j < marks.size() &&
            std::fabs(double(marks[j].Microseconds) - before) <= before * A_TEMPO_MATCH)
            marks[j].Text = TempoText::ATempo;
        i = j + 1;
    }
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
    // Two marks merged at one division may leave a mark that changes nothing.
    std::vector<Mark> changes;
    for (const Mark& mark : marks)
        if (changes.empty() || mark.Microseconds != changes.back().Microseconds)
            changes.push_back(mark);
    NameTempoRuns(changes);
    for (const Mark& mark : changes) {
        const size_t m = bars.AtDiv(mark.Div);
        if (mark.Div >= list[m].StartDiv + list[m].Divs) continue; // past the last measure
        ScoreTempo tempo;
        tempo.Position = static_cast<uint32_t>(mark.Div - list[m].StartDiv);
        tempo.MicrosecondsPerQuarter = mark.Microseconds;
        tempo.Text = mark.Text;
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
    std::vector<TrackColumns> columns = ConvertWithColumns(conversion, bytes, displayName);

    // The timeline's notes are read one track at a time, as each part needs them.
    MidiTimeline read;
    if (!givenTimeline) read = ReadMidiTimelineWithoutNotes(bytes);
    const MidiTimeline empty;
    const MidiTimeline& given = givenTimeline ? *givenTimeline : read;
    const MidiTimeline& timeline = given.Valid ? given : empty; // the tablature's notes still go out
    const uint32_t division = conversion.Header.Division ? conversion.Header.Division : 96;
    score.Division = division;

    std::vector<uint32_t> tracks;
    if (!ChooseTracks(conversion, options, tracks, summary)) return false;

    // Notes, strings, frets and times in ticks, part by part, and the song's last tick: from
    // the note ends of the timeline where its notes are the tablature's, else from the onsets.
    std::vector<PartNotes> notes(tracks.size());
    std::vector<RawTimes> times(tracks.size());
    score.Parts.resize(tracks.size());
    uint64_t lastTick = 0;
    uint64_t noteCount = 0;
    for (size_t p = 0; p < tracks.size(); ++p) {
        ScorePart& part = score.Parts[p];
        part.Track = tracks[p];
        const TrackRecord& track = conversion.TrackList[part.Track];
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
        TimelineSource source;
        source.Kept = givenTimeline ? timed : nullptr;
        source.FromBytes = !givenTimeline && timed;
        source.Bytes = bytes;
        source.Track = part.Track;
        TrackColumns none;
        TrackColumns& trackColumns = part.Track < columns.size() ? columns[part.Track] : none;
        lastTick = std::max(lastTick, GatherNotes(conversion, track, trackColumns, source, division,
                                                  notes[p], times[p]));
        noteCount += track.Notes.size();
    }
    columns.clear();

    Bars bars;
    if (!bars.Build(timeline.TimeSignatures, division, lastTick,
                    FREE_BEATS + BEATS_PER_NOTE * noteCount)) {
        summary.Error = "the song is too long to write as a score";
        return false;
    }
    // Quantised times, voices and chords, part by part.
    Quantiser quantiser(bars, division);
    uint32_t songEnd = 0;
    for (size_t p = 0; p < tracks.size(); ++p) {
        CollectNotes(quantiser, times[p], notes[p], songEnd, summary);
        summary.Parts.push_back(tracks[p] + 1);
    }
    if (!bars.ExtendTo(songEnd)) {
        summary.Error = "the song is too long to write as a score";
        return false;
    }
    FillMeasures(bars, timeline, score);
    for (size_t p = 0; p < tracks.size(); ++p) {
        BarMaker(bars, conversion, notes[p]).MakeBars(score.Parts[p].Bars);
        notes[p] = PartNotes{};
    }
    return true;
}

std::string ScoreChordName(int chordIndex) {
    if (chordIndex < 0 || static_cast<size_t>(chordIndex) >= ChordNames.size()) return {};
    return TrimmedName(ChordNames[static_cast<size_t>(chordIndex)]);
}

std::string FormatScoreSummary(const ScoreSummary& summary) {
    return std::to_string(summary.NotesWritten) + " notes written, " +
           std::to_string(summary.NotesWithoutPosition) + " without string and fret, " +
           "largest quantisation shift " + std::to_string(summary.LargestShift) + " ticks";
}

} // namespace morvel
