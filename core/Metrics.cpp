#include "core/Metrics.h"

#include "core/Fingering.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace morvel {

namespace {

constexpr int OCTAVE = 12;
constexpr int HIGHEST_TRANSPOSE = 25;   // the options allow -25..25
constexpr int HINT_SHARE_PERCENT = 20;  // of the notes below the lowest string
constexpr int HINT_PLACED_PERCENT = 90; // of those, placed an octave up

} // namespace

double PlayabilityFigures::MeanShift() const {
    return Shifts ? static_cast<double>(ShiftFrets) / static_cast<double>(Shifts) : 0.0;
}

double PlayabilityFigures::HighFretShare() const {
    return FretsShown ? 100.0 * static_cast<double>(HighFrets) / static_cast<double>(FretsShown)
                      : 0.0;
}

PlayabilityFigures& PlayabilityFigures::operator+=(const PlayabilityFigures& other) {
    Notes += other.Notes;
    FretsShown += other.FretsShown;
    UnknownColumns += other.UnknownColumns;
    ChordColumns += other.ChordColumns;
    WideChords += other.WideChords;
    Shifts += other.Shifts;
    ShiftFrets += other.ShiftFrets;
    LongShifts += other.LongShifts;
    HighFrets += other.HighFrets;
    return *this;
}

void PlayabilityCounter::AddColumn(const TabColumn& column) {
    if (column.Label == LABEL_TOO_LOW || column.Label == LABEL_TOO_HIGH) {
        ++figures_.UnknownColumns;
        return;
    }
    if (column.Label != LABEL_NOTES) return;
    int frets = 0;
    int low = NO_FRET;
    int high = 0;
    for (uint8_t fret : column.Fret) {
        if (fret == NO_FRET) continue;
        ++frets;
        if (fret > HIGH_FRET) ++figures_.HighFrets;
        if (fret == 0) continue;
        low = std::min<int>(low, fret);
        high = std::max<int>(high, fret);
    }
    figures_.FretsShown += static_cast<uint64_t>(frets);
    if (frets >= 2) {
        ++figures_.ChordColumns;
        if (high > 0 && high - low > PLAYABLE_SPAN) ++figures_.WideChords;
    }
    if (high == 0) return; // open strings only: the hand stays where it was
    if (lastHand_ >= 0) {
        const int shift = std::abs(low - lastHand_);
        ++figures_.Shifts;
        figures_.ShiftFrets += static_cast<uint64_t>(shift);
        if (shift > PLAYABLE_SPAN) ++figures_.LongShifts;
    }
    lastHand_ = low;
}

namespace {

// Runs `convert` with a column observer that counts each track's written columns.
template <typename Convert>
std::vector<TrackPlayability> Measure(Conversion& conversion, Convert convert) {
    std::vector<PlayabilityCounter> counters;
    conversion.SetReportSink([](std::string_view) {});
    conversion.SetColumnObserver([&](uint32_t trackIndex, const TabColumn& column) {
        if (trackIndex >= counters.size()) counters.resize(trackIndex + 1);
        counters[trackIndex].AddColumn(column);
    });
    convert();
    conversion.SetColumnObserver(nullptr);
    conversion.SetReportSink(nullptr);

    std::vector<TrackPlayability> tracks;
    for (size_t t = 0; t < conversion.TrackList.size(); ++t) {
        const TrackRecord& track = conversion.TrackList[t];
        if (track.Notes.empty()) continue;
        TrackPlayability result;
        result.TrackNumber = static_cast<int>(t + 1);
        if (t < counters.size()) result.Figures = counters[t].Figures();
        result.Figures.Notes = track.Notes.size();
        result.RangeHint = RangeHint(track, conversion.StringPitch, conversion.Settings,
                                     conversion.TuningSettings.Transpose);
        tracks.push_back(std::move(result));
    }
    return tracks;
}

} // namespace

std::vector<TrackPlayability> MeasurePlayability(Conversion& conversion) {
    return Measure(conversion, [&] { conversion.ConvertMidiFile(); });
}

std::vector<TrackPlayability> MeasurePlayability(Conversion& conversion, std::string_view bytes,
                                                 const std::string& name) {
    return Measure(conversion, [&] { conversion.ConvertMidiBytes(bytes, name); });
}

std::string FormatPlayability(const std::string& label, const PlayabilityFigures& f) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "%s: %llu notes, %llu shown as frets, %llu \"?\" columns, %llu chord columns, "
                  "%llu spanning more than %d frets, mean hand shift %.2f frets over %llu shifts, "
                  "%llu shifts of more than %d frets, %.1f %% of frets above %d",
                  label.c_str(), static_cast<unsigned long long>(f.Notes),
                  static_cast<unsigned long long>(f.FretsShown),
                  static_cast<unsigned long long>(f.UnknownColumns),
                  static_cast<unsigned long long>(f.ChordColumns),
                  static_cast<unsigned long long>(f.WideChords), PLAYABLE_SPAN, f.MeanShift(),
                  static_cast<unsigned long long>(f.Shifts),
                  static_cast<unsigned long long>(f.LongShifts), PLAYABLE_SPAN, f.HighFretShare(),
                  HIGH_FRET);
    return text;
}

std::string RangeHint(const TrackRecord& track,
                      const std::array<int16_t, STRING_COUNT>& stringPitch,
                      const ConversionSettings& settings, int transpose) {
    if (settings.ForceFitFret || track.Notes.empty()) return {};
    const int suggested = transpose + OCTAVE;
    if (suggested > HIGHEST_TRANSPOSE) return {};
    std::array<int16_t, STRING_COUNT> octaveUp = stringPitch;
    for (int16_t& open : octaveUp)
        open = static_cast<int16_t>(open - OCTAVE);

    uint64_t below = 0;
    uint64_t placedUp = 0;
    for (const NoteRecord& note : track.Notes) {
        if (FoldNote(note.Note, stringPitch, settings).Range != NOTE_TOO_LOW) continue;
        ++below;
        const FoldedNote up = FoldNote(note.Note, octaveUp, settings);
        if (up.Range == NOTE_PLACEABLE && HasPosition(up.Pitch, octaveUp)) ++placedUp;
    }
    const uint64_t notes = track.Notes.size();
    if (below == 0 || below * 100 < notes * HINT_SHARE_PERCENT ||
        placedUp * 100 < below * HINT_PLACED_PERCENT)
        return {};
    char text[96];
    std::snprintf(text, sizeof text, "(%llu %% below the low string: try Transpose %d)",
                  static_cast<unsigned long long>(below * 100 / notes), suggested);
    return text;
}

} // namespace morvel
