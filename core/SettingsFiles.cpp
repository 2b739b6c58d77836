#include "core/SettingsFiles.h"

#include "core/IniFile.h"
#include "core/OptionFile.h"
#include "io/OutputFile.h"
#include "io/SafeOpen.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <utility>
#include <vector>

namespace morvel {

namespace {

// An INI file larger than this is no settings file; reading stops rather than filling memory.
constexpr size_t INI_SIZE_LIMIT = 4 * 1024 * 1024;

using FilePtr = std::unique_ptr<FILE, int (*)(FILE*)>;

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
    KeepInRange(HomesOf(s));
}

void ApplyIniSettings(const IniFile& ini, StoredSettings& out) {
    const SettingHomes homes = HomesOf(out);
    const std::span<const SettingRow> rows = SettingRows();
    std::vector<std::string_view> keys;
    for (const SettingRow& row : rows)
        keys.emplace_back(row.IniKey ? row.IniKey : "");
    const std::vector<std::optional<std::string>> values = ini.GetAll(INI_SECTION, keys);
    for (size_t i = 0; i < rows.size(); ++i) {
        const SettingRow& row = rows[i];
        if (!row.IniKey) continue;
        const std::optional<std::string>& text = values[i];
        if (row.Kind == SettingKind::Text) {
            *row.Text(homes) = text.value_or(row.TextDefault);
        } else {
            const std::optional<int64_t> value = text ? ParseIniInteger(*text) : std::nullopt;
            row.Number.Set(homes, value.value_or(row.Default));
        }
    }
    KeepInRange(homes);
}

void StoreIniSettings(IniFile& ini, const StoredSettings& in) {
    const SettingHomes homes = HomesOf(in);
    for (const SettingRow& row : SettingRows()) {
        if (!row.IniKey) continue;
        const bool isText = row.Kind == SettingKind::Text;
        if (row.Writing == IniWriting::WhenSetOrPresent) {
            const bool set =
                isText ? !row.Text(homes)->empty() : row.Number.Get(homes) != row.Default;
            if (!set && !ini.Get(INI_SECTION, row.IniKey)) continue;
        }
        ini.Set(INI_SECTION, row.IniKey,
                isText ? *row.Text(homes) : std::to_string(row.Number.Get(homes)));
    }
}

bool ReadSettingsText(const std::string& path, std::string& text, bool& missing,
                      std::string& error) {
    errno = 0;
    missing = false;
    text.clear();
    std::string why;
    FilePtr file(OpenRegularFileStream(path, why), &std::fclose);
    if (!file) {
        if (errno == ENOENT) {
            missing = true;
            return true;
        }
        error = "Can't read the settings file \"" + path + "\": " + why;
        return false;
    }
    // Read the file in one piece of its own size, so the text needs no room to grow.
    if (std::fseek(file.get(), 0, SEEK_END) == 0) {
        long size = std::ftell(file.get());
        if (size > static_cast<long>(INI_SIZE_LIMIT)) {
            errno = 0;
            error = Describe(path, "The settings file is too large:");
            return false;
        }
        if (size > 0) text.reserve(static_cast<size_t>(size));
        std::rewind(file.get());
    }
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
    return true;
}

bool ReadIniSettings(const std::string& path, StoredSettings& out, std::string& error) {
    std::string text;
    bool missing = false;
    if (!ReadSettingsText(path, text, missing, error)) return false;
    ApplyIniSettings(IniFile::Parse(std::move(text)), out);
    return true;
}

bool WriteSettingsFile(const std::string& path, std::string_view bytes, std::string& error) {
    OutputSet out;
    std::string why;
    if (out.Add(path, {}, SpecialFiles::Stream, why)) {
        int failed = 0;
        const char* data = bytes.data();
        size_t left = bytes.size();
        while (left > 0 && failed == 0) {
            const ssize_t done = ::write(out.Descriptor(0), data, left);
            if (done < 0 && errno == EINTR) continue;
            if (done <= 0) failed = done < 0 ? errno : EIO;
            else {
                data += done;
                left -= static_cast<size_t>(done);
            }
        }
        if (failed != 0) why = std::string("cannot write: ") + std::strerror(failed);
        else if (out.Commit(why)) return true;
    }
    error = "\"" + path + "\": " + why;
    return false;
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
    const OptionFileRecord record = EncodeOptionRecord(in);
    std::string why;
    if (WriteSettingsFile(path, std::string_view(reinterpret_cast<const char*>(record.data()),
                                                 record.size()),
                          why))
        return true;
    error = "Can't write the option file " + why;
    return false;
}

} // namespace morvel
