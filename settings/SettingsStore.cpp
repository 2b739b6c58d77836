#include "settings/SettingsStore.h"

#include "core/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

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
    bool ok = morvel::ReadIniSettings(QFile::encodeName(iniPath_).toStdString(), s, message);
    if (!ok) {
        ApplyIniSettings(IniFile(), s);
        if (error) *error = QString::fromLocal8Bit(message.c_str());
    }
    Scatter(s);
    return ok;
}

bool SettingsStore::WriteIniSettings(QString* error) {
    auto fail = [&](const QString& why) {
        if (error) *error = why;
        return false;
    };
    QByteArray oldText;
    QFile old(iniPath_);
    if (old.exists()) {
        if (!old.open(QIODevice::ReadOnly)) return fail(old.errorString());
        oldText = old.readAll();
        if (old.error() != QFileDevice::NoError) return fail(old.errorString());
        old.close();
    }
    IniFile ini = IniFile::Parse(oldText.toStdString());
    StoreIniSettings(ini, Gather());
    const std::string text = ini.Text();

    if (!QDir().mkpath(QFileInfo(iniPath_).absolutePath()))
        return fail(QStringLiteral("Can't create the folder"));
    QSaveFile file(iniPath_);
    if (!file.open(QIODevice::WriteOnly)) return fail(file.errorString());
    // A short write or a failed flush (a full disk) abandons the new file; the old one stays.
    if (file.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()) ||
        !file.flush()) {
        file.cancelWriting();
        file.commit();
        return fail(file.errorString());
    }
    if (!file.commit()) return fail(file.errorString());
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
