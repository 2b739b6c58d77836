#include "core/Chords.h"

#include "core/Conversion.h"

#include <cctype>
#include <string>

namespace morvel {

const std::array<const char*, CHORD_COUNT> ChordNames = {
    "C",   "C#",   "D",   "D#",   "E",   "F",   "F#",   "G",   "G#",   "A",   "A#",   "B",
    "Cm",  "C#m",  "Dm",  "D#m",  "Em",  "Fm",  "F#m",  "Gm",  "G#m",  "Am",  "A#m",  "Bm",
    "C7",  "C#7",  "D7",  "D#7",  "E7",  "F7",  "F#7",  "G7",  "G#7",  "A7",  "A#7",  "B7",
    "Cm7", "C#m7", "Dm7", "D#m7", "Em7", "Fm7", "F#m7", "Gm7", "G#m7", "Am7", "A#m7", "Bm7",
};

const std::array<const char*, CHORD_COUNT> ChordTemplates = {
    "X   X  X    ", // C
    " X   X  X   ", // C#
    "  X   X  X  ", // D
    "   X   X  X ", // D#
    "    X   X  X", // E
    "X    X   X  ", // F
    " X    X   X ", // F#
    "  X    X   X", // G
    "X  X    X   ", // G#
    " X  X    X  ", // A
    "  X  X    X ", // A#
    "   X  X    X", // B
    "X  X   X    ", // Cm
    " X  X   X   ", // C#m
    "  X  X   X  ", // Dm
    "   X  X   X ", // D#m
    "    X  X   X", // Em
    "X    X  X   ", // Fm
    " X    X  X  ", // F#m
    "  X    X  X ", // Gm
    "   X    X  X", // G#m
    "X   X    X  ", // Am
    " X   X    X ", // A#m
    "  X   X    X", // Bm
    "X   X  X   X", // C7
    "XX   X  X   ", // C#7
    " XX   X  X  ", // D7
    "  XX   X  X ", // D#7
    "   XX   X  X", // E7
    "X   XX   X  ", // F7
    " X   XX   X ", // F#7
    "  X   XX   X", // G7
    "X  X   XX   ", // G#7
    " X  X   XX  ", // A7
    "  X  X   XX ", // A#7
    "   X  X   XX", // B7
    "X  X   X   X", // Cm7
    "XX  X   X   ", // C#m7
    " XX  X   X  ", // Dm7
    "  XX  X   X ", // D#m7
    "   XX  X   X", // Em7
    "X   XX  X   ", // Fm7
    " X   XX  X  ", // F#m7
    "  X   XX  X ", // Gm7
    "   X   XX  X", // G#m7
    "X   X   XX  ", // Am7
    " X   X   XX ", // A#m7
    "  X   X   XX", // Bm7
};

const std::array<std::array<int32_t, STRING_COUNT>, CHORD_COUNT> ChordFingerings = {{
    {0, 1, 0, 2, 3, -1},  // C
    {1, 2, 1, 3, 4, -1},  // C#
    {2, 3, 2, 0, 0, -1},  // D
    {3, 4, 3, 1, 1, -1},  // D#
    {0, 0, 1, 2, 2, 0},   // E
    {1, 1, 2, 3, 3, 1},   // F
    {2, 2, 3, 4, 4, 2},   // F#
    {3, 0, 0, 0, 2, 3},   // G
    {4, 1, 1, 1, -1, -1}, // G#
    {0, 2, 2, 2, 0, -1},  // A
    {1, 3, 3, 0, -1, -1}, // A#
    {2, 4, 4, 4, 2, 2},   // B
    {3, 4, 5, 5, 3, 3},   // Cm
    {0, 2, 1, 2, -1, -1}, // C#m
    {1, 3, 2, 0, 0, -1},  // Dm
    {-1, 4, 3, 4, 1, -1}, // D#m
    {0, 0, 0, 2, 2, 0},   // Em
    {1, 1, 1, 3, 3, 1},   // Fm
    {2, 2, 2, 4, 4, 2},   // F#m
    {3, 3, 3, 5, 5, 3},   // Gm
    {4, 4, 1, 1, 2, -1},  // G#m
    {0, 1, 2, 2, 0, -1},  // Am
    {1, 2, 3, 3, 1, 1},   // A#m
    {2, 3, 4, 0, -1, -1}, // Bm
    {0, 0, 0, 2, 3, -1},  // C7
    {1, 1, 1, 3, 4, -1},  // C#7
    {2, 2, 2, 0, 0, -1},  // D7
    {3, 3, 3, 1, -1, -1}, // D#7
    {0, 0, 1, 1, 2, 0},   // E7
    {0, 1, 2, 3, -1, -1}, // F7
    {1, 2, 3, 4, -1, -1}, // F#7
    {2, 0, 0, 0, 2, 3},   // G7
    {3, 1, 1, 1, -1, -1}, // G#7
    {0, 2, 1, 2, 0, -1},  // A7
    {1, 3, 2, 3, 1, -1},  // A#7
    {2, 4, 3, 4, 2, 2},   // B7
    {3, 1, 3, 1, -1, -1}, // Cm7
    {4, 2, 4, 2, -1, -1}, // C#m7
    {1, 1, 2, 0, -1, -1}, // Dm7
    {2, 2, 3, 1, -1, -1}, // D#m7
    {0, 0, 0, 0, 2, 0},   // Em7
    {-1, 1, 1, 1, -1, 1}, // Fm7
    {-1, 2, 2, 2, -1, 2}, // F#m7
    {3, 3, 3, 3, -1, -1}, // Gm7
    {-1, 4, 4, 5, -1, 4}, // G#m7
    {3, 1, 2, 2, 0, -1},  // Am7
    {1, 2, 1, 3, 1, 1},   // A#m7
    {2, 0, 2, 0, 2, -1},  // Bm7
}};
namespace {

constexpr int PITCH_CLASSES = 12;
constexpr int PATTERN_COUNT = 1 << PITCH_CLASSES;

// Chord index for every set of pitch classes (bit p = pitch class p), -1 where none matches.
// Built once from the templates, so naming a column is one table look-up.
const std::array<int8_t, PATTERN_COUNT>& ChordByPattern() {
    static const std::array<int8_t, PATTERN_COUNT> table = [] {
        std::array<int8_t, PATTERN_COUNT> byPattern;
        byPattern.fill(-1);
        for (int i = CHORD_COUNT - 1; i >= 0; --i) {
            int mask = 0;
            for (int p = 0; p < PITCH_CLASSES; ++p)
                if (ChordTemplates[i][p] == 'X') mask |= 1 << p;
            byPattern[mask] = static_cast<int8_t>(i);
        }
        return byPattern;
    }();
    return table;
}

} // namespace

int ChordIndexOfColumn(const TabColumn& column) {
    int mask = 0;
    for (int s = 0; s < STRING_COUNT; ++s)
        if (column.Fret[s] != NO_FRET)
            mask |= 1 << ((column.Fret[s] + BaseTuning[s]) % PITCH_CLASSES);
    return ChordByPattern()[mask];
}

std::string_view ChordNameOfColumn(const TabColumn& column) {
    const int chord = ChordIndexOfColumn(column);
    return chord < 0 ? std::string_view("   ") : std::string_view(ChordNames[chord]);
}

bool NamesMatch(const char* a, const char* b) {
    while (*a != '\0' || *b != '\0') {
        if (*a == ' ') {
            ++a;
        } else if (*b == ' ') {
            ++b;
        } else {
            if (*a == '\0' || *b == '\0') return false;
            if (std::toupper(static_cast<unsigned char>(*a)) !=
                std::toupper(static_cast<unsigned char>(*b)))
                return false;
            ++a;
            ++b;
        }
    }
    return true;
}

void FlatToSharp(std::string& text) {
    const size_t minus = text.find('-');
    if (minus == std::string::npos) return;
    for (size_t i = minus + 1; i-- > 0;) {
        const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
        if (letter < 'a' || letter > 'g') continue;
        // The letter below the flattened one, written as a sharp; C flat and F flat are B and E.
        switch (letter) {
        case 'a':
            text[i] = 'g';
            text[minus] = '#';
            break;
        case 'b':
            text[i] = 'a';
            text[minus] = '#';
            break;
        case 'c':
            text[i] = 'b';
            text[minus] = ' ';
            break;
        case 'd':
            text[i] = 'c';
            text[minus] = '#';
            break;
        case 'e':
            text[i] = 'd';
            text[minus] = '#';
            break;
        case 'f':
            text[i] = 'e';
            text[minus] = ' ';
            break;
        case 'g':
            text[i] = 'f';
            text[minus] = '#';
            break;
        }
        return;
    }
}

int FindChordByName(std::string& text) {
    TrimTrailingBlanks(text);
    FlatToSharp(text);
    for (int i = 0; i < CHORD_COUNT; ++i)
        if (NamesMatch(text.c_str(), ChordNames[i])) return i;
    return -1;
}

} // namespace morvel
