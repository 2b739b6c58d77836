#include "core/OptionFile.h"

#include <algorithm>
#include <cstring>

namespace morvel {

namespace {

constexpr char FORMAT_TAG[4] = {'3', '.', '0', '\0'};

void PutInt32(OptionFileRecord& record, size_t offset, int32_t value) {
    uint32_t bits = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        record[offset + i] = static_cast<uint8_t>(bits >> (8 * i));
}

uint32_t GetUInt32(const OptionFileRecord& record, size_t offset) {
    uint32_t bits = 0;
    for (int i = 0; i < 4; ++i)
        bits |= static_cast<uint32_t>(record[offset + i]) << (8 * i);
    return bits;
}

int32_t GetInt32(const OptionFileRecord& record, size_t offset) {
    return static_cast<int32_t>(GetUInt32(record, offset));
}

// Every field of the table lies inside the record, after the tag and its zero bytes, and no
// two fields share a byte.
consteval bool FieldsFitTheRecord() {
    std::array<bool, OPTION_RECORD_SIZE> used{};
    for (size_t i = 0; i < 12; ++i)
        used[i] = true;
    for (const SettingRow& row : SETTING_ROWS) {
        if (row.OptionOffset == NO_OPTION_FIELD) continue;
        const size_t size = row.Kind == SettingKind::Text ? row.TextLimit + 1 : 4;
        if (row.OptionOffset < 0 || row.OptionOffset + size > OPTION_RECORD_SIZE) return false;
        for (size_t i = 0; i < size; ++i) {
            if (used[row.OptionOffset + i]) return false;
            used[row.OptionOffset + i] = true;
        }
    }
    return true;
}
static_assert(FieldsFitTheRecord(), "option record fields overlap or lie outside the record");

} // namespace

OptionFileRecord EncodeOptionRecord(const StoredSettings& in) {
    OptionFileRecord record{};
    const SettingHomes homes = HomesOf(in);
    for (const SettingRow& row : SettingRows()) {
        if (row.OptionOffset == NO_OPTION_FIELD) continue;
        const size_t offset = static_cast<size_t>(row.OptionOffset);
        if (row.Kind == SettingKind::Text) {
            const std::string& text = *row.Text(homes);
            std::memcpy(record.data() + offset, text.data(), std::min(text.size(), row.TextLimit));
        } else {
            PutInt32(record, offset, static_cast<int32_t>(row.Number.Get(homes)));
        }
    }
    std::memcpy(record.data() + OptionOffset::Tag, FORMAT_TAG, sizeof FORMAT_TAG);
    return record;
}

void DecodeOptionRecord(std::span<const uint8_t> bytes, StoredSettings& out) {
    OptionFileRecord record{};
    std::copy_n(bytes.begin(), std::min(bytes.size(), record.size()), record.begin());
    const SettingHomes homes = HomesOf(out);
    for (const SettingRow& row : SettingRows()) {
        if (row.OptionOffset == NO_OPTION_FIELD) continue;
        const size_t offset = static_cast<size_t>(row.OptionOffset);
        if (row.Kind == SettingKind::Text) {
            const char* text = reinterpret_cast<const char*>(record.data() + offset);
            row.Text(homes)->assign(text, strnlen(text, row.TextLimit));
        } else {
            row.Number.Set(homes, GetInt32(record, offset));
        }
    }
    ClampStoredSettings(out);
}

} // namespace morvel
