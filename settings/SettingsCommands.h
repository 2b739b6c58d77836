// The settings commands of the main window: the Options menu ("Options", "Load Options",
// "Save Options"), the Colors menu ("Bar Color", "Background Color", "Note Color", "Invert
// Colors"), reading the INI file at start-up and writing it when the program ends.
#pragma once

#include "settings/MainWindowHooks.h"
#include "settings/SettingsStore.h"
#include "settings/TOptionsForm.h"

#include <QObject>
#include <QPointer>

class QFileDialog;
class QMenu;
class QMenuBar;
class QWidget;

namespace morvel {

class SettingsCommands : public QObject {
    Q_OBJECT
  public:
    // `window` owns the dialogs and message boxes; `fileDialog` is the main window's one file
    // dialog, reused with the option-file filter (may be null: a fresh dialog is used then).
    SettingsCommands(Conversion& conversion, DisplaySettings& display, QWidget* window,
                     QFileDialog* fileDialog = nullptr);

    SettingsStore& Store() { return store_; }
    TOptionsForm& OptionsForm() { return *optionsForm_; }
    void SetHooks(const MainWindowHooks& hooks);
    DialogSeams Seams; // replaceable; defaults show real dialogs

    // The menus, with objectNames "Options1" and "Colors1" and their items named after their
    // handlers' components; created on first request and owned by the window.
    QMenu* OptionsMenu();
    QMenu* ColorsMenu();
    // Puts both menus into a menu bar whose other menus follow the order File, Edit, Tracks,
    // Options, Chords, Colors, Help (by objectName: "File1", "Edit1", "TracksMenu", "ChordsMenu",
    // "Help1"). For windows without their own menu placement.
    void InstallMenus(QMenuBar* bar);

    // Start-up: reads the INI file and shows the tuning name in the options dialog. An INI
    // file that exists but cannot be read is reported and the defaults are used.
    void ReadIniSettings();
    // The ending's first step: writes every key to the INI file. On failure shows "Unable to
    // write to <file>" and answers false, so the caller abandons the ending and the program
    // keeps running.
    bool WriteSettings();
    // The same write without a message: on failure `error` (when given) receives the text.
    bool TryWriteSettings(QString* error);

    void OptionsPanel1Click();
    void LoadOptions1Click();
    void SaveOptions1Click();
    void Foreground1Click();
    void Background1Click();
    void Notes1Click();
    void Invert1Click();

  private:
    void AddCommand(QMenu* menu, const char* name, const char* caption,
                    void (SettingsCommands::*handler)());
    void ChooseColorInto(uint32_t& color);
    void Redraw();
    // Runs the file dialog for an option file: filter "OPT (*.opt)", an empty name, and the
    // folder this command last used (the home folder at first), never the MIDI folder.
    QString RunFileDialog(bool forSaving);
    bool IsOpenMidiFile(const QString& path) const;

    SettingsStore store_;
    QWidget* window_;
    QPointer<QFileDialog> fileDialog_;
    TOptionsForm* optionsForm_;
    MainWindowHooks hooks_;
    QPointer<QMenu> optionsMenu_;
    QPointer<QMenu> colorsMenu_;
    QString loadFolder_; // where "Load Options" last found a file
    QString saveFolder_; // where "Save Options" last wrote one
};

} // namespace morvel
