#include "view/TabForm.h"

#include "core/Chords.h"
#include "view/VersionForm.h"

#include <QAccessible>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>

namespace morvel {

namespace {

constexpr int CLIENT_WIDTH = 575;
constexpr int CLIENT_HEIGHT = 358;
constexpr int WINDOW_FONT_PIXELS = 14;
constexpr int SCROLL_BAR_ROOM = 23; // panel width = scroll box width - this
constexpr int HEIGHT_MARGIN = 5;    // panel height = (scroll box height - this) / per page
constexpr int PANEL_GAP = 1;
constexpr int SCREEN_TEXT_UNIT = 10;
constexpr int REALIZE_MARGIN = 2; // panel widgets kept beyond each end of the visible range

// The fixed order of the menu bar and of the items in each menu, by objectName. Menus and
// items added later find their place from it.
const char* const MenuOrder[] = {"File1",
                                 "OpenMidifile1",
                                 "Save1",
                                 "SaveAllTEXT1",
                                 "SaveTabulatureBMP1",
                                 "CloseTabulature1",
                                 "PrintAllTab1",
                                 "PrintSetup1",
                                 "PlayMidifile1",
                                 "Quit1",
                                 "Edit1",
                                 "Copy1",
                                 "TracksMenu",
                                 "Options1",
                                 "OptionsPanel1",
                                 "LoadOptions1",
                                 "SaveOptions1",
                                 "ChordsMenu",
                                 "Colors1",
                                 "Foreground1",
                                 "Background1",
                                 "Notes1",
                                 "Invert1",
                                 "Help1",
                                 "Version1",
                                 "MORVEL1"};

int OrderOf(const QString& name) {
    for (size_t i = 0; i < std::size(MenuOrder); ++i)
        if (name == QLatin1String(MenuOrder[i])) return static_cast<int>(i);
    return static_cast<int>(std::size(MenuOrder));
}

// Inserts `action` into `widget`'s actions before the first one that comes later in order.
void InsertInOrder(QWidget* widget, QAction* action) {
    const int order = OrderOf(action->objectName());
    for (QAction* existing : widget->actions()) {
        if (OrderOf(existing->objectName()) > order) {
            widget->insertAction(existing, action);
            return;
        }
    }
    widget->addAction(action);
}

QString TrackCaption(int number, const TrackRecord& track) {
    const QString name = QString::fromStdString(track.TrackName);
    const bool hasNotes = !track.Notes.empty();
    if (name.isEmpty())
        return hasNotes ? QString("Track %1 (No Name)").arg(number)
                        : QString("Track %1 (Empty)").arg(number);
    return hasNotes ? QString("Track %1 (%2)").arg(number).arg(name)
                    : QString("Track %1 (E: %2)").arg(number).arg(name);
}

} // namespace

TMeasurePanel::TMeasurePanel(TTabForm* form, int tag, QWidget* parent)
    : QWidget(parent), form_(form), tag_(tag) {
    setObjectName(QString("MeasurePanel%1").arg(tag));
    if (tag > 0)
        setAccessibleName(QString("Measure %1").arg(tag));
    else if (tag == 0)
        setAccessibleName("Summary");
    else
        setAccessibleName("Chords");
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TMeasurePanel::paintEvent(QPaintEvent*) {
    form_->PanelPaint(this);
}

TTabForm::TTabForm(Conversion& conversion, DisplaySettings& display, QWidget* parent)
    : QMainWindow(parent), conv_(conversion), display_(display) {
    setObjectName("TabForm");
    QFont font = QApplication::font();
    font.setPixelSize(WINDOW_FONT_PIXELS);
    setFont(font);

    tabScroll_ = new QScrollArea(this);
    tabScroll_->setObjectName("TabScroll");
    tabScroll_->setWidgetResizable(false);
    tabScroll_->setFrameShape(QFrame::NoFrame);
    canvas_ = new QWidget;
    canvas_->setObjectName("TabCanvas");
    canvas_->resize(0, 0);
    tabScroll_->setWidget(canvas_);
    tabScroll_->installEventFilter(this);
    setCentralWidget(tabScroll_);
    connect(tabScroll_->verticalScrollBar(), &QScrollBar::valueChanged, this,
            [this] { RealizeVisiblePanels(); });

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
    AddTopMenu(tracksMenu_);

    auto* helpMenu = new QMenu("Help", this);
    helpMenu->setObjectName("Help1");
    AddTopMenu(helpMenu);
    addItem(helpMenu, "Version1", "Version", [this] { Version1Click(); });
    addItem(helpMenu, "MORVEL1", "MORVEL", [this] { MORVEL1Click(); });

    RunFileDialog = [this](const QString& filter) {
        QFileDialog* dialog = OpenMidifile();
        dialog->setNameFilter(filter);
        dialog->selectFile(QString());
        if (!display_.MidiFileDir.empty())
            dialog->setDirectory(QString::fromStdString(display_.MidiFileDir));
        if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
            return QString();
        return dialog->selectedFiles().first();
    };

    FormCreate();
    // The client area below the menu bar is CLIENT_WIDTH x CLIENT_HEIGHT.
    resize(CLIENT_WIDTH, CLIENT_HEIGHT + menuBar->sizeHint().height());
    MeasureCount = 0;
    PanelCount = 0;
    SelectedTrack = 0;
    conv_.MidiFileName.clear();
    HighlightedCanvas = nullptr;
    CentreOnScreen(this);
}

TTabForm::~TTabForm() = default;

void TTabForm::FormCreate() {
    setWindowTitle(VersionBanner());
    conv_.ClearUsedChords();
}

QFileDialog* TTabForm::OpenMidifile() {
    if (!openMidifile_) {
        openMidifile_ = new QFileDialog(this, "Open Midifile");
        openMidifile_->setObjectName("OpenMidifile");
        openMidifile_->setFileMode(QFileDialog::ExistingFile);
        openMidifile_->setAcceptMode(QFileDialog::AcceptOpen);
    }
    return openMidifile_;
}

void TTabForm::AddTopMenu(QMenu* menu) {
    menu->menuAction()->setObjectName(menu->objectName());
    InsertInOrder(menuBar(), menu->menuAction());
}

void TTabForm::AddMenuItem(QMenu* menu, QAction* action) {
    InsertInOrder(menu, action);
}

QMenu* TTabForm::TopMenu(const QString& objectName) const {
    for (QAction* action : menuBar()->actions())
        if (action->objectName() == objectName) return action->menu();
    return nullptr;
}

// ---- File commands ----

void TTabForm::OpenMidifile1Click() {
    ResetTabulature();
    const QString path = RunFileDialog ? RunFileDialog("MID (*.mid)") : QString();
    if (path.isEmpty()) return;
    conv_.MidiFileName = path.toStdString();
    RunConversion();
}

void TTabForm::OpenMidiFilePath(const QString& path) {
    ResetTabulature();
    if (path.isEmpty()) return;
    conv_.MidiFileName = QFileInfo(path).absoluteFilePath().toStdString();
    RunConversion();
}

// Converts MidiFileName, then builds the Tracks menu from whatever was read and remembers the
// file's folder. The conversion's messages are shown by the reporter.
void TTabForm::RunConversion() {
    InvalidateMeasureIndex();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    conv_.ConvertMidiFile();
    QApplication::restoreOverrideCursor();
    InvalidateMeasureIndex();
    BuildTracksMenu();
    const QString path = QString::fromStdString(conv_.MidiFileName);
    QString dir = QFileInfo(path).absolutePath();
    if (!dir.endsWith('/')) dir += '/';
    display_.MidiFileDir = dir.toStdString();
    emit FileOpened(path);
}

void TTabForm::ResetTabulature() {
    FreeMeasurePanels();
    tracksMenu_->clear();
    conv_.ClearUsedChords();
    MeasureCount = 0;
    PanelCount = 0;
    PlayingMeasure = -1;
    HighlightedCanvas = nullptr;
    conv_.MidiFileName.clear();
    conv_.DeleteReportFile();
    InvalidateMeasureIndex();
    emit TabulatureClosed();
}

bool TTabForm::SaveSettingsAndQuit() {
    if (ending_) return true;
    // The settings store writes the INI file here, before the tabulature is closed; when it
    // cannot (it has told the user why), nothing is closed.
    if (WriteSettings && !WriteSettings()) return false;
    ending_ = true;
    ResetTabulature();
    if (versionForm_) versionForm_->close();
    if (helpForm_) helpForm_->close();
    close();
    QApplication::quit();
    return true;
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
    SelectedTrack = tag;
    ShowSelectedTrack();
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

// ---- Panels ----

const TrackRecord* TTabForm::TrackAt(int track) const {
    if (track < 1 || static_cast<size_t>(track) > conv_.TrackList.size()) return nullptr;
    return &conv_.TrackList[static_cast<size_t>(track) - 1];
}

int64_t TTabForm::TrackMeasureCount(int track) const {
    const TrackRecord* record = TrackAt(track);
    if (!record) return -1;
    return morvel::TrackMeasureCount(*record, conv_.Header.Division);
}

const MeasureIndex* TTabForm::IndexOf(int track) {
    const TrackRecord* record = TrackAt(track);
    if (!record) return nullptr;
    if (!index_ || indexTrack_ != track || !index_->Describes(*record, conv_.Header.Division)) {
        index_ = std::make_unique<MeasureIndex>(*record, conv_.Header.Division);
        indexTrack_ = track;
    }
    return index_.get();
}

bool TTabForm::IsMeasureEmpty(int track, int measure) {
    const TrackRecord* record = TrackAt(track);
    if (!record) {
        conv_.ReportError("Invalid Track!");
        return false;
    }
    if (record->Notes.empty()) return true;
    return IndexOf(track)->Find(measure) == nullptr;
}

void TTabForm::ShowSelectedTrack() {
    FreeMeasurePanels();
    InvalidateMeasureIndex();
    if (SelectedTrack == -1) {
        MeasurePanels.push_back({-1, QRect()});
        PanelCount = 1;
        LayoutMeasurePanels();
        return;
    }
    if (SelectedTrack == 0) return;
    PlayingMeasure = -1;
    CreateMeasurePanels();
    LayoutMeasurePanels();
    DrawAllMeasures();
}

void TTabForm::CreateMeasurePanels() {
    FreeMeasurePanels();
    MeasureCount = 0;
    if (SelectedTrack < 1) return;
    MeasureCount = TrackMeasureCount(SelectedTrack);
    MeasurePanels.push_back({0, QRect()});
    if (const MeasureIndex* index = IndexOf(SelectedTrack)) {
        MeasurePanels.reserve(index->Entries().size() + 1);
        for (const MeasureEntry& entry : index->Entries()) {
            if (static_cast<int64_t>(entry.Measure) > MeasureCount ||
                entry.Measure > static_cast<uint32_t>(INT32_MAX))
                break;
            MeasurePanels.push_back({static_cast<int>(entry.Measure), QRect()});
        }
    }
    PanelCount = static_cast<int>(MeasurePanels.size());
}

void TTabForm::FreeMeasurePanels() {
    for (auto& [index, widget] : panelWidgets_) {
        if (HighlightedCanvas == widget) HighlightedCanvas = nullptr;
        delete widget;
    }
    panelWidgets_.clear();
    MeasurePanels.clear();
    PanelCount = 0;
    canvas_->resize(0, 0);
}

void TTabForm::LayoutMeasurePanels() {
    const int perPage = std::max<int>(display_.MeasuresPerPage, 1);
    panelHeight_ = std::max((tabScroll_->height() - HEIGHT_MARGIN) / perPage, 1);
    const int width = std::max(tabScroll_->width() - SCROLL_BAR_ROOM, 1);
    int64_t y = 0;
    int64_t bottom = 0;
    for (PanelRecord& panel : MeasurePanels) {
        int height = panelHeight_;
        if (panel.Tag == -1) {
            // Chord diagrams go three to a row, each row half the scroll box high.
            int used = 0;
            for (int32_t flag : conv_.ChordUsed)
                used += flag ? 1 : 0;
            const int rows = std::max((used + 2) / 3, 1);
            height = std::max(tabScroll_->height(), rows * std::max(tabScroll_->height() / 2, 1));
        }
        const int top = static_cast<int>(std::min<int64_t>(y, QWIDGETSIZE_MAX));
        panel.Geometry = QRect(0, top, width, height);
        bottom = y + height;
        y = y + panelHeight_ + PANEL_GAP;
    }
    canvas_->resize(width, static_cast<int>(std::min<int64_t>(bottom, QWIDGETSIZE_MAX)));
    for (auto& [index, widget] : panelWidgets_)
        widget->setGeometry(MeasurePanels[static_cast<size_t>(index)].Geometry);
    RealizeVisiblePanels();
}

// Creates the widgets of the panels within (or near) the visible part of TabScroll and
// removes the others. Panels are stacked at a fixed pitch, so the range is found by division.
void TTabForm::RealizeVisiblePanels() {
    if (MeasurePanels.empty()) return;
    const int pitch = panelHeight_ + PANEL_GAP;
    const int top = tabScroll_->verticalScrollBar()->value();
    const int bottom = top + std::max(tabScroll_->viewport()->height(), 1);
    const int count = static_cast<int>(MeasurePanels.size());
    const int first = std::max(top / pitch - REALIZE_MARGIN, 0);
    const int last = std::min(bottom / pitch + REALIZE_MARGIN, count - 1);
    for (auto it = panelWidgets_.begin(); it != panelWidgets_.end();) {
        if (it->first < first || it->first > last) {
            if (HighlightedCanvas == it->second) HighlightedCanvas = nullptr;
            delete it->second;
            it = panelWidgets_.erase(it);
        } else {
            ++it;
        }
    }
    for (int j = first; j <= last; ++j) {
        if (panelWidgets_.count(j)) continue;
        const PanelRecord& record = MeasurePanels[static_cast<size_t>(j)];
        auto* widget = new TMeasurePanel(this, record.Tag, canvas_);
        widget->setGeometry(record.Geometry);
        widget->show();
        panelWidgets_[j] = widget;
    }
}

TMeasurePanel* TTabForm::PanelWidget(int tag, bool scrollIntoView) {
    auto it = std::find_if(MeasurePanels.begin(), MeasurePanels.end(),
                           [tag](const PanelRecord& p) { return p.Tag == tag; });
    if (it == MeasurePanels.end()) return nullptr;
    const int j = static_cast<int>(it - MeasurePanels.begin());
    if (scrollIntoView)
        tabScroll_->ensureVisible(0, it->Geometry.top() + it->Geometry.height() / 2, 0,
                                  it->Geometry.height() / 2);
    if (!panelWidgets_.count(j)) {
        auto* widget = new TMeasurePanel(this, it->Tag, canvas_);
        widget->setGeometry(it->Geometry);
        widget->show();
        panelWidgets_[j] = widget;
    }
    return panelWidgets_[j];
}

std::vector<TMeasurePanel*> TTabForm::PanelWidgets() const {
    std::vector<TMeasurePanel*> widgets;
    for (const auto& [index, widget] : panelWidgets_)
        widgets.push_back(widget);
    return widgets;
}

bool TTabForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == tabScroll_ && event->type() == QEvent::Resize) formresize();
    return QMainWindow::eventFilter(watched, event);
}

void TTabForm::formresize() {
    QScrollBar* bar = tabScroll_->verticalScrollBar();
    const int position = bar->value();
    {
        const QSignalBlocker blocker(bar);
        bar->setValue(0);
    }
    bar->setTracking(true);
    LayoutMeasurePanels();
    bar->setValue(position);
    RealizeVisiblePanels();
}

void TTabForm::DrawAllMeasures() {
    if (SelectedTrack < 1) return;
    for (auto& [index, widget] : panelWidgets_)
        widget->update();
}

void TTabForm::PanelPaint(TMeasurePanel* panel) {
    QPainter painter(panel);
    if (panel->Tag() == -1) {
        PaintPanelBackground(painter, 0, 0, panel->width(), panel->height());
        if (ChordViewPainter) {
            ChordViewPainter(painter, panel->rect());
            return;
        }
        QStringList names;
        for (int i = 0; i < CHORD_COUNT; ++i)
            if (conv_.ChordUsed[static_cast<size_t>(i)])
                names << QString::fromLatin1(ChordNames[static_cast<size_t>(i)]).trimmed();
        painter.setPen(ToColor(display_.NotesColor));
        DrawText(painter, 10, 5, "Chords used: " + (names.isEmpty() ? "none" : names.join(", ")));
        return;
    }
    DrawMeasure(painter, 0, 0, panel->width(), panel->height(), SelectedTrack, panel->Tag(),
                SCREEN_TEXT_UNIT);
}

} // namespace morvel
