// Standard ASCII tab writer: each bar laid out on its own (its onsets, its rate of columns per
// division, its six rows and name line), then bars gathered into systems of the given width.
#include "formats/StandardTab.h"

#include "core/Song.h"
#include "core/Tunings.h"
#include "formats/PlainText.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace morvel {

namespace {

constexpr size_t FLUSH_SIZE = 64 * 1024;
constexpr uint8_t NO_CELL = 0xFF;
constexpr size_t MIN_REST_RUN = 2;  // bars of rest in a row drawn as one block
constexpr int MAX_NAMED_FRET = 255; // no instrument has more; keeps the pitch sums small
constexpr double DEFAULT_BPM = 120.0;
// Sounding pitches of the open strings in standard tuning, the first (highest) string first:
// the guitar sounds an octave below its written pitches.
constexpr std::array<int, SCORE_STRINGS> STANDARD_OPEN = [] {
    std::array<int, SCORE_STRINGS> open{};
    for (size_t s = 0; s < open.size(); ++s)
        open[s] = BaseTuning[s] - 12;
    return open;
}();
const char* const NOTE_NAMES[12] = {"C",  "C#", "D",  "D#", "E",  "F",
                                    "F#", "G",  "G#", "A",  "A#", "B"};

const char* const LEGEND =
    "Legend: one line per string, named at the left, the highest at the top.\n"
    "A number is the fret to play (0 the open string), \"-\" is time passing\n"
    "and \"|\" a barline. Within a bar the columns follow the rhythm: the\n"
    "further apart two numbers, the more time between them.\n";

int FloorDiv(int a, int b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// "A1", "C#4": the pitch's name with sharps, middle C (60) being C4.
std::string PitchName(int pitch) {
    const int octave = FloorDiv(pitch, 12);
    return std::string(NOTE_NAMES[pitch - 12 * octave]) + std::to_string(octave - 1);
}

std::string PitchClassName(int pitch) {
    return NOTE_NAMES[pitch - 12 * FloorDiv(pitch, 12)];
}

// "E A D G B E", then the preset's name and the offsets from standard where there are any.
std::string TuningText(const std::array<int, SCORE_STRINGS>& tuning) {
    std::string text;
    std::array<int16_t, SCORE_STRINGS> delta{}; // low string first, as the presets hold them
    for (int k = 0; k < SCORE_STRINGS; ++k) {
        const size_t s = static_cast<size_t>(SCORE_STRINGS - 1 - k);
        text += (k ? " " : "") + PitchClassName(tuning[s]);
        delta[static_cast<size_t>(k)] = static_cast<int16_t>(tuning[s] - STANDARD_OPEN[s]);
    }
    if (delta == std::array<int16_t, SCORE_STRINGS>{}) return text;
    text += " (";
    for (const TuningPreset& preset : TuningPresets)
        if (preset.Delta == delta) {
            text += std::string(preset.Name) + ": ";
            break;
        }
    for (size_t k = 0; k < delta.size(); ++k)
        text += (k ? " " : "") + std::string(delta[k] > 0 ? "+" : "") + std::to_string(delta[k]);
    return text + ")";
}

// The notes of one bar that start together, on the six strings.
struct Onset {
    uint32_t Time = 0;
    std::array<uint8_t, SCORE_STRINGS> Fret;
    int ChordIndex = -1;
    Onset(uint32_t time) : Time(time) { Fret.fill(NO_CELL); }
    // Columns its widest fret number takes.
    uint64_t FretWidth() const {
        uint64_t width = 1;
        for (uint8_t fret : Fret)
            if (fret != NO_CELL)
                width = std::max<uint64_t>(width, fret >= 100 ? 3 : fret >= 10 ? 2 : 1);
        return width;
    }
};

Onset& OnsetAt(std::vector<Onset>& onsets, uint32_t time) {
    auto it = std::lower_bound(onsets.begin(), onsets.end(), time,
                               [](const Onset& onset, uint32_t t) { return onset.Time < t; });
    if (it == onsets.end() || it->Time != time) it = onsets.insert(it, Onset(time));
    return *it;
}

// One bar laid out: its rows (with the closing "|"), its name line of the same width, and
// the lines that go under its system.
struct BarText {
    std::array<std::string, SCORE_STRINGS> Rows;
    std::string Names;
    std::vector<bool> InsideText; // [c]: column c - 1 and c belong to one fret number or name
    std::vector<std::string> Notes;
    size_t Width() const { return Rows[0].size(); }
};

class TabMaker {
  public:
    TabMaker(const Score& score, const ScoreSink& sink, int width, int maxFret)
        : score_(score), sink_(sink), width_(static_cast<size_t>(width)), maxFret_(maxFret) {}

    void Write() {
        const std::string tuning =
            score_.Parts.empty() ? TuningText(STANDARD_OPEN) : TuningText(score_.Parts[0].Tuning);
        const double bpm = !score_.Measures.empty() && !score_.Measures[0].Tempos.empty()
                               ? score_.Measures[0].Tempos[0].Bpm()
                               : DEFAULT_BPM;
        Put("Title: " + PlainText(score_.Title) + "\nTuning: " + tuning +
            "\nTempo: " + std::to_string(std::max(1L, std::lround(bpm))) + " bpm\n");
        for (const ScorePart& part : score_.Parts) {
            Put("\nTrack " + std::to_string(part.Track + 1) + ": " + PlainText(part.Name) + "\n");
            if (const std::string own = TuningText(part.Tuning); own != tuning)
                Put("Tuning: " + own + "\n");
            WritePart(part);
        }
        Put(LEGEND);
        Flush();
    }

  private:
    void Put(std::string_view text) { out_.append(text); }
    void Flush() {
        if (!out_.empty()) sink_(out_);
        out_.clear();
    }

    void WritePart(const ScorePart& part) {
        size_t labelWidth = 0;
        for (int s = 0; s < SCORE_STRINGS; ++s) {
            std::string name = PitchClassName(part.Tuning[static_cast<size_t>(s)]);
            if (s == 0)
                for (char& c : name)
                    c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
            labels_[static_cast<size_t>(s)] = name;
            labelWidth = std::max(labelWidth, name.size());
        }
        for (std::string& label : labels_)
            label.resize(labelWidth, ' ');
        const size_t room = width_ > labelWidth + 1 ? width_ - labelWidth - 1 : 1;
        const size_t count = std::min(part.Bars.size(), score_.Measures.size());
        for (size_t m = 0; m < count;) {
            size_t rests = 0; // bars from m on without a note
            while (m + rests < count && part.Bars[m + rests].Notes.empty())
                ++rests;
            const bool block = rests >= MIN_REST_RUN;
            const BarText bar =
                block ? RestBlock(rests) : LayOut(part, part.Bars[m], score_.Measures[m], m + 1);
            if (bar.Width() > room) {
                EndSystem();
                WritePieces(bar, m + 1, room);
            } else {
                if (bars_ > 0 && used_ + bar.Width() > room) EndSystem();
                if (bars_ == 0) StartSystem(m + 1, true);
                Append(bar, 0, bar.Width(), true);
            }
            m += block ? rests : 1;
        }
        EndSystem();
    }

    // A bar too wide for one system, in pieces cut where no number or name is split if
    // possible.
    void WritePieces(const BarText& bar, size_t number, size_t room) {
        for (size_t start = 0; start < bar.Width();) {
            size_t end = std::min(bar.Width(), start + room);
            if (end < bar.Width()) {
                size_t cut = end;
                while (cut > start + 1 && bar.InsideText[cut])
                    --cut;
                if (!bar.InsideText[cut]) end = cut;
            }
            StartSystem(number, start == 0);
            Append(bar, start, end, end == bar.Width());
            EndSystem();
            start = end;
        }
    }

    void StartSystem(size_t firstBar, bool barline) {
        firstBar_ = firstBar;
        for (size_t s = 0; s < rows_.size(); ++s)
            rows_[s] = labels_[s] + (barline ? "|" : " ");
        names_.assign(rows_[0].size(), ' ');
        notes_.clear();
        used_ = 0;
    }

    void Append(const BarText& bar, size_t begin, size_t end, bool withNotes) {
        for (size_t s = 0; s < rows_.size(); ++s)
            rows_[s].append(bar.Rows[s], begin, end - begin);
        names_.append(bar.Names, begin, end - begin);
        if (withNotes) notes_.insert(notes_.end(), bar.Notes.begin(), bar.Notes.end());
        used_ += end - begin;
        ++bars_;
    }

    void EndSystem() {
        if (bars_ == 0) return;
        const std::string number = std::to_string(firstBar_);
        names_.erase(names_.find_last_not_of(' ') + 1);
        const size_t firstName = names_.find_first_not_of(' ');
        if (firstName == std::string::npos) {
            Put(number + "\n");
        } else if (firstName > number.size()) {
            names_.replace(0, number.size(), number);
            Put(names_ + "\n");
        } else {
            Put(number + "\n" + names_ + "\n");
        }
        for (const std::string& row : rows_)
            Put(row + "\n");
        for (const std::string& note : notes_)
            Put(note + "\n");
        Put("\n");
        bars_ = 0;
        if (out_.size() >= FLUSH_SIZE) Flush();
    }

    // Bars of rest in a row, drawn as one: "[8 bars rest]" above an empty bar.
    static BarText RestBlock(size_t bars) {
        const std::string text = "[" + std::to_string(bars) + " bars rest]";
        BarText block;
        for (std::string& row : block.Rows)
            row.assign(text.size() + 2, '-') += '|';
        block.Names = " " + text + "  ";
        block.InsideText.assign(block.Width() + 1, false);
        for (size_t c = 2; c <= text.size(); ++c)
            block.InsideText[c] = true;
        return block;
    }

    std::string Reason(const ScorePart& part, const ScoreNote& note) const {
        if (note.Pitch < part.Tuning[SCORE_STRINGS - 1]) return "below the lowest string";
        if (note.Pitch > part.Tuning[0] + maxFret_)
            return "above fret " + std::to_string(maxFret_) + " of the highest string";
        return "without string and fret";
    }

    BarText LayOut(const ScorePart& part, const ScoreBar& bar, const ScoreMeasure& measure,
                   size_t number) const {
        // Onsets of both voices; notes without a place, grouped by reason in the order met.
        std::vector<Onset> onsets;
        std::vector<std::pair<std::string, std::string>> unplaced; // reason, pitch names
        auto unplace = [&](const std::string& reason, int pitch) {
            auto it = std::find_if(unplaced.begin(), unplaced.end(),
                                   [&](const auto& entry) { return entry.first == reason; });
            if (it == unplaced.end())
                unplaced.emplace_back(reason, PitchName(pitch));
            else
                it->second += ", " + PitchName(pitch);
        };
        for (const std::vector<ScoreBeat>& voice : bar.Voices)
            for (const ScoreBeat& beat : voice) {
                if (beat.Rest) continue;
                for (const ScoreNote& note : bar.NotesOf(beat)) {
                    if (note.TieStop) continue; // it sounds on: no new fret
                    if (note.String == NO_STRING || note.String > SCORE_STRINGS) {
                        unplace(Reason(part, note), note.Pitch);
                        continue;
                    }
                    uint8_t& cell = OnsetAt(onsets, beat.Start).Fret[note.String - 1u];
                    if (cell == NO_CELL || cell == note.Fret) {
                        cell = note.Fret;
                    } else {
                        unplace("(string " + std::to_string(note.String) + " fret " +
                                    std::to_string(note.Fret) +
                                    ") sharing its string with another note",
                                note.Pitch);
                    }
                }
                if (beat.ChordIndex >= 0 && !ScoreChordName(beat.ChordIndex).empty()) {
                    Onset& onset = OnsetAt(onsets, beat.Start);
                    if (onset.ChordIndex < 0) onset.ChordIndex = beat.ChordIndex;
                }
            }

        // Each beat (the time signature's unit) takes a whole number of columns: one per
        // sixteenth at least, and enough that each onset's text and a "-" end before the next
        // onset (counting only the onset's own beat where the next lies beyond it).
        const uint64_t sixteenth = std::max<uint32_t>(1, score_.Divisions / 4);
        const uint64_t beat = std::max<uint64_t>(1, uint64_t{score_.Divisions} * 4 /
                                                        std::max(1u, measure.Denominator));
        const uint64_t length = measure.Length;
        const size_t beats = std::max<size_t>(1, static_cast<size_t>((length + beat - 1) / beat));
        const auto beatLength = [&](size_t k) {
            return k * beat < length ? std::min(beat, length - k * beat) : 0;
        };
        std::vector<uint64_t> widths(beats);
        for (size_t k = 0; k < beats; ++k)
            widths[k] = (beatLength(k) + sixteenth - 1) / sixteenth;
        const auto beatOf = [&](uint64_t time) {
            return std::min(beats - 1, static_cast<size_t>(time / beat));
        };
        const auto need = [&](uint64_t from, uint64_t to, uint64_t columns) {
            const size_t k = beatOf(from);
            const uint64_t gap = std::min(to, k * beat + beatLength(k)) - std::min(from, to);
            if (gap > 0) widths[k] = std::max(widths[k], (columns * beatLength(k) + gap - 1) / gap);
        };
        std::vector<std::string> chordNames(onsets.size());
        const Onset* lastChord = nullptr;
        for (size_t i = 0; i < onsets.size(); ++i) {
            if (i > 0) need(onsets[i - 1].Time, onsets[i].Time, onsets[i - 1].FretWidth() + 1);
            if (onsets[i].ChordIndex < 0) continue;
            // A chord struck again in its bar is not named again.
            if (lastChord && lastChord->ChordIndex == onsets[i].ChordIndex) continue;
            chordNames[i] = PlainText(ScoreChordName(onsets[i].ChordIndex));
            if (lastChord) {
                const size_t before = static_cast<size_t>(lastChord - onsets.data());
                need(lastChord->Time, onsets[i].Time, chordNames[before].size() + 1);
            }
            lastChord = &onsets[i];
        }
        std::vector<uint64_t> starts(beats + 1, 1); // the column where each beat starts
        for (size_t k = 0; k < beats; ++k)
            starts[k + 1] = starts[k] + widths[k];
        const auto column = [&](uint64_t time) {
            const size_t k = beatOf(time);
            const uint64_t into = time > k * beat ? time - k * beat : 0;
            return starts[k] + (beatLength(k) ? into * widths[k] / beatLength(k) : 0);
        };
        uint64_t inner = starts[beats];
        for (size_t i = 0; i < onsets.size(); ++i) {
            inner = std::max(inner, column(onsets[i].Time) + onsets[i].FretWidth() + 1);
            inner = std::max(inner, column(onsets[i].Time) + chordNames[i].size());
        }

        BarText text;
        for (std::string& row : text.Rows)
            row.assign(inner, '-') += '|';
        text.Names.assign(inner + 1, ' ');
        text.InsideText.assign(inner + 2, false);
        const auto mark = [&](uint64_t begin, uint64_t length) {
            for (uint64_t c = begin + 1; c < begin + length; ++c)
                text.InsideText[c] = true;
        };
        for (size_t i = 0; i < onsets.size(); ++i) {
            const uint64_t at = column(onsets[i].Time);
            for (size_t s = 0; s < SCORE_STRINGS; ++s) {
                if (onsets[i].Fret[s] == NO_CELL) continue;
                const std::string fret = std::to_string(onsets[i].Fret[s]);
                text.Rows[s].replace(at, fret.size(), fret);
            }
            mark(at, onsets[i].FretWidth());
            text.Names.replace(at, chordNames[i].size(), chordNames[i]);
            mark(at, chordNames[i].size());
        }
        for (const auto& [reason, names] : unplaced)
            text.Notes.push_back("bar " + std::to_string(number) + ": " + names + " " + reason);
        return text;
    }

    const Score& score_;
    const ScoreSink& sink_;
    const size_t width_;
    const int maxFret_;
    std::string out_;
    std::array<std::string, SCORE_STRINGS> labels_;
    // The system being gathered.
    std::array<std::string, SCORE_STRINGS> rows_;
    std::string names_;
    std::vector<std::string> notes_;
    size_t firstBar_ = 1;
    size_t bars_ = 0; // bars (or pieces) in it
    size_t used_ = 0; // columns its bars take
};

} // namespace

StandardTabWriter::StandardTabWriter(int width, int maxFret)
    : width_(std::clamp(width, STANDARD_TAB_MIN_WIDTH, STANDARD_TAB_MAX_WIDTH)),
      maxFret_(std::clamp(maxFret, 0, MAX_NAMED_FRET)) {}

bool StandardTabWriter::Write(const Score& score, const ScoreSink& sink, std::string& error) const {
    error.clear();
    TabMaker(score, sink, width_, maxFret_).Write();
    return true;
}

std::string StandardTabWriter::Summary(const ScoreSummary& summary) const {
    std::string text = std::to_string(summary.NotesWritten) + " notes written";
    if (summary.NotesWithoutPosition > 0)
        text += ", " + std::to_string(summary.NotesWithoutPosition) +
                " without string and fret, listed under their systems";
    return text;
}

} // namespace morvel
