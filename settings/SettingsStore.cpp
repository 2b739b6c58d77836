#include "settings/SettingsStore.h"

#include "core/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace morvel {

SettingsStore::SettingsStore(Conversion& conversion, DisplaySettings& display)
    : conv_(conversion), display_(display), iniPath_(DefaultIniPath()) {}

QString SettingsStore::DefaultIniPath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base)) base = QDir::homePath() + "/.config";
    return base + "/morvel/" + INI_FILE_NAME;
}

StoredSettings SettingsStore::Gather() const {
    StoredSettings s;
    s.Conv = conv_.Settings;
    s.TuningSettings = conv_.TuningSettings;
    s.Display = display_;
    return s;
}

void SettingsStore::Scatter(const StoredSettings& s) {
    CopySettings(HomesOf(s), SettingHomes{&conv_.Settings, &conv_.TuningSettings, &display_});
}

bool SettingsStore::ReadIniSettings(QString* error) {
    StoredSettings s = Gather();
    std::string message;
    const std::string path = QFile::encodeName(iniPath_).toStdString();
    const bool ok = morvel::ReadIniSettings(path, s, message);
    iniRefused_ = !ok;
    if (!ok) {
        ApplyIniSettings(IniFile(), s);
        if (error) *error = QString::fromLocal8Bit(message.c_str());
    }
    Scatter(s);
    return ok;
}

bool SettingsStore::WriteIniSettings(QString* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = QString::fromLocal8Bit(why.c_str());
        return false;
    };
    // A file start-up could not read is the user's, not ours: it is never written over.
    if (iniRefused_) return true;
    const std::string path = QFile::encodeName(iniPath_).toStdString();
    // The old file is read as start-up reads it (a regular file of at most 4 MiB, never
    // waited for), so that its other lines are kept and nothing hangs or fills memory.
    std::string oldText, why;
    bool missing = false;
    if (!ReadSettingsText(path, oldText, missing, why)) return fail(why);
    IniFile ini = IniFile::Parse(std::move(oldText));
    StoreIniSettings(ini, Gather());
    const std::string text = ini.Text();

    if (!QDir().mkpath(QFileInfo(iniPath_).absolutePath()))
        return fail("Can't create the folder " +
                    QFile::encodeName(QFileInfo(iniPath_).absolutePath()).toStdString());
    if (!WriteSettingsFile(path, text, why)) return fail("Can't write the settings file " + why);
    return true;
}

bool SettingsStore::LoadOptionFile(const QString& path, QString* error) {
    StoredSettings s = Gather();
    std::string message;
    if (!ReadOptionFile(QFile::encodeName(path).toStdString(), s, message)) {
        if (error) *error = QString::fromLocal8Bit(message.c_str());
        return false;
    }
    // The record holds no colours and no directory: keep those exactly as they are.
    s.Display.MidiFileDir = display_.MidiFileDir;
    Scatter(s);
    return true;
}

bool SettingsStore::SaveOptionFile(const QString& path, QString* error) {
    std::string message;
    if (!WriteOptionFile(QFile::encodeName(path).toStdString(), Gather(), message)) {
        if (error) *error = QString::fromLocal8Bit(message.c_str());
        return false;
    }
    return true;
}

} // namespace morvel
