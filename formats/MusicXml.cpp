// MusicXML writer. Works in three steps:
// 1. the measures: from the conductor map, each measure with its span in ticks and in
//    divisions (DIVISIONS per quarter), its beats (quarters, the last one possibly shorter);
// 2. per exported track, the notes with their strings and frets (from the columns of the text
//    tablature) and their quantised onsets and ends, beat grids chosen per beat;
// 3. the text, measure by measure: the chords and rests of a measure are cut into pieces that
//    one note value (dotted or in a triplet) can show, then written once per staff.
#include "formats/MusicXml.h"

#include "core/Chords.h"
#include "formats/MidiTimeline.h"
#include "core/Placement.h"
#include "io/SafeOpen.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

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
constexpr size_t FLUSH_SIZE = 256 * 1024;
constexpr int DRUM_CHANNEL = 9;
constexpr int TAB_VOICE = 5;
constexpr uint8_t NO_STRING = 0;
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

// One note as written.
struct XNote {
    uint32_t Start = 0; // divisions (the song has at most MAX_BEATS beats)
    uint32_t End = 0;
    uint32_t Column = 0; // note column of the text tablature
    int16_t Pitch = 0;   // sounding MIDI pitch
    uint8_t String = NO_STRING; // 1 (highest) .. 6
    uint8_t Fret = 0;
};

struct Chord {
    uint32_t Start = 0;
    uint32_t End = 0;
    uint32_t First = 0; // index of its first note
    uint32_t Count = 0;
};

struct PartData {
    uint32_t Track = 0; // 0-based
    std::string Name;
    int Program = -1;
    int Channel = 0;
    std::vector<XNote> Notes;
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

struct NoteValue {
    uint32_t Length;
    const char* Type;
    bool Dot;
};
constexpr NoteValue STRAIGHT_VALUES[] = {
    {48, "whole", false}, {36, "half", true},  {24, "half", false},  {18, "quarter", true},
    {12, "quarter", false}, {9, "eighth", true}, {6, "eighth", false}, {3, "16th", false},
};

const NoteValue* StraightValue(uint32_t length) {
    for (const NoteValue& v : STRAIGHT_VALUES)
        if (v.Length == length) return &v;
    return nullptr;
}

const char* const SHARP_STEPS[12] = {"C", "C", "D", "D", "E", "F", "F", "G", "G", "A", "A", "B"};
const int SHARP_ALTER[12] = {0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 1, 0};
const char* const FLAT_STEPS[12] = {"C", "D", "D", "E", "E", "F", "G", "G", "A", "A", "B", "B"};
const int FLAT_ALTER[12] = {0, -1, 0, -1, 0, 0, -1, 0, -1, 0, -1, 0};
const char* const CHORD_KINDS[4] = {"major", "minor", "dominant", "minor-seventh"};

// MusicXML writes octaves 0 to 9: a pitch outside C0 (12) .. G9 (127) is moved by octaves
// into that range, keeping its name.
int WritablePitch(int pitch) {
    constexpr int LOWEST = 12, HIGHEST = 127;
    if (pitch < LOWEST) pitch += 12 * ((LOWEST - pitch + 11) / 12);
    if (pitch > HIGHEST) pitch -= 12 * ((pitch - HIGHEST + 11) / 12);
    return pitch;
}

// Text as XML character data: valid UTF-8 kept, other bytes read as Latin-1, control
// characters as spaces, markup characters escaped.
std::string XmlText(std::string_view text) {
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c < 0x20 || c == 0x7F ? ' ' : static_cast<char>(c);
            }
            ++i;
            continue;
        }
        // A well-formed UTF-8 sequence of 2 to 4 bytes is kept whole.
        const size_t length = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        bool valid = length != 0 && c < 0xF5 && i + length <= text.size();
        for (size_t k = 1; valid && k < length; ++k)
            valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (valid && length > 2) {
            // No overlong forms, surrogates or code points above U+10FFFF.
            const unsigned char second = static_cast<unsigned char>(text[i + 1]);
            valid = !(c == 0xE0 && second < 0xA0) && !(c == 0xED && second >= 0xA0) &&
                    !(c == 0xF0 && second < 0x90) && !(c == 0xF4 && second >= 0x90);
        }
        if (valid) {
            out.append(text.substr(i, length));
            i += length;
            continue;
        }
        if (c < 0xA0) {
            out += ' ';
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
        ++i;
    }
    return out;
}

std::string TrimmedName(std::string name) {
    TrimTrailingBlanks(name);
    while (!name.empty() && (name.front() == ' ' || name.front() == '\t')) name.erase(0, 1);
    return name;
}

class Writer {
  public:
    Writer(const TextSink& sink) : sink_(sink) {}
    ~Writer() = default;

    void Put(std::string_view text) {
        out_.append(text);
        if (out_.size() >= FLUSH_SIZE) Flush();
    }
    void Put(uint64_t value) {
        char buffer[24];
        auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        out_.append(buffer, static_cast<size_t>(result.ptr - buffer));
    }
    void PutInt(int64_t value) {
        char buffer[24];
        auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        out_.append(buffer, static_cast<size_t>(result.ptr - buffer));
    }
    void Element(std::string_view name, uint64_t value) {
        Put("<");
        Put(name);
        Put(">");
        Put(value);
        Put("</");
        Put(name);
        Put(">");
    }
    void Flush() {
        if (!out_.empty()) sink_(out_);
        out_.clear();
    }

  private:
    const TextSink& sink_;
    std::string out_;
};

struct TempoMark {
    uint64_t Div = 0;
    uint32_t Microseconds = DEFAULT_TEMPO;
};
struct KeyMark {
    size_t Measure = 0;
    int Fifths = 0;
    bool Minor = false;
};

class ScoreWriter {
  public:
    ScoreWriter(Writer& out, const Bars& bars, const Conversion& conversion)
        : out_(out), bars_(bars), conversion_(conversion) {}

    std::vector<TempoMark> Tempos;
    std::vector<KeyMark> Keys; // one per measure that changes it, the first at measure 0

    void WritePart(const PartData& part, size_t partIndex) {
        out_.Put("  <part id=\"P");
        out_.Put(partIndex + 1);
        out_.Put("\">\n");
        part_ = &part;
        firstPart_ = partIndex == 0;
        size_t chord = 0;   // first chord that may reach into the measure
        size_t tempo = 0;   // next tempo mark
        size_t key = 0;     // next key mark
        const std::vector<Measure>& measures = bars_.List();
        for (size_t m = 0; m < measures.size(); ++m) {
            const Measure& measure = measures[m];
            out_.Put("    <measure number=\"");
            out_.Put(m + 1);
            out_.Put("\">\n");
            while (key < Keys.size() && Keys[key].Measure < m) ++key;
            const KeyMark* keyMark = key < Keys.size() && Keys[key].Measure == m ? &Keys[key] : nullptr;
            if (keyMark) flats_ = keyMark->Fifths < 0;
            WriteAttributes(m, keyMark);
            while (chord < part.Chords.size() && part.Chords[chord].End <= measure.StartDiv &&
                   part.Chords[chord].Start < measure.StartDiv)
                ++chord;
            MakePieces(measure, chord);
            measureTempos_.clear();
            while (tempo < Tempos.size() && Tempos[tempo].Div < measure.StartDiv + measure.Divs) {
                if (firstPart_) measureTempos_.push_back(Tempos[tempo]);
                ++tempo;
            }
            WriteStaff(measure, 1);
            out_.Put("      <backup><duration>");
            out_.Put(measure.Divs);
            out_.Put("</duration></backup>\n");
            WriteStaff(measure, 2);
            out_.Put("    </measure>\n");
        }
        out_.Put("  </part>\n");
    }

  private:
    void WriteAttributes(size_t m, const KeyMark* keyMark) {
        const Measure& measure = bars_.List()[m];
        const bool newTime = m == 0 || bars_.List()[m - 1].Numerator != measure.Numerator ||
                             bars_.List()[m - 1].Denominator != measure.Denominator;
        if (!newTime && !keyMark && m != 0) return;
        out_.Put("      <attributes>");
        if (m == 0) out_.Element("divisions", DIVISIONS);
        if (keyMark) {
            out_.Put("<key><fifths>");
            out_.PutInt(keyMark->Fifths);
            out_.Put(keyMark->Minor ? "</fifths><mode>minor</mode></key>"
                                    : "</fifths><mode>major</mode></key>");
        }
        if (newTime) {
            out_.Put("<time>");
            out_.Element("beats", measure.Numerator);
            out_.Element("beat-type", measure.Denominator);
            out_.Put("</time>");
        }
        if (m == 0) {
            out_.Put("<staves>2</staves>"
                     "<clef number=\"1\"><sign>G</sign><line>2</line>"
                     "<clef-octave-change>-1</clef-octave-change></clef>"
                     "<clef number=\"2\"><sign>TAB</sign><line>5</line></clef>"
                     "<staff-details number=\"2\"><staff-lines>6</staff-lines>");
            // Line 1 is the lowest string; the tuning sounds an octave below the written pitch.
            for (int line = 1; line <= STRING_COUNT; ++line) {
                const int pitch = StringSound(STRING_COUNT - line);
                out_.Put("<staff-tuning line=\"");
                out_.Put(static_cast<uint64_t>(line));
                out_.Put("\"><tuning-step>");
                out_.Put(SHARP_STEPS[pitch % 12]);
                out_.Put("</tuning-step>");
                if (SHARP_ALTER[pitch % 12]) out_.Put("<tuning-alter>1</tuning-alter>");
                out_.Put("<tuning-octave>");
                out_.PutInt(pitch / 12 - 1);
                out_.Put("</tuning-octave></staff-tuning>");
            }
            out_.Put("</staff-details>");
        }
        out_.Put("</attributes>\n");
    }

  public:
    // The sounding pitch of string index s (0 = first) when open, as it can be written.
    int StringSound(int s) const {
        const int pitch = conversion_.StringPitch[static_cast<size_t>(s)] +
                          conversion_.TuningSettings.Transpose - 12;
        return WritablePitch(pitch);
    }

  private:
    // Cuts the chords and rests of `measure` into pieces, starting at chord `first`.
    void MakePieces(const Measure& measure, size_t first) {
        pieces_.clear();
        const uint64_t m0 = measure.StartDiv;
        const uint64_t m1 = m0 + measure.Divs;
        uint64_t cursor = m0;
        const std::vector<Chord>& chords = part_->Chords;
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
        auto triplet = [&](uint32_t k) { return quantiserTriplet(measure.FirstBeat + k); };
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
                for (const NoteValue& v : STRAIGHT_VALUES) {
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

    bool quantiserTriplet(uint64_t beat) const {
        return beat < part_->TripletBeats.size() && part_->TripletBeats[beat];
    }

    void WriteStaff(const Measure& measure, int staff) {
        size_t tempo = 0;
        for (const Piece& piece : pieces_) {
            if (staff == 1) {
                while (tempo < measureTempos_.size() &&
                       measureTempos_[tempo].Div < measure.StartDiv + piece.Start + piece.Length)
                    WriteTempo(measureTempos_[tempo++], measure.StartDiv + piece.Start);
                if (piece.Chord >= 0 && !piece.TieFromPrevious) WriteHarmony(piece);
            }
            if (piece.Chord < 0) {
                WriteNote(piece, staff, nullptr, true);
                continue;
            }
            const Chord& chord = part_->Chords[static_cast<size_t>(piece.Chord)];
            for (uint32_t n = 0; n < chord.Count; ++n) {
                const XNote& note = part_->Notes[chord.First + n];
                bool repeated = false;
                for (uint32_t k = 0; k < n && !repeated; ++k)
                    repeated = part_->Notes[chord.First + k].Pitch == note.Pitch;
                if (!repeated) WriteNote(piece, staff, &note, n == 0);
            }
        }
    }

    void WriteTempo(const TempoMark& mark, uint64_t at) {
        const double bpm = 60'000'000.0 / mark.Microseconds;
        char text[32];
        auto r = std::to_chars(text, text + sizeof text, std::round(bpm * 100) / 100,
                               std::chars_format::fixed);
        std::string tempo(text, r.ptr);
        while (tempo.find('.') != std::string::npos && (tempo.back() == '0' || tempo.back() == '.'))
            tempo.pop_back();
        out_.Put("      <direction placement=\"above\"><direction-type><metronome>"
                 "<beat-unit>quarter</beat-unit><per-minute>");
        out_.Put(static_cast<uint64_t>(std::max(1L, std::lround(bpm))));
        out_.Put("</per-minute></metronome></direction-type>");
        if (mark.Div > at) out_.Element("offset", mark.Div - at);
        out_.Put("<staff>1</staff><sound tempo=\"");
        out_.Put(tempo);
        out_.Put("\"/></direction>\n");
    }

    // The step of pitch class `pc` and its alteration (sharps, or flats in a flat key).
    void PutStep(int pc, std::string_view step, std::string_view alter) {
        out_.Put("<");
        out_.Put(step);
        out_.Put(">");
        out_.Put(flats_ ? FLAT_STEPS[pc] : SHARP_STEPS[pc]);
        out_.Put("</");
        out_.Put(step);
        out_.Put(">");
        const int change = flats_ ? FLAT_ALTER[pc] : SHARP_ALTER[pc];
        if (change == 0) return;
        out_.Put("<");
        out_.Put(alter);
        out_.Put(">");
        out_.PutInt(change);
        out_.Put("</");
        out_.Put(alter);
        out_.Put(">");
    }

    void WriteHarmony(const Piece& piece) {
        if (!conversion_.Settings.ShowChord) return;
        const Chord& chord = part_->Chords[static_cast<size_t>(piece.Chord)];
        const uint32_t column = part_->Notes[chord.First].Column;
        if (column >= part_->Columns.size() || part_->Columns[column].Label != LABEL_NOTES) return;
        const int index = ChordIndexOfColumn(part_->Columns[column]);
        if (index < 0) return;
        out_.Put("      <harmony><root>");
        PutStep(index % 12, "root-step", "root-alter");
        out_.Put("</root><kind>");
        out_.Put(CHORD_KINDS[index / 12]);
        out_.Put("</kind><staff>1</staff></harmony>\n");
    }

    void WriteNote(const Piece& piece, int staff, const XNote* note, bool firstOfChord) {
        out_.Put("      <note>");
        if (!note) {
            out_.Put(piece.WholeMeasureRest ? "<rest measure=\"yes\"/>" : "<rest/>");
        } else {
            if (!firstOfChord) out_.Put("<chord/>");
            out_.Put("<pitch>");
            PutStep(note->Pitch % 12, "step", "alter");
            out_.Put("<octave>");
            out_.PutInt(note->Pitch / 12 - 1);
            out_.Put("</octave></pitch>");
        }
        out_.Element("duration", piece.Length);
        if (note && piece.TieFromPrevious) out_.Put("<tie type=\"stop\"/>");
        if (note && piece.TieToNext) out_.Put("<tie type=\"start\"/>");
        out_.Element("voice", staff == 1 ? 1 : TAB_VOICE);
        if (!piece.WholeMeasureRest) {
            const char* type = "16th";
            bool dot = false;
            if (piece.Triplet) {
                type = piece.Length == 2 * TRIPLET_STEP ? "quarter" : "eighth";
            } else if (const NoteValue* v = StraightValue(piece.Length)) {
                type = v->Type;
                dot = v->Dot;
            }
            out_.Put("<type>");
            out_.Put(type);
            out_.Put("</type>");
            if (dot) out_.Put("<dot/>");
            if (piece.Triplet)
                out_.Put("<time-modification><actual-notes>3</actual-notes>"
                         "<normal-notes>2</normal-notes></time-modification>");
        }
        out_.Element("staff", static_cast<uint64_t>(staff));
        const bool tuplet = piece.Triplet && firstOfChord && (piece.TupletStart || piece.TupletStop);
        const bool technical = note && note->String != NO_STRING;
        const bool tied = note && (piece.TieFromPrevious || piece.TieToNext);
        if (tuplet || technical || tied) {
            out_.Put("<notations>");
            if (note && piece.TieFromPrevious) out_.Put("<tied type=\"stop\"/>");
            if (note && piece.TieToNext) out_.Put("<tied type=\"start\"/>");
            if (tuplet && piece.TupletStart) out_.Put("<tuplet type=\"start\" bracket=\"yes\"/>");
            if (tuplet && piece.TupletStop && !piece.TupletStart)
                out_.Put("<tuplet type=\"stop\"/>");
            if (technical) {
                out_.Put("<technical>");
                out_.Element("string", note->String);
                out_.Element("fret", note->Fret);
                out_.Put("</technical>");
            }
            out_.Put("</notations>");
        }
        out_.Put("</note>\n");
    }

    Writer& out_;
    const Bars& bars_;
    const Conversion& conversion_;
    const PartData* part_ = nullptr;
    bool firstPart_ = false;
    bool flats_ = false;
    std::vector<Piece> pieces_;
    std::vector<TempoMark> measureTempos_;
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

} // namespace

bool WriteMusicXml(Conversion& conversion, std::string_view bytes, const std::string& displayName,
                   const MusicXmlOptions& options, const TextSink& sink,
                   MusicXmlSummary& summary) {
    summary = MusicXmlSummary{};
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

    MidiTimeline timeline = ReadMidiTimeline(bytes);
    const uint32_t division = conversion.Header.Division ? conversion.Header.Division : 96;
    if (!timeline.Valid) timeline = MidiTimeline{}; // the tablature's notes still go out

    // Which tracks become parts.
    std::vector<uint32_t> tracks = options.Tracks;
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
    std::vector<PartData> parts(tracks.size());
    Quantiser quantiser(bars);
    const int transpose = conversion.TuningSettings.Transpose;
    uint32_t songEnd = 0;
    for (size_t p = 0; p < tracks.size(); ++p) {
        PartData& part = parts[p];
        part.Track = tracks[p];
        const TrackRecord& track = conversion.TrackList[part.Track];
        if (part.Track < columns.size()) part.Columns = std::move(columns[part.Track]);
        const TimelineTrack* timed =
            part.Track < timeline.Tracks.size() ? &timeline.Tracks[part.Track] : nullptr;
        part.Name = TrimmedName(timed ? timed->Name : track.TrackName);
        if (part.Name.empty()) part.Name = TrimmedName(track.TrackName);
        if (part.Name.empty()) part.Name = "Track " + std::to_string(part.Track + 1);
        part.Program = timed ? timed->Program : -1;
        part.Channel = track.Notes.front().Channel & 0x0F;

        // Onset and end ticks: the timeline's, or (without it) each note lasting until the
        // next onset, a quarter for the last.
        std::vector<TimelineNote> guessed;
        if (!matched[p]) {
            guessed.resize(track.Notes.size());
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
        }
        std::vector<TimelineNote>& raw = matched[p] ? timeline.Tracks[part.Track].Notes : guessed;
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
            XNote& note = part.Notes[i];
            note.Column = column;
            note.Start = static_cast<uint32_t>(quantiser.Quantise(raw[i].Start, summary.LargestShift));
            note.End = static_cast<uint32_t>(quantiser.Quantise(raw[i].End, summary.LargestShift));
            int pitch = record.Note + transpose - 12;
            if (column < part.Columns.size() && part.Columns[column].Label == LABEL_NOTES) {
                const TabColumn& tab = part.Columns[column];
                const int64_t placed = FoldNote(record.Note, conversion.StringPitch,
                                                conversion.Settings).Pitch;
                for (int s = 0; s < STRING_COUNT; ++s) {
                    if (tab.Fret[s] == NO_FRET ||
                        conversion.StringPitch[static_cast<size_t>(s)] + tab.Fret[s] != placed)
                        continue;
                    note.String = static_cast<uint8_t>(s + 1);
                    note.Fret = tab.Fret[s];
                    pitch = conversion.StringPitch[static_cast<size_t>(s)] + transpose - 12 +
                            tab.Fret[s];
                    break;
                }
            }
            note.Pitch = static_cast<int16_t>(WritablePitch(pitch));
            if (note.String == NO_STRING) ++summary.NotesWithoutPosition;
            ++summary.NotesWritten;
        }
        raw = {};
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
                if (strings & taken)
                    start = static_cast<uint32_t>(quantiser.NextGridPoint(chordStart));
            }
            if (i == 0 || start != chordStart) strings = 0;
            chordStart = start;
            strings |= taken;
            for (; i < j; ++i) {
                XNote& note = part.Notes[i];
                note.Start = start;
                if (note.End <= start)
                    note.End = static_cast<uint32_t>(quantiser.NextGridPoint(start));
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
        // Grid choices, kept for cutting note values; the song's beats may grow below.
        part.TripletBeats.resize(static_cast<size_t>(bars.BeatCount()));
        for (size_t b = 0; b < part.TripletBeats.size(); ++b)
            part.TripletBeats[b] = quantiser.IsTriplet(b) ? 1 : 0;
        summary.Parts.push_back(part.Track + 1);
    }
    if (!bars.ExtendTo(songEnd)) {
        summary.Error = "the song is too long to write as MusicXML";
        return false;
    }

    Writer out(sink);
    ScoreWriter score(out, bars, conversion);
    // Tempo marks: the start and every change, at the nearest division.
    {
        uint32_t current = 0;
        const auto at = [&](uint64_t tick) {
            const Measure& m = bars.List()[bars.AtTick(static_cast<double>(tick))];
            const double rel = (static_cast<double>(tick) - m.StartTick) * m.Divs / m.Ticks;
            return m.StartDiv + static_cast<uint64_t>(std::clamp(std::round(rel), 0.0, double(m.Divs)));
        };
        if (timeline.Tempos.empty() || timeline.Tempos.front().Tick > 0)
            score.Tempos.push_back({0, DEFAULT_TEMPO});
        for (const TempoChange& change : timeline.Tempos) {
            if (static_cast<double>(change.Tick) >= bars.List().back().StartTick + bars.List().back().Ticks)
                break;
            const uint64_t div = at(change.Tick);
            if (!score.Tempos.empty() && score.Tempos.back().Div == div)
                score.Tempos.back().Microseconds = change.MicrosecondsPerQuarter;
            else if (change.MicrosecondsPerQuarter != current || score.Tempos.empty())
                score.Tempos.push_back({div, change.MicrosecondsPerQuarter});
            current = score.Tempos.back().Microseconds;
        }
        score.Keys.push_back({0, 0, false});
        for (const KeySignatureChange& change : timeline.KeySignatures) {
            const size_t m = bars.AtTick(static_cast<double>(change.Tick));
            if (score.Keys.back().Measure != m) score.Keys.push_back({m, 0, false});
            score.Keys.back().Fifths = change.Fifths;
            score.Keys.back().Minor = change.Minor;
        }
    }

    out.Put("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
            "<!DOCTYPE score-partwise PUBLIC \"-//Recordare//DTD MusicXML 4.0 Partwise//EN\" "
            "\"http://www.musicxml.org/dtds/partwise.dtd\">\n"
            "<score-partwise version=\"4.0\">\n  <work><work-title>");
    out.Put(XmlText(options.WorkTitle));
    out.Put("</work-title></work>\n  <identification><encoding><software>");
    out.Put(SOFTWARE_NAME);
    out.Put("</software></encoding></identification>\n  <part-list>\n");
    for (size_t p = 0; p < parts.size(); ++p) {
        const std::string id = "P" + std::to_string(p + 1);
        const std::string name = XmlText(parts[p].Name);
        out.Put("    <score-part id=\"" + id + "\"><part-name>" + name +
                "</part-name><score-instrument id=\"" + id + "-I1\"><instrument-name>" + name +
                "</instrument-name></score-instrument><midi-instrument id=\"" + id +
                "-I1\"><midi-channel>" + std::to_string(parts[p].Channel + 1) +
                "</midi-channel>");
        if (parts[p].Program >= 0)
            out.Put("<midi-program>" + std::to_string(parts[p].Program + 1) + "</midi-program>");
        out.Put("</midi-instrument></score-part>\n");
    }
    out.Put("  </part-list>\n");
    for (size_t p = 0; p < parts.size(); ++p) {
        score.WritePart(parts[p], p);
        parts[p] = PartData{};
    }
    out.Put("</score-partwise>\n");
    out.Flush();
    return true;
}

bool WriteMusicXmlOfFile(Conversion& conversion, const std::string& path,
                         const MusicXmlOptions& options, const TextSink& sink,
                         MusicXmlSummary& summary) {
    summary = MusicXmlSummary{};
    std::string why;
    std::string bytes;
    const int fd = OpenRegularFile(path, why);
    bool read = fd >= 0;
    if (read) {
        char buffer[1 << 16];
        ssize_t got = 0;
        while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
            bytes.append(buffer, static_cast<size_t>(got));
        read = got == 0;
        ::close(fd);
    }
    if (!read) {
        // The conversion says why, in the words it uses for every file it cannot open.
        conversion.MidiFileName = path;
        conversion.SetReportSink([](std::string_view) {});
        conversion.ConvertMidiFile();
        conversion.SetReportSink({});
        return false;
    }
    conversion.MidiFileName = path;
    return WriteMusicXml(conversion, bytes, path, options, sink, summary);
}

std::string FormatMusicXmlSummary(const MusicXmlSummary& summary) {
    return std::to_string(summary.NotesWritten) + " notes written, " +
           std::to_string(summary.NotesWithoutPosition) + " without string and fret, " +
           "largest quantisation shift " + std::to_string(summary.LargestShift) + " ticks";
}

} // namespace morvel
