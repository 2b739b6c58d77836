#include "view/TabForm.h"

#include "view/VersionForm.h"
#include "widgets/FileDrop.h"
#include "widgets/MenuOrder.h"
#include "widgets/Screen.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QMenuBar>
#include <QProxyStyle>

#include <filesystem>

namespace morvel {

namespace {

constexpr int WINDOW_FONT_PIXELS = 14;

// A text from the file as a menu shows it: "&" doubled, so it is shown and makes no shortcut.
QString MenuText(const std::string& text) {
    return QString::fromStdString(text).replace('&', "&&");
}

QString TrackCaption(int number, const TrackRecord& track) {
    const QString name = MenuText(track.TrackName);
    const bool hasNotes = !track.Notes.empty();
    if (name.isEmpty())
        return hasNotes ? QString("Track %1 (No Name)").arg(number)
                        : QString("Track %1 (Empty)").arg(number);
    return hasNotes ? QString("Track %1 (%2)").arg(number).arg(name)
                    : QString("Track %1 (E: %2)").arg(number).arg(name);
}

// Lets a menu longer than the screen scroll instead of spreading into columns, so every item
// of a file with thousands of tracks can be reached.
class ScrollableMenuStyle : public QProxyStyle {
  public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == QStyle::SH_Menu_Scrollable) return 1;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

TTabForm::TTabForm(Conversion& conversion, DisplaySettings& display, Prompts& prompts,
                   const ChordViewDrawing* chordView, QWidget* parent)
    : QMainWindow(parent), conv_(conversion), display_(display), prompts_(prompts) {
    setObjectName("TabForm");
    QFont font = QApplication::font();
    font.setPixelSize(WINDOW_FONT_PIXELS);
    setFont(font);

    view_ = new MeasureView(conv_, display_, chordView, this);
    setCentralWidget(view_);
    // A file dropped from outside the program opens as "Open Midifile" opens it.
    connect(new FileDrop(this), &FileDrop::FileDropped, this, &TTabForm::OpenMidiFilePath);

    auto* menuBar = new QMenuBar(this);
    menuBar->setObjectName("TabMenu");
    setMenuBar(menuBar);

    auto* fileMenu = new QMenu("File", this);
    fileMenu->setObjectName("File1");
    AddTopMenu(fileMenu);
    auto addItem = [this](QMenu* menu, const char* name, const char* caption, auto handler) {
        auto* action = new QAction(caption, this);
        action->setObjectName(name);
        connect(action, &QAction::triggered, this, handler);
        AddMenuItem(menu, action);
    };
    addItem(fileMenu, "OpenMidifile1", "Open Midifile", [this] { OpenMidifile1Click(); });
    addItem(fileMenu, "CloseTabulature1", "Close Tabulature", [this] { CloseTabulature1Click(); });
    addItem(fileMenu, "Quit1", "Quit", [this] { Quit1Click(); });

    tracksMenu_ = new QMenu("Tracks", this);
    tracksMenu_->setObjectName("TracksMenu");
    auto* menuStyle = new ScrollableMenuStyle;
    menuStyle->setParent(tracksMenu_);
    tracksMenu_->setStyle(menuStyle);
    AddTopMenu(tracksMenu_);

    auto* helpMenu = new QMenu("Help", this);
    helpMenu->setObjectName("Help1");
    AddTopMenu(helpMenu);
    addItem(helpMenu, "Version1", "Version", [this] { Version1Click(); });
    addItem(helpMenu, "MORVEL1", "MORVEL", [this] { MORVEL1Click(); });

    FormCreate();
    resize(MAIN_WINDOW_WIDTH, MAIN_WINDOW_CLIENT_HEIGHT + menuBar->sizeHint().height());
    view_->Clear();
    conv_.MidiFileName.clear();
    CentreOnScreen(this);
}

TTabForm::~TTabForm() = default;

void TTabForm::FormCreate() {
    setWindowTitle(VersionBanner());
    conv_.ClearUsedChords();
}

void TTabForm::AddTopMenu(QMenu* menu) {
    menu->menuAction()->setObjectName(menu->objectName());
    InsertInMenuOrder(menuBar(), menu->menuAction());
}

void TTabForm::AddTopItem(QAction* action) {
    InsertInMenuOrder(menuBar(), action);
}

void TTabForm::AddMenuItem(QMenu* menu, QAction* action) {
    InsertInMenuOrder(menu, action);
}

QMenu* TTabForm::TopMenu(const QString& objectName) const {
    for (QAction* action : menuBar()->actions())
        if (action->objectName() == objectName) return action->menu();
    return nullptr;
}

// ---- File commands ----

void TTabForm::OpenMidifile1Click() {
    ResetTabulature();
    const QString path = prompts_.ChooseFile(
        {"MID (*.mid)", false, QString::fromStdString(display_.MidiFileDir)});
    if (path.isEmpty()) return;
    OpenSongAt(QFile::encodeName(path).toStdString());
}

void TTabForm::OpenMidiFilePath(const QString& path) {
    if (path.isEmpty()) {
        ResetTabulature();
        return;
    }
    OpenMidiFileBytes(QFile::encodeName(path).toStdString());
}

void TTabForm::OpenMidiFileBytes(const std::string& path) {
    ResetTabulature();
    if (path.empty()) return;
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    OpenSongAt(error ? path : absolute.lexically_normal().string());
}

// Reads and converts the file at `path` (the bytes of its name), shows what was read and
// announces the song. The conversion's messages are shown by the reporter.
void TTabForm::OpenSongAt(const std::string& path) {
    view_->SongChanged();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    song_ = OpenSong(conv_, path);
    QApplication::restoreOverrideCursor();
    // After the conversion's own messages: the setting that opens a refused file.
    if (conv_.OpensWithLenientReading())
        prompts_.ShowMessage("This file opens with Options > Lenient reading.");
    ShowConversion();
    // The folder is remembered even when the file could not be read, for the next dialog.
    std::string dir = std::filesystem::path(path).parent_path().string();
    if (!dir.empty() && dir.back() != '/') dir += '/';
    display_.MidiFileDir = dir;
    if (song_ && !conv_.TrackList.empty()) emit FileOpened(song_);
}

// Builds the Tracks menu and the view from whatever the conversion read.
void TTabForm::ShowConversion() {
    view_->SongChanged();
    BuildTracksMenu();
}

void TTabForm::ResetTabulature() {
    view_->Close();
    tracksMenu_->clear();
    conv_.ClearUsedChords();
    conv_.MidiFileName.clear();
    conv_.DeleteReportFile();
    song_.reset();
    emit TabulatureClosed();
}

void TTabForm::ReconvertMidiFile() {
    if (!song_) return;
    // The panels go before the song they draw is replaced; the view is built again after.
    const int track = view_->SelectedTrack();
    view_->Close();
    view_->SongChanged();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ConvertSong(conv_, *song_);
    QApplication::restoreOverrideCursor();
    ShowConversion();
    view_->ShowTrack(track);
}

bool TTabForm::SaveSettingsAndQuit() {
    if (ending_) return true;
    // The settings store writes the INI file here, before the tabulature is closed. When it
    // cannot, the old file stays as it was and the user chooses: quit anyway, or stay with
    // everything open (the default).
    QString error;
    if (writeSettings_ && !writeSettings_(&error) &&
        !prompts_.Ask(error, "Quit Without Saving", "Stay"))
        return false;
    ending_ = true;
    ResetTabulature();
    if (versionForm_) versionForm_->close();
    if (helpForm_) helpForm_->close();
    close();
    QApplication::quit();
    return true;
}

void TTabForm::EndOnSignal() {
    if (ending_) return;
    ending_ = true;
    if (writeSettings_) writeSettings_(nullptr);
    ResetTabulature();
    if (versionForm_) versionForm_->close();
    if (helpForm_) helpForm_->close();
    QCoreApplication::exit(0);
}

void TTabForm::closeEvent(QCloseEvent* event) {
    if (SaveSettingsAndQuit())
        event->accept();
    else
        event->ignore();
}

void TTabForm::BuildTracksMenu() {
    tracksMenu_->clear();
    auto addTrackItem = [this](const QString& caption, int tag) {
        QAction* action = tracksMenu_->addAction(caption);
        action->setData(tag);
        action->setObjectName(QString("Track%1").arg(tag));
        connect(action, &QAction::triggered, this, [this, tag] { TrackMenuClick(tag); });
    };
    if (conv_.Settings.ShowChord) addTrackItem("Chords", -1);
    int number = 0;
    for (const TrackRecord& track : conv_.TrackList) {
        ++number;
        addTrackItem(TrackCaption(number, track), number);
    }
}

void TTabForm::TrackMenuClick(int tag) {
    view_->ShowTrack(tag);
}

void TTabForm::Version1Click() {
    if (!versionForm_) {
        versionForm_ = new TVersionForm(this);
        versionForm_->FillVersionText();
    }
    versionForm_->show();
    versionForm_->raise();
    versionForm_->activateWindow();
}

void TTabForm::MORVEL1Click() {
    if (!helpForm_) {
        helpForm_ = new THelpForm(this);
        CentreOnScreen(helpForm_);
    }
    helpForm_->show();
    helpForm_->raise();
    helpForm_->activateWindow();
}

} // namespace morvel
