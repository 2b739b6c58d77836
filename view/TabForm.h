// The main window: its menus, the file commands and the lifetime of the tabulature. It opens a
// MIDI file, converts it through the core, lists its tracks in the Tracks menu and tells its
// measure view (the central widget TabScroll) which track to show.
//
// What it needs is given at construction (the conversion, the display settings, the prompts it
// asks the user through, the chord view's drawing); what happens in it is announced by its
// signals. The one step installed afterwards is the settings' write at the ending.
#pragma once

#include "core/Conversion.h"
#include "core/DisplaySettings.h"
#include "formats/OpenedSong.h"
#include "measureview/MeasureView.h"
#include "widgets/Prompts.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>

class QMenu;
class QAction;

namespace morvel {

class TVersionForm;
class THelpForm;

class TTabForm : public QMainWindow {
    Q_OBJECT
  public:
    // `prompts` and `chordView` (may be null: an empty chord view) must outlive the window.
    TTabForm(Conversion& conversion, DisplaySettings& display, Prompts& prompts,
             const ChordViewDrawing* chordView = nullptr, QWidget* parent = nullptr);
    ~TTabForm() override;

    // ---- File commands ----
    void OpenMidifile1Click();
    // Opens `path` without the dialog (command line, "Open with"): the same steps as the menu
    // command after its dialog.
    void OpenMidiFilePath(const QString& path);
    // The same for a path given as the bytes of its name (which need not be UTF-8).
    void OpenMidiFileBytes(const std::string& path);
    void CloseTabulature1Click() { ResetTabulature(); }
    void Quit1Click() { SaveSettingsAndQuit(); }
    // Closes the tabulature: panels, Tracks menu, chord flags, file name and report file.
    void ResetTabulature();
    // The one ending of the program, for Quit and for closing the window. When the settings
    // cannot be written the user is asked whether to quit without saving or to stay (the
    // default); false when the user stays, with everything still open.
    bool SaveSettingsAndQuit();
    // The ending on a termination signal: writes the settings as Quit does but never asks or
    // shows anything (a failed write leaves the old file), closes the tabulature (its report
    // file goes) and leaves the event loop.
    void EndOnSignal();

    void BuildTracksMenu();
    void TrackMenuClick(int tag);
    void Version1Click();
    void MORVEL1Click();

    // Converts the open song again after a change of the settings and rebuilds the Tracks
    // menu and the view, showing the selected track again: the same conversion steps as
    // opening, over the bytes read at open (the file is not read again). With no file open
    // there is nothing to convert and nothing is shown.
    void ReconvertMidiFile();

    // The song open now, as it was read at open; null when none is open.
    const SongPointer& Song() const { return song_; }

    // The measure view, central widget "TabScroll".
    MeasureView* TabScroll() const { return view_; }
    QMenu* TracksMenu() const { return tracksMenu_; }

    // The ending's first step, installed by the settings (app/SettingsConnection.h): writes
    // them, showing nothing; false when they could not be written, with the reason in
    // `error` (which may be null). Without one the ending writes nothing.
    using SettingsWriter = std::function<bool(QString* error)>;
    void SetSettingsWriter(SettingsWriter write) { writeSettings_ = std::move(write); }

    // Adds a menu or a menu item at its place in the menu bar's fixed order (by objectName).
    void AddTopMenu(QMenu* menu);
    // Adds a command without sub-items to the menu bar at its place in the same order.
    void AddTopItem(QAction* action);
    void AddMenuItem(QMenu* menu, QAction* action);
    QMenu* TopMenu(const QString& objectName) const;

  signals:
    // A file was read and converted (whatever the conversion reported): `song` holds its
    // bytes as read, never null. A file that could not be read opens nothing and is not
    // announced (the conversion has said why).
    void FileOpened(std::shared_ptr<const OpenedSong> song);
    // The tabulature was closed: no file is open any more.
    void TabulatureClosed();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void FormCreate();
    void OpenSongAt(const std::string& path);
    void ShowConversion();

    Conversion& conv_;
    DisplaySettings& display_;
    Prompts& prompts_;
    SettingsWriter writeSettings_;
    SongPointer song_;
    MeasureView* view_ = nullptr;
    QMenu* tracksMenu_ = nullptr;
    QPointer<TVersionForm> versionForm_;
    QPointer<THelpForm> helpForm_;
    bool ending_ = false;
};

} // namespace morvel
