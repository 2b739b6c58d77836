#include "core/SettingsFiles.h"

#include "core/IniFile.h"
#include "core/OptionFile.h"
#include "core/SafeOpen.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace morvel {

namespace {

// An INI file larger than this is no settings file; reading stops rather than filling memory.
constexpr size_t INI_SIZE_LIMIT = 4 * 1024 * 1024;

constexpr int16_t MEASURES_PER_PAGE_MIN = 1;
constexpr int16_t MEASURES_PER_PAGE_MAX = 6;
constexpr int16_t PRINT_MEASURES_MIN = 1;
constexpr int16_t PRINT_MEASURES_MAX = 10;

using FilePtr = std::unique_ptr<FILE, int (*)(FILE*)>;

FilePtr OpenFile(const std::string& path, const char* mode) {
    return FilePtr(std::fopen(path.c_str(), mode), &std::fclose);
}

int64_t IniInteger(const IniFile& ini, const char* key, int64_t fallback) {
    if (auto text = ini.Get(INI_SECTION, key))
        if (auto value = ParseIniInteger(*text)) return *value;
    return fallback;
}

int16_t Low16(int64_t value) {
    return static_cast<int16_t>(static_cast<uint16_t>(value));
}
int32_t Low32(int64_t value) {
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

std::string Describe(const std::string& path, const char* what) {
    std::string text = what;
    text += " \"" + path + "\"";
    if (errno != 0) {
        text += ": ";
        text += std::strerror(errno);
    }
    return text;
}

} // namespace

void ClampStoredSettings(StoredSettings& s) {
    s.Display.MeasuresPerPage =
        std::clamp(s.Display.MeasuresPerPage, MEASURES_PER_PAGE_MIN, MEASURES_PER_PAGE_MAX);
    s.Conv.PrintMeasPerWidth =
        std::clamp(s.Conv.PrintMeasPerWidth, PRINT_MEASURES_MIN, PRINT_MEASURES_MAX);
    s.Conv.PrintMeasPerHeight =
        std::clamp(s.Conv.PrintMeasPerHeight, PRINT_MEASURES_MIN, PRINT_MEASURES_MAX);
    if (s.Display.MidiFileDir.size() > MIDI_FILE_DIR_LIMIT)
        s.Display.MidiFileDir.resize(MIDI_FILE_DIR_LIMIT);
    if (s.Display.TuningName.size() > TUNING_NAME_LIMIT)
        s.Display.TuningName.resize(TUNING_NAME_LIMIT);
}

void ApplyIniSettings(const IniFile& ini, StoredSettings& out) {
    out.Conv.PrintMeasPerWidth = Low16(IniInteger(ini, "PRINTMEASPERWIDTH", 3));
    out.Conv.PrintMeasPerHeight = Low16(IniInteger(ini, "PRINTMEASPERHEIGHT", 5));
    out.TuningSettings.Transpose =
        static_cast<int8_t>(static_cast<uint8_t>(IniInteger(ini, "TRANSPOSE", 0)));
    out.Display.MeasuresPerPage = Low16(IniInteger(ini, "MEASPERPAGE", 3));
    for (int k = 0; k < STRING_COUNT; ++k) {
        std::string key = "CUSTOMDELTA" + std::to_string(k + 1);
        out.TuningSettings.CustomDelta[k] = Low16(IniInteger(ini, key.c_str(), 0));
    }
    out.Conv.ShowSpecial = Low32(IniInteger(ini, "SHOWSPECIAL", 0));
    out.Conv.ShowChord = Low32(IniInteger(ini, "SHOWCHORD", 0));
    out.Conv.BassMode = Low32(IniInteger(ini, "BASSMODE", 0));
    out.Conv.FollowMusic = Low32(IniInteger(ini, "FOLLOWMUSIC", 0));
    out.Conv.MaxFret = Low32(IniInteger(ini, "MAXFRET", 21));
    out.Conv.ShowMetronome = Low32(IniInteger(ini, "SHOWMETRONOME", 0));
    out.Conv.ForceFitFret = Low32(IniInteger(ini, "FORCEFITFRET", 0));
    out.Display.MidiFileDir = ini.Get(INI_SECTION, "MIDIFILEDIR").value_or("");
    out.Display.TuningName = ini.Get(INI_SECTION, "TUNING").value_or("Standard");
    out.Display.NotesColor = static_cast<uint32_t>(IniInteger(ini, "NOTESCOLOR", 0x800080));
    out.Display.BarColor = static_cast<uint32_t>(IniInteger(ini, "BARCOLOR", 0));
    out.Display.BackgroundColor =
        static_cast<uint32_t>(IniInteger(ini, "BACKGROUNDCOLOR", 0x00FFFF));
    ClampStoredSettings(out);
}

void StoreIniSettings(IniFile& ini, const StoredSettings& in) {
    auto put = [&ini](const char* key, int64_t value) {
        ini.Set(INI_SECTION, key, std::to_string(value));
    };
    put("PRINTMEASPERWIDTH", in.Conv.PrintMeasPerWidth);
    put("PRINTMEASPERHEIGHT", in.Conv.PrintMeasPerHeight);
    put("TRANSPOSE", in.TuningSettings.Transpose);
    put("MEASPERPAGE", in.Display.MeasuresPerPage);
    for (int k = 0; k < STRING_COUNT; ++k) {
        std::string key = "CUSTOMDELTA" + std::to_string(k + 1);
        put(key.c_str(), in.TuningSettings.CustomDelta[k]);
    }
    put("SHOWSPECIAL", in.Conv.ShowSpecial);
    put("SHOWCHORD", in.Conv.ShowChord);
    put("SHOWMETRONOME", in.Conv.ShowMetronome);
    put("BASSMODE", in.Conv.BassMode);
    put("FOLLOWMUSIC", in.Conv.FollowMusic);
    put("MAXFRET", in.Conv.MaxFret);
    put("FORCEFITFRET", in.Conv.ForceFitFret);
    ini.Set(INI_SECTION, "TUNING", in.Display.TuningName);
    ini.Set(INI_SECTION, "MIDIFILEDIR", in.Display.MidiFileDir);
    put("NOTESCOLOR", in.Display.NotesColor);
    put("BARCOLOR", in.Display.BarColor);
    put("BACKGROUNDCOLOR", in.Display.BackgroundColor);
}

bool ReadIniSettings(const std::string& path, StoredSettings& out, std::string& error) {
    errno = 0;
    std::string why;
    FilePtr file(OpenRegularFileStream(path, why), &std::fclose);
    if (!file) {
        if (errno == ENOENT) {
            ApplyIniSettings(IniFile(), out);
            return true;
        }
        error = "Can't read the settings file \"" + path + "\": " + why;
        return false;
    }
    std::string text;
    char buffer[8192];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        text.append(buffer, got);
        if (text.size() > INI_SIZE_LIMIT) {
            errno = 0;
            error = Describe(path, "The settings file is too large:");
            return false;
        }
    }
    if (std::ferror(file.get())) {
        error = Describe(path, "Can't read the settings file");
        return false;
    }
    ApplyIniSettings(IniFile::Parse(text), out);
    return true;
}

bool ReadOptionFile(const std::string& path, StoredSettings& out, std::string& error) {
    errno = 0;
    std::string why;
    FilePtr file(OpenRegularFileStream(path, why), &std::fclose);
    if (!file) {
        error = "Can't read the option file \"" + path + "\": " + why;
        return false;
    }
    OptionFileRecord record{};
    size_t got = std::fread(record.data(), 1, record.size(), file.get());
    if (std::ferror(file.get())) {
        error = Describe(path, "Can't read the option file");
        return false;
    }
    DecodeOptionRecord(std::span<const uint8_t>(record.data(), got), out);
    return true;
}

bool WriteOptionFile(const std::string& path, const StoredSettings& in, std::string& error) {
    errno = 0;
    FilePtr file = OpenFile(path, "wb");
    if (!file) {
        error = Describe(path, "Can't write the option file");
        return false;
    }
    OptionFileRecord record = EncodeOptionRecord(in);
    bool written = std::fwrite(record.data(), 1, record.size(), file.get()) == record.size();
    if (std::fclose(file.release()) != 0) written = false;
    if (!written) {
        error = Describe(path, "Can't write the option file");
        return false;
    }
    return true;
}

} // namespace morvel
