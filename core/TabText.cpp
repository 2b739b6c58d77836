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

std::string_view Conversion::NameColumnChord(const TabColumn& column) {
    const int chord = ChordIndexOfColumn(column);
    if (chord < 0) return "   ";
    ChordUsed[chord] = 1;
    return ChordNames[chord];
}

std::string Conversion::ColumnChordName(const TabColumn& column) {
    return std::string(NameColumnChord(column));
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
    // The six string rows are built side by side, one column at a time, then appended whole.
    char rows[STRING_COUNT][COLUMNS_PER_LINE * CELL_WIDTH];
    auto setCell = [&rows](int r, int c, const char* text) {
        char* cell = rows[r] + c * CELL_WIDTH;
        cell[0] = text[0];
        cell[1] = text[1];
        cell[2] = text[2];
    };
    for (int c = 0; c < count; ++c) {
        const TabColumn& column = st.TabLine[c];
        switch (column.Label) {
        case LABEL_NOTES:
            for (int r = 0; r < STRING_COUNT; ++r) {
                const uint8_t fret = column.Fret[r];
                char* cell = rows[r] + c * CELL_WIDTH;
                if (fret == NO_FRET) {
                    setCell(r, c, "---");
                } else if (fret < 10) {
                    cell[0] = '-';
                    cell[1] = static_cast<char>('0' + fret);
                    cell[2] = '-';
                } else {
                    // Frets from 10 on fill the cell: "-12".
                    cell[0] = '-';
                    cell[1] = static_cast<char>('0' + (fret / 10) % 10);
                    cell[2] = static_cast<char>('0' + fret % 10);
                }
            }
            break;
        case LABEL_TOO_LOW:
        case LABEL_TOO_HIGH: {
            // Only the "?" shows, on the bottom line for too low, the top line for too high.
            const int mark = column.Label == LABEL_TOO_LOW ? STRING_COUNT - 1 : 0;
            for (int r = 0; r < STRING_COUNT; ++r)
                setCell(r, c, r == mark ? "-?-" : "---");
            break;
        }
        case LABEL_BAR: {
            const char* text = c == COLUMNS_PER_LINE - 1     ? "|  "
                               : c == 0 && st.LineBrokeInBar ? "  |"
                                                             : "| |";
            for (int r = 0; r < STRING_COUNT; ++r)
                setCell(r, c, text);
            break;
        }
        case LABEL_TRACK_START:
            for (int r = 0; r < STRING_COUNT; ++r)
                setCell(r, c, TRACK_START_CELLS[r]);
            break;
        case LABEL_TRACK_END:
            for (int r = 0; r < STRING_COUNT; ++r)
                setCell(r, c, TRACK_END_CELLS[r]);
            break;
        default:
            // The first row is written up to the unknown column; nothing more of this line.
            st.Put(std::string_view(rows[0], static_cast<size_t>(c) * CELL_WIDTH));
            ReportError(FormatText("Unknown internal info label %d.", column.Label));
            return;
        }
    }
    const size_t width = static_cast<size_t>(count) * CELL_WIDTH;
    for (int r = 0; r < STRING_COUNT; ++r) {
        st.Put(std::string_view(rows[r], width));
        st.Put(LINE_END);
    }
    char* row = rows[0]; // reused for the letter and chord rows

    if (Settings.ShowSpecial) {
        for (int c = 0; c < count; ++c) {
            row[c * CELL_WIDTH] = ' ';
            row[c * CELL_WIDTH + 1] = st.TabLine[c].Special;
            row[c * CELL_WIDTH + 2] = ' ';
        }
        st.Put(std::string_view(row, static_cast<size_t>(count) * CELL_WIDTH));
        st.Put(LINE_END);
    }

    if (Settings.ShowChord) {
        std::string_view names[COLUMNS_PER_LINE];
        size_t longest = 0;
        for (int c = 0; c < count; ++c) {
            names[c] = NameColumnChord(st.TabLine[c]);
            longest = std::max(longest, names[c].size());
        }
        // Names are cut in slices of three characters, one slice per row, right-aligned.
        for (size_t k = 0; k == 0 || k * CELL_WIDTH < longest; ++k) {
            for (int c = 0; c < count; ++c) {
                char* cell = row + c * CELL_WIDTH;
                cell[0] = cell[1] = cell[2] = ' ';
                const std::string_view name = names[c];
                if (name.size() <= k * CELL_WIDTH) continue;
                const size_t length = std::min<size_t>(CELL_WIDTH, name.size() - k * CELL_WIDTH);
                name.copy(cell + CELL_WIDTH - length, length, k * CELL_WIDTH);
            }
            st.Put(std::string_view(row, static_cast<size_t>(count) * CELL_WIDTH));
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
