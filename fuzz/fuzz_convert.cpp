// Fuzz target: one whole conversion of arbitrary bytes. The first SETTINGS_BYTES bytes set every
// conversion setting across its whole stored width, so every path of the placement and the
// writer is reached with any value a settings file could hold; the rest is the MIDI file. A
// short input reads as zeros past its end. The report and the messages are dropped.
//
//   byte 0       switches: bit 0 ShowChord, 1 ShowSpecial, 2 ForceFitFret, 3 BassMode,
//                4 OptimiseFingering;
//                bits 5-6 the writer on top of the conversion: 1 MusicXML (the timeline
//                reader and the score run first), 2 Guitar Pro 5, 3 standard tab (lines of
//                40 plus byte 17 columns), 0 the text alone; bit 7 LenientReading
//   bytes 1-4    MaxFret, 32-bit signed, little-endian
//   bytes 5-16   CustomDelta[0..5], 16-bit signed each, little-endian
//   byte 17      Transpose, 8-bit signed

#include "core/Conversion.h"
#include "formats/Gp5Writer.h"
#include "formats/MusicXml.h"
#include "formats/ScoreFile.h"
#include "formats/StandardTab.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

constexpr size_t SETTINGS_BYTES = 18;
constexpr size_t MAX_FRET_AT = 1;
constexpr size_t DELTAS_AT = 5;
constexpr size_t TRANSPOSE_AT = 17;

uint32_t Little(const uint8_t* bytes, int count) {
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value << 8 | bytes[i];
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace morvel;
    // One object for the whole run, as in the program: every conversion must reset it.
    static Conversion conversion;
    static bool prepared = false;
    if (!prepared) {
        conversion.SetReporter([](const std::string&) {});
        conversion.SetReportSink([](std::string_view) {});
        // Small bounds keep each run short while still reaching the paths that cut a report.
        conversion.MaxTrackColumns = 20'000;
        conversion.MaxConversionColumns = 50'000;
        prepared = true;
    }
    std::array<uint8_t, SETTINGS_BYTES> settings{};
    std::copy_n(data, std::min(size, SETTINGS_BYTES), settings.begin());

    const uint8_t switches = settings[0];
    conversion.Settings.ShowChord = switches & 1;
    conversion.Settings.ShowSpecial = (switches >> 1) & 1;
    conversion.Settings.ForceFitFret = (switches >> 2) & 1;
    conversion.Settings.BassMode = (switches >> 3) & 1;
    conversion.Settings.OptimiseFingering = (switches >> 4) & 1;
    conversion.Settings.LenientReading = (switches >> 7) & 1;
    conversion.Settings.MaxFret = static_cast<int32_t>(Little(&settings[MAX_FRET_AT], 4));
    for (int k = 0; k < STRING_COUNT; ++k)
        conversion.TuningSettings.CustomDelta[k] =
            static_cast<int16_t>(Little(&settings[DELTAS_AT + 2 * k], 2));
    conversion.TuningSettings.Transpose = static_cast<int8_t>(settings[TRANSPOSE_AT]);

    std::string_view bytes;
    if (size > SETTINGS_BYTES)
        bytes = std::string_view(reinterpret_cast<const char*>(data) + SETTINGS_BYTES,
                                 size - SETTINGS_BYTES);
    const int writer = (switches >> 5) & 3;
    if (writer == 3) {
        ScoreSummary summary;
        WriteScore(conversion, bytes, "fuzz.mid", ScoreOptions{},
                   StandardTabWriter(STANDARD_TAB_MIN_WIDTH + settings[TRANSPOSE_AT],
                                     conversion.Settings.MaxFret),
                   [](std::string_view) {}, summary);
        conversion.SetReportSink([](std::string_view) {});
    } else if (writer == 2) {
        ScoreSummary summary;
        WriteScore(conversion, bytes, "fuzz.mid", ScoreOptions{}, Gp5ScoreWriter(),
                   [](std::string_view) {}, summary);
        conversion.SetReportSink([](std::string_view) {});
    } else if (writer == 1) {
        MusicXmlSummary summary;
        WriteMusicXml(conversion, bytes, "fuzz.mid", MusicXmlOptions{}, [](std::string_view) {},
                      summary);
        conversion.SetReportSink([](std::string_view) {});
    } else {
        conversion.ConvertMidiBytes(bytes, "fuzz.mid");
    }
    return 0;
}
