// Fuzz target: one whole conversion of arbitrary bytes. The first byte picks the settings
// (chords, special parameters, force fit, bass mode, transposition, and with an odd
// transposition the optimised fingering) so every path of the writer is reached; the rest is
// the MIDI file. The report and the messages are dropped.

#include "core/Conversion.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

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
    uint8_t flags = size > 0 ? data[0] : 0;
    conversion.Settings.ShowChord = flags & 1;
    conversion.Settings.ShowSpecial = (flags >> 1) & 1;
    conversion.Settings.ForceFitFret = (flags >> 2) & 1;
    conversion.Settings.BassMode = (flags >> 3) & 1;
    // Bits 4..7: transposition -8..+7 semitones.
    conversion.TuningSettings.Transpose = static_cast<int8_t>((flags >> 4) - 8);
    conversion.Settings.OptimiseFingering = (flags >> 4) & 1;

    std::string_view bytes;
    if (size > 1) bytes = std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1);
    conversion.ConvertMidiBytes(bytes, "fuzz.mid");
    return 0;
}
