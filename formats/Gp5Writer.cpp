#include "formats/Gp5Writer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace morvel {

namespace {

constexpr std::string_view VERSION_TEXT = "FICHIER GUITAR PRO v5.10";
constexpr size_t VERSION_FIELD = 30;
constexpr size_t TRACK_NAME_FIELD = 40;
constexpr size_t CHORD_NAME_FIELD = 21;
constexpr size_t BYTE_STRING_MAX = 255;
constexpr size_t CHUNK_BYTES = 64 * 1024;

constexpr int LYRIC_LINES = 5;
constexpr int PAGE_TEMPLATES = 10;
constexpr std::array<int32_t, 7> PAGE_A4 = {210, 297, 10, 10, 15, 10, 100}; // mm, and 100 %
constexpr int DIRECTIONS = 19;
constexpr int16_t NO_DIRECTION = -1;
constexpr int MASTER_VOLUME = 100;
constexpr int MASTER_EQ_BYTES = 11; // ten bands and the gain

constexpr int PORTS = 4;
constexpr int CHANNELS_PER_PORT = 16;
constexpr int MIDI_CHANNELS = PORTS * CHANNELS_PER_PORT;
constexpr uint8_t CHANNEL_VOLUME = 13; // 0..16 scale: about MIDI volume 104
constexpr uint8_t CHANNEL_BALANCE = 8; // centre
constexpr int DEFAULT_PROGRAM = 0;

constexpr int STRING_SLOTS = 7;
constexpr int DEFAULT_FRETS = 24;
constexpr uint8_t TRACK_VISIBLE = 0x08;
constexpr uint16_t STAFF_TABLATURE = 0x0001;
constexpr uint16_t STAFF_NOTATION = 0x0002;
constexpr std::array<uint8_t, 4> TRACK_COLOUR = {255, 0, 0, 0};
constexpr int TRACK_RESERVED_BYTES = 24; // between the display flags and the RSE instrument

constexpr uint8_t MEASURE_NUMERATOR = 0x01;
constexpr uint8_t MEASURE_DENOMINATOR = 0x02;
constexpr uint8_t MEASURE_KEY = 0x40;
constexpr int BEAM_GROUPS = 4;

constexpr uint8_t BEAT_DOTTED = 0x01;
constexpr uint8_t BEAT_CHORD = 0x02;
constexpr uint8_t BEAT_MIX_TABLE = 0x10;
constexpr uint8_t BEAT_TUPLET = 0x20;
constexpr uint8_t BEAT_STATUS = 0x40;
constexpr uint8_t STATUS_EMPTY = 0x00;
constexpr uint8_t STATUS_REST = 0x02;

constexpr uint8_t NOTE_FRET = 0x20;
constexpr uint8_t NOTE_NORMAL = 1;
constexpr uint8_t NOTE_TIED = 2;

constexpr int DEFAULT_BPM = 120;
constexpr int CHORD_ROOTS = 12; // the chord table holds each kind for C, C#, D .. B in turn
// The chord table's kinds (major, minor, seventh, minor seventh) as the format's chord types.
constexpr std::array<int8_t, 4> CHORD_TYPES = {0, 4, 1, 5};

// Little-endian output in chunks: the format's integers and its three kinds of string.
class ByteOut {
  public:
    explicit ByteOut(const ScoreSink& sink) : sink_(sink) { buffer_.reserve(CHUNK_BYTES + 256); }
    void U8(uint8_t value) {
        buffer_.push_back(static_cast<char>(value));
        if (buffer_.size() >= CHUNK_BYTES) Flush();
    }
    void S8(int value) { U8(static_cast<uint8_t>(static_cast<int8_t>(value))); }
    void S16(int value) {
        const auto bits = static_cast<uint16_t>(static_cast<int16_t>(value));
        U8(static_cast<uint8_t>(bits));
        U8(static_cast<uint8_t>(bits >> 8));
    }
    void S32(int64_t value) {
        const auto bits = static_cast<uint32_t>(static_cast<int32_t>(value));
        for (int shift = 0; shift < 32; shift += 8)
            U8(static_cast<uint8_t>(bits >> shift));
    }
    void Zeros(size_t count) {
        for (size_t i = 0; i < count; ++i)
            U8(0);
    }
    void Bytes(std::string_view text) {
        for (char c : text)
            U8(static_cast<uint8_t>(c));
    }
    // A length byte, the text, and zeros up to `field` bytes.
    void ByteStringField(std::string_view text, size_t field) {
        text = Cut(text, field);
        U8(static_cast<uint8_t>(text.size()));
        Bytes(text);
        Zeros(field - text.size());
    }
    // A 32-bit size (the length plus one), a length byte, the text.
    void IntByteString(std::string_view text) {
        text = Cut(text, BYTE_STRING_MAX);
        S32(static_cast<int64_t>(text.size()) + 1);
        U8(static_cast<uint8_t>(text.size()));
        Bytes(text);
    }
    // A 32-bit length, the text.
    void IntString(std::string_view text) {
        S32(static_cast<int64_t>(text.size()));
        Bytes(text);
    }
    void Flush() {
        if (!buffer_.empty()) sink_(buffer_);
        buffer_.clear();
    }

  private:
    // At most `limit` bytes, never ending inside a UTF-8 sequence.
    static std::string_view Cut(std::string_view text, size_t limit) {
        if (text.size() <= limit) return text;
        size_t end = limit;
        while (end > 0 && (static_cast<uint8_t>(text[end]) & 0xC0) == 0x80)
            --end;
        return text.substr(0, end);
    }

    const ScoreSink& sink_;
    std::string buffer_;
};

// A name as a tab program shows it: up to its first NUL byte, other control bytes as spaces.
std::string ShownName(std::string_view name) {
    std::string shown(name.substr(0, name.find('\0')));
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    return shown;
}

int Bpm(uint32_t microsecondsPerQuarter) {
    return static_cast<int>(
        std::lround(60'000'000.0 / std::max<uint32_t>(microsecondsPerQuarter, 1)));
}

// Note value code: -2 whole, -1 half, 0 quarter ... 4 sixty-fourth.
int ValueCode(uint32_t denominator) {
    int code = -2;
    for (uint32_t d = 1; d < denominator; d *= 2)
        ++code;
    return code;
}

bool IsPowerOfTwo(uint32_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

// The tuplet numerator readers take in the time of the next lower power of two; 0 when the
// ratio has none.
int TupletCode(const TupletRatio& ratio) {
    if (!ratio.IsTuplet()) return 1;
    const int actual = ratio.Actual;
    if (actual < 3 || actual > 13 || IsPowerOfTwo(static_cast<uint32_t>(actual))) return 0;
    int normal = 1;
    while (normal * 2 < actual)
        normal *= 2;
    // Any ratio equal to actual:normal is the same tuplet (6:4 is 3:2 twice over).
    if (ratio.Actual * normal != ratio.Normal * actual) return 0;
    return actual;
}

// One beat as the file holds it: a piece of a score beat (a beat of two or more dots becomes
// a dotted beat and the rest), or one rest of a measure's fill.
struct Piece {
    const ScoreBeat* Beat = nullptr; // null for a fill rest
    const ScoreBar* Bar = nullptr;   // the bar holding Beat's notes
    uint32_t Start = 0;              // divisions from the measure's start
    uint32_t Duration = 0;
    uint32_t Denominator = 4;
    bool Dotted = false;
    int Tuplet = 1;         // the format's numerator; 1 none
    bool Continued = false; // a later piece of a split beat: its notes are tied
    bool Empty = false;     // an empty beat: sounds nothing, shows nothing
    int Tempo = -1;         // BPM of a tempo change here; -1 none
};

struct RestValue {
    uint32_t Duration;
    uint32_t Denominator;
    bool Dotted;
    int Tuplet;
};

class Gp5File {
  public:
    Gp5File(const Score& score, const ScoreSink& sink) : score_(score), out_(sink) {}

    bool Write(std::string& error) {
        if (score_.Parts.empty()) return Fail(error, "the score has no track");
        if (score_.Divisions == 0) return Fail(error, "the score has no time unit");
        if (!PlanMeasures(error)) return false;
        PlanRests();
        WriteHeader();
        WriteChannels();
        out_.S32(static_cast<int64_t>(score_.Measures.size()));
        out_.S32(static_cast<int64_t>(score_.Parts.size()));
        for (size_t m = 0; m < score_.Measures.size(); ++m)
            WriteMeasureHeader(m);
        for (size_t p = 0; p < score_.Parts.size(); ++p)
            WriteTrack(p);
        out_.U8(0);
        voices_.resize(score_.Parts.size() * 2);
        for (size_t m = 0; m < score_.Measures.size(); ++m) {
            static const ScoreBar none;
            for (size_t p = 0; p < score_.Parts.size(); ++p) {
                const ScorePart& part = score_.Parts[p];
                const ScoreBar& bar = m < part.Bars.size() ? part.Bars[m] : none;
                for (size_t v = 0; v < 2; ++v) {
                    if (!PlanVoice(bar, bar.Voices[v], score_.Measures[m], v == 0,
                                   voices_[p * 2 + v], error))
                        return false;
                }
            }
            PlaceTempos(score_.Measures[m]);
            for (size_t p = 0; p < score_.Parts.size(); ++p)
                WriteBar(p);
        }
        out_.Flush();
        return true;
    }

  private:
    struct MeasurePlan {
        uint32_t Numerator = 4;
        uint32_t Denominator = 4;
    };

    static bool Fail(std::string& error, std::string text) {
        error = std::move(text);
        return false;
    }

    uint32_t QuarterDivisions() const { return score_.Divisions; }

    // The time signature each measure is written with: its own, or one of its length.
    bool PlanMeasures(std::string& error) {
        plans_.resize(score_.Measures.size());
        for (size_t m = 0; m < score_.Measures.size(); ++m) {
            const ScoreMeasure& measure = score_.Measures[m];
            MeasurePlan plan{measure.Numerator, measure.Denominator};
            const uint64_t barLength = uint64_t{4} * QuarterDivisions() * measure.Numerator /
                                       std::max<uint32_t>(measure.Denominator, 1);
            if (measure.Length != 0 && measure.Length != barLength) {
                // The smallest denominator (from the signature's own) that counts the length
                // in whole units.
                bool found = false;
                for (uint32_t d = std::max<uint32_t>(measure.Denominator, 1); d <= 128; d *= 2) {
                    const uint64_t units = uint64_t{measure.Length} * d;
                    if (units % (uint64_t{4} * QuarterDivisions()) == 0 &&
                        units / (uint64_t{4} * QuarterDivisions()) <= 255) {
                        plan = {static_cast<uint32_t>(units / (uint64_t{4} * QuarterDivisions())),
                                d};
                        found = true;
                        break;
                    }
                }
                if (!found) plan = {measure.Numerator, measure.Denominator};
            }
            if (plan.Numerator < 1 || plan.Numerator > 255 || plan.Denominator < 1 ||
                plan.Denominator > 128 || !IsPowerOfTwo(plan.Denominator))
                return Fail(error, "measure " + std::to_string(m + 1) + " has time signature " +
                                       std::to_string(plan.Numerator) + "/" +
                                       std::to_string(plan.Denominator) +
                                       ", which the format cannot hold");
            plans_[m] = plan;
        }
        return true;
    }

    // Every plain, dotted and triplet value that is a whole number of divisions, longest first.
    void PlanRests() {
        for (uint32_t d = 1; d <= 64; d *= 2) {
            const uint32_t whole = 4 * QuarterDivisions();
            if (whole % d != 0) continue;
            const uint32_t base = whole / d;
            rests_.push_back({base, d, false, 1});
            if (base % 2 == 0) rests_.push_back({base / 2 * 3, d, true, 1});
            if (base % 3 == 0) rests_.push_back({base / 3 * 2, d, false, 3});
        }
        std::stable_sort(rests_.begin(), rests_.end(), [](const RestValue& a, const RestValue& b) {
            return a.Duration > b.Duration;
        });
    }

    void WriteHeader() {
        out_.U8(static_cast<uint8_t>(VERSION_TEXT.size()));
        out_.Bytes(VERSION_TEXT);
        out_.Zeros(VERSION_FIELD - VERSION_TEXT.size());
        // Title, subtitle, artist, album, words, music, copyright, tab, instructions; notices.
        out_.IntByteString(ShownName(score_.Title));
        for (int i = 0; i < 8; ++i)
            out_.IntByteString("");
        out_.S32(0);
        // Lyrics: no track, five empty lines.
        out_.S32(0);
        for (int i = 0; i < LYRIC_LINES; ++i) {
            out_.S32(0);
            out_.IntString("");
        }
        // Master effect: volume, a reserved word, the equaliser.
        out_.S32(MASTER_VOLUME);
        out_.S32(0);
        out_.Zeros(MASTER_EQ_BYTES);
        // Page set-up: size, margins, proportion, header/footer flags and their texts.
        for (int32_t value : PAGE_A4)
            out_.S32(value);
        out_.S16(0);
        for (int i = 0; i < PAGE_TEMPLATES; ++i)
            out_.IntByteString("");
        // Tempo: its name, BPM, shown.
        out_.IntByteString("");
        out_.S32(FirstTempo());
        out_.U8(0);
        // Key (fifths), three reserved bytes, octave.
        out_.S8(score_.Measures.empty() ? 0 : score_.Measures.front().Fifths);
        out_.Zeros(3);
        out_.S8(0);
    }

    int FirstTempo() const {
        if (!score_.Measures.empty() && !score_.Measures.front().Tempos.empty() &&
            score_.Measures.front().Tempos.front().Position == 0)
            return Bpm(score_.Measures.front().Tempos.front().MicrosecondsPerQuarter);
        return DEFAULT_BPM;
    }

    // The channel slot (port * 16 + channel) of part `p`: its own, channel 10 of each port
    // left to drums; after 60 parts the slots are shared.
    static int ChannelSlot(size_t p) {
        constexpr size_t usable = MIDI_CHANNELS - PORTS;
        const size_t n = p % usable;
        const size_t port = n / (CHANNELS_PER_PORT - 1);
        size_t channel = n % (CHANNELS_PER_PORT - 1);
        if (channel >= DRUM_CHANNEL) ++channel;
        return static_cast<int>(port * CHANNELS_PER_PORT + channel);
    }

    void WriteChannels() {
        std::array<int, MIDI_CHANNELS> programs;
        programs.fill(DEFAULT_PROGRAM);
        for (size_t p = 0; p < score_.Parts.size() && p < MIDI_CHANNELS - PORTS; ++p) {
            const int program = score_.Parts[p].Program;
            programs[static_cast<size_t>(ChannelSlot(p))] =
                program >= 0 && program <= 127 ? program : DEFAULT_PROGRAM;
        }
        for (int program : programs) {
            out_.S32(program);
            out_.U8(CHANNEL_VOLUME);
            out_.U8(CHANNEL_BALANCE);
            out_.Zeros(4); // chorus, reverb, phaser, tremolo
            out_.Zeros(2);
        }
        for (int i = 0; i < DIRECTIONS; ++i)
            out_.S16(NO_DIRECTION);
        out_.S32(0); // master reverb
    }

    void WriteMeasureHeader(size_t m) {
        const ScoreMeasure& measure = score_.Measures[m];
        const MeasurePlan& plan = plans_[m];
        if (m > 0) out_.U8(0);
        const bool timeChange = m == 0 || plan.Numerator != plans_[m - 1].Numerator ||
                                plan.Denominator != plans_[m - 1].Denominator;
        const bool keyChange = m == 0 || measure.KeyChange;
        uint8_t flags = 0;
        if (timeChange) flags |= MEASURE_NUMERATOR | MEASURE_DENOMINATOR;
        if (keyChange) flags |= MEASURE_KEY;
        out_.U8(flags);
        if (timeChange) {
            out_.U8(static_cast<uint8_t>(plan.Numerator));
            out_.U8(static_cast<uint8_t>(plan.Denominator));
        }
        if (keyChange) {
            out_.S8(std::clamp(measure.Fifths, -7, 7));
            out_.U8(measure.Minor ? 1 : 0);
        }
        if (timeChange) {
            // Beaming: eighths grouped by the beat (by three in compound time).
            const bool compound =
                plan.Denominator == 8 && plan.Numerator % 3 == 0 && plan.Numerator > 3;
            const uint32_t group = compound ? 3 : std::max<uint32_t>(1, 8 / plan.Denominator);
            const uint32_t groups = compound ? plan.Numerator / 3 : plan.Numerator;
            for (uint32_t i = 0; i < BEAM_GROUPS; ++i)
                out_.U8(static_cast<uint8_t>(i < groups ? std::min<uint32_t>(group, 255) : 0));
        }
        out_.U8(0); // no alternate ending
        out_.U8(0); // no triplet feel
    }

    void WriteTrack(size_t p) {
        const ScorePart& part = score_.Parts[p];
        int frets = DEFAULT_FRETS;
        for (const ScoreBar& bar : part.Bars)
            for (const ScoreNote& note : bar.Notes)
                if (note.String != NO_STRING) frets = std::max<int>(frets, note.Fret);
        if (p == 0) out_.U8(0);
        out_.U8(TRACK_VISIBLE);
        out_.ByteStringField(ShownName(part.Name), TRACK_NAME_FIELD);
        out_.S32(SCORE_STRINGS);
        for (int s = 0; s < STRING_SLOTS; ++s)
            out_.S32(s < SCORE_STRINGS ? part.Tuning[static_cast<size_t>(s)] : 0);
        const int slot = ChannelSlot(p);
        out_.S32(slot / CHANNELS_PER_PORT + 1); // port
        out_.S32(slot % CHANNELS_PER_PORT + 1); // channel
        out_.S32(slot % CHANNELS_PER_PORT + 1); // effect channel
        out_.S32(frets);
        frets_.push_back(frets);
        out_.S32(0); // capo
        for (uint8_t c : TRACK_COLOUR)
            out_.U8(c);
        out_.S16(STAFF_TABLATURE | STAFF_NOTATION);
        out_.U8(0); // auto accentuation
        out_.U8(0); // bank
        out_.U8(0); // humanise
        out_.Zeros(TRACK_RESERVED_BYTES);
        out_.S32(-1); // RSE instrument, variation, sound bank, effect
        out_.S32(0);
        out_.S32(0);
        out_.S32(-1);
        out_.Zeros(4); // equaliser and gain
        out_.IntByteString("");
        out_.IntByteString("");
    }

    // The beats of one voice of one bar into `pieces_`; an upper voice without beats is one
    // that fills the measure with rests, a lower one stays empty.
    bool PlanVoice(const ScoreBar& bar, const std::vector<ScoreBeat>& beats,
                   const ScoreMeasure& measure, bool upper, std::vector<Piece>& pieces,
                   std::string& error) {
        pieces.clear();
        pieces_ = &pieces;
        for (const ScoreBeat& beat : beats) {
            if (beat.WholeMeasureRest) {
                Fill(beat.Start, beat.Duration);
                continue;
            }
            if (!IsPowerOfTwo(static_cast<uint32_t>(beat.Value)) ||
                static_cast<uint32_t>(beat.Value) > 64)
                return Fail(error, "a note value the format cannot hold");
            const int tuplet = TupletCode(beat.Tuplet);
            if (tuplet == 0)
                return Fail(error, "a " + std::to_string(beat.Tuplet.Actual) + ":" +
                                       std::to_string(beat.Tuplet.Normal) +
                                       " tuplet, which the format cannot hold");
            uint32_t denominator = static_cast<uint32_t>(beat.Value);
            int dots = beat.Dots;
            uint32_t start = beat.Start;
            bool continued = false;
            while (true) {
                if (denominator > 64) return Fail(error, "a note value shorter than a 64th");
                Piece piece;
                piece.Beat = &beat;
                piece.Bar = &bar;
                piece.Start = start;
                piece.Denominator = denominator;
                piece.Dotted = dots > 0;
                piece.Tuplet = tuplet;
                piece.Continued = continued;
                const uint64_t base = uint64_t{4} * QuarterDivisions() *
                                      (tuplet > 1 ? PowerBelow(tuplet) : 1) /
                                      (uint64_t{denominator} * (tuplet > 1 ? tuplet : 1));
                piece.Duration = static_cast<uint32_t>(piece.Dotted ? base * 3 / 2 : base);
                pieces_->push_back(piece);
                if (dots <= 1) break;
                start += piece.Duration;
                denominator *= 4;
                dots -= 2;
                continued = true;
            }
            // The pieces of a beat together last the beat's duration, whatever rounding said.
            Piece& last = pieces_->back();
            if (beat.Start + beat.Duration >= last.Start)
                last.Duration = beat.Start + beat.Duration - last.Start;
        }
        if (pieces.empty() && upper) Fill(0, measure.Length);
        return true;
    }

    static int PowerBelow(int actual) {
        int normal = 1;
        while (normal * 2 < actual)
            normal *= 2;
        return normal;
    }

    // The fewest rests from `rests_` (longest first) that fill `length` from `start`.
    void Fill(uint32_t start, uint32_t length) {
        while (length > 0) {
            const RestValue* chosen = nullptr;
            for (const RestValue& value : rests_) {
                if (value.Duration <= length) {
                    chosen = &value;
                    break;
                }
            }
            if (chosen == nullptr) break;
            Piece piece;
            piece.Start = start;
            piece.Duration = chosen->Duration;
            piece.Denominator = chosen->Denominator;
            piece.Dotted = chosen->Dotted;
            piece.Tuplet = chosen->Tuplet;
            pieces_->push_back(piece);
            start += chosen->Duration;
            length -= chosen->Duration;
        }
    }

    // The tempo changes of a measure all go into one voice, so that a reader keeping one
    // tempo per bar (the last it reads) keeps the last: the first voice, in track order, with
    // a beat starting at every change; else a track's lower voice unused in this measure,
    // given empty beats that start at every change; else the voice with a beat starting at
    // the most changes, each change on its beat that holds it. A change to the tempo already
    // sounding is left out.
    void PlaceTempos(const ScoreMeasure& measure) {
        const bool first = &measure == &score_.Measures.front();
        std::vector<uint32_t> positions;
        for (const ScoreTempo& tempo : measure.Tempos)
            if (!(first && tempo.Position == 0)) positions.push_back(tempo.Position);
        if (positions.empty() || voices_[0].empty()) return;
        auto Starts = [&](const std::vector<Piece>& voice) {
            size_t count = 0;
            for (uint32_t position : positions)
                count += std::any_of(voice.begin(), voice.end(),
                                     [&](const Piece& piece) { return piece.Start == position; });
            return count;
        };
        std::vector<Piece>* carrier = nullptr;
        for (std::vector<Piece>& voice : voices_) {
            if (!voice.empty() && Starts(voice) == positions.size()) {
                carrier = &voice;
                break;
            }
        }
        for (size_t p = 0; carrier == nullptr && p < score_.Parts.size(); ++p) {
            std::vector<Piece>& lower = voices_[p * 2 + 1];
            if (!lower.empty()) continue;
            pieces_ = &lower;
            uint32_t at = 0;
            for (uint32_t position : positions) {
                position = std::min(position, measure.Length);
                if (position > at) Fill(at, position - at);
                at = std::max(at, position);
            }
            Fill(at, measure.Length - at);
            for (Piece& piece : lower)
                piece.Empty = true;
            if (!lower.empty() && Starts(lower) == positions.size()) {
                carrier = &lower;
            } else {
                lower.clear();
            }
            break;
        }
        if (carrier == nullptr) {
            carrier = &voices_[0];
            for (std::vector<Piece>& voice : voices_)
                if (!voice.empty() && Starts(voice) > Starts(*carrier)) carrier = &voice;
        }
        for (const ScoreTempo& tempo : measure.Tempos) {
            if (first && tempo.Position == 0) continue; // the song's tempo, in the header
            Piece* target = &carrier->front();
            for (Piece& piece : *carrier)
                if (piece.Start <= tempo.Position) target = &piece;
            target->Tempo = Bpm(tempo.MicrosecondsPerQuarter);
        }
        for (Piece& piece : *carrier) {
            if (piece.Tempo < 0) continue;
            if (piece.Tempo == currentBpm_) {
                piece.Tempo = -1;
            } else {
                currentBpm_ = piece.Tempo;
            }
        }
    }

    void WriteBar(size_t p) {
        for (size_t v = 0; v < 2; ++v) {
            const std::vector<Piece>& pieces = voices_[p * 2 + v];
            if (pieces.empty()) {
                // An unused voice: one empty beat, as readers expect every voice to have one.
                out_.S32(1);
                out_.U8(BEAT_STATUS);
                out_.U8(STATUS_EMPTY);
                out_.S8(ValueCode(4));
                out_.U8(0);
                out_.S16(0);
                continue;
            }
            out_.S32(static_cast<int64_t>(pieces.size()));
            auto& lastFrets = lastFrets_[p * 2 + v];
            for (const Piece& piece : pieces)
                WriteBeat(piece, p, lastFrets);
        }
        out_.U8(0); // no line break
    }

    // A beat's notes by string. A note on a string another note of the beat already holds
    // goes to the free string nearest its own that can sound its pitch within the track's
    // frets; with none, it is left out.
    void WriteBeat(const Piece& piece, size_t part, std::array<int, STRING_SLOTS + 1>& lastFrets) {
        std::array<const ScoreNote*, STRING_SLOTS + 1> onString{};
        std::array<ScoreNote, STRING_SLOTS + 1> moved{};
        bool any = false;
        if (piece.Beat != nullptr && !piece.Beat->Rest) {
            const std::span<const ScoreNote> notes = piece.Bar->NotesOf(*piece.Beat);
            for (const ScoreNote& note : notes) {
                if (note.String == NO_STRING || note.String > SCORE_STRINGS) continue;
                if (onString[note.String] != nullptr) continue;
                onString[note.String] = &note;
                any = true;
            }
            for (const ScoreNote& note : notes) {
                if (note.String == NO_STRING || note.String > SCORE_STRINGS ||
                    onString[note.String] == &note)
                    continue;
                int best = 0;
                for (int s = 1; s <= SCORE_STRINGS; ++s) {
                    const int fret =
                        note.Pitch - score_.Parts[part].Tuning[static_cast<size_t>(s - 1)];
                    if (onString[static_cast<size_t>(s)] != nullptr || fret < 0 ||
                        fret > frets_[part])
                        continue;
                    if (best == 0 || std::abs(s - note.String) < std::abs(best - note.String))
                        best = s;
                }
                if (best == 0) continue;
                moved[static_cast<size_t>(best)] = note;
                moved[static_cast<size_t>(best)].String = static_cast<uint8_t>(best);
                moved[static_cast<size_t>(best)].Fret = static_cast<uint8_t>(
                    note.Pitch - score_.Parts[part].Tuning[static_cast<size_t>(best - 1)]);
                onString[static_cast<size_t>(best)] = &moved[static_cast<size_t>(best)];
            }
        }
        const bool chord = any && !piece.Continued && !ScoreChordName(piece.Beat->ChordIndex).empty();
        uint8_t flags = 0;
        if (piece.Dotted) flags |= BEAT_DOTTED;
        if (chord) flags |= BEAT_CHORD;
        if (piece.Tempo >= 0) flags |= BEAT_MIX_TABLE;
        if (piece.Tuplet > 1) flags |= BEAT_TUPLET;
        if (!any) flags |= BEAT_STATUS;
        out_.U8(flags);
        if (!any) out_.U8(piece.Empty ? STATUS_EMPTY : STATUS_REST);
        out_.S8(ValueCode(piece.Denominator));
        if (piece.Tuplet > 1) out_.S32(piece.Tuplet);
        if (chord) WriteChord(*piece.Beat, onString);
        if (piece.Tempo >= 0) WriteTempoChange(piece.Tempo);
        uint8_t strings = 0;
        for (int s = 1; s <= SCORE_STRINGS; ++s)
            if (onString[static_cast<size_t>(s)] != nullptr)
                strings |= static_cast<uint8_t>(1 << (7 - s));
        out_.U8(strings);
        for (int s = 1; s <= SCORE_STRINGS; ++s) {
            const ScoreNote* note = onString[static_cast<size_t>(s)];
            if (note == nullptr) continue;
            const bool tied = (note->TieStop || piece.Continued) &&
                              lastFrets[static_cast<size_t>(s)] == note->Fret;
            out_.U8(NOTE_FRET);
            out_.U8(tied ? NOTE_TIED : NOTE_NORMAL);
            out_.S8(std::min<int>(note->Fret, 127));
            out_.U8(0); // no further note flags
        }
        out_.S16(0); // no beam or ottava flags
        for (int s = 0; s <= STRING_SLOTS; ++s) {
            const ScoreNote* note = onString[static_cast<size_t>(s)];
            lastFrets[static_cast<size_t>(s)] = note != nullptr ? note->Fret : -1;
        }
    }

    void WriteChord(const ScoreBeat& beat,
                    const std::array<const ScoreNote*, STRING_SLOTS + 1>& onString) {
        const bool known = beat.ChordIndex >= 0 &&
                           beat.ChordIndex < CHORD_ROOTS * static_cast<int>(CHORD_TYPES.size());
        const int root = known ? beat.ChordIndex % CHORD_ROOTS : 0;
        const int type =
            known ? CHORD_TYPES[static_cast<size_t>(beat.ChordIndex / CHORD_ROOTS)] : 0;
        int lowest = 0;
        int highest = 0;
        for (int s = 1; s <= SCORE_STRINGS; ++s) {
            const ScoreNote* note = onString[static_cast<size_t>(s)];
            if (note == nullptr || note->Fret == 0) continue;
            lowest = lowest == 0 ? note->Fret : std::min<int>(lowest, note->Fret);
            highest = std::max<int>(highest, note->Fret);
        }
        out_.U8(1); // the format of GP4 and later
        out_.U8(1); // sharps
        out_.Zeros(3);
        out_.S8(root);
        out_.S8(type);
        out_.S8(0);     // no extension
        out_.S32(root); // bass
        out_.S32(0);    // no altered fifth
        out_.U8(0);     // no added note
        out_.ByteStringField(ScoreChordName(beat.ChordIndex), CHORD_NAME_FIELD);
        out_.Zeros(4); // no altered fifth, ninth, eleventh
        out_.S32(highest <= 5 ? 1 : lowest);
        for (int s = 1; s <= STRING_SLOTS; ++s) {
            const ScoreNote* note = s <= SCORE_STRINGS ? onString[static_cast<size_t>(s)] : nullptr;
            out_.S32(note != nullptr ? note->Fret : -1);
        }
        out_.U8(0);     // no barre
        out_.Zeros(15); // barre frets, starts, ends
        for (int s = 0; s < STRING_SLOTS; ++s)
            out_.U8(1); // every degree kept
        out_.U8(0);
        for (int s = 0; s < STRING_SLOTS; ++s)
            out_.S8(-1); // no fingering
        out_.U8(0);      // fingering hidden
    }

    void WriteTempoChange(int bpm) {
        out_.S8(-1); // instrument unchanged
        for (int i = 0; i < 4; ++i)
            out_.S32(-1); // RSE unchanged
        for (int i = 0; i < 6; ++i)
            out_.S8(-1); // volume .. tremolo unchanged
        out_.IntByteString("");
        out_.S32(bpm);
        out_.S8(0);  // at once
        out_.U8(0);  // shown
        out_.U8(0);  // no "all tracks" flags (tempo is global)
        out_.S8(-1); // no wah
        out_.IntByteString("");
        out_.IntByteString("");
    }

    const Score& score_;
    ByteOut out_;
    std::vector<MeasurePlan> plans_;
    std::vector<RestValue> rests_;
    std::vector<int> frets_;                 // each track's fret count
    std::vector<std::vector<Piece>> voices_; // of one measure: part p's voice v at p * 2 + v
    std::vector<Piece>* pieces_ = nullptr;   // the voice being planned
    std::vector<std::array<int, STRING_SLOTS + 1>> lastFrets_ =
        std::vector<std::array<int, STRING_SLOTS + 1>>(score_.Parts.size() * 2, [] {
            std::array<int, STRING_SLOTS + 1> none;
            none.fill(-1);
            return none;
        }());
    int currentBpm_ = FirstTempo();
};

} // namespace

bool Gp5Writer::Write(const Score& score, const ScoreSink& sink, std::string& error) const {
    Gp5File file(score, sink);
    return file.Write(error);
}

std::string Gp5Writer::Summary(const ScoreSummary& summary) const {
    return std::to_string(summary.NotesWritten -
                          std::min(summary.NotesWritten, summary.NotesWithoutPosition)) +
           " notes written, " + std::to_string(summary.NotesWithoutPosition) +
           " without string and fret left out, largest quantisation shift " +
           std::to_string(summary.LargestShift) + " ticks";
}

const ScoreWriter& Gp5ScoreWriter() {
    static const Gp5Writer writer;
    return writer;
}

} // namespace morvel
