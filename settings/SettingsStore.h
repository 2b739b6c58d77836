// The settings of one run of the program: moves them between the Conversion, the display
// settings and the INI file. The INI file is "MORVEL.INI" in $XDG_CONFIG_HOME/morvel/
// (~/.config/morvel/ when the variable is unset or not absolute).
#pragma once

#include "core/Conversion.h"
#include "core/DisplaySettings.h"
#include "core/SettingsFiles.h"

#include <QString>

namespace morvel {

class SettingsStore {
  public:
    SettingsStore(Conversion& conversion, DisplaySettings& display);

    static QString DefaultIniPath();
    QString IniPath() const { return iniPath_; }
    void SetIniPath(const QString& path) { iniPath_ = path; }

    // The persisted settings as they stand in memory.
    StoredSettings Gather() const;
    // Puts every persisted setting back (the tempo and other run-time values are kept).
    void Scatter(const StoredSettings& stored);

    // Reads every key of the INI file into memory. A missing file gives the defaults; an
    // unreadable one (not a regular file, larger than 4 MiB, unreadable) gives the defaults
    // too, and false with `error` naming the file; that file is then never written over.
    bool ReadIniSettings(QString* error = nullptr);
    // True when the last ReadIniSettings refused the file: WriteIniSettings leaves it alone.
    bool IniRefused() const { return iniRefused_; }
    // Writes every key into the INI file, keeping all its other lines, which are read the way
    // start-up reads them (bounded, never waited for). The file is replaced through the output
    // module: on any failure the old file is left as it was and false is returned with
    // `error` saying why. A file that exists but cannot be read is not overwritten, so nothing
    // in it is lost; one refused at start-up is not written at all (true).
    bool WriteIniSettings(QString* error = nullptr);

    // Loads an option file: only the fields it holds change (not colours, not the directory).
    bool LoadOptionFile(const QString& path, QString* error = nullptr);
    bool SaveOptionFile(const QString& path, QString* error = nullptr);

    Conversion& Conv() { return conv_; }
    const Conversion& ConvConst() const { return conv_; }
    DisplaySettings& Display() { return display_; }

  private:
    Conversion& conv_;
    DisplaySettings& display_;
    QString iniPath_;
    bool iniRefused_ = false;
};

} // namespace morvel
