// Optimised fingering: a shortest-path search over hand positions, column by column.
//
// The hand position is the fret of the index finger; the fingers reach the frets from there
// to three above it, and four above with a stretch. For each column the candidate voicings are
// enumerated (each distinct pitch on its own string, fretted notes within MAX_CHORD_STRETCH),
// and for each hand position that reaches a voicing only the cheapest such voicing is kept:
// what follows a column depends on nothing but the hand position it leaves. The search state
// after a column is that hand position (HAND_NONE before the first fretted column); a column
// of open strings only, or a "?" column, leaves it where it was.
// One byte per column and state records where the best path came from; a backward walk then
// rebuilds the chosen voicings and writes one position code per note.
#include "core/Fingering.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace morvel {

namespace {

constexpr int OCTAVE = 12;
constexpr int NOTE_LIMIT = 128; // stored numbers from here on come only from damaged files
constexpr int HAND_NONE = 0;    // no fretted column yet
constexpr int HAND_STATES = MAX_SEARCH_FRET + 1; // HAND_NONE and frets 1..21
constexpr int HAND_REACH = 4;     // a shift up to this far is a hand move, beyond it a jump
constexpr int FINGER_REACH = 3;   // the fingers cover frets hand .. hand + 3
constexpr int FINGER_STRETCH = 4; // and hand + 4 with a stretch

// Costs, in units of one fret of unhurried hand shift.
constexpr double SHIFT_COST = 1.0;   // per fret of hand shift
constexpr double JUMP_COST = 4.0;    // once for a shift beyond HAND_REACH
constexpr double FAR_COST = 1.0;     // per fret beyond HAND_REACH, on top of SHIFT_COST
constexpr double SPAN_COST = 0.2;    // per fret between the lowest and highest fretted note
constexpr double HIGH_FRET_FROM = 7; // frets above this cost HIGH_FRET_COST each
constexpr double HIGH_FRET_COST = 0.08;
constexpr double OPEN_BONUS = 0.2;       // per open string
constexpr double QUICK_SHIFT_COST = 0.3; // extra share of a shift between columns struck together
constexpr double INDEX_COST = 1.8;       // per fret between the hand and the lowest fretted note
constexpr double STRETCH_COST = 0.5;     // for a note one fret beyond the fingers' reach
constexpr double INFINITE_COST = std::numeric_limits<double>::infinity();

// Back-pointer byte of a search state: reached, kept in place (open or "?" column), and the
// hand position it came from.
constexpr uint8_t SLOT_REACHED = 0x80;
constexpr uint8_t SLOT_KEPT = 0x40;
constexpr uint8_t SLOT_FROM_MASK = 0x1F;

struct Voicing {
    double Cost = INFINITE_COST;
    uint8_t String[STRING_COUNT] = {}; // per distinct pitch of the column
    uint8_t Fret[STRING_COUNT] = {};
};

// The candidates of one column: its distinct pitches and the cheapest voicing for each hand
// position (index HAND_NONE: open strings only), or the "?" mark.
struct ColumnChoices {
    uint8_t Mark = 0; // 0, or TrackFingering::COLUMN_TOO_LOW / COLUMN_TOO_HIGH
    int PitchCount = 0;
    int64_t Pitch[STRING_COUNT] = {};
    Voicing Best[HAND_STATES];
};

class ColumnBuilder {
  public:
    ColumnBuilder(const std::array<int16_t, STRING_COUNT>& stringPitch,
                  const ConversionSettings& settings)
        : stringPitch_(stringPitch), settings_(settings) {}

    // The choices of notes [first, last) of `notes`.
    void Build(const NoteRecord* first, const NoteRecord* last, ColumnChoices& out) {
        out = ColumnChoices{};
        bool tooLow = false;
        bool tooHigh = false;
        bool tooMany = false;
        for (const NoteRecord* note = first; note != last; ++note) {
            const FoldedNote folded = FoldNote(note->Note, stringPitch_, settings_);
            if (folded.Range == NOTE_TOO_LOW) {
                tooLow = true;
                continue;
            }
            if (folded.Range == NOTE_TOO_HIGH || !HasPosition(folded.Pitch, stringPitch_)) {
                tooHigh = true;
                continue;
            }
            if (std::find(out.Pitch, out.Pitch + out.PitchCount, folded.Pitch) !=
                out.Pitch + out.PitchCount)
                continue;
            if (out.PitchCount == STRING_COUNT) {
                tooMany = true;
                continue;
            }
            out.Pitch[out.PitchCount++] = folded.Pitch;
        }
        if (tooLow) {
            out.Mark = TrackFingering::COLUMN_TOO_LOW;
            return;
        }
        if (tooHigh || tooMany) {
            out.Mark = TrackFingering::COLUMN_TOO_HIGH;
            return;
        }
        choices_ = &out;
        Search(0, 0, MAX_SEARCH_FRET + 1, 0, 0);
        bool any = false;
        for (const Voicing& v : out.Best)
            any = any || v.Cost != INFINITE_COST;
        if (!any) out.Mark = TrackFingering::COLUMN_TOO_HIGH;
    }

  private:
    void Keep(int hand, double cost) {
        Voicing& best = choices_->Best[hand];
        if (cost < best.Cost) {
            best = current_;
            best.Cost = cost;
        }
    }

    // Depth-first over the pitches: pitch `index` onto every free string that holds it.
    void Search(int index, unsigned usedStrings, int lowFret, int highFret, int opens) {
        ColumnChoices& c = *choices_;
        if (index == c.PitchCount) {
            double cost = -OPEN_BONUS * opens;
            for (int i = 0; i < c.PitchCount; ++i)
                if (current_.Fret[i] > HIGH_FRET_FROM)
                    cost += HIGH_FRET_COST * (current_.Fret[i] - HIGH_FRET_FROM);
            if (highFret == 0) {
                Keep(HAND_NONE, cost);
                return;
            }
            cost += SPAN_COST * (highFret - lowFret);
            // Every hand position from which the fingers reach all fretted notes; the index
            // finger is best on the lowest of them, the little finger best not stretched.
            for (int hand = std::max(1, highFret - FINGER_STRETCH); hand <= lowFret; ++hand)
                Keep(hand, cost + INDEX_COST * (lowFret - hand) +
                               (highFret - hand > FINGER_REACH ? STRETCH_COST : 0));
            return;
        }
        for (int s = 0; s < STRING_COUNT; ++s) {
            if (usedStrings & (1u << s)) continue;
            const int64_t fret = c.Pitch[index] - stringPitch_[s];
            if (fret < 0 || fret > MAX_SEARCH_FRET) continue;
            const int f = static_cast<int>(fret);
            int low = lowFret;
            int high = highFret;
            if (f > 0) {
                low = std::min(low, f);
                high = std::max(high, f);
                if (high - low > MAX_CHORD_STRETCH) continue;
            }
            current_.String[index] = static_cast<uint8_t>(s);
            current_.Fret[index] = static_cast<uint8_t>(f);
            Search(index + 1, usedStrings | (1u << s), low, high, opens + (f == 0 ? 1 : 0));
        }
    }

    const std::array<int16_t, STRING_COUNT>& stringPitch_;
    const ConversionSettings& settings_;
    ColumnChoices* choices_ = nullptr;
    Voicing current_;
};

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

// The end of the column that starts at note `first`.
size_t ColumnEnd(const std::vector<NoteRecord>& notes, size_t first) {
    size_t end = first + 1;
    while (end < notes.size() && notes[end].DeltaTime == 0)
        ++end;
    return end;
}

} // namespace

FoldedNote FoldNote(int note, const std::array<int16_t, STRING_COUNT>& stringPitch,
                    const ConversionSettings& settings) {
    FoldedNote folded;
    if (note < 0 || note >= NOTE_LIMIT) {
        folded.Range = NOTE_TOO_HIGH;
        return folded;
    }
    int64_t pitch = note;
    const int64_t lowest = stringPitch[5];
    const int64_t highest = int64_t(stringPitch[0]) + settings.MaxFret;
    // Whole octaves at once: the same result as folding one octave at a time.
    if (settings.BassMode && pitch >= stringPitch[1])
        pitch -= OCTAVE * ((pitch - stringPitch[1]) / OCTAVE + 1);
    if (settings.ForceFitFret) {
        if (pitch < lowest) pitch += OCTAVE * ((lowest - pitch + OCTAVE - 1) / OCTAVE);
        if (pitch > highest) pitch -= OCTAVE * ((pitch - highest + OCTAVE - 1) / OCTAVE);
    } else if (pitch < lowest) {
        folded.Range = NOTE_TOO_LOW;
    } else if (pitch > highest) {
        folded.Range = NOTE_TOO_HIGH;
    }
    folded.Pitch = pitch;
    return folded;
}

bool HasPosition(int64_t pitch, const std::array<int16_t, STRING_COUNT>& stringPitch) {
    for (int16_t open : stringPitch)
        if (pitch >= open && pitch - open <= MAX_SEARCH_FRET) return true;
    return false;
}

void TrackFingering::PlaceNote(TabColumn& column, size_t noteIndex, char special,
                               uint8_t channel) const {
    column.Special = special;
    column.Channel = channel;
    const uint8_t code = Position(noteIndex);
    if (code == COLUMN_TOO_LOW) {
        column.Label = LABEL_TOO_LOW;
        return;
    }
    if (code == COLUMN_TOO_HIGH) {
        column.Label = LABEL_TOO_HIGH;
        return;
    }
    column.Fret[code >> STRING_SHIFT] = code & FRET_MASK;
    if (column.Label == LABEL_EMPTY) column.Label = LABEL_NOTES;
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
        // Open strings only, or a "?" column: the hand stays where it was.
        const double keptCost = choices.Mark ? 0 : choices.Best[HAND_NONE].Cost;
        if (keptCost != INFINITE_COST) {
            for (int h = 0; h < HAND_STATES; ++h) {
                if (cost[h] == INFINITE_COST) continue;
                next[h] = cost[h] + keptCost;
                slot[h] = static_cast<uint8_t>(SLOT_REACHED | SLOT_KEPT | h);
            }
        }
        if (!choices.Mark) {
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
    size_t end = notes.size();
    while (column-- > 0) {
        size_t first = end - 1;
        while (first > 0 && notes[first].DeltaTime == 0)
            --first;
        builder.Build(notes.data() + first, notes.data() + end, choices);
        const uint8_t slot = from[column * HAND_STATES + static_cast<size_t>(hand)];
        const Voicing& voicing =
            choices.Best[(slot & SLOT_KEPT) ? HAND_NONE : static_cast<size_t>(hand)];
        for (size_t i = first; i < end; ++i) {
            if (choices.Mark) {
                positions[i] = choices.Mark;
                continue;
            }
            const int64_t pitch = FoldNote(notes[i].Note, stringPitch, settings).Pitch;
            const int k = static_cast<int>(
                std::find(choices.Pitch, choices.Pitch + choices.PitchCount, pitch) -
                choices.Pitch);
            positions[i] = static_cast<uint8_t>(
                (voicing.String[k] << TrackFingering::STRING_SHIFT) | voicing.Fret[k]);
        }
        hand = slot & SLOT_FROM_MASK;
        end = first;
    }
    return TrackFingering(std::move(positions));
}

} // namespace morvel
