#include "settings/TOptionsForm.h"

#include "core/Tunings.h"
#include "widgets/UpDown.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include <map>

namespace morvel {

namespace {

// The dialog's font: a sans-serif face that exists here, at a pixel size where every caption
// fits its box.
constexpr const char* DIALOG_FONT_FAMILY = "Liberation Sans";
constexpr int DIALOG_FONT_PIXELS = 13;
constexpr int HEADING_FONT_PIXELS = 18;
// Width of an up-down attached at the right of its text field.
constexpr int UP_DOWN_WIDTH = 17;
constexpr int FIELD_HEIGHT = 24;
constexpr int CHECK_BOX_LEFT = 108;
constexpr int CHECK_BOX_HEIGHT = 21;
constexpr int MEASURES_PER_PAGE_AT_START = 3;

const char* const TUNING_LIST[] = {"Standard", "Drop D", "Open E", "Open D",
                                   "Open G",   "A",      "Custom"};
constexpr const char* CUSTOM_TUNING = "Custom";

} // namespace

TOptionsForm::TOptionsForm(Conversion& conversion, DisplaySettings& display, QWidget* parent)
    : QDialog(parent), conv_(conversion), display_(display) {
    setObjectName("OptionsForm");
    setWindowTitle("Options");
    setModal(false);
    setFixedSize(CLIENT_WIDTH, CLIENT_HEIGHT);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    QFont dialogFont(DIALOG_FONT_FAMILY);
    dialogFont.setPixelSize(DIALOG_FONT_PIXELS);
    setFont(dialogFont);
    setCursor(Qt::DragMoveCursor);

    std::map<int, QWidget*> tabOrder;

    auto label = [this](const char* name, const char* caption, int x, int y, int w, int h,
                        bool heading = false) {
        auto* l = new QLabel(caption, this);
        l->setObjectName(name);
        l->setGeometry(x, y, w, h);
        l->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
        l->setCursor(Qt::ArrowCursor);
        if (heading) {
            QFont f = l->font();
            f.setBold(true);
            f.setPixelSize(HEADING_FONT_PIXELS);
            l->setFont(f);
            QPalette p = l->palette();
            p.setColor(QPalette::WindowText, Qt::black);
            l->setPalette(p);
        }
        return l;
    };
    auto valueControl = [&](const char* editName, const char* upDownName, int x, int y, int w,
                            int editTab, int min, int max, int upDownTab) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(editName);
        edit->setGeometry(x, y, w, FIELD_HEIGHT);
        auto* upDown = new UpDown(edit, min, max, this);
        upDown->setObjectName(upDownName);
        upDown->setGeometry(x + w, y, UP_DOWN_WIDTH, FIELD_HEIGHT);
        upDown->SetPosition(min > 0 ? min : 0);
        tabOrder[editTab] = edit;
        tabOrder[upDownTab] = upDown;
        return upDown;
    };
    auto checkBox = [&](const char* name, const char* caption, int y, int w, int tab) {
        auto* box = new QCheckBox(caption, this);
        box->setObjectName(name);
        box->setGeometry(CHECK_BOX_LEFT, y, w, CHECK_BOX_HEIGHT);
        box->setCursor(Qt::ArrowCursor);
        tabOrder[tab] = box;
        return box;
    };

    label("Label4", "Printing Options:", 0, 0, 162, 25, true);
    label("Label6", "Measures Per Height", 43, 39, 155, 18);
    label("Label5", "Measures Per Width", 208, 39, 138, 18);
    label("Label7", "Notation Options:", 0, 98, 169, 25, true);
    label("Label1", "Transpose:", 10, 128, 85, 20);
    label("Label8", "Max Fret Number", 197, 128, 125, 20);
    label("Label3", "Tuning:", 10, 177, 54, 20);
    label("Label2", "Measures Per Page:", 197, 177, 151, 20);

    measuresHeightUpDown_ =
        valueControl("MeasuresPerHeightEdit", "MeasuresHeightUpDown", 79, 59, 60, 0, 1, 10, 28);
    measuresWidthUpDown_ =
        valueControl("MeasuresPerWidthEdit", "MeasuresWidthUpDown", 233, 59, 60, 1, 1, 10, 27);
    transposeUpDown_ =
        valueControl("TransposeEdit", "TransposeUpDown", 10, 148, 149, 2, -25, 25, 18);
    maxFretUpDown_ = valueControl("MaxFretEdit", "MaxFretUpDown", 197, 148, 149, 3, 19, 27, 29);
    maxFretUpDown_->SetPosition(21);
    measuresUpDown_ =
        valueControl("MeasuresPerPageEdit", "MeasuresUpDown", 197, 197, 149, 5, 1, 6, 20);

    tuningComboBox_ = new QComboBox(this);
    tuningComboBox_->setObjectName("TuningComboBox");
    tuningComboBox_->setGeometry(10, 197, 168, FIELD_HEIGHT);
    tuningComboBox_->setEditable(true);
    tuningComboBox_->setInsertPolicy(QComboBox::NoInsert);
    tuningComboBox_->setCompleter(nullptr); // typed text is taken as it stands
    tuningComboBox_->setCursor(Qt::ArrowCursor);
    for (const char* name : TUNING_LIST)
        tuningComboBox_->addItem(name);
    tuningComboBox_->setEditText(QString::fromStdString(display_.TuningName));
    tabOrder[4] = tuningComboBox_;
    connect(tuningComboBox_, &QComboBox::editTextChanged, this, [this](const QString& text) {
        display_.TuningName = text.toStdString();
        if (!showingTuningName_) SelectTuning(text);
    });

    const char* const stringNames[STRING_COUNT] = {"E", "A", "D", "G", "B", "E"};
    for (int k = 0; k < STRING_COUNT; ++k) {
        const int x = 10 + 59 * k;
        const int w = k == 0 ? 40 : 41;
        const QByteArray labelName = "TransposeLabel" + QByteArray::number(k + 1);
        // The string label sits over its field and up-down together.
        label(labelName.constData(), stringNames[k], x, 236, w + UP_DOWN_WIDTH, 20);
        const QByteArray editName = "TransposeDelta" + QByteArray::number(k + 1);
        const QByteArray upDownName = "UpDownDelta" + QByteArray::number(k + 1);
        deltaUpDowns_[k] = valueControl(editName.constData(), upDownName.constData(), x, 256, w,
                                        6 + k, -12, 12, 21 + k);
        deltaEdits_[k] = deltaUpDowns_[k]->Buddy();
    }

    chordsToggle_ = checkBox("ChordsToggle", "Show Chords", 295, 120, 12);
    forceFitToggle_ = checkBox("ForceFitToggle", "Force Fit Notes", 315, 120, 13);
    specialParametersToggle_ =
        checkBox("SpecialParametersToggle", "Show Special Parameters", 335, 179, 14);
    metronomeToggle_ = checkBox("MetronomeToggle", "Metronome", 354, 120, 15);
    bassModeToggle_ = checkBox("BassModeToggle", "Bass Mode", 374, 120, 16);
    followMusicToggle_ =
        checkBox("FollowMusicToggle", "Follow Music with AutoScroll", 394, 248, 30);
    connect(forceFitToggle_, &QCheckBox::clicked, this, &TOptionsForm::ForceFitToggleClick);

    auto button = [&](const char* name, const char* caption, int x, int w, int tab) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(name);
        b->setGeometry(x, 421, w, 31);
        b->setAutoDefault(false);
        b->setCursor(Qt::ArrowCursor);
        tabOrder[tab] = b;
        return b;
    };
    connect(button("Button2", "Apply", 98, 93, 17), &QPushButton::clicked, this,
            &TOptionsForm::ApplyClick);
    connect(button("Button1", "Close", 197, 92, 19), &QPushButton::clicked, this,
            &TOptionsForm::CloseClick);

    // The up-downs take no focus (their fields step with the arrow keys), so the chain runs
    // through the focusable controls in their order.
    QWidget* previous = nullptr;
    for (auto& [order, widget] : tabOrder) {
        if (widget->focusPolicy() == Qt::NoFocus) continue;
        if (previous) setTabOrder(previous, widget);
        previous = widget;
    }
    FormCreate();
}

void TOptionsForm::FormCreate() {
    display_.MeasuresPerPage = MEASURES_PER_PAGE_AT_START;
}

void TOptionsForm::ShowCentred() {
    const QRect screen = this->screen() ? this->screen()->geometry() : QRect();
    move(screen.x() + (screen.width() - width()) / 2,
         screen.y() + (screen.height() - height()) / 2);
    show();
    raise();
    activateWindow();
    FillOptionsDialog();
}

void TOptionsForm::FillOptionsDialog() {
    const ConversionSettings& s = conv_.Settings;
    const Tuning& t = conv_.TuningSettings;
    transposeUpDown_->Buddy()->setText(QString::number(t.Transpose));
    specialParametersToggle_->setChecked(s.ShowSpecial != 0);
    chordsToggle_->setChecked(s.ShowChord != 0);
    forceFitToggle_->setChecked(s.ForceFitFret != 0);
    metronomeToggle_->setChecked(s.ShowMetronome != 0);
    bassModeToggle_->setChecked(s.BassMode != 0);
    followMusicToggle_->setChecked(s.FollowMusic != 0);
    measuresWidthUpDown_->SetPosition(s.PrintMeasPerWidth);
    measuresHeightUpDown_->SetPosition(s.PrintMeasPerHeight);
    measuresUpDown_->SetPosition(display_.MeasuresPerPage);
    transposeUpDown_->SetPosition(t.Transpose);
    maxFretUpDown_->SetPosition(static_cast<int16_t>(static_cast<uint16_t>(s.MaxFret)));
    for (int k = 0; k < STRING_COUNT; ++k)
        deltaUpDowns_[k]->SetPosition(t.CustomDelta[k]);
}

void TOptionsForm::ShowTuningName() {
    const QString name = QString::fromStdString(display_.TuningName);
    if (tuningComboBox_->currentText() == name) return;
    showingTuningName_ = true;
    tuningComboBox_->setEditText(name);
    showingTuningName_ = false;
}

void TOptionsForm::ApplyOptions() {
    ConversionSettings& s = conv_.Settings;
    s.ShowChord = chordsToggle_->isChecked() ? 1 : 0;
    s.ShowSpecial = specialParametersToggle_->isChecked() ? 1 : 0;
    s.ShowMetronome = metronomeToggle_->isChecked() ? 1 : 0;
    s.ForceFitFret = forceFitToggle_->isChecked() ? 1 : 0;
    s.BassMode = bassModeToggle_->isChecked() ? 1 : 0;
    s.FollowMusic = followMusicToggle_->isChecked() ? 1 : 0;

    display_.MeasuresPerPage = static_cast<int16_t>(measuresUpDown_->Position());
    conv_.TuningSettings.Transpose = static_cast<int8_t>(transposeUpDown_->Position());
    for (int k = 0; k < STRING_COUNT; ++k)
        conv_.TuningSettings.CustomDelta[k] = static_cast<int16_t>(deltaUpDowns_[k]->Position());
    s.PrintMeasPerWidth = static_cast<int16_t>(measuresWidthUpDown_->Position());
    s.PrintMeasPerHeight = static_cast<int16_t>(measuresHeightUpDown_->Position());
    s.MaxFret = maxFretUpDown_->Position();

    if (hooks_.BuildTracksMenu) hooks_.BuildTracksMenu();
    if (!conv_.MidiFileName.empty()) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        if (hooks_.ConvertMidiFile) {
            hooks_.ConvertMidiFile();
        } else {
            conv_.ConvertMidiFile(); // replaces the report of the previous conversion
        }
        QApplication::restoreOverrideCursor();
    }
    if (hooks_.ShowSelectedTrack) hooks_.ShowSelectedTrack();
}

void TOptionsForm::SelectTuning(const QString& text) {
    if (text == CUSTOM_TUNING) {
        for (UpDown* upDown : deltaUpDowns_)
            upDown->SetPosition(0);
        EnableDeltaEdits();
        return;
    }
    EnableDeltaEdits();
    if (auto preset = FindTuningPreset(text.toStdString()))
        for (int k = 0; k < STRING_COUNT; ++k)
            deltaUpDowns_[k]->SetPosition(preset->Delta[k]);
    DisableDeltaEdits();
}

void TOptionsForm::ForceFitToggleClick(bool checked) {
    conv_.Settings.ForceFitFret = checked ? 1 : 0;
}

void TOptionsForm::EnableDeltaEdits() {
    for (QLineEdit* edit : deltaEdits_)
        edit->setEnabled(true);
}

void TOptionsForm::DisableDeltaEdits() {
    for (QLineEdit* edit : deltaEdits_)
        edit->setEnabled(false);
}

void TOptionsForm::CloseClick() {
    hide();
    ApplyOptions();
}

void TOptionsForm::reject() {
    if (!isVisible()) return;
    CloseClick();
    setResult(QDialog::Rejected);
}

} // namespace morvel
