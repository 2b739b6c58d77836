// Fuzz target over the settings files: the bytes are read as an INI file and as an option
// record. Whatever they hold, the settings read from them must survive saving (what is saved
// reads back the same) and saving must be stable (saving twice gives the same bytes). A
// broken promise aborts, so the fuzzer keeps the input.

#include "core/IniFile.h"
#include "core/OptionFile.h"
#include "core/SettingsFiles.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

namespace {

using namespace morvel;

void Require(bool promise, const char* what) {
    if (promise) return;
    std::fprintf(stderr, "broken promise: %s\n", what);
    std::abort();
}

// The first setting in which `a` and `b` differ, or nullptr. Only rows with an option field
// when `optionFieldsOnly`.
const SettingRow* FirstDifference(const StoredSettings& a, const StoredSettings& b,
                                  bool optionFieldsOnly) {
    const SettingHomes ha = HomesOf(a), hb = HomesOf(b);
    for (const SettingRow& row : SettingRows()) {
        if (optionFieldsOnly && row.OptionOffset == NO_OPTION_FIELD) continue;
        const bool same = row.Kind == SettingKind::Text ? *row.Text(ha) == *row.Text(hb)
                                                        : row.Number.Get(ha) == row.Number.Get(hb);
        if (!same) return &row;
    }
    return nullptr;
}

void RequireSame(const StoredSettings& a, const StoredSettings& b, bool optionFieldsOnly,
                 const char* what) {
    if (const SettingRow* row = FirstDifference(a, b, optionFieldsOnly)) {
        std::fprintf(stderr, "setting %s differs\n", row->IniKey ? row->IniKey : row->Flag);
        Require(false, what);
    }
}

void CheckIni(std::string text) {
    IniFile ini = IniFile::Parse(std::move(text));
    const std::string asRead = ini.Text();
    Require(IniFile::Parse(asRead).Text() == asRead, "an unchanged file is written unchanged");

    StoredSettings read;
    ApplyIniSettings(ini, read);
    StoreIniSettings(ini, read);
    const std::string saved = ini.Text();

    IniFile reread = IniFile::Parse(saved);
    StoredSettings again;
    ApplyIniSettings(reread, again);
    RequireSame(read, again, false, "what is saved to the INI file reads back the same");
    StoreIniSettings(reread, again);
    Require(reread.Text() == saved, "saving the INI file twice gives the same bytes");

    // The option record keeps the same settings, texts up to a NUL byte, which it cannot hold.
    StoredSettings fromRecord;
    DecodeOptionRecord(EncodeOptionRecord(read), fromRecord);
    for (const SettingRow& row : SettingRows())
        if (row.Kind == SettingKind::Text) {
            std::string& name = *row.Text(HomesOf(read));
            name.resize(std::min(name.find('\0'), name.size()));
        }
    RequireSame(read, fromRecord, true, "settings from the INI file survive an option file");
}

void CheckOptionRecord(std::span<const uint8_t> bytes) {
    StoredSettings read;
    DecodeOptionRecord(bytes, read);
    const OptionFileRecord saved = EncodeOptionRecord(read);
    StoredSettings again;
    DecodeOptionRecord(saved, again);
    RequireSame(read, again, true, "what is saved to an option file reads back the same");
    Require(EncodeOptionRecord(again) == saved, "saving an option file twice gives the same bytes");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckIni(std::string(reinterpret_cast<const char*>(data), size));
    CheckOptionRecord(std::span<const uint8_t>(data, size));
    return 0;
}
