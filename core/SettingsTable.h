// Every persistent setting in one table: its INI key and default, its field in the option
// record, the range the options dialog and the converter's flags allow, the range a value read
// from a file is kept in, the dialog control that shows it and the converter flag that sets it.
// The INI reader and writer, the option record, the settings store, the options dialog and the
// converter all work from this table, so a new setting is one more row of SETTING_ROWS.
#pragma once

#include "core/DisplaySettings.h"
#include "core/Song.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace morvel {

// One complete set of the persistent settings.
struct StoredSettings {
    ConversionSettings Conv;
    Tuning TuningSettings;
    DisplaySettings Display;
};

// The three records a setting can live in: a StoredSettings, or the program's live records.
struct SettingHomes {
    ConversionSettings* Conv;
    Tuning* TuningSettings;
    DisplaySettings* Display;
};

inline SettingHomes HomesOf(StoredSettings& s) {
    return {&s.Conv, &s.TuningSettings, &s.Display};
}
// For reading through the rows' Get and Text only.
inline SettingHomes HomesOf(const StoredSettings& s) {
    return HomesOf(const_cast<StoredSettings&>(s));
}

enum class SettingKind {
    Number, // an integer: an up-down in the dialog, "--flag N" for the converter
    Switch, // 0 off, anything else on: a check box, "--flag" and "--no-flag"
    Text,
};

enum class IniWriting {
    Always,           // the key is written on every save
    WhenSetOrPresent, // written when the value is not its default (an empty text) or the file
                      // already has the key
};

// Reads and writes one integer home. Set keeps the low bits that fit the home's width, sign
// included, as the files store them.
struct NumberAccess {
    int64_t (*Get)(const SettingHomes&);
    void (*Set)(const SettingHomes&, int64_t);
};

namespace detail {
template <auto Record, auto Field> int64_t GetField(const SettingHomes& homes) {
    return static_cast<int64_t>((homes.*Record)->*Field);
}
template <auto Record, auto Field> void SetField(const SettingHomes& homes, int64_t value) {
    auto& field = (homes.*Record)->*Field;
    field = static_cast<std::remove_reference_t<decltype(field)>>(value);
}
template <auto Record, auto Field> std::string* TextField(const SettingHomes& homes) {
    return &((homes.*Record)->*Field);
}
template <size_t K> int64_t GetDelta(const SettingHomes& homes) {
    return homes.TuningSettings->CustomDelta[K];
}
template <size_t K> void SetDelta(const SettingHomes& homes, int64_t value) {
    homes.TuningSettings->CustomDelta[K] = static_cast<int16_t>(value);
}
} // namespace detail

// The integer field `Field` of the record `Record` (&SettingHomes::Conv, ...).
template <auto Record, auto Field>
constexpr NumberAccess NumberField{&detail::GetField<Record, Field>,
                                   &detail::SetField<Record, Field>};
// CustomDelta[K] of the tuning.
template <size_t K> constexpr NumberAccess DeltaField{&detail::GetDelta<K>, &detail::SetDelta<K>};
// The text field `Field` of the record `Record`.
template <auto Record, auto Field>
constexpr std::string* (*TextHome)(const SettingHomes&) = &detail::TextField<Record, Field>;

constexpr int NO_OPTION_FIELD = -1;
constexpr int64_t ANY_VALUE_MIN = std::numeric_limits<int64_t>::min();
constexpr int64_t ANY_VALUE_MAX = std::numeric_limits<int64_t>::max();

struct SettingRow {
    SettingKind Kind;
    const char* IniKey; // nullptr: not in the INI file
    IniWriting Writing = IniWriting::Always;
    // The value without an INI entry (Number, Switch) ...
    int64_t Default = 0;
    // ... and for a Text.
    const char* TextDefault = "";
    // Byte offset of the field in the option record: a signed 32-bit little-endian integer,
    // or for a Text, TextLimit characters and a NUL. NO_OPTION_FIELD: not in option files.
    int OptionOffset = NO_OPTION_FIELD;
    // What the options dialog's up-down and the converter's flag allow (Number only).
    int Min = 0;
    int Max = 0;
    // A value read from a file, or taken into the settings from anywhere, is brought into
    // this range after it was cut to its home's width (Number only).
    int64_t KeepMin = ANY_VALUE_MIN;
    int64_t KeepMax = ANY_VALUE_MAX;
    // Longest text kept (Text only).
    size_t TextLimit = 0;
    // objectName of the options dialog's up-down or check box; nullptr: not in the dialog.
    const char* Control = nullptr;
    // The converter's flag without its leading "--"; nullptr: no flag.
    const char* Flag = nullptr;
    NumberAccess Number{};
    std::string* (*Text)(const SettingHomes&) = nullptr;
};

namespace detail {
constexpr auto CONV = &SettingHomes::Conv;
constexpr auto TUNING = &SettingHomes::TuningSettings;
constexpr auto DISPLAY = &SettingHomes::Display;

// Offsets of the six string offsets are four bytes apart, sixth string first.
constexpr int CUSTOM_DELTA_OFFSET = 28;
// A string retuned further than this is off the MIDI scale; the bound keeps every open-string
// pitch (standard pitch, offset and transposition) far inside 16 bits.
constexpr int64_t DELTA_KEEP = 127;
// A fret beyond this is on no instrument; the bound keeps the highest playable pitch small.
constexpr int64_t FRET_KEEP = 255;

template <size_t K>
constexpr SettingRow DeltaRow(const char* key, const char* control, const char* flag) {
    return {.Kind = SettingKind::Number,
            .IniKey = key,
            .OptionOffset = CUSTOM_DELTA_OFFSET + 4 * static_cast<int>(K),
            .Min = -12,
            .Max = 12,
            .KeepMin = -DELTA_KEEP,
            .KeepMax = DELTA_KEEP,
            .Control = control,
            .Flag = flag,
            .Number = DeltaField<K>};
}

constexpr SettingRow SwitchRow(const char* key, int offset, const char* control, const char* flag,
                               NumberAccess home, IniWriting writing = IniWriting::Always) {
    return {.Kind = SettingKind::Switch,
            .IniKey = key,
            .Writing = writing,
            .OptionOffset = offset,
            .Control = control,
            .Flag = flag,
            .Number = home};
}

constexpr SettingRow ColourRow(const char* key, int64_t defaultColour, NumberAccess home) {
    return {.Kind = SettingKind::Number, .IniKey = key, .Default = defaultColour, .Number = home};
}

} // namespace detail

// Every setting, in the order the INI file is written. A new setting is one more row here.
inline constexpr std::array SETTING_ROWS = {
    SettingRow{.Kind = SettingKind::Number,
               .IniKey = "PRINTMEASPERWIDTH",
               .Default = 3,
               .OptionOffset = 12,
               .Min = 1,
               .Max = 10,
               .KeepMin = 1, // the print layout divides by it
               .KeepMax = 10,
               .Control = "MeasuresWidthUpDown",
               .Number = NumberField<detail::CONV, &ConversionSettings::PrintMeasPerWidth>},
    SettingRow{.Kind = SettingKind::Number,
               .IniKey = "PRINTMEASPERHEIGHT",
               .Default = 5,
               .OptionOffset = 16,
               .Min = 1,
               .Max = 10,
               .KeepMin = 1,
               .KeepMax = 10,
               .Control = "MeasuresHeightUpDown",
               .Number = NumberField<detail::CONV, &ConversionSettings::PrintMeasPerHeight>},
    SettingRow{.Kind = SettingKind::Number,
               .IniKey = "TRANSPOSE",
               .OptionOffset = 20,
               .Min = -25,
               .Max = 25,
               .Control = "TransposeUpDown",
               .Flag = "transpose",
               .Number = NumberField<detail::TUNING, &Tuning::Transpose>},
    SettingRow{.Kind = SettingKind::Number,
               .IniKey = "MEASPERPAGE",
               .Default = 3,
               .OptionOffset = 24,
               .Min = 1,
               .Max = 6,
               .KeepMin = 1, // the view divides its height by it
               .KeepMax = 6,
               .Control = "MeasuresUpDown",
               .Number = NumberField<detail::DISPLAY, &DisplaySettings::MeasuresPerPage>},
    detail::DeltaRow<0>("CUSTOMDELTA1", "UpDownDelta1", "delta1"),
    detail::DeltaRow<1>("CUSTOMDELTA2", "UpDownDelta2", "delta2"),
    detail::DeltaRow<2>("CUSTOMDELTA3", "UpDownDelta3", "delta3"),
    detail::DeltaRow<3>("CUSTOMDELTA4", "UpDownDelta4", "delta4"),
    detail::DeltaRow<4>("CUSTOMDELTA5", "UpDownDelta5", "delta5"),
    detail::DeltaRow<5>("CUSTOMDELTA6", "UpDownDelta6", "delta6"),
    detail::SwitchRow("SHOWSPECIAL", 52, "SpecialParametersToggle", "show-special",
                      NumberField<detail::CONV, &ConversionSettings::ShowSpecial>),
    detail::SwitchRow("SHOWCHORD", 56, "ChordsToggle", "show-chords",
                      NumberField<detail::CONV, &ConversionSettings::ShowChord>),
    detail::SwitchRow("SHOWMETRONOME", 60, "MetronomeToggle", nullptr,
                      NumberField<detail::CONV, &ConversionSettings::ShowMetronome>),
    detail::SwitchRow("BASSMODE", 272, "BassModeToggle", "bass",
                      NumberField<detail::CONV, &ConversionSettings::BassMode>),
    detail::SwitchRow("FOLLOWMUSIC", 276, "FollowMusicToggle", nullptr,
                      NumberField<detail::CONV, &ConversionSettings::FollowMusic>),
    SettingRow{.Kind = SettingKind::Number,
               .IniKey = "MAXFRET",
               .Default = 21,
               .OptionOffset = 268,
               .Min = 19,
               .Max = 27,
               .KeepMin = -detail::FRET_KEEP,
               .KeepMax = detail::FRET_KEEP,
               .Control = "MaxFretUpDown",
               .Flag = "max-fret",
               .Number = NumberField<detail::CONV, &ConversionSettings::MaxFret>},
    detail::SwitchRow("FORCEFITFRET", 64, "ForceFitToggle", "force-fit",
                      NumberField<detail::CONV, &ConversionSettings::ForceFitFret>),
    SettingRow{.Kind = SettingKind::Text,
               .IniKey = "TUNING",
               .TextDefault = "Standard",
               .OptionOffset = 68,
               .TextLimit = 199,
               .Text = TextHome<detail::DISPLAY, &DisplaySettings::TuningName>},
    SettingRow{.Kind = SettingKind::Text,
               .IniKey = "MIDIFILEDIR",
               .TextLimit = 299,
               .Text = TextHome<detail::DISPLAY, &DisplaySettings::MidiFileDir>},
    detail::ColourRow("NOTESCOLOR", 0x800080,
                      NumberField<detail::DISPLAY, &DisplaySettings::NotesColor>),
    detail::ColourRow("BARCOLOR", 0x000000,
                      NumberField<detail::DISPLAY, &DisplaySettings::BarColor>),
    detail::ColourRow("BACKGROUNDCOLOR", 0x00FFFF,
                      NumberField<detail::DISPLAY, &DisplaySettings::BackgroundColor>),
    // Written only when on or already in the file, so INI files of users who never turn it
    // on stay as they were.
    detail::SwitchRow("OPTIMISEFINGERING", 280, "OptimiseFingeringToggle", "optimise-fingering",
                      NumberField<detail::CONV, &ConversionSettings::OptimiseFingering>,
                      IniWriting::WhenSetOrPresent),
    detail::SwitchRow("STRINGSFROMCHANNELS", 284, "StringsFromChannelsToggle",
                      "strings-from-channels",
                      NumberField<detail::CONV, &ConversionSettings::StringsFromChannels>,
                      IniWriting::WhenSetOrPresent),
    detail::SwitchRow("LENIENTREADING", 288, "LenientReadingToggle", "lenient",
                      NumberField<detail::CONV, &ConversionSettings::LenientReading>,
                      IniWriting::WhenSetOrPresent),
    SettingRow{.Kind = SettingKind::Number,
               .IniKey = "STANDARDTABWIDTH",
               .Writing = IniWriting::WhenSetOrPresent,
               .Default = STANDARD_TAB_WIDTH,
               .Min = STANDARD_TAB_MIN_WIDTH,
               .Max = STANDARD_TAB_MAX_WIDTH,
               .KeepMin = STANDARD_TAB_MIN_WIDTH,
               .KeepMax = STANDARD_TAB_MAX_WIDTH,
               .Flag = "width",
               .Number = NumberField<detail::CONV, &ConversionSettings::StandardTabWidth>},
};

inline std::span<const SettingRow> SettingRows() {
    return SETTING_ROWS;
}

// The position of an INI key (exact spelling) in SETTING_ROWS, or SETTING_ROWS.size().
constexpr size_t SettingIndex(std::string_view iniKey) {
    for (size_t i = 0; i < SETTING_ROWS.size(); ++i)
        if (SETTING_ROWS[i].IniKey && iniKey == SETTING_ROWS[i].IniKey) return i;
    return SETTING_ROWS.size();
}

// The row of an INI key (exact spelling), or nullptr.
inline const SettingRow* FindSetting(std::string_view iniKey) {
    const size_t i = SettingIndex(iniKey);
    return i < SETTING_ROWS.size() ? &SETTING_ROWS[i] : nullptr;
}

// The row of an INI key that is in the table; a key that is not fails to compile.
consteval SettingRow Setting(std::string_view iniKey) {
    const size_t i = SettingIndex(iniKey);
    if (i == SETTING_ROWS.size()) throw "no such setting";
    return SETTING_ROWS[i];
}

// Copies every setting of the table from one set of homes to another; nothing else (the
// tempo and the other run-time values) is touched.
void CopySettings(const SettingHomes& from, const SettingHomes& to);

// Brings every setting into its keep range and cuts every text to its limit.
void KeepInRange(const SettingHomes& homes);

} // namespace morvel
