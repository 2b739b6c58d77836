#include "core/SettingsTable.h"

#include <algorithm>

namespace morvel {

void CopySettings(const SettingHomes& from, const SettingHomes& to) {
    for (const SettingRow& row : SETTING_ROWS) {
        if (row.Kind == SettingKind::Text)
            *row.Text(to) = *row.Text(from);
        else
            row.Number.Set(to, row.Number.Get(from));
    }
}

void KeepInRange(const SettingHomes& homes) {
    for (const SettingRow& row : SETTING_ROWS) {
        if (row.Kind == SettingKind::Text) {
            std::string& text = *row.Text(homes);
            if (text.size() > row.TextLimit) text.resize(row.TextLimit);
        } else {
            const int64_t value = row.Number.Get(homes);
            const int64_t kept = std::clamp(value, row.KeepMin, row.KeepMax);
            if (kept != value) row.Number.Set(homes, kept);
        }
    }
}

} // namespace morvel
