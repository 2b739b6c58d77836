// Values that steer the windows rather than the conversion. Colours are 0x00BBGGRR integers,
// the form the INI file and option dialogs exchange; the view turns them into colours only
// when drawing.
#pragma once

#include <cstdint>
#include <string>

namespace morvel {

struct DisplaySettings {
    uint32_t NotesColor = 0x800080;      // fret numbers, captions, letters, chord names
    uint32_t BarColor = 0x000000;        // staff lines, bar lines, marks
    uint32_t BackgroundColor = 0x00FFFF; // panel fill
    uint32_t HighlightColor = 0x0000FF;  // fill of the measure being played; fixed
    int16_t MeasuresPerPage = 3;         // measure panels per scroll-box height
    std::string MidiFileDir;             // directory of the last opened MIDI file
    std::string TuningName = "Standard"; // label of the chosen tuning
};

} // namespace morvel
