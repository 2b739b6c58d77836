// The quantised score: a song as notation programs and tab editors hold it, built once from
// the conversion and the MIDI bytes, and read by every score writer (MusicXML, Guitar Pro).
//
// Contract of BuildScore:
// - Converts the MIDI file in `bytes` with `conversion` (its Settings and TuningSettings as
//   the caller set them) exactly as the text tablature is made, and reads the same bytes
//   with the timeline reader (or takes `timeline` when the caller has read it already) for
//   note ends, tempos, time and key signatures, names and programs.
// - One part per exported track; every part has one bar per measure of the song, so
//   Parts[p].Bars[m] belongs to Measures[m].
// - Every note carries the string and fret the text tablature shows for it, and the pitch
//   that string and fret sound; a note the tablature shows as "?" (or not at all) keeps its
//   own pitch and has no string (String == NO_STRING). No note is dropped; notes of one
//   key that start together in one track are one note, as the file sounds them.
// - Time is counted in Divisions per quarter note, from the start of each measure. Beats of
//   a voice follow each other without gaps and fill their bar exactly; a rest is a beat with
//   Rest set. A note crossing a beat boundary that one note value cannot show, or a barline,
//   is split into beats tied together (TieStart on the earlier piece, TieStop on the later).
// - Rhythm on an absolute grid: every onset and end is snapped where it lies in its own
//   quarter-note beat, so an error never carries on. Per beat the grid is the simplest of
//   sixteenths, eighth triplets, thirty-seconds and sixteenth triplets that keeps each onset
//   of the beat within 1/48 quarter, else within the tolerance of 1/16 quarter (a
//   sixty-fourth note), else the nearest; onsets that would meet on one string take a finer
//   grid (thirty-second triplets as the last). summary.LargestShift is the largest distance
//   an onset or end really moved, in ticks.
// - Voices: a note still sounding when the onset after next begins, while notes under it
//   move, is in the lower voice (Voices[1]) with its own length; all other notes are in the
//   upper voice, each chord lasting to its end or that voice's next onset.
// - Tempo: a run of at least three falling steps (each under a fifth, at most two bars apart)
//   is a ritardando (Ritardando, InRun, RitEnd); the next change back to within 2 % of the
//   tempo before it is ATempo.
// - Bounded: the number of measures is at most a fixed bound plus a bounded number per note,
//   so a damaged file cannot ask for millions of empty bars.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace morvel {

class Conversion;
struct MidiTimeline;

constexpr uint8_t NO_STRING = 0;
constexpr int DRUM_CHANNEL = 9; // 0-based: MIDI channel 10, the drums
constexpr int SCORE_STRINGS = 6;

// A written note value, by its denominator: 1 whole, 2 half, 4 quarter ... 64 sixty-fourth.
enum class NoteValue : uint8_t {
    Whole = 1,
    Half = 2,
    Quarter = 4,
    Eighth = 8,
    Sixteenth = 16,
    ThirtySecond = 32,
    SixtyFourth = 64,
};

// `Actual` notes in the time of `Normal` (3 in 2 for a triplet); 1:1 for none.
struct TupletRatio {
    uint8_t Actual = 1;
    uint8_t Normal = 1;
    bool IsTuplet() const { return Actual != Normal; }
};

// The flags of notes and beats are bit-fields: a long song holds hundreds of thousands.
struct ScoreNote {
    int16_t Pitch = 0;          // sounding MIDI pitch (middle C 60); may lie outside 0..127
    uint8_t String = NO_STRING; // 1 (highest) .. 6, or NO_STRING: no string and fret
    uint8_t Fret = 0;           // meaningful only with a string
    uint8_t Velocity = 0;
    bool TieStart : 1 = false;  // tied to the same note in the next beat of its voice
    bool TieStop : 1 = false;   // tied from the same note in the previous beat of its voice
};

// A chord or a rest: the notes of one voice that start together and last equally long.
// Its notes are held by its bar (ScoreBar::NotesOf), so a beat owns no memory of its own.
struct ScoreBeat {
    uint32_t Start = 0;    // in divisions from the measure's start
    uint32_t Duration = 0; // in divisions; Value, Dots and Tuplet show it
    NoteValue Value = NoteValue::Quarter;
    uint8_t Dots : 2 = 0;
    bool TupletStart : 1 = false; // first beat of a tuplet group
    bool TupletStop : 1 = false;  // last beat of a tuplet group
    bool Rest : 1 = false;
    bool WholeMeasureRest : 1 = false; // a rest filling the whole bar (Value then says nothing)
    TupletRatio Tuplet;
    // Index into ChordNames where Show Chords names the chord, else -1; ScoreChordName gives
    // the name the score shows for it.
    int16_t ChordIndex = -1;
    uint32_t FirstNote = 0; // its notes: the bar's Notes[FirstNote .. FirstNote + NoteCount)
    uint32_t NoteCount = 0; // 0 for a rest; highest string first where placed
};

// One bar of one part: one or two voices. Voice 0 is the upper (stems up where there are
// two), voice 1 the lower, used only where a note is held while others move. The notes of
// all its beats lie in Notes, beat after beat, voice 0 first.
struct ScoreBar {
    std::vector<ScoreBeat> Voices[2];
    std::vector<ScoreNote> Notes;
    bool HasSecondVoice() const { return !Voices[1].empty(); }
    std::span<const ScoreNote> NotesOf(const ScoreBeat& beat) const {
        return std::span<const ScoreNote>(Notes).subspan(beat.FirstNote, beat.NoteCount);
    }
    // Appends `notes` to the bar as the notes of `beat`.
    void SetNotes(ScoreBeat& beat, std::span<const ScoreNote> notes) {
        beat.FirstNote = static_cast<uint32_t>(Notes.size());
        beat.NoteCount = static_cast<uint32_t>(notes.size());
        Notes.insert(Notes.end(), notes.begin(), notes.end());
    }
};

enum class TempoText : uint8_t {
    None,      // a plain metronome mark
    Ritardando, // "rit.": the first change of a gradually falling run
    RitEnd,    // the last change of such a run: its metronome mark
    InRun,     // a change inside a run: sounds, shows nothing
    ATempo,    // "a tempo": a return to the tempo before the run
};

struct ScoreTempo {
    uint32_t Position = 0; // divisions from the measure's start
    uint32_t MicrosecondsPerQuarter = 500000;
    TempoText Text = TempoText::None;
    double Bpm() const { return 60'000'000.0 / MicrosecondsPerQuarter; }
};

struct ScoreMeasure {
    uint64_t StartTick = 0;   // in MIDI ticks (rounded down where a bar starts between ticks)
    uint32_t Length = 0;      // in divisions; may be shorter than the time signature's bar
    uint32_t Numerator = 4;
    uint32_t Denominator = 4;
    int Fifths = 0;           // key: -7 .. 7, flats negative
    bool Minor = false;
    bool KeyChange = false;   // the file sets a key here (always true in the first measure)
    std::vector<ScoreTempo> Tempos; // in order of Position
};

struct ScorePart {
    uint32_t Track = 0;   // 0-based track of the MIDI file
    std::string Name;     // never empty: the track name, else "Track N"
    int Program = -1;     // 0..127, -1 none
    int Channel = 0;      // 0..15
    // Sounding pitch of each open string, Tuning[0] the first (highest) string.
    std::array<int, SCORE_STRINGS> Tuning{};
    std::vector<ScoreBar> Bars;
};

struct Score {
    std::string Title;
    uint32_t Divisions = 24; // per quarter note
    uint32_t Division = 96;  // MIDI ticks per quarter note of the file
    std::vector<ScoreMeasure> Measures;
    std::vector<ScorePart> Parts;
};

struct ScoreOptions {
    std::string WorkTitle;        // usually the file name without its folder
    std::vector<uint32_t> Tracks; // 0-based tracks to write; empty: every track with notes
    bool LeaveOutDrums = true;    // with Tracks empty: skip tracks all on channel 10
};

struct ScoreSummary {
    uint64_t NotesWritten = 0;         // notes in the score, tied pieces counted once
    uint64_t NotesWithoutPosition = 0; // of those, without string and fret
    uint64_t LargestShift = 0;         // in ticks: the largest distance an onset or end moved
    std::vector<uint32_t> DrumTracks;  // 1-based tracks left out as drums
    std::vector<uint32_t> Parts;       // 1-based tracks written, in order
    std::string Error;                 // why no score was made; empty on success
};

// Builds the score of `bytes` (named `displayName` in messages). False with `summary.Error`
// set when the file cannot be read at all or has no track to write; the conversion's own
// errors go to its reporter as usual. The conversion's report sink and column observer are
// used during the call and cleared after it. `timeline`, when given, must be the timeline
// of the same bytes.
bool BuildScore(Conversion& conversion, std::string_view bytes, const std::string& displayName,
                const ScoreOptions& options, Score& score, ScoreSummary& summary,
                const MidiTimeline* timeline = nullptr);

// The name of chord `chordIndex` of ChordNames as a score shows it, trimmed; empty for -1
// or an index outside the table.
std::string ScoreChordName(int chordIndex);

// "N notes written, M without string and fret, largest quantisation shift K ticks".
std::string FormatScoreSummary(const ScoreSummary& summary);

} // namespace morvel
