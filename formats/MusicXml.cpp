// MusicXML writer over the quantised score: a header and part list, then each part measure
// by measure, its beats written once per staff (the notation staff, then the TAB staff).
#include "formats/MusicXml.h"

#include "formats/MidiTimeline.h"
#include "formats/PlainText.h"
#include "formats/ScoreFile.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace morvel {

namespace {

constexpr size_t FLUSH_SIZE = 256 * 1024;
constexpr size_t MAX_BEAMS = 4; // eighths to sixty-fourths

enum class BeamKind : uint8_t { None, Begin, Continue, End, ForwardHook, BackwardHook };
const char* const BEAM_TEXT[] = {"", "begin", "continue", "end", "forward hook", "backward hook"};

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

// Text as XML character data: PlainText, every character one XML 1.0 allows, with the markup
// characters escaped.
std::string XmlText(std::string_view text) {
    const std::string plain = PlainText(text);
    std::string out;
    out.reserve(plain.size());
    for (const char c : plain) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
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

const char* TypeName(NoteValue value) {
    switch (value) {
    case NoteValue::Whole: return "whole";
    case NoteValue::Half: return "half";
    case NoteValue::Quarter: return "quarter";
    case NoteValue::Eighth: return "eighth";
    case NoteValue::Sixteenth: return "16th";
    case NoteValue::ThirtySecond: return "32nd";
    case NoteValue::SixtyFourth: return "64th";
    }
    return "16th";
}

// Writes one part of the score.
class PartWriter {
  public:
    PartWriter(Writer& out, const Score& score) : out_(out), score_(score) {}

    void WritePart(const ScorePart& part, size_t partIndex) {
        out_.Put("  <part id=\"P");
        out_.Put(partIndex + 1);
        out_.Put("\">\n");
        part_ = &part;
        firstPart_ = partIndex == 0;
        for (size_t m = 0; m < score_.Measures.size(); ++m) {
            const ScoreMeasure& measure = score_.Measures[m];
            out_.Put("    <measure number=\"");
            out_.Put(m + 1);
            out_.Put("\">\n");
            if (measure.KeyChange) flats_ = measure.Fifths < 0;
            WriteAttributes(m);
            const ScoreBar& bar = part.Bars[m];
            const int voices = bar.HasSecondVoice() ? 2 : 1;
            bool first = true;
            for (int staff = 1; staff <= 2; ++staff)
                for (int v = 0; v < voices; ++v) {
                    if (!first) {
                        out_.Put("      <backup><duration>");
                        out_.Put(measure.Length);
                        out_.Put("</duration></backup>\n");
                    }
                    first = false;
                    WriteVoice(measure, bar, bar.Voices[v], staff, v, voices);
                }
            out_.Put("    </measure>\n");
        }
        out_.Put("  </part>\n");
    }

  private:
    void WriteAttributes(size_t m) {
        const ScoreMeasure& measure = score_.Measures[m];
        const bool newTime = m == 0 || score_.Measures[m - 1].Numerator != measure.Numerator ||
                             score_.Measures[m - 1].Denominator != measure.Denominator;
        if (!newTime && !measure.KeyChange && m != 0) return;
        out_.Put("      <attributes>");
        if (m == 0) out_.Element("divisions", score_.Divisions);
        if (measure.KeyChange) {
            out_.Put("<key><fifths>");
            out_.PutInt(measure.Fifths);
            out_.Put(measure.Minor ? "</fifths><mode>minor</mode></key>"
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
            for (int line = 1; line <= SCORE_STRINGS; ++line) {
                const int pitch = WritablePitch(part_->Tuning[static_cast<size_t>(SCORE_STRINGS - line)]);
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

    // One voice of one staff. Tempo marks go with the upper voice of the notation staff of
    // the first part; the TAB staff shows fretted notes only, a beat without one as a rest.
    void WriteVoice(const ScoreMeasure& measure, const ScoreBar& bar,
                    const std::vector<ScoreBeat>& beats, int staff, int voice, int voices) {
        size_t tempo = 0;
        const std::vector<ScoreTempo>& tempos = measure.Tempos;
        MakeBeams(measure, beats);
        note_ = {staff, voice, voices};
        for (size_t b = 0; b < beats.size(); ++b) {
            const ScoreBeat& beat = beats[b];
            note_.Beams = beams_[b];
            if (staff == 1) {
                while (firstPart_ && voice == 0 && tempo < tempos.size() &&
                       tempos[tempo].Position < beat.Start + beat.Duration)
                    WriteTempo(tempos[tempo++], beat.Start);
                if (beat.ChordIndex >= 0) WriteHarmony(beat);
            }
            bool first = true;
            for (const ScoreNote& note : bar.NotesOf(beat)) {
                if (staff == 2 && note.String == NO_STRING) continue;
                WriteNote(beat, &note, first);
                first = false;
            }
            if (first) WriteNote(beat, nullptr, true);
        }
    }

    // Beams by beat (by the dotted quarter in compound time): a run of two or more beats of an
    // eighth or less, without a rest between, inside one beat, is beamed; sixteenths and
    // thirty-seconds add a beam each, with hooks where a note alone has the shorter value.
    void MakeBeams(const ScoreMeasure& measure, const std::vector<ScoreBeat>& beats) {
        beams_.assign(beats.size(), {});
        const bool compound = measure.Denominator == 8 && measure.Numerator % 3 == 0 &&
                              measure.Numerator > 3;
        const uint32_t group = compound ? score_.Divisions * 3 / 2 : score_.Divisions;
        // Beams a beat of this value takes: 1 for an eighth, 2 for a sixteenth ...
        const auto levels = [](const ScoreBeat& beat) -> int {
            if (beat.Rest || beat.WholeMeasureRest) return 0;
            switch (beat.Value) {
            case NoteValue::Eighth: return 1;
            case NoteValue::Sixteenth: return 2;
            case NoteValue::ThirtySecond: return 3;
            case NoteValue::SixtyFourth: return 4;
            default: return 0;
            }
        };
        for (size_t first = 0; first < beats.size();) {
            size_t last = first;
            if (levels(beats[first]) > 0) {
                const uint32_t at = beats[first].Start / group;
                while (last + 1 < beats.size() && levels(beats[last + 1]) > 0 &&
                       beats[last + 1].Start / group == at)
                    ++last;
            }
            if (last > first) {
                for (size_t b = first; b <= last; ++b) {
                    const int own = levels(beats[b]);
                    for (int level = 1; level <= own && level <= int(MAX_BEAMS); ++level) {
                        const bool before = b > first && levels(beats[b - 1]) >= level;
                        const bool after = b < last && levels(beats[b + 1]) >= level;
                        BeamKind kind = before && after ? BeamKind::Continue
                                        : before        ? BeamKind::End
                                        : after         ? BeamKind::Begin
                                        : b == first    ? BeamKind::ForwardHook
                                                        : BeamKind::BackwardHook;
                        beams_[b][static_cast<size_t>(level - 1)] = kind;
                    }
                }
            }
            first = last + 1;
        }
    }

    // A tempo change: a metronome mark, "rit." or "a tempo" as the score names it, or (inside
    // a ritardando) the sound alone; the sounding tempo as exact as the file gives it.
    void WriteTempo(const ScoreTempo& mark, uint32_t at) {
        const double bpm = mark.Bpm();
        char text[32];
        auto r = std::to_chars(text, text + sizeof text, bpm);
        const std::string tempo(text, r.ptr);
        const uint32_t offset = mark.Position > at ? mark.Position - at : 0;
        if (mark.Text == TempoText::InRun) {
            out_.Put("      <sound tempo=\"");
            out_.Put(tempo);
            if (!offset) {
                out_.Put("\"/>\n");
                return;
            }
            out_.Put("\">");
            out_.Element("offset", offset);
            out_.Put("</sound>\n");
            return;
        }
        out_.Put("      <direction placement=\"above\"><direction-type>");
        if (mark.Text == TempoText::Ritardando) {
            out_.Put("<words>rit.</words>");
        } else if (mark.Text == TempoText::ATempo) {
            out_.Put("<words>a tempo</words>");
        } else {
            out_.Put("<metronome><beat-unit>quarter</beat-unit><per-minute>");
            out_.Put(static_cast<uint64_t>(std::max(1L, std::lround(bpm))));
            out_.Put("</per-minute></metronome>");
        }
        out_.Put("</direction-type>");
        if (offset) out_.Element("offset", offset);
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

    void WriteHarmony(const ScoreBeat& beat) {
        out_.Put("      <harmony><root>");
        PutStep(beat.ChordIndex % 12, "root-step", "root-alter");
        out_.Put("</root><kind>");
        out_.Put(CHORD_KINDS[beat.ChordIndex / 12]);
        out_.Put("</kind><staff>1</staff></harmony>\n");
    }

    void WriteNote(const ScoreBeat& beat, const ScoreNote* note, bool firstOfChord) {
        const int staff = note_.Staff;
        // The lower voice's rests are not printed: they only keep its time; nor are the rests
        // of the TAB staff where two voices share it.
        const bool hidden = !note && (note_.Voice == 1 || (staff == 2 && note_.Voices == 2));
        out_.Put(hidden ? "      <note print-object=\"no\">" : "      <note>");
        if (!note) {
            out_.Put(beat.WholeMeasureRest ? "<rest measure=\"yes\"/>" : "<rest/>");
        } else {
            if (!firstOfChord) out_.Put("<chord/>");
            const int pitch = WritablePitch(note->Pitch);
            out_.Put("<pitch>");
            PutStep(pitch % 12, "step", "alter");
            out_.Put("<octave>");
            out_.PutInt(pitch / 12 - 1);
            out_.Put("</octave></pitch>");
        }
        out_.Element("duration", beat.Duration);
        if (note && note->TieStop) out_.Put("<tie type=\"stop\"/>");
        if (note && note->TieStart) out_.Put("<tie type=\"start\"/>");
        out_.Element("voice", static_cast<uint64_t>(note_.Voice + 1));
        if (!beat.WholeMeasureRest) {
            out_.Put("<type>");
            out_.Put(TypeName(beat.Value));
            out_.Put("</type>");
            for (uint8_t d = 0; d < beat.Dots; ++d) out_.Put("<dot/>");
            if (beat.Tuplet.IsTuplet()) {
                out_.Put("<time-modification><actual-notes>");
                out_.Put(static_cast<uint64_t>(beat.Tuplet.Actual));
                out_.Put("</actual-notes><normal-notes>");
                out_.Put(static_cast<uint64_t>(beat.Tuplet.Normal));
                out_.Put("</normal-notes></time-modification>");
            }
            if (note && staff == 1 && note_.Voices == 2)
                out_.Put(note_.Voice == 0 ? "<stem>up</stem>" : "<stem>down</stem>");
        }
        out_.Element("staff", static_cast<uint64_t>(staff));
        if (note && firstOfChord) {
            for (size_t level = 0; level < MAX_BEAMS; ++level) {
                if (note_.Beams[level] == BeamKind::None) continue;
                out_.Put("<beam number=\"");
                out_.Put(static_cast<uint64_t>(level + 1));
                out_.Put("\">");
                out_.Put(BEAM_TEXT[static_cast<size_t>(note_.Beams[level])]);
                out_.Put("</beam>");
            }
        }
        const bool tuplet = beat.Tuplet.IsTuplet() && firstOfChord && (beat.TupletStart || beat.TupletStop);
        const bool technical = note && staff == 2;
        const bool tied = note && (note->TieStop || note->TieStart);
        if (tuplet || technical || tied) {
            out_.Put("<notations>");
            if (note && note->TieStop) out_.Put("<tied type=\"stop\"/>");
            if (note && note->TieStart) out_.Put("<tied type=\"start\"/>");
            if (tuplet && beat.TupletStart) out_.Put("<tuplet type=\"start\" bracket=\"yes\"/>");
            if (tuplet && beat.TupletStop && !beat.TupletStart) out_.Put("<tuplet type=\"stop\"/>");
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

    // Where the next notes go, and their beams.
    struct NoteContext {
        int Staff = 1;
        int Voice = 0;  // 0 upper, 1 lower
        int Voices = 1; // in this measure
        std::array<BeamKind, MAX_BEAMS> Beams{};
    };

    Writer& out_;
    const Score& score_;
    const ScorePart* part_ = nullptr;
    bool firstPart_ = false;
    bool flats_ = false;
    NoteContext note_;
    std::vector<std::array<BeamKind, MAX_BEAMS>> beams_; // per beat of the voice being written
};

} // namespace

bool MusicXmlWriter::Write(const Score& score, const ScoreSink& sink, std::string& error) const {
    error.clear();
    Writer out(sink);
    out.Put("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
            "<!DOCTYPE score-partwise PUBLIC \"-//Recordare//DTD MusicXML 4.0 Partwise//EN\" "
            "\"http://www.musicxml.org/dtds/partwise.dtd\">\n"
            "<score-partwise version=\"4.0\">\n  <work><work-title>");
    out.Put(XmlText(score.Title));
    out.Put("</work-title></work>\n  <identification><encoding><software>");
    out.Put(SOFTWARE_NAME);
    out.Put("</software></encoding></identification>\n  <part-list>\n");
    for (size_t p = 0; p < score.Parts.size(); ++p) {
        const ScorePart& part = score.Parts[p];
        const std::string id = "P" + std::to_string(p + 1);
        const std::string name = XmlText(part.Name);
        out.Put("    <score-part id=\"" + id + "\"><part-name>" + name +
                "</part-name><score-instrument id=\"" + id + "-I1\"><instrument-name>" + name +
                "</instrument-name></score-instrument><midi-instrument id=\"" + id +
                "-I1\"><midi-channel>" + std::to_string(part.Channel + 1) + "</midi-channel>");
        if (part.Program >= 0)
            out.Put("<midi-program>" + std::to_string(part.Program + 1) + "</midi-program>");
        out.Put("</midi-instrument></score-part>\n");
    }
    out.Put("  </part-list>\n");
    PartWriter writer(out, score);
    for (size_t p = 0; p < score.Parts.size(); ++p)
        writer.WritePart(score.Parts[p], p);
    out.Put("</score-partwise>\n");
    out.Flush();
    return true;
}

const MusicXmlWriter& MusicXmlWriter::Instance() {
    static const MusicXmlWriter writer;
    return writer;
}

bool WriteMusicXml(Conversion& conversion, std::string_view bytes, const std::string& displayName,
                   const MusicXmlOptions& options, const TextSink& sink,
                   MusicXmlSummary& summary) {
    return WriteScore(conversion, bytes, displayName, options, MusicXmlWriter::Instance(), sink,
                      summary);
}

} // namespace morvel
