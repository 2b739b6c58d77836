// Optimised fingering: a shortest-path search over hand positions, column by column.
//
// The hand sits in a position P: the index finger at fret P, the hand covering frets P to
// P + HAND_FRETS - 1 (a chord reaching one fret further needs a stretch). For each column the
// candidate voicings are enumerated (each distinct pitch on its own string, as many pitches as
// any voicing can hold, fretted notes within MAX_CHORD_STRETCH when that is possible); a
// voicing fits every position whose frets hold its fretted notes (a voicing of open strings
// only fits every position), and for each position only the cheapest voicing that fits it is
// kept: what follows a column depends on nothing but the position it leaves. Five bits per
// column and position record where the best path came from; a backward walk then rebuilds
// the chosen voicings and writes one position code and one column label per note.
#include "core/Fingering.h"
#include "core/FingeringWeights.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <limits>
#include <optional>

namespace morvel {

namespace {

constexpr int HAND_FRETS = 4; // frets the hand covers in one position, index to little finger
constexpr int POSITIONS = MAX_OPTIMISED_FRET; // positions 1 .. MAX_OPTIMISED_FRET, index P - 1
// Distinct pitches of one column the search considers; six strings hold at most six of them.
constexpr int MAX_COLUMN_PITCHES = 12;
// Notes still sounding from earlier columns that a column's hand shape takes in: the nearest
// MAX_HELD distinct pitches among the HELD_LOOKBACK notes before the column.
constexpr int MAX_HELD = 2;
constexpr size_t HELD_LOOKBACK = 16;
// Steps of the voicing search of one column; the chords of the corpus take at most 1,900.
constexpr int SEARCH_STEPS = 4096;
constexpr double WIDE_COST = 50.0; // per fret a chord spans beyond MAX_CHORD_STRETCH
constexpr double INFINITE_COST = std::numeric_limits<double>::infinity();

// Back-pointers: per column and position, the position index the best path came from, in
// SLOT_BITS bits each, packed into SLOT_BYTES per column.
constexpr int SLOT_BITS = 5;
constexpr unsigned SLOT_MASK = (1u << SLOT_BITS) - 1;
constexpr size_t SLOT_BYTES = (POSITIONS * SLOT_BITS + 7) / 8;
static_assert(POSITIONS <= 1 << SLOT_BITS);

constexpr uint8_t LEFT_OUT = 0xFF; // the string of a pitch a voicing does not hold

// The highest fret the optimised search uses: MaxFret from MAX_SEARCH_FRET up to
// MAX_OPTIMISED_FRET.
int SearchFretLimit(const ConversionSettings& settings) {
    return std::clamp<int32_t>(settings.MaxFret, MAX_SEARCH_FRET, MAX_OPTIMISED_FRET);
}

// What one voicing's frets ask of the hand.
struct VoicingShape {
    double Cost = 0;    // the voicing's own cost, open strings in the first position
    int Opens = 0;      // open strings, which cost OpenAway more per fret the hand sits higher
    int ChordOpens = 0; // the same within a chord, which cost ChordOpenAway more
    int Low = 0;        // lowest and highest fretted fret; 0 for open strings only
    int High = 0;
    int Fretted = 0;
    uint8_t Frets[STRING_COUNT] = {}; // the fretted frets
    // Per open string, the fret at which the next thicker string left free sounds its pitch
    // (0 when there is none): a hand in position over that fret could fret it instead.
    int OpenAlternatives = 0;
    uint8_t Alternative[STRING_COUNT] = {};
    int FirstFit = 0; // the positions (indices) it fits: FirstFit .. LastFit
    int LastFit = POSITIONS - 1;
};

// The shape of the voicing that puts fret `frets[i]` on string `strings[i]`, i < count. The
// notes from `held` on are still held from earlier columns: their strings are taken and their
// fretted fingers belong to the hand shape, but their own costs were paid before.
VoicingShape ShapeOf(const uint8_t* frets, const uint8_t* strings, int count, int held,
                     const std::array<int16_t, STRING_COUNT>& stringPitch,
                     const FingeringWeights& w) {
    VoicingShape shape;
    int low = MAX_OPTIMISED_FRET + 1;
    int high = 0;
    unsigned used = 0;
    for (int i = 0; i < count; ++i)
        used |= 1u << strings[i];
    for (int i = 0; i < count; ++i) {
        const int f = frets[i];
        const bool own = i < held;
        if (f == 0) {
            if (!own) continue;
            ++shape.Opens;
            const int s = strings[i] + 1;
            if (s < STRING_COUNT && !(used & (1u << s))) {
                const int alt = stringPitch[static_cast<size_t>(strings[i])] -
                                stringPitch[static_cast<size_t>(s)];
                if (alt > 0 && alt <= MAX_OPTIMISED_FRET)
                    shape.Alternative[shape.OpenAlternatives++] = static_cast<uint8_t>(alt);
            }
            continue;
        }
        low = std::min(low, f);
        high = std::max(high, f);
        shape.Frets[shape.Fretted++] = static_cast<uint8_t>(f);
        if (own) shape.Cost += w.Fretted + w.Fret * f;
    }
    if (held > 1) shape.ChordOpens = shape.Opens;
    if (high == 0) return shape;
    shape.Low = low;
    shape.High = high;
    const int span = high - low;
    if (span >= HAND_FRETS) {
        shape.Cost += std::max(0.0, w.Stretch - w.StretchHigh * low);
        if (span > MAX_CHORD_STRETCH) shape.Cost += WIDE_COST * (span - MAX_CHORD_STRETCH);
        shape.FirstFit = shape.LastFit = low - 1;
    } else {
        // A finger may reach one fret beyond the hand, either way.
        shape.FirstFit = std::max(0, high - HAND_FRETS - 1);
        shape.LastFit = std::min(low, POSITIONS - 1);
    }
    return shape;
}

// The cost of `shape` with the hand in position index `p`.
double CostAt(const VoicingShape& shape, int p, const FingeringWeights& w) {
    double cost = shape.Cost + (w.OpenAway * shape.Opens + w.ChordOpenAway * shape.ChordOpens) * p;
    const int first = p + 1; // the fret of the index finger
    for (int i = 0; i < shape.OpenAlternatives; ++i)
        if (shape.Alternative[i] >= first && shape.Alternative[i] < first + HAND_FRETS)
            cost += w.OpenUnder;
    if (shape.High - shape.Low < HAND_FRETS) {
        for (int i = 0; i < shape.Fretted; ++i) {
            const int f = shape.Frets[i];
            if (f < first || f >= first + HAND_FRETS)
                cost += w.Reach;
            else
                cost += (w.Finger - w.Fret) * (f - first);
        }
    }
    return cost;
}

// Moves the hand between columns `ticks` apart: next[p] = own[p] + the cheapest way to reach
// position p from any position of `cost`; `slot[p]` records where from. `own` infinite: p
// cannot hold the column.
void Advance(const double* cost, const double* own, double* next, uint8_t* slot, uint32_t ticks,
             double quarter, const FingeringWeights& w) {
    const double factor = 1.0 + w.Quick * quarter / (quarter + ticks);
    const double perFret = factor * w.Shift;
    const double once = factor * w.ShiftOnce;
    // The cheapest cost[q] + perFret * |p - q| over all q, by a pass each way.
    double reach[POSITIONS];
    uint8_t from[POSITIONS];
    for (int p = 0; p < POSITIONS; ++p) {
        reach[p] = cost[p];
        from[p] = static_cast<uint8_t>(p);
        if (p > 0 && reach[p - 1] + perFret < reach[p]) {
            reach[p] = reach[p - 1] + perFret;
            from[p] = from[p - 1];
        }
    }
    for (int p = POSITIONS - 2; p >= 0; --p) {
        if (reach[p + 1] + perFret < reach[p]) {
            reach[p] = reach[p + 1] + perFret;
            from[p] = from[p + 1];
        }
    }
    for (int p = 0; p < POSITIONS; ++p) {
        next[p] = INFINITE_COST;
        slot[p] = 0;
        if (own[p] == INFINITE_COST) continue;
        double best = cost[p];
        int bestFrom = p;
        if (from[p] != p && reach[p] + once < best) {
            best = reach[p] + once;
            bestFrom = from[p];
        }
        if (best == INFINITE_COST) continue;
        next[p] = best + own[p];
        slot[p] = static_cast<uint8_t>(bestFrom);
    }
}

struct Voicing {
    double Cost = INFINITE_COST;
    // per distinct pitch of the column, then per held pitch; LEFT_OUT for one not placed
    uint8_t String[MAX_COLUMN_PITCHES + MAX_HELD] = {};
    uint8_t Fret[MAX_COLUMN_PITCHES + MAX_HELD] = {};
};

// The candidates of one column: its distinct pitches that some string holds, how many of
// them one voicing can hold, and the cheapest voicing for each hand position.
struct ColumnChoices {
    bool TooLow = false; // a note lies below the lowest string
    int PitchCount = 0;
    int Placeable = 0;
    int HeldCount = 0; // pitches still sounding from earlier columns, after the column's own
    int64_t Pitch[MAX_COLUMN_PITCHES + MAX_HELD] = {};
    bool AboveBound[MAX_COLUMN_PITCHES] = {};
    Voicing Best[POSITIONS];
};

class ColumnBuilder {
  public:
    ColumnBuilder(const std::array<int16_t, STRING_COUNT>& stringPitch,
                  const ConversionSettings& settings, const FingeringWeights& weights)
        : stringPitch_(stringPitch), settings_(settings), weights_(weights),
          fretLimit_(SearchFretLimit(settings)) {}

    // The choices of notes [first, last), with `heldPitches[0..heldCount)` (folded, distinct)
    // still sounding.
    void Build(const NoteRecord* first, const NoteRecord* last, const int64_t* heldPitches,
               int heldCount, ColumnChoices& out) {
        out = ColumnChoices{};
        for (const NoteRecord* note = first; note != last; ++note) {
            const FoldedNote folded = FoldNote(note->Note, stringPitch_, settings_);
            if (folded.Range == NOTE_TOO_LOW) {
                out.TooLow = true;
                continue;
            }
            if (folded.Range == NOTE_DAMAGED || !HasPositionWithin(folded.Pitch) ||
                out.PitchCount == MAX_COLUMN_PITCHES ||
                std::find(out.Pitch, out.Pitch + out.PitchCount, folded.Pitch) !=
                    out.Pitch + out.PitchCount)
                continue;
            out.AboveBound[out.PitchCount] = folded.Range == NOTE_TOO_HIGH;
            out.Pitch[out.PitchCount++] = folded.Pitch;
        }
        choices_ = &out;
        out.Placeable = MostPlaced();
        if (out.Placeable == 0) return;
        for (int h = 0; h < heldCount; ++h)
            if (std::find(out.Pitch, out.Pitch + out.PitchCount, heldPitches[h]) ==
                out.Pitch + out.PitchCount)
                out.Pitch[out.PitchCount + out.HeldCount++] = heldPitches[h];
        leftOut_ = out.PitchCount - out.Placeable;
        // Within the stretch first, wider only when no voicing is; a column whose search runs
        // out of steps (a cluster of many pitches) takes the cheapest voicing found so far, or
        // the assignment that showed how many pitches fit.
        budget_ = SEARCH_STEPS;
        found_ = false;
        wide_ = false;
        Search(0, 0, MAX_OPTIMISED_FRET + 1, 0);
        wide_ = true;
        if (!found_) Search(0, 0, MAX_OPTIMISED_FRET + 1, 0);
        if (!found_) KeepAssignment();
    }

  private:
    bool Holds(int pitch, int string) const {
        const int64_t fret = choices_->Pitch[pitch] - stringPitch_[string];
        return fret >= 0 && fret <= fretLimit_;
    }

    bool HasPositionWithin(int64_t pitch) const {
        for (int16_t open : stringPitch_)
            if (pitch >= open && pitch - open <= fretLimit_) return true;
        return false;
    }

    // Kuhn's augmenting path from `pitch` over the strings not yet `seen`.
    bool Augment(int pitch, unsigned& seen, int (&pitchOn)[STRING_COUNT]) const {
        for (int s = 0; s < STRING_COUNT; ++s) {
            if ((seen & (1u << s)) || !Holds(pitch, s)) continue;
            seen |= 1u << s;
            if (pitchOn[s] < 0 || Augment(pitchOn[s], seen, pitchOn)) {
                pitchOn[s] = pitch;
                return true;
            }
        }
        return false;
    }

    // The most pitches of the column that distinct strings hold at once; pitchOn_ keeps an
    // assignment that holds them.
    int MostPlaced() {
        int(&pitchOn)[STRING_COUNT] = pitchOn_;
        std::fill(pitchOn, pitchOn + STRING_COUNT, -1);
        int placed = 0;
        for (int p = 0; p < choices_->PitchCount; ++p) {
            unsigned seen = 0;
            if (Augment(p, seen, pitchOn)) ++placed;
        }
        return placed;
    }

    void KeepAssignment() {
        std::fill(current_.String, current_.String + MAX_COLUMN_PITCHES + MAX_HELD, LEFT_OUT);
        for (int s = 0; s < STRING_COUNT; ++s) {
            if (pitchOn_[s] < 0) continue;
            const int f = static_cast<int>(choices_->Pitch[pitchOn_[s]] - stringPitch_[s]);
            current_.String[pitchOn_[s]] = static_cast<uint8_t>(s);
            current_.Fret[pitchOn_[s]] = static_cast<uint8_t>(f);
        }
        KeepCurrent();
    }

    // Keeps current_ for every position it fits where it is the cheapest so far.
    void KeepCurrent() {
        found_ = true;
        uint8_t frets[STRING_COUNT];
        uint8_t strings[STRING_COUNT];
        int count = 0;
        int held = -1;
        double cut = 0;
        for (int i = 0; i < choices_->PitchCount + choices_->HeldCount; ++i) {
            if (i == choices_->PitchCount) held = count;
            if (current_.String[i] == LEFT_OUT) {
                if (i >= choices_->PitchCount) cut += weights_.Cut;
                continue;
            }
            strings[count] = current_.String[i];
            frets[count++] = current_.Fret[i];
        }
        if (held < 0) held = count;
        const VoicingShape shape = ShapeOf(frets, strings, count, held, stringPitch_, weights_);
        for (int p = shape.FirstFit; p <= shape.LastFit; ++p) {
            Voicing& best = choices_->Best[p];
            const double cost = CostAt(shape, p, weights_) + cut;
            if (cost < best.Cost) {
                best = current_;
                best.Cost = cost;
            }
        }
    }

    // Depth-first over the pitches: pitch `index` onto every free string that holds it, or
    // left out while fewer than `leftOut_` are.
    void Search(int index, unsigned usedStrings, int lowFret, int highFret) {
        if (budget_ == 0) return;
        --budget_;
        ColumnChoices& c = *choices_;
        if (index == c.PitchCount + c.HeldCount) {
            KeepCurrent();
            return;
        }
        const bool held = index >= c.PitchCount;
        for (int s = 0; s < STRING_COUNT; ++s) {
            if ((usedStrings & (1u << s)) || !Holds(index, s)) continue;
            const int f = static_cast<int>(c.Pitch[index] - stringPitch_[s]);
            int low = lowFret;
            int high = highFret;
            if (f > 0) {
                low = std::min(low, f);
                high = std::max(high, f);
                if (!wide_ && high - low > MAX_CHORD_STRETCH) continue;
            }
            current_.String[index] = static_cast<uint8_t>(s);
            current_.Fret[index] = static_cast<uint8_t>(f);
            Search(index + 1, usedStrings | (1u << s), low, high);
        }
        if (held) {
            current_.String[index] = LEFT_OUT; // the held note is cut short
            Search(index + 1, usedStrings, lowFret, highFret);
        } else if (leftOut_ > 0) {
            --leftOut_;
            current_.String[index] = LEFT_OUT;
            Search(index + 1, usedStrings, lowFret, highFret);
            ++leftOut_;
        }
    }

    const std::array<int16_t, STRING_COUNT>& stringPitch_;
    const ConversionSettings& settings_;
    const FingeringWeights& weights_;
    const int fretLimit_;
    ColumnChoices* choices_ = nullptr;
    Voicing current_;
    int pitchOn_[STRING_COUNT] = {};
    int budget_ = 0;     // search steps left for this column
    int leftOut_ = 0;    // pitches the current voicing may still leave out
    bool wide_ = false;  // chords wider than MAX_CHORD_STRETCH allowed
    bool found_ = false; // some voicing reached the end
};

// Packs the back-pointers `slot[0..POSITIONS)` into `packed[0..SLOT_BYTES)`.
void PackSlots(const uint8_t* slot, uint8_t* packed) {
    std::fill(packed, packed + SLOT_BYTES, uint8_t{0});
    for (int p = 0; p < POSITIONS; ++p) {
        const unsigned bit = static_cast<unsigned>(p * SLOT_BITS);
        const unsigned value = slot[p] & SLOT_MASK;
        packed[bit / 8] = static_cast<uint8_t>(packed[bit / 8] | value << bit % 8);
        if (bit % 8 + SLOT_BITS > 8)
            packed[bit / 8 + 1] =
                static_cast<uint8_t>(packed[bit / 8 + 1] | value >> (8 - bit % 8));
    }
}

// The back-pointer of position `p` in `packed`.
int UnpackSlot(const uint8_t* packed, int p) {
    const unsigned bit = static_cast<unsigned>(p * SLOT_BITS);
    unsigned value = packed[bit / 8] >> bit % 8;
    if (bit % 8 + SLOT_BITS > 8)
        value |= static_cast<unsigned>(packed[bit / 8 + 1]) << (8 - bit % 8);
    return static_cast<int>(value & SLOT_MASK);
}

// The end of the column that starts at note `first`.
size_t ColumnEnd(const std::vector<NoteRecord>& notes, size_t first) {
    size_t end = first + 1;
    while (end < notes.size() && notes[end].DeltaTime == 0)
        ++end;
    return end;
}

// The notes among the HELD_LOOKBACK before note `first` still sounding at its onset: their
// folded pitches (distinct, at most MAX_HELD, the latest struck first) go to `held`; returns
// their count. None when the track has no duration for every note.
int HeldBefore(const TrackRecord& track, size_t first,
               const std::array<int16_t, STRING_COUNT>& stringPitch,
               const ConversionSettings& settings, int64_t* held) {
    const std::vector<NoteRecord>& notes = track.Notes;
    if (track.Durations.size() != notes.size() || first >= notes.size()) return 0;
    int count = 0;
    uint64_t distance = notes[first].DeltaTime; // from the onset of note i to that of first
    for (size_t i = first; i-- > 0 && first - i <= HELD_LOOKBACK && count < MAX_HELD;) {
        if (distance > 0 && track.Durations[i] > distance) {
            const FoldedNote folded = FoldNote(notes[i].Note, stringPitch, settings);
            if (folded.Range != NOTE_TOO_LOW && folded.Range != NOTE_DAMAGED &&
                std::find(held, held + count, folded.Pitch) == held + count)
                held[count++] = folded.Pitch;
        }
        distance += notes[i].DeltaTime;
    }
    return count;
}

// Position codes and the column label of notes [first, end) under `voicing`.
void WriteColumn(const std::vector<NoteRecord>& notes, size_t first, size_t end,
                 const ColumnChoices& choices, const Voicing& voicing,
                 const std::array<int16_t, STRING_COUNT>& stringPitch,
                 const ConversionSettings& settings, std::vector<uint8_t>& positions,
                 std::vector<uint8_t>& labels) {
    uint8_t label = choices.TooLow ? LABEL_TOO_LOW : LABEL_TOO_HIGH;
    if (choices.Placeable > 0) {
        label = LABEL_TOO_HIGH;
        for (int k = 0; k < choices.PitchCount; ++k)
            if (voicing.String[k] != LEFT_OUT && !choices.AboveBound[k]) label = LABEL_NOTES;
    }
    for (size_t i = first; i < end; ++i) {
        labels[i] = label;
        const FoldedNote folded = FoldNote(notes[i].Note, stringPitch, settings);
        positions[i] = folded.Range == NOTE_TOO_LOW ? TrackFingering::COLUMN_TOO_LOW
                                                    : TrackFingering::COLUMN_TOO_HIGH;
        if (choices.Placeable == 0 || folded.Range == NOTE_TOO_LOW || folded.Range == NOTE_DAMAGED)
            continue;
        const int k = static_cast<int>(
            std::find(choices.Pitch, choices.Pitch + choices.PitchCount, folded.Pitch) -
            choices.Pitch);
        if (k == choices.PitchCount || voicing.String[k] == LEFT_OUT) continue;
        positions[i] = static_cast<uint8_t>((voicing.String[k] << TrackFingering::STRING_SHIFT) |
                                            voicing.Fret[k]);
    }
}

// The string that channel `channel` names under numbering `order` (one of CHANNEL_ORDERS),
// or -1 when it names none.
constexpr int CHANNEL_ORDERS = 4;
int StringOfChannel(int channel, int order) {
    const int s = order == 0   ? channel                    // first channel, first (highest) string
                  : order == 1 ? channel - 1                // the same counted from channel 1
                  : order == 2 ? STRING_COUNT - 1 - channel // first channel, lowest string
                               : STRING_COUNT - channel;    // the same counted from channel 1
    return s >= 0 && s < STRING_COUNT ? s : -1;
}

// The position codes the channels of `track` spell out under numbering `order`, and the sum
// of their frets; false when some note is not playable on the string its channel names
// within frets 0..fretLimit, or two pitches of one column name one string.
bool ChannelPositions(const std::vector<NoteRecord>& notes,
                      const std::array<int16_t, STRING_COUNT>& stringPitch,
                      const ConversionSettings& settings, int fretLimit, int order,
                      std::vector<uint8_t>& positions, uint64_t& fretSum) {
    positions.assign(notes.size(), TrackFingering::COLUMN_TOO_HIGH);
    fretSum = 0;
    int64_t pitchOn[STRING_COUNT] = {};
    for (size_t first = 0; first < notes.size();) {
        const size_t end = ColumnEnd(notes, first);
        std::fill(pitchOn, pitchOn + STRING_COUNT, -1);
        for (size_t i = first; i < end; ++i) {
            const FoldedNote folded = FoldNote(notes[i].Note, stringPitch, settings);
            const int s = StringOfChannel(notes[i].Channel, order);
            if (folded.Range != NOTE_PLACEABLE || s < 0) return false;
            const int64_t fret = folded.Pitch - stringPitch[static_cast<size_t>(s)];
            if (fret < 0 || fret > fretLimit) return false;
            if (pitchOn[s] >= 0 && pitchOn[s] != folded.Pitch) return false;
            pitchOn[s] = folded.Pitch;
            positions[i] =
                static_cast<uint8_t>(s << TrackFingering::STRING_SHIFT | static_cast<int>(fret));
            fretSum += static_cast<uint64_t>(fret);
        }
        first = end;
    }
    return true;
}

// The placement a track written string by string spells out: its notes use four to six MIDI
// channels, and under one numbering of the channels (channel N names string N, counted from
// the first or the lowest string, from channel 0 or 1) every note is playable on the string
// its channel names. Of several such numberings the one with the lowest frets is taken.
std::optional<TrackFingering> PlaceFromChannels(const TrackRecord& track,
                                                const std::array<int16_t, STRING_COUNT>& pitches,
                                                const ConversionSettings& settings) {
    unsigned used = 0;
    for (const NoteRecord& note : track.Notes)
        used |= 1u << (note.Channel & 0x0F);
    const int channels = std::popcount(used);
    if (channels < 4 || channels > STRING_COUNT) return std::nullopt;
    const int fretLimit = SearchFretLimit(settings);
    std::vector<uint8_t> best;
    uint64_t bestSum = UINT64_MAX;
    std::vector<uint8_t> positions;
    for (int order = 0; order < CHANNEL_ORDERS; ++order) {
        uint64_t sum = 0;
        if (ChannelPositions(track.Notes, pitches, settings, fretLimit, order, positions, sum) &&
            sum < bestSum) {
            bestSum = sum;
            best.swap(positions);
        }
    }
    if (best.empty()) return std::nullopt;
    return TrackFingering(std::move(best), std::vector<uint8_t>(track.Notes.size(), LABEL_NOTES));
}

} // namespace

void TrackFingering::PlaceNote(TabColumn& column, size_t noteIndex, char special,
                               uint8_t channel) const {
    column.Special = special;
    column.Channel = channel;
    const uint8_t code = Position(noteIndex);
    if (code != COLUMN_TOO_LOW && code != COLUMN_TOO_HIGH)
        column.Fret[code >> STRING_SHIFT] = code & FRET_MASK;
    column.Label = Label(noteIndex);
    if (code == COLUMN_TOO_LOW && column.Label == LABEL_NOTES) column.Unplaced = LABEL_TOO_LOW;
}

TrackFingering OptimiseTrackFingering(const TrackRecord& track,
                                      const std::array<int16_t, STRING_COUNT>& stringPitch,
                                      const ConversionSettings& settings, uint32_t division) {
    return OptimiseTrackFingering(track, stringPitch, settings, division, FITTED_FINGERING_WEIGHTS);
}

TrackFingering OptimiseTrackFingering(const TrackRecord& track,
                                      const std::array<int16_t, STRING_COUNT>& stringPitch,
                                      const ConversionSettings& settings, uint32_t division,
                                      const FingeringWeights& weights) {
    const std::vector<NoteRecord>& notes = track.Notes;
    if (notes.empty()) return TrackFingering();
    if (settings.StringsFromChannels)
        if (std::optional<TrackFingering> written = PlaceFromChannels(track, stringPitch, settings))
            return std::move(*written);
    const double quarter = division > 0 ? division : 1;

    size_t columnCount = 0;
    for (size_t i = 0; i < notes.size(); i = ColumnEnd(notes, i))
        ++columnCount;

    ColumnBuilder builder(stringPitch, settings, weights);
    ColumnChoices choices;
    std::vector<uint8_t> from(columnCount * SLOT_BYTES, 0);
    uint8_t slot[POSITIONS];
    double cost[POSITIONS];
    double next[POSITIONS];
    double own[POSITIONS];
    std::fill(cost, cost + POSITIONS, 0.0);

    size_t column = 0;
    for (size_t first = 0; first < notes.size(); ++column) {
        const size_t end = ColumnEnd(notes, first);
        int64_t held[MAX_HELD];
        const int heldCount = HeldBefore(track, first, stringPitch, settings, held);
        builder.Build(notes.data() + first, notes.data() + end, held, heldCount, choices);
        if (choices.Placeable == 0) {
            // Nothing placed: the hand stays where it was.
            for (int p = 0; p < POSITIONS; ++p)
                slot[p] = static_cast<uint8_t>(p);
        } else {
            for (int p = 0; p < POSITIONS; ++p)
                own[p] = choices.Best[p].Cost;
            Advance(cost, own, next, slot, notes[first].DeltaTime, quarter, weights);
            std::copy(next, next + POSITIONS, cost);
        }
        PackSlots(slot, from.data() + column * SLOT_BYTES);
        first = end;
    }

    int hand = static_cast<int>(std::min_element(cost, cost + POSITIONS) - cost);
    std::vector<uint8_t> positions(notes.size(), TrackFingering::COLUMN_TOO_HIGH);
    std::vector<uint8_t> labels(notes.size(), LABEL_TOO_HIGH);
    size_t end = notes.size();
    while (column-- > 0) {
        size_t first = end - 1;
        while (first > 0 && notes[first].DeltaTime == 0)
            --first;
        int64_t held[MAX_HELD];
        const int heldCount = HeldBefore(track, first, stringPitch, settings, held);
        builder.Build(notes.data() + first, notes.data() + end, held, heldCount, choices);
        WriteColumn(notes, first, end, choices, choices.Best[hand], stringPitch, settings,
                    positions, labels);
        hand = UnpackSlot(from.data() + column * SLOT_BYTES, hand);
        end = first;
    }
    return TrackFingering(std::move(positions), std::move(labels));
}

namespace {

// Lowers `own[p]` to the cheapest cost, for every hand position p, of a column's placed notes
// `frets`/`strings[0..held)` (with `count` - `held` held notes after them) and the pitches
// `heldPitch[0..heldCount)` still sounding, each on a string left free or cut short.
void HeldCosts(uint8_t* frets, uint8_t* strings, int count, int held, const int64_t* heldPitch,
               int heldCount, double cut, const std::array<int16_t, STRING_COUNT>& stringPitch,
               int fretLimit, const FingeringWeights& w, double* own) {
    if (heldCount == 0) {
        const VoicingShape shape = ShapeOf(frets, strings, count, held, stringPitch, w);
        for (int p = shape.FirstFit; p <= shape.LastFit; ++p)
            own[p] = std::min(own[p], CostAt(shape, p, w) + cut);
        return;
    }
    HeldCosts(frets, strings, count, held, heldPitch + 1, heldCount - 1, cut + w.Cut, stringPitch,
              fretLimit, w, own);
    for (int s = 0; s < STRING_COUNT; ++s) {
        const int64_t fret = *heldPitch - stringPitch[static_cast<size_t>(s)];
        if (fret < 0 || fret > fretLimit ||
            std::find(strings, strings + count, s) != strings + count)
            continue;
        frets[count] = static_cast<uint8_t>(fret);
        strings[count] = static_cast<uint8_t>(s);
        HeldCosts(frets, strings, count + 1, held, heldPitch + 1, heldCount - 1, cut, stringPitch,
                  fretLimit, w, own);
    }
}

} // namespace

double FingeringCost(const TrackRecord& track, const TrackFingering& placement,
                     const std::array<int16_t, STRING_COUNT>& stringPitch,
                     const ConversionSettings& settings, uint32_t division) {
    return FingeringCost(track, placement, stringPitch, settings, division,
                         FITTED_FINGERING_WEIGHTS);
}

double FingeringCost(const TrackRecord& track, const TrackFingering& placement,
                     const std::array<int16_t, STRING_COUNT>& stringPitch,
                     const ConversionSettings& settings, uint32_t division,
                     const FingeringWeights& weights) {
    const int fretLimit = SearchFretLimit(settings);
    const std::vector<NoteRecord>& notes = track.Notes;
    const double quarter = division > 0 ? division : 1;
    double cost[POSITIONS];
    double next[POSITIONS];
    double own[POSITIONS];
    uint8_t slot[POSITIONS];
    std::fill(cost, cost + POSITIONS, 0.0);
    for (size_t first = 0; first < notes.size();) {
        const size_t end = ColumnEnd(notes, first);
        uint8_t fretOn[STRING_COUNT] = {NO_FRET, NO_FRET, NO_FRET, NO_FRET, NO_FRET, NO_FRET};
        for (size_t i = first; i < end; ++i) {
            const uint8_t code = placement.Position(i);
            if (code != TrackFingering::COLUMN_TOO_LOW && code != TrackFingering::COLUMN_TOO_HIGH)
                fretOn[code >> TrackFingering::STRING_SHIFT] = code & TrackFingering::FRET_MASK;
        }
        uint8_t frets[STRING_COUNT + MAX_HELD];
        uint8_t strings[STRING_COUNT + MAX_HELD];
        int count = 0;
        for (int s = 0; s < STRING_COUNT; ++s)
            if (fretOn[s] != NO_FRET) {
                strings[count] = static_cast<uint8_t>(s);
                frets[count++] = fretOn[s];
            }
        if (count > 0) {
            int64_t held[MAX_HELD];
            int heldCount = HeldBefore(track, first, stringPitch, settings, held);
            // A held pitch the column strikes again is the column's own.
            for (int h = 0; h < heldCount; ++h)
                for (int i = 0; i < count; ++i)
                    if (stringPitch[strings[i]] + frets[i] == held[h]) {
                        std::copy(held + h + 1, held + heldCount, held + h);
                        --heldCount;
                        --h;
                        break;
                    }
            std::fill(own, own + POSITIONS, INFINITE_COST);
            HeldCosts(frets, strings, count, count, held, heldCount, 0, stringPitch, fretLimit,
                      weights, own);
            Advance(cost, own, next, slot, notes[first].DeltaTime, quarter, weights);
            std::copy(next, next + POSITIONS, cost);
        }
        first = end;
    }
    return notes.empty() ? 0 : *std::min_element(cost, cost + POSITIONS);
}

} // namespace morvel
