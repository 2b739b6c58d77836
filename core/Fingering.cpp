// Optimised fingering: a shortest-path search over hand positions, column by column.
//
// The hand position of a column is its lowest fretted fret. For each column the candidate
// voicings are enumerated (each distinct pitch on its own string, as many pitches as any
// voicing can hold, fretted notes within MAX_CHORD_STRETCH when that is possible), and for
// each hand position only the cheapest voicing with it is kept: what follows a column depends
// on nothing but the hand position it leaves. The search state after a column is that hand
// position (HAND_NONE before the first fretted column); a column of open strings only, or one
// that places nothing, leaves it where it was. One byte per column and state records where
// the best path came from; a backward walk then rebuilds the chosen voicings and writes one
// position code and one column label per note.
#include "core/Fingering.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace morvel {

namespace {

constexpr int HAND_NONE = 0;                     // no fretted column yet
constexpr int HAND_STATES = MAX_SEARCH_FRET + 1; // HAND_NONE and frets 1..21
constexpr int HAND_REACH = 4; // a shift up to this far is a hand move, beyond it a jump
// Distinct pitches of one column the search considers; six strings hold at most six of them.
constexpr int MAX_COLUMN_PITCHES = 12;
// Steps of the voicing search of one column; the chords of the corpus take at most 1,900.
constexpr int SEARCH_STEPS = 4096;

// Costs, in units of one fret of unhurried hand shift.
constexpr double SHIFT_COST = 1.5;   // per fret of hand shift
constexpr double JUMP_COST = 4.0;    // once for a shift beyond HAND_REACH
constexpr double FAR_COST = 1.0;     // per fret beyond HAND_REACH, on top of SHIFT_COST
constexpr double SPAN_COST = 0.2;    // per fret between the lowest and highest fretted note
constexpr double HIGH_FRET_FROM = 7; // frets above this cost HIGH_FRET_COST each
constexpr double HIGH_FRET_COST = 0.2;
// Per open string: a pitch the hand can fret where it is stays fretted, which keeps the hand
// in its position; an open string is taken where it spares a shift.
constexpr double OPEN_COST = 0.03;
constexpr double QUICK_SHIFT_COST = 0.3; // extra share of a shift between columns struck together
constexpr double STRETCH_COST = 0.5;     // a chord spanning MAX_CHORD_STRETCH frets needs a stretch
constexpr double WIDE_COST = 50.0;       // per fret a chord spans beyond MAX_CHORD_STRETCH
constexpr double INFINITE_COST = std::numeric_limits<double>::infinity();

// Back-pointer byte of a search state: reached, kept in place (open or empty column), and the
// hand position it came from.
constexpr uint8_t SLOT_REACHED = 0x80;
constexpr uint8_t SLOT_KEPT = 0x40;
constexpr uint8_t SLOT_FROM_MASK = 0x1F;

constexpr uint8_t LEFT_OUT = 0xFF; // the string of a pitch a voicing does not hold

// The column's own cost of the frets `frets[0..count)` of one voicing.
double VoicingCost(const uint8_t* frets, int count) {
    double cost = 0;
    int low = MAX_SEARCH_FRET + 1;
    int high = 0;
    for (int i = 0; i < count; ++i) {
        const int f = frets[i];
        if (f == 0) {
            cost += OPEN_COST;
            continue;
        }
        low = std::min(low, f);
        high = std::max(high, f);
        if (f > HIGH_FRET_FROM) cost += HIGH_FRET_COST * (f - HIGH_FRET_FROM);
    }
    if (high == 0) return cost;
    const int span = high - low;
    cost += SPAN_COST * span;
    if (span >= MAX_CHORD_STRETCH) cost += STRETCH_COST;
    if (span > MAX_CHORD_STRETCH) cost += WIDE_COST * (span - MAX_CHORD_STRETCH);
    return cost;
}

// Cost of moving the hand from `from` to `to` with `ticks` since the previous column.
double ShiftCost(int from, int to, uint32_t ticks, double quarter) {
    if (from == HAND_NONE || from == to) return 0;
    const int distance = std::abs(to - from);
    double cost = SHIFT_COST * distance;
    if (distance > HAND_REACH) cost += JUMP_COST + FAR_COST * (distance - HAND_REACH);
    // Dearer the quicker it must be made: a shift between columns a quarter apart costs
    // 1 + QUICK_SHIFT_COST / 2 times the plain cost, a shift after a long rest the plain cost.
    return cost * (1.0 + QUICK_SHIFT_COST * quarter / (quarter + ticks));
}

struct Voicing {
    double Cost = INFINITE_COST;
    uint8_t String[MAX_COLUMN_PITCHES] = {}; // per distinct pitch of the column, or LEFT_OUT
    uint8_t Fret[MAX_COLUMN_PITCHES] = {};
};

// The candidates of one column: its distinct pitches that some string holds, how many of
// them one voicing can hold, and the cheapest voicing for each hand position (index
// HAND_NONE: open strings only).
struct ColumnChoices {
    bool TooLow = false; // a note lies below the lowest string
    int PitchCount = 0;
    int Placeable = 0;
    int64_t Pitch[MAX_COLUMN_PITCHES] = {};
    bool AboveBound[MAX_COLUMN_PITCHES] = {};
    Voicing Best[HAND_STATES];
};

class ColumnBuilder {
  public:
    ColumnBuilder(const std::array<int16_t, STRING_COUNT>& stringPitch,
                  const ConversionSettings& settings)
        : stringPitch_(stringPitch), settings_(settings) {}

    // The choices of notes [first, last).
    void Build(const NoteRecord* first, const NoteRecord* last, ColumnChoices& out) {
        out = ColumnChoices{};
        for (const NoteRecord* note = first; note != last; ++note) {
            const FoldedNote folded = FoldNote(note->Note, stringPitch_, settings_);
            if (folded.Range == NOTE_TOO_LOW) {
                out.TooLow = true;
                continue;
            }
            if (folded.Range == NOTE_DAMAGED || !HasPosition(folded.Pitch, stringPitch_) ||
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
        leftOut_ = out.PitchCount - out.Placeable;
        // Within the stretch first, wider only when no voicing is; a column whose search runs
        // out of steps (a cluster of many pitches) takes the cheapest voicing found so far, or
        // the assignment that showed how many pitches fit.
        budget_ = SEARCH_STEPS;
        found_ = false;
        wide_ = false;
        Search(0, 0, MAX_SEARCH_FRET + 1, 0);
        wide_ = true;
        if (!found_) Search(0, 0, MAX_SEARCH_FRET + 1, 0);
        if (!found_) KeepAssignment();
    }

  private:
    bool Holds(int pitch, int string) const {
        const int64_t fret = choices_->Pitch[pitch] - stringPitch_[string];
        return fret >= 0 && fret <= MAX_SEARCH_FRET;
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
        uint8_t frets[STRING_COUNT];
        int count = 0;
        int low = MAX_SEARCH_FRET + 1;
        std::fill(current_.String, current_.String + MAX_COLUMN_PITCHES, LEFT_OUT);
        for (int s = 0; s < STRING_COUNT; ++s) {
            if (pitchOn_[s] < 0) continue;
            const int f = static_cast<int>(choices_->Pitch[pitchOn_[s]] - stringPitch_[s]);
            current_.String[pitchOn_[s]] = static_cast<uint8_t>(s);
            current_.Fret[pitchOn_[s]] = static_cast<uint8_t>(f);
            frets[count++] = static_cast<uint8_t>(f);
            if (f > 0) low = std::min(low, f);
        }
        Keep(low > MAX_SEARCH_FRET ? HAND_NONE : low, VoicingCost(frets, count));
    }

    void Keep(int hand, double cost) {
        found_ = true;
        Voicing& best = choices_->Best[hand];
        if (cost < best.Cost) {
            best = current_;
            best.Cost = cost;
        }
    }

    // Depth-first over the pitches: pitch `index` onto every free string that holds it, or
    // left out while fewer than `leftOut_` are.
    void Search(int index, unsigned usedStrings, int lowFret, int highFret) {
        if (budget_ == 0) return;
        --budget_;
        ColumnChoices& c = *choices_;
        if (index == c.PitchCount) {
            uint8_t frets[STRING_COUNT];
            int count = 0;
            for (int i = 0; i < c.PitchCount; ++i)
                if (current_.String[i] != LEFT_OUT) frets[count++] = current_.Fret[i];
            Keep(highFret == 0 ? HAND_NONE : lowFret, VoicingCost(frets, count));
            return;
        }
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
        if (leftOut_ > 0) {
            --leftOut_;
            current_.String[index] = LEFT_OUT;
            Search(index + 1, usedStrings, lowFret, highFret);
            ++leftOut_;
        }
    }

    const std::array<int16_t, STRING_COUNT>& stringPitch_;
    const ConversionSettings& settings_;
    ColumnChoices* choices_ = nullptr;
    Voicing current_;
    int pitchOn_[STRING_COUNT] = {};
    int budget_ = 0;     // search steps left for this column
    int leftOut_ = 0;    // pitches the current voicing may still leave out
    bool wide_ = false;  // chords wider than MAX_CHORD_STRETCH allowed
    bool found_ = false; // some voicing reached the end
};

// The end of the column that starts at note `first`.
size_t ColumnEnd(const std::vector<NoteRecord>& notes, size_t first) {
    size_t end = first + 1;
    while (end < notes.size() && notes[end].DeltaTime == 0)
        ++end;
    return end;
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
    const std::vector<NoteRecord>& notes = track.Notes;
    if (notes.empty()) return TrackFingering();
    const double quarter = division > 0 ? division : 1;

    size_t columnCount = 0;
    for (size_t i = 0; i < notes.size(); i = ColumnEnd(notes, i))
        ++columnCount;

    ColumnBuilder builder(stringPitch, settings);
    ColumnChoices choices;
    std::vector<uint8_t> from(columnCount * HAND_STATES, 0);
    double cost[HAND_STATES];
    double next[HAND_STATES];
    std::fill(cost, cost + HAND_STATES, INFINITE_COST);
    cost[HAND_NONE] = 0;

    size_t column = 0;
    for (size_t first = 0; first < notes.size(); ++column) {
        const size_t end = ColumnEnd(notes, first);
        builder.Build(notes.data() + first, notes.data() + end, choices);
        const uint32_t ticks = notes[first].DeltaTime;
        uint8_t* slot = from.data() + column * HAND_STATES;
        std::fill(next, next + HAND_STATES, INFINITE_COST);
        // Open strings only, or nothing placed: the hand stays where it was.
        const double keptCost = choices.Placeable ? choices.Best[HAND_NONE].Cost : 0;
        if (keptCost != INFINITE_COST) {
            for (int h = 0; h < HAND_STATES; ++h) {
                if (cost[h] == INFINITE_COST) continue;
                next[h] = cost[h] + keptCost;
                slot[h] = static_cast<uint8_t>(SLOT_REACHED | SLOT_KEPT | h);
            }
        }
        if (choices.Placeable) {
            for (int h = 1; h < HAND_STATES; ++h) {
                const double own = choices.Best[h].Cost;
                if (own == INFINITE_COST) continue;
                double best = INFINITE_COST;
                int bestFrom = 0;
                for (int p = 0; p < HAND_STATES; ++p) {
                    if (cost[p] == INFINITE_COST) continue;
                    const double c = cost[p] + ShiftCost(p, h, ticks, quarter);
                    if (c < best) {
                        best = c;
                        bestFrom = p;
                    }
                }
                if (best + own < next[h]) {
                    next[h] = best + own;
                    slot[h] = static_cast<uint8_t>(SLOT_REACHED | bestFrom);
                }
            }
        }
        std::copy(next, next + HAND_STATES, cost);
        first = end;
    }

    int hand = static_cast<int>(std::min_element(cost, cost + HAND_STATES) - cost);
    std::vector<uint8_t> positions(notes.size(), TrackFingering::COLUMN_TOO_HIGH);
    std::vector<uint8_t> labels(notes.size(), LABEL_TOO_HIGH);
    size_t end = notes.size();
    while (column-- > 0) {
        size_t first = end - 1;
        while (first > 0 && notes[first].DeltaTime == 0)
            --first;
        builder.Build(notes.data() + first, notes.data() + end, choices);
        const uint8_t slot = from[column * HAND_STATES + static_cast<size_t>(hand)];
        const Voicing& voicing =
            choices.Best[(slot & SLOT_KEPT) ? HAND_NONE : static_cast<size_t>(hand)];
        WriteColumn(notes, first, end, choices, voicing, stringPitch, settings, positions, labels);
        hand = slot & SLOT_FROM_MASK;
        end = first;
    }
    return TrackFingering(std::move(positions), std::move(labels));
}

double FingeringCost(const TrackRecord& track, const TrackFingering& placement, uint32_t division) {
    const std::vector<NoteRecord>& notes = track.Notes;
    const double quarter = division > 0 ? division : 1;
    double total = 0;
    int hand = HAND_NONE;
    for (size_t first = 0; first < notes.size();) {
        const size_t end = ColumnEnd(notes, first);
        uint8_t fretOn[STRING_COUNT] = {NO_FRET, NO_FRET, NO_FRET, NO_FRET, NO_FRET, NO_FRET};
        for (size_t i = first; i < end; ++i) {
            const uint8_t code = placement.Position(i);
            if (code != TrackFingering::COLUMN_TOO_LOW && code != TrackFingering::COLUMN_TOO_HIGH)
                fretOn[code >> TrackFingering::STRING_SHIFT] = code & TrackFingering::FRET_MASK;
        }
        uint8_t frets[STRING_COUNT];
        int count = 0;
        int low = MAX_SEARCH_FRET + 1;
        for (uint8_t fret : fretOn) {
            if (fret == NO_FRET) continue;
            frets[count++] = fret;
            if (fret > 0) low = std::min<int>(low, fret);
        }
        total += VoicingCost(frets, count);
        if (low <= MAX_SEARCH_FRET) {
            total += ShiftCost(hand, low, notes[first].DeltaTime, quarter);
            hand = low;
        }
        first = end;
    }
    return total;
}

} // namespace morvel
