// The main window: opens a MIDI file, converts it through the core, lists its tracks in the
// Tracks menu and shows the chosen track as a stack of measure panels in its scroll box.
//
// Panels are logical records (tag and geometry); a panel widget exists only while its panel
// is within or near the visible part of TabScroll, so a track of any length opens and scrolls
// at the cost of the few panels on screen. Each painted measure is found through a measure
// index built once per shown track.
#pragma once

#include "core/Conversion.h"
#include "core/DisplaySettings.h"
#include "view/MeasureIndex.h"

#include <QMainWindow>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <vector>

class QFileDialog;
class QMenu;
class QAction;
class QPainter;
class QPaintDevice;
class QScrollArea;

namespace morvel {

class TTabForm;
class TVersionForm;
class THelpForm;

// One panel of the view: tag 0 = summary, N = measure N, -1 = chord view.
class TMeasurePanel : public QWidget {
    Q_OBJECT
  public:
    TMeasurePanel(TTabForm* form, int tag, QWidget* parent);
    int Tag() const { return tag_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    TTabForm* form_;
    int tag_;
};

// A panel of the view whether or not its widget exists at the moment.
struct PanelRecord {
    int Tag = 0;
    QRect Geometry;
};

class TTabForm : public QMainWindow {
    Q_OBJECT
  public:
    TTabForm(Conversion& conversion, DisplaySettings& display, QWidget* parent = nullptr);
    ~TTabForm() override;

    // ---- File commands ----
    void OpenMidifile1Click();
    // Opens `path` without the dialog (command line, "Open with"): the same steps as the menu
    // command after its dialog.
    void OpenMidiFilePath(const QString& path);
    void CloseTabulature1Click() { ResetTabulature(); }
    void Quit1Click() { SaveSettingsAndQuit(); }
    // Closes the tabulature: panels, Tracks menu, chord flags, file name and report file.
    void ResetTabulature();
    // The one ending of the program, for Quit and for closing the window.
    // False when the settings could not be written: the ending is then abandoned and the
    // program keeps running with everything open.
    bool SaveSettingsAndQuit();

    void BuildTracksMenu();
    void TrackMenuClick(int tag);
    void Version1Click();
    void MORVEL1Click();

    // ---- The view ----
    void ShowSelectedTrack();
    void CreateMeasurePanels();
    void FreeMeasurePanels();
    void LayoutMeasurePanels();
    void DrawAllMeasures();
    void PanelPaint(TMeasurePanel* panel);

    // Draws measure `measure` of track `track` (the summary when `measure` is 0) into the
    // rectangle (X, Y, X + W, Y + H) of `canvas`, with text unit `u`. Returns 1 when it drew,
    // 0 when it drew nothing. Serves screen, printer and pictures alike.
    int DrawMeasure(QPainter& canvas, int X, int Y, int W, int H, int track, int measure, int u);
    void DrawMusic(QPainter& canvas, int X, int Y, int W, int H, bool summary, int u);
    void PaintPanelBackground(QPainter& canvas, int X, int Y, int W, int H);
    bool IsMeasureEmpty(int track, int measure);
    // EndTime / MeasureTicks + 1 of the track (1 without a measure length); -1 when there is
    // no track at that 1-based position.
    int64_t TrackMeasureCount(int track) const;

    // The font measures are drawn in: "Liberation Mono", fixed pitch, at the size of `base`.
    static QFont MeasureFont(const QFont& base);
    static QColor ToColor(uint32_t colorRef);

    // ---- State read by the other windows ----
    int SelectedTrack = 0;
    int64_t MeasureCount = 0;
    int PanelCount = 0;
    std::vector<PanelRecord> MeasurePanels;
    const QPaintDevice* HighlightedCanvas = nullptr;
    int PlayingMeasure = -1; // measure the player marks as playing; -1 none

    QScrollArea* TabScroll() const { return tabScroll_; }
    QFileDialog* OpenMidifile();
    QMenu* TracksMenu() const { return tracksMenu_; }
    Conversion& Conv() { return conv_; }
    DisplaySettings& Display() { return display_; }

    // Runs the file dialog with `filter` and answers the chosen path, or an empty text on
    // cancel. Tests replace it to answer without showing a dialog.
    std::function<QString(const QString& filter)> RunFileDialog;
    // Draws the chord view's panel; until a chord diagram drawing is installed the view lists
    // the names of the used chords.
    std::function<void(QPainter&, const QRect&)> ChordViewPainter;
    // Writes the settings before the program ends; installed by the settings store. False
    // when they could not be written.
    std::function<bool()> WriteSettings;

    // Adds a menu or a menu item at its place in the menu bar's fixed order (by objectName).
    void AddTopMenu(QMenu* menu);
    void AddMenuItem(QMenu* menu, QAction* action);
    QMenu* TopMenu(const QString& objectName) const;

    // The panel widget showing `tag`, created (and scrolled into view) on request.
    TMeasurePanel* PanelWidget(int tag, bool scrollIntoView = false);
    // Panel widgets that exist now, in panel order.
    std::vector<TMeasurePanel*> PanelWidgets() const;

    // The measure index of `track`, built when missing or stale; nullptr for an invalid track.
    const MeasureIndex* IndexOf(int track);
    void InvalidateMeasureIndex() { index_.reset(); }

  signals:
    // A file was opened and converted (whatever the conversion reported).
    void FileOpened(const QString& path);
    // The tabulature was closed: no file is open any more.
    void TabulatureClosed();

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void FormCreate();
    void formresize();
    void RunConversion();
    void RealizeVisiblePanels();
    void DrawColumn(QPainter& canvas, int X, int Y, int S, int u, int xc, const TabColumn& column,
                    bool lastColumn);
    void DrawText(QPainter& canvas, int x, int y, const QString& text);
    const TrackRecord* TrackAt(int track) const;

    Conversion& conv_;
    DisplaySettings& display_;
    QScrollArea* tabScroll_ = nullptr;
    QWidget* canvas_ = nullptr; // content of TabScroll: holds the panel widgets
    QMenu* tracksMenu_ = nullptr;
    QPointer<QFileDialog> openMidifile_;
    QPointer<TVersionForm> versionForm_;
    QPointer<THelpForm> helpForm_;
    std::map<int, TMeasurePanel*> panelWidgets_; // panel index -> widget
    std::unique_ptr<MeasureIndex> index_;
    int indexTrack_ = 0;
    int panelHeight_ = 1;
    bool ending_ = false;
};

} // namespace morvel
