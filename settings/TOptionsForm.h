// The options dialog: transposition, tuning with per-string offsets, maximum fret, measures per
// window height, measures across and down a printed page, and seven switches. Not modal; its
// values reach the settings only through ApplyOptions (Apply, Close, the close box or Escape),
// except "Force Fit Notes", which takes effect at each click.
#pragma once

#include "core/Conversion.h"
#include "core/DisplaySettings.h"
#include "core/SettingsTable.h"

#include <QDialog>

#include <array>
#include <utility>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace morvel {

class UpDown;

class TOptionsForm : public QDialog {
    Q_OBJECT
  public:
    static constexpr int CLIENT_WIDTH = 375;
    static constexpr int CLIENT_HEIGHT = 462;

    TOptionsForm(Conversion& conversion, DisplaySettings& display, QWidget* parent = nullptr);

    // Centres the dialog on its screen, shows it, brings it to the front and fills it.
    void ShowCentred();
    // Copies the settings into the controls (the tuning box is left alone).
    void FillOptionsDialog();
    // Copies the controls into the settings and announces OptionsApplied, on which the main
    // window converts the open file again.
    void ApplyOptions();
    // Shows `TuningName` as the tuning box's text without selecting a tuning.
    void ShowTuningName();

    // The tuning box's change handler: applies the named tuning's offsets to the delta
    // up-downs; "Custom" resets them and leaves the fields enabled, any other text disables them.
    void SelectTuning(const QString& text);
    void ForceFitToggleClick(bool checked);
    void EnableDeltaEdits();
    void DisableDeltaEdits();

    void ApplyClick() { ApplyOptions(); }
    void CloseClick();

    UpDown* TransposeUpDown() const { return transposeUpDown_; }
    UpDown* MaxFretUpDown() const { return maxFretUpDown_; }
    UpDown* MeasuresUpDown() const { return measuresUpDown_; }
    UpDown* MeasuresWidthUpDown() const { return measuresWidthUpDown_; }
    UpDown* MeasuresHeightUpDown() const { return measuresHeightUpDown_; }
    UpDown* DeltaUpDown(int k) const { return deltaUpDowns_[k]; } // k 0..5, sixth string first
    QComboBox* TuningComboBox() const { return tuningComboBox_; }

  signals:
    // The dialog's values went into the settings (Apply, Close, the close box or Escape).
    void OptionsApplied();
    // "Force Fit Notes" was clicked: its setting changed at once, without a conversion.
    void ForceFitChanged();

  public slots:
    // Escape and the close box: the dialog hides and the options are applied.
    void reject() override;

  private:
    void FormCreate();
    SettingHomes Homes();

    Conversion& conv_;
    DisplaySettings& display_;
    bool showingTuningName_ = false;

    UpDown* transposeUpDown_ = nullptr;
    UpDown* maxFretUpDown_ = nullptr;
    UpDown* measuresUpDown_ = nullptr;
    UpDown* measuresWidthUpDown_ = nullptr;
    UpDown* measuresHeightUpDown_ = nullptr;
    std::array<UpDown*, STRING_COUNT> deltaUpDowns_{};
    std::array<QLineEdit*, STRING_COUNT> deltaEdits_{};
    QComboBox* tuningComboBox_ = nullptr;
    QCheckBox* chordsToggle_ = nullptr;
    QCheckBox* forceFitToggle_ = nullptr;
    QCheckBox* specialParametersToggle_ = nullptr;
    QCheckBox* metronomeToggle_ = nullptr;
    QCheckBox* bassModeToggle_ = nullptr;
    QCheckBox* followMusicToggle_ = nullptr;
    QCheckBox* optimiseFingeringToggle_ = nullptr;
    QCheckBox* stringsFromChannelsToggle_ = nullptr;
    QCheckBox* lenientReadingToggle_ = nullptr;
    // Each setting the dialog shows, with its up-down or check box.
    std::vector<std::pair<const SettingRow*, QWidget*>> controls_;
};

} // namespace morvel
