// Tablature text: track headings, lines of six string rows with three-character cells, the
// special-letter and chord-name rows under them, and the "Chords:" diagram section.
#include "core/Chords.h"
#include "core/Conversion.h"
#include "core/ConversionState.h"

#include <algorithm>

namespace morvel {

namespace {

const char* const TRACK_START_CELLS[STRING_COUNT] = {"|--", "|M-", "|O-", "|R-", "|V-", "|--"};
const char* const TRACK_END_CELLS[STRING_COUNT] = {"--|", "-M|", "-O|", "-R|", "-V|", "--|"};
constexpr int CELL_WIDTH = 3;
constexpr int DIAGRAM_FRETS = 6;

} // namespace

std::string Conversion::ColumnChordName(const TabColumn& column) {
    const int chord = ChordIndexOfColumn(column);
    if (chord < 0) return "   ";
    ChordUsed[chord] = 1;
    return ChordNames[chord];
}

void Conversion::ClearUsedChords() {
    ChordUsed.fill(0);
}

void Conversion::WriteTrackHeading(int trackNumber, const TrackRecord& track) {
    State& st = *state_;
    st.PutLine(FormatText("Track %d:", trackNumber));
    auto optional = [&](const char* caption, const std::string& text) {
        if (text.empty()) return;
        st.Put(caption);
        st.Put(text);
        st.PutLine(".");
    };
    optional("Name: ", track.TrackName);
    optional("Copyright Notice: ", track.CopyrightNotice);
    optional("Text: ", track.Text);
    optional("Instrument: ", track.InstrumentName);
    st.PutLine(
        FormatText("Time Signature: %d/%d.", track.TimeSigNumerator, track.TimeSigDenominator));
    st.PutLine("");
}

void Conversion::WriteTabLine() {
    State& st = *state_;
    const int count = st.ColumnCount;
    for (int r = 0; r < STRING_COUNT; ++r) {
        for (int c = 0; c < count; ++c) {
            const TabColumn& column = st.TabLine[c];
            switch (column.Label) {
            case LABEL_NOTES: {
                const uint8_t fret = column.Fret[r];
                if (fret == NO_FRET) {
                    st.Put("---");
                } else if (fret < 10) {
                    const char cell[CELL_WIDTH] = {'-', char('0' + fret), '-'};
                    st.Put(std::string_view(cell, CELL_WIDTH));
                } else {
                    st.Put(FormatText("-%2d", fret));
                }
                break;
            }
            case LABEL_TOO_LOW:
                st.Put(r == STRING_COUNT - 1 ? "-?-" : "---");
                break;
            case LABEL_TOO_HIGH:
                st.Put(r == 0 ? "-?-" : "---");
                break;
            case LABEL_BAR:
                if (c == COLUMNS_PER_LINE - 1)
                    st.Put("|  ");
                else if (c == 0 && st.LineBrokeInBar)
                    st.Put("  |");
                else
                    st.Put("| |");
                break;
            case LABEL_TRACK_START:
                st.Put(TRACK_START_CELLS[r]);
                break;
            case LABEL_TRACK_END:
                st.Put(TRACK_END_CELLS[r]);
                break;
            default:
                ReportError(FormatText("Unknown internal info label %d.", column.Label));
                return;
            }
        }
        st.Put(LINE_END);
    }

    if (Settings.ShowSpecial) {
        for (int c = 0; c < count; ++c) {
            const char cell[CELL_WIDTH] = {' ', st.TabLine[c].Special, ' '};
            st.Put(std::string_view(cell, CELL_WIDTH));
        }
        st.Put(LINE_END);
    }

    if (Settings.ShowChord) {
        std::string names[COLUMNS_PER_LINE];
        size_t longest = 0;
        for (int c = 0; c < count; ++c) {
            names[c] = ColumnChordName(st.TabLine[c]);
            longest = std::max(longest, names[c].size());
        }
        // Names are cut in slices of three characters, one slice per row, right-aligned.
        for (size_t k = 0; k == 0 || k * CELL_WIDTH < longest; ++k) {
            for (int c = 0; c < count; ++c) {
                const std::string& name = names[c];
                if (name.size() < k * CELL_WIDTH + 1) {
                    st.Put("   ");
                    continue;
                }
                std::string_view slice = std::string_view(name).substr(k * CELL_WIDTH, CELL_WIDTH);
                st.Put(std::string(CELL_WIDTH - slice.size(), ' '));
                st.Put(slice);
            }
            st.Put(LINE_END);
        }
    }

    st.Put(LINE_END);
    st.LineBrokeInBar = false;
}

void Conversion::WriteChordDiagrams() {
    State& st = *state_;
    st.PutLine("Chords:");
    st.PutLine("");
    bool any = false;
    for (int i = 0; i < CHORD_COUNT; ++i) {
        if (!ChordUsed[i]) continue;
        any = true;
        st.Put(ChordNames[i]);
        st.PutLine(":");
        for (int s = 0; s < STRING_COUNT; ++s) {
            const int32_t fret = ChordFingerings[i][s];
            st.Put(fret == 0 ? "o|" : fret == -1 ? "x|" : " |");
            for (int f = 1; f <= DIAGRAM_FRETS; ++f)
                st.Put(f == fret ? 'X' : '-');
            st.Put(LINE_END);
        }
        st.PutLine("");
    }
    if (!any) st.PutLine("  None.");
    st.PutLine("");
}

} // namespace morvel
