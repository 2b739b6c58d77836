// The settings commands of the main window: the Options menu ("Options", "Load Options",
// "Save Options"), the Colors menu ("Bar Color", "Background Color", "Note Color", "Invert
// Colors"), reading the INI file at start-up and writing it when the program ends. It asks the
// user through the prompts it is given and announces changed settings with its signals.
#pragma once

#include "settings/SettingsStore.h"
#include "settings/TOptionsForm.h"
#include "widgets/Prompts.h"

#include <QObject>
#include <QPointer>

class QMenu;
class QWidget;

namespace morvel {

class SettingsCommands : public QObject {
    Q_OBJECT
  public:
    // `window` owns the options dialog and the menus; `prompts` (which must outlive the
    // commands) shows the messages and the file and colour dialogs.
    SettingsCommands(Conversion& conversion, DisplaySettings& display, Prompts& prompts,
                     QWidget* window);

    SettingsStore& Store() { return store_; }
    TOptionsForm& OptionsForm() { return *optionsForm_; }

    // The menus, with objectNames "Options1" and "Colors1" and their items named after their
    // handlers' components; created on first request and owned by the window.
    QMenu* OptionsMenu();
    QMenu* ColorsMenu();

    // Start-up: reads the INI file and shows the tuning name in the options dialog. An INI
    // file that exists but cannot be read is reported and the defaults are used.
    void ReadIniSettings();
    // The ending's first step: writes every key to the INI file, showing nothing. On failure
    // answers false and `error` (when given) receives "Unable to write to <file>".
    bool TryWriteSettings(QString* error);

    void OptionsPanel1Click();
    void LoadOptions1Click();
    void SaveOptions1Click();
    void Foreground1Click();
    void Background1Click();
    void Notes1Click();
    void Invert1Click();

  signals:
    // The options dialog put its values into the settings: the open file is due to be
    // converted again.
    void OptionsApplied();
    // A colour or the Force Fit setting changed: the measures are due to be drawn again.
    void DrawingChanged();

  private:
    void AddCommand(QMenu* menu, const char* name, const char* caption,
                    void (SettingsCommands::*handler)());
    void ChooseColorInto(uint32_t& color);
    // Runs the file dialog for an option file: filter "OPT (*.opt)", an empty name, and the
    // folder this command last used (the home folder at first), never the MIDI folder.
    QString ChooseOptionFile(bool forSaving);
    bool IsOpenMidiFile(const QString& path) const;

    SettingsStore store_;
    Prompts& prompts_;
    QWidget* window_;
    TOptionsForm* optionsForm_;
    QPointer<QMenu> optionsMenu_;
    QPointer<QMenu> colorsMenu_;
    QString loadFolder_; // where "Load Options" last found a file
    QString saveFolder_; // where "Save Options" last wrote one
};

} // namespace morvel
