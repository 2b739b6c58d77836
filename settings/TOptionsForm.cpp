#include "settings/TOptionsForm.h"

#include "core/SettingsTable.h"
#include "core/Tunings.h"
#include "widgets/Screen.h"
#include "widgets/UpDown.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <map>
#include <string>
#include <string_view>

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
// Left edge of the second column of check boxes.
constexpr int OPTIMISE_FINGERING_LEFT = 234;
constexpr int MEASURES_PER_PAGE_AT_START = 3;

const char* const TUNING_LIST[] = {"Standard", "Drop D", "Open E", "Open D",
                                   "Open G",   "A",      "Custom"};
constexpr const char* CUSTOM_TUNING = "Custom";

// The setting an up-down or check box of the dialog shows.
const SettingRow& RowOfControl(std::string_view control) {
    for (const SettingRow& row : SettingRows())
        if (row.Control && control == row.Control) return row;
    qFatal("No setting for the control %s", std::string(control).c_str());
}

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
    // The up-down's range is its setting's.
    // `accessible` names the field and its arrows for assistive tools (the caption over it).
    auto valueControl = [&](const char* editName, const char* upDownName, const char* accessible,
                            int x, int y, int w, int editTab, int upDownTab) {
        const SettingRow& row = RowOfControl(upDownName);
        const int min = row.Min;
        auto* edit = new QLineEdit(this);
        edit->setObjectName(editName);
        edit->setGeometry(x, y, w, FIELD_HEIGHT);
        auto* upDown = new UpDown(edit, min, row.Max, this);
        upDown->setObjectName(upDownName);
        upDown->setGeometry(x + w, y, UP_DOWN_WIDTH, FIELD_HEIGHT);
        upDown->SetPosition(min > 0 ? min : 0);
        upDown->SetAccessibleNames(accessible);
        tabOrder[editTab] = edit;
        tabOrder[upDownTab] = upDown;
        return upDown;
    };
    auto checkBox = [&](const char* name, const char* caption, int y, int w, int tab,
                        int x = CHECK_BOX_LEFT) {
        auto* box = new QCheckBox(caption, this);
        box->setObjectName(name);
        box->setGeometry(x, y, w, CHECK_BOX_HEIGHT);
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
    QLabel* tuningLabel = label("Label3", "Tuning:", 10, 177, 54, 20);
    label("Label2", "Measures Per Page:", 197, 177, 151, 20);

    measuresHeightUpDown_ = valueControl("MeasuresPerHeightEdit", "MeasuresHeightUpDown",
                                         "Measures Per Height", 79, 59, 60, 0, 28);
    measuresWidthUpDown_ = valueControl("MeasuresPerWidthEdit", "MeasuresWidthUpDown",
                                        "Measures Per Width", 233, 59, 60, 1, 27);
    transposeUpDown_ =
        valueControl("TransposeEdit", "TransposeUpDown", "Transpose", 10, 148, 149, 2, 18);
    maxFretUpDown_ =
        valueControl("MaxFretEdit", "MaxFretUpDown", "Max Fret Number", 197, 148, 149, 3, 29);
    maxFretUpDown_->SetPosition(static_cast<int>(Setting("MAXFRET").Default));
    measuresUpDown_ = valueControl("MeasuresPerPageEdit", "MeasuresUpDown", "Measures Per Page",
                                   197, 197, 149, 5, 20);

    tuningComboBox_ = new QComboBox(this);
    tuningComboBox_->setObjectName("TuningComboBox");
    tuningComboBox_->setGeometry(10, 197, 168, FIELD_HEIGHT);
    tuningComboBox_->setEditable(true);
    tuningComboBox_->setInsertPolicy(QComboBox::NoInsert);
    tuningComboBox_->setCompleter(nullptr); // typed text is taken as it stands
    // Assistive tools on this platform read an editable box's text as its name: the name goes
    // on its field too, and the caption over it labels it.
    tuningComboBox_->setAccessibleName("Tuning");
    tuningComboBox_->lineEdit()->setAccessibleName("Tuning");
    tuningLabel->setBuddy(tuningComboBox_);
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
    // The offsets' names tell the two E strings apart.
    const char* const offsetNames[STRING_COUNT] = {"Low E string offset", "A string offset",
                                                   "D string offset",     "G string offset",
                                                   "B string offset",     "High E string offset"};
    for (int k = 0; k < STRING_COUNT; ++k) {
        const int x = 10 + 59 * k;
        const int w = k == 0 ? 40 : 41;
        const QByteArray labelName = "TransposeLabel" + QByteArray::number(k + 1);
        // The string label sits over its field and up-down together.
        label(labelName.constData(), stringNames[k], x, 236, w + UP_DOWN_WIDTH, 20);
        const QByteArray editName = "TransposeDelta" + QByteArray::number(k + 1);
        const QByteArray upDownName = "UpDownDelta" + QByteArray::number(k + 1);
        deltaUpDowns_[k] = valueControl(editName.constData(), upDownName.constData(),
                                        offsetNames[k], x, 256, w, 6 + k, 21 + k);
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
    // Beside "Show Chords": the dialog keeps its size and every other control its place.
    optimiseFingeringToggle_ = checkBox("OptimiseFingeringToggle", "Optimise Fingering", 295,
                                        138, 31, OPTIMISE_FINGERING_LEFT);
    optimiseFingeringToggle_->setAccessibleName("Optimise Fingering");
    // Beside "Force Fit Notes", under the option it refines.
    stringsFromChannelsToggle_ = checkBox("StringsFromChannelsToggle", "Strings by Channel",
                                          315, 141, 32, OPTIMISE_FINGERING_LEFT);
    stringsFromChannelsToggle_->setToolTip(
        "With Optimise Fingering: a track whose MIDI channels name its strings keeps them");
    // Beside "Metronome".
    lenientReadingToggle_ =
        checkBox("LenientReadingToggle", "Lenient reading", 354, 130, 33, OPTIMISE_FINGERING_LEFT);
    lenientReadingToggle_->setToolTip(
        "Read MIDI files by the Standard MIDI File rules where the program's own are stricter");
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
    for (const SettingRow& row : SettingRows())
        if (row.Control) controls_.push_back({&row, findChild<QWidget*>(row.Control)});
    FormCreate();
}

SettingHomes TOptionsForm::Homes() {
    return SettingHomes{&conv_.Settings, &conv_.TuningSettings, &display_};
}

void TOptionsForm::FormCreate() {
    display_.MeasuresPerPage = MEASURES_PER_PAGE_AT_START;
}

void TOptionsForm::ShowCentred() {
    CentreOnScreen(this);
    show();
    raise();
    activateWindow();
    FillOptionsDialog();
}

// Every up-down holds a 16-bit position; a check box is checked when its setting is not zero.
void TOptionsForm::FillOptionsDialog() {
    const SettingHomes homes = Homes();
    for (const auto& [row, control] : controls_) {
        const int64_t value = row->Number.Get(homes);
        if (row->Kind == SettingKind::Switch)
            static_cast<QCheckBox*>(control)->setChecked(value != 0);
        else
            static_cast<UpDown*>(control)->SetPosition(static_cast<int16_t>(value));
    }
}

void TOptionsForm::ShowTuningName() {
    const QString name = QString::fromStdString(display_.TuningName);
    if (tuningComboBox_->currentText() == name) return;
    showingTuningName_ = true;
    tuningComboBox_->setEditText(name);
    showingTuningName_ = false;
}

void TOptionsForm::ApplyOptions() {
    const SettingHomes homes = Homes();
    for (const auto& [row, control] : controls_) {
        if (row->Kind == SettingKind::Switch)
            row->Number.Set(homes, static_cast<QCheckBox*>(control)->isChecked() ? 1 : 0);
        else
            row->Number.Set(homes, static_cast<UpDown*>(control)->Position());
    }

    // The one way to convert again is the main window's, which listens.
    emit OptionsApplied();
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
    emit ForceFitChanged();
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
