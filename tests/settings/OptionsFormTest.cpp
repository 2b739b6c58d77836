#include "SettingsTestSupport.h"
#include "settings/TOptionsForm.h"
#include "widgets/UpDown.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace morvel;

namespace {

struct Form {
    Conversion conv;
    DisplaySettings display;
    TOptionsForm form{conv, display};
    int applied = 0; // OptionsApplied announcements

    Form() {
        conv.SetReporter([](const std::string&) {});
        // As the main window does: an open file is converted again.
        QObject::connect(&form, &TOptionsForm::OptionsApplied, [this] {
            ++applied;
            if (!conv.MidiFileName.empty()) conv.ConvertMidiFile();
        });
    }
    template <typename T> T* Get(const char* name) {
        T* widget = form.findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    std::array<int, 6> Deltas() {
        std::array<int, 6> d{};
        for (int k = 0; k < 6; ++k)
            d[k] = form.DeltaUpDown(k)->Position();
        return d;
    }
    bool DeltaEditsEnabled() {
        bool all = true, none = true;
        for (int k = 1; k <= 6; ++k) {
            bool on = Get<QLineEdit>(("TransposeDelta" + std::to_string(k)).c_str())->isEnabled();
            all = all && on;
            none = none && !on;
        }
        EXPECT_TRUE(all || none) << "delta fields disagree";
        return all;
    }
    void Type(const QString& text) {
        QLineEdit* edit = form.TuningComboBox()->lineEdit();
        edit->clear();
        QTest::keyClicks(edit, text);
    }
};

struct ValueControl {
    const char* edit;
    const char* upDown;
    QRect editGeometry;
    int min, max, initial;
    const char* accessible;
};

// clang-format off
const ValueControl VALUE_CONTROLS[] = {
    {"TransposeEdit", "TransposeUpDown", {10, 148, 149, 24}, -25, 25, 0, "Transpose"},
    {"MaxFretEdit", "MaxFretUpDown", {197, 148, 149, 24}, 19, 27, 21, "Max Fret Number"},
    {"MeasuresPerPageEdit", "MeasuresUpDown", {197, 197, 149, 24}, 1, 6, 1, "Measures Per Page"},
    {"MeasuresPerWidthEdit", "MeasuresWidthUpDown", {233, 59, 60, 24}, 1, 10, 1, "Measures Per Width"},
    {"MeasuresPerHeightEdit", "MeasuresHeightUpDown", {79, 59, 60, 24}, 1, 10, 1, "Measures Per Height"},
    {"TransposeDelta1", "UpDownDelta1", {10, 256, 40, 24}, -12, 12, 0, "Low E string offset"},
    {"TransposeDelta2", "UpDownDelta2", {69, 256, 41, 24}, -12, 12, 0, "A string offset"},
    {"TransposeDelta3", "UpDownDelta3", {128, 256, 41, 24}, -12, 12, 0, "D string offset"},
    {"TransposeDelta4", "UpDownDelta4", {187, 256, 41, 24}, -12, 12, 0, "G string offset"},
    {"TransposeDelta5", "UpDownDelta5", {246, 256, 41, 24}, -12, 12, 0, "B string offset"},
    {"TransposeDelta6", "UpDownDelta6", {305, 256, 41, 24}, -12, 12, 0, "High E string offset"},
};
// clang-format on

} // namespace

TEST(OptionsForm, ValueControlsHaveTheirPlacesRangesAndStartValues) {
    Form f;
    EXPECT_EQ(f.form.windowTitle(), "Options");
    EXPECT_EQ(f.form.size(), QSize(375, 462));
    EXPECT_EQ(f.form.minimumSize(), f.form.maximumSize());
    EXPECT_EQ(f.display.MeasuresPerPage, 3); // set when the dialog is created
    for (const ValueControl& c : VALUE_CONTROLS) {
        auto* edit = f.Get<QLineEdit>(c.edit);
        auto* upDown = f.Get<UpDown>(c.upDown);
        ASSERT_TRUE(edit && upDown);
        EXPECT_EQ(edit->geometry(), c.editGeometry) << c.edit;
        EXPECT_TRUE(edit->isReadOnly()) << c.edit;
        EXPECT_EQ(upDown->geometry().left(), c.editGeometry.right() + 1) << c.upDown;
        EXPECT_EQ(upDown->Buddy(), edit);
        EXPECT_EQ(upDown->Position(), c.initial) << c.upDown;
        EXPECT_EQ(edit->text(), QString::number(c.initial)) << c.edit;
        upDown->SetPosition(1000); // no wrapping: stops at the ends
        EXPECT_EQ(upDown->Position(), c.max) << c.upDown;
        upDown->StepBy(-1000);
        EXPECT_EQ(upDown->Position(), c.min) << c.upDown;
        EXPECT_EQ(edit->text(), QString::number(c.min)) << c.edit;
        // Assistive tools find the field and its arrows by name.
        EXPECT_EQ(edit->accessibleName(), c.accessible);
        EXPECT_EQ(upDown->DownButton()->accessibleName(), QString(c.accessible) + " down");
    }
    EXPECT_EQ(f.form.TuningComboBox()->lineEdit()->accessibleName(), "Tuning");
}

TEST(OptionsForm, OtherControlsHaveTheirCaptionsAndPlaces) {
    Form f;
    struct Box {
        const char* name;
        const char* caption;
        QRect geometry;
    };
    for (const Box& b :
         {Box{"ChordsToggle", "Show Chords", {108, 295, 120, 21}},
          Box{"ForceFitToggle", "Force Fit Notes", {108, 315, 120, 21}},
          Box{"SpecialParametersToggle", "Show Special Parameters", {108, 335, 179, 21}},
          Box{"MetronomeToggle", "Metronome", {108, 354, 120, 21}},
          Box{"BassModeToggle", "Bass Mode", {108, 374, 120, 21}},
          Box{"FollowMusicToggle", "Follow Music with AutoScroll", {108, 394, 248, 21}}}) {
        auto* box = f.Get<QCheckBox>(b.name);
        ASSERT_TRUE(box);
        EXPECT_EQ(box->text(), b.caption);
        EXPECT_EQ(box->geometry(), b.geometry) << b.name;
        EXPECT_FALSE(box->isChecked());
    }
    for (const Box& b : {Box{"Button2", "Apply", {98, 421, 93, 31}},
                         Box{"Button1", "Close", {197, 421, 92, 31}}}) {
        auto* button = f.Get<QPushButton>(b.name);
        ASSERT_TRUE(button);
        EXPECT_EQ(button->text(), b.caption);
        EXPECT_EQ(button->geometry(), b.geometry);
    }
    for (const Box& b : {Box{"Label4", "Printing Options:", {0, 0, 162, 25}},
                         Box{"Label6", "Measures Per Height", {43, 39, 155, 18}},
                         Box{"Label5", "Measures Per Width", {208, 39, 138, 18}},
                         Box{"Label7", "Notation Options:", {0, 98, 169, 25}},
                         Box{"Label1", "Transpose:", {10, 128, 85, 20}},
                         Box{"Label8", "Max Fret Number", {197, 128, 125, 20}},
                         Box{"Label3", "Tuning:", {10, 177, 54, 20}},
                         Box{"Label2", "Measures Per Page:", {197, 177, 151, 20}}}) {
        auto* label = f.Get<QLabel>(b.name);
        ASSERT_TRUE(label);
        EXPECT_EQ(label->text(), b.caption);
        EXPECT_EQ(label->geometry(), b.geometry) << b.name;
    }
    QString strings;
    for (int k = 1; k <= 6; ++k)
        strings += f.Get<QLabel>(("TransposeLabel" + std::to_string(k)).c_str())->text();
    EXPECT_EQ(strings, "EADGBE");
    QComboBox* tuning = f.form.TuningComboBox();
    EXPECT_EQ(tuning->objectName(), "TuningComboBox");
    EXPECT_EQ(tuning->geometry(), QRect(10, 197, 168, 24));
    EXPECT_TRUE(tuning->isEditable());
    QStringList items;
    for (int i = 0; i < tuning->count(); ++i)
        items << tuning->itemText(i);
    EXPECT_EQ(items,
              QStringList({"Standard", "Drop D", "Open E", "Open D", "Open G", "A", "Custom"}));
    EXPECT_EQ(tuning->currentText(), "Standard");
}

TEST(OptionsForm, TabKeyVisitsTheFieldsInTheirOrder) {
    Form f;
    const char* const expected[] = {"MeasuresPerHeightEdit",
                                    "MeasuresPerWidthEdit",
                                    "TransposeEdit",
                                    "MaxFretEdit",
                                    "TuningComboBox",
                                    "MeasuresPerPageEdit",
                                    "TransposeDelta1",
                                    "TransposeDelta2",
                                    "TransposeDelta3",
                                    "TransposeDelta4",
                                    "TransposeDelta5",
                                    "TransposeDelta6",
                                    "ChordsToggle",
                                    "ForceFitToggle",
                                    "SpecialParametersToggle",
                                    "MetronomeToggle",
                                    "BassModeToggle",
                                    "Button2",
                                    "Button1",
                                    "FollowMusicToggle"};
    QStringList chain;
    QWidget* w = f.Get<QWidget>("MeasuresPerHeightEdit");
    for (size_t i = 0; i < std::size(expected) && w; ++i) {
        chain << w->objectName();
        // Skip what takes no Tab focus, and the combo box's own line edit.
        do
            w = w->nextInFocusChain();
        while (w && ((w->focusPolicy() & Qt::TabFocus) != Qt::TabFocus ||
                     w->parentWidget() == f.form.TuningComboBox()));
    }
    QStringList wanted;
    for (const char* name : expected)
        wanted << name;
    EXPECT_EQ(chain.join(' ').toStdString(), wanted.join(' ').toStdString());
}

TEST(OptionsForm, FillShowsSettingsAndClampsValuesOutsideTheRanges) {
    Form f;
    f.conv.TuningSettings.Transpose = 44;
    f.conv.Settings.MaxFret = 0x10018; // low 16 bits: 24
    f.conv.Settings.ShowSpecial = 7;
    f.conv.Settings.FollowMusic = 1;
    f.conv.TuningSettings.CustomDelta = {-20, 1, 2, 3, 4, 5};
    f.display.MeasuresPerPage = 4;
    f.form.FillOptionsDialog();
    EXPECT_EQ(f.form.TransposeUpDown()->Position(), 25);
    EXPECT_EQ(f.Get<QLineEdit>("TransposeEdit")->text(), "25");
    EXPECT_EQ(f.form.MaxFretUpDown()->Position(), 24);
    EXPECT_TRUE(f.Get<QCheckBox>("SpecialParametersToggle")->isChecked());
    EXPECT_TRUE(f.Get<QCheckBox>("FollowMusicToggle")->isChecked());
    EXPECT_FALSE(f.Get<QCheckBox>("ChordsToggle")->isChecked());
    EXPECT_EQ(f.Deltas(), (std::array<int, 6>{-12, 1, 2, 3, 4, 5}));
    EXPECT_EQ(f.form.MeasuresUpDown()->Position(), 4);

    f.form.ApplyOptions(); // stores what the up-downs hold
    EXPECT_EQ(f.conv.TuningSettings.Transpose, 25);
    EXPECT_EQ(f.conv.Settings.MaxFret, 24);
    EXPECT_EQ(f.conv.TuningSettings.CustomDelta[0], -12);
    EXPECT_EQ(f.conv.Settings.ShowSpecial, 1);
}

TEST(Tunings, CustomResetsTheDeltasAndEnablesTheFields) {
    Form f;
    for (int k = 0; k < 6; ++k)
        f.form.DeltaUpDown(k)->SetPosition(k + 1);
    f.form.TuningComboBox()->setCurrentText("Custom");
    EXPECT_EQ(f.Deltas(), (std::array<int, 6>{}));
    EXPECT_TRUE(f.DeltaEditsEnabled());
    EXPECT_EQ(f.display.TuningName, "Custom");
}

TEST(Tunings, TypingGThenGMinor) {
    Form f;
    for (int k = 0; k < 6; ++k)
        f.form.DeltaUpDown(k)->SetPosition(3);
    f.Type("G");
    EXPECT_FALSE(f.DeltaEditsEnabled());
    EXPECT_EQ(f.Deltas(), (std::array<int, 6>{3, 3, 3, 3, 3, 3})); // unknown: values kept
    f.Type("G Minor");
    EXPECT_EQ(f.form.TuningComboBox()->currentText(), "G Minor");
    EXPECT_EQ(f.Deltas(), (std::array<int, 6>{-2, -2, 0, 0, -1, -2}));
    EXPECT_FALSE(f.DeltaEditsEnabled());
    EXPECT_EQ(f.display.TuningName, "G Minor");
    EXPECT_EQ(f.conv.TuningSettings.CustomDelta, (std::array<int16_t, 6>{})); // until Apply
    f.form.ApplyOptions();
    EXPECT_EQ(f.conv.TuningSettings.CustomDelta, (std::array<int16_t, 6>{-2, -2, 0, 0, -1, -2}));
}

TEST(Tunings, TypedAndPickedNamesSelectAtOnceAndMatchCase) {
    Form f;
    f.Type("A");
    EXPECT_EQ(f.Deltas(), (std::array<int, 6>{0, 0, 0, 0, -2, 0}));
    f.form.TuningComboBox()->setCurrentIndex(1); // "Drop D": the sixth string down to D
    EXPECT_EQ(f.Deltas(), (std::array<int, 6>{-2, 0, 0, 0, 0, 0}));
    f.form.TuningComboBox()->setCurrentIndex(2);
    EXPECT_EQ(f.Deltas(), (std::array<int, 6>{0, 2, 2, 1, 0, 0}));
    f.Type("open d"); // names match with case only
    EXPECT_EQ(f.Deltas(), (std::array<int, 6>{0, 2, 2, 1, 0, 0}));
    f.Type("Open D");
    EXPECT_EQ(f.Deltas(), (std::array<int, 6>{-2, 0, 0, -1, -2, -2}));
    f.Type("O"); // no completion to a listed name behind the user's back
    EXPECT_EQ(f.form.TuningComboBox()->currentText(), "O");
}

TEST(Tunings, DisabledDeltaFieldsStillChangeThroughTheirArrows) {
    Form f;
    f.Type("Standard");
    ASSERT_FALSE(f.DeltaEditsEnabled());
    UpDown* first = f.form.DeltaUpDown(0);
    first->show();
    QTest::mouseClick(first->UpButton(), Qt::LeftButton);
    QTest::mouseClick(first->UpButton(), Qt::LeftButton);
    QTest::mouseClick(first->DownButton(), Qt::LeftButton);
    EXPECT_EQ(first->Position(), 1);
    EXPECT_EQ(first->Buddy()->text(), "1");
    QTest::keyClick(f.Get<QLineEdit>("TransposeEdit"), Qt::Key_Down);
    EXPECT_EQ(f.form.TransposeUpDown()->Position(), -1);
}

TEST(OptionsForm, ForceFitActsAtOnceWithoutApply) {
    Form f;
    f.form.show();
    auto* box = f.Get<QCheckBox>("ForceFitToggle");
    int redraws = 0; // the shown measures are drawn again at once
    QObject::connect(&f.form, &TOptionsForm::ForceFitChanged, [&redraws] { ++redraws; });
    QTest::mouseClick(box, Qt::LeftButton);
    EXPECT_EQ(f.conv.Settings.ForceFitFret, 1);
    EXPECT_EQ(f.applied, 0);
    EXPECT_EQ(redraws, 1);
    // A file converted now, with the dialog still open, uses it: the note below the lowest
    // string is moved up by octaves onto the open sixth string instead of being marked.
    morvel::test::ConfigHome home;
    const QString path = home.Path("high.mid");
    morvel::test::WriteAll(path, morvel::test::TinyMidi({40}));
    std::string report;
    f.conv.SetReportSink([&report](std::string_view chunk) { report += chunk; });
    f.conv.MidiFileName = path.toStdString();
    f.conv.ConvertMidiFile();
    std::string withForceFit = report;
    QTest::mouseClick(box, Qt::LeftButton);
    EXPECT_EQ(f.conv.Settings.ForceFitFret, 0);
    report.clear();
    f.conv.ConvertMidiFile();
    EXPECT_NE(withForceFit.find("|V-----V|\r\n|---0---|"), std::string::npos) << withForceFit;
    EXPECT_EQ(report.find("|---0---|"), std::string::npos) << report;
    f.form.hide();
}

TEST(OptionsForm, ApplyWithoutAFileConvertsNothing) {
    Form f;
    f.Get<QCheckBox>("ChordsToggle")->setChecked(true);
    f.form.MeasuresUpDown()->SetPosition(5);
    f.form.ApplyOptions();
    EXPECT_EQ(f.conv.Settings.ShowChord, 1);
    EXPECT_EQ(f.display.MeasuresPerPage, 5);
    EXPECT_EQ(f.applied, 1);
    EXPECT_TRUE(f.conv.TrackList.empty());
    EXPECT_TRUE(f.conv.TempFileName.empty());
}

TEST(OptionsForm, ApplyWithAFileReconvertsWithTheNewTransposition) {
    Form f;
    morvel::test::ConfigHome home;
    const QString path = home.Path("e.mid");
    morvel::test::WriteAll(path, morvel::test::TinyMidi({76, 71}));
    std::string report;
    f.conv.SetReportSink([&report](std::string_view chunk) { report += chunk; });
    f.conv.MidiFileName = path.toStdString();
    f.conv.ConvertMidiFile();
    ASSERT_EQ(f.conv.TrackList.size(), 1u);
    const std::string before = report;

    f.form.TransposeUpDown()->SetPosition(2);
    report.clear();
    f.form.ApplyOptions();
    EXPECT_EQ(f.conv.TuningSettings.Transpose, 2);
    ASSERT_FALSE(report.empty()); // converted again
    EXPECT_EQ(f.applied, 1);
    // Open first and second strings before, both two frets up after.
    EXPECT_NE(before.find("|---0------|\r\n|M-----0--M|"), std::string::npos) << before;
    EXPECT_NE(report.find("|---2------|\r\n|M-----2--M|"), std::string::npos) << report;
}

TEST(OptionsForm, EveryWayOfClosingApplies) {
    Form f;
    f.form.ShowCentred();
    const QRect screen = f.form.screen()->geometry();
    EXPECT_EQ(f.form.pos(), QPoint((screen.width() - 375) / 2, (screen.height() - 462) / 2));
    f.form.TransposeUpDown()->SetPosition(3);
    f.form.close(); // the close box
    EXPECT_FALSE(f.form.isVisible());
    EXPECT_EQ(f.conv.TuningSettings.Transpose, 3);

    f.form.ShowCentred();
    f.form.TransposeUpDown()->SetPosition(4);
    QTest::keyClick(&f.form, Qt::Key_Escape);
    EXPECT_FALSE(f.form.isVisible());
    EXPECT_EQ(f.conv.TuningSettings.Transpose, 4);

    f.form.ShowCentred();
    f.form.TransposeUpDown()->SetPosition(5);
    QTest::mouseClick(f.Get<QPushButton>("Button2"), Qt::LeftButton); // Apply: stays open
    EXPECT_TRUE(f.form.isVisible());
    EXPECT_EQ(f.conv.TuningSettings.Transpose, 5);
    f.form.TransposeUpDown()->SetPosition(6);
    QTest::mouseClick(f.Get<QPushButton>("Button1"), Qt::LeftButton); // Close
    EXPECT_FALSE(f.form.isVisible());
    EXPECT_EQ(f.conv.TuningSettings.Transpose, 6);
    EXPECT_EQ(f.applied, 4);
}

TEST(OptionsForm, NothingOverlapsAndEveryCaptionFits) {
    Form f;
    f.form.show();
    const QRect client(0, 0, 375, 462);
    QList<QWidget*> controls;
    for (QWidget* w : f.form.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        EXPECT_TRUE(client.contains(w->geometry())) << w->objectName().toStdString();
        controls << w;
    }
    // Check boxes are placed 19 or 20 pixels apart in boxes 21 high; what they draw (the
    // indicator and one line of text, centred in the box) must fit the spacing, so their boxes
    // are not compared with each other.
    for (QCheckBox* box : f.form.findChildren<QCheckBox*>()) {
        EXPECT_LE(box->fontMetrics().height(), 19) << box->objectName().toStdString();
        EXPECT_LE(box->style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, box), 19);
    }
    auto isCheckBox = [](QWidget* w) { return qobject_cast<QCheckBox*>(w) != nullptr; };
    for (int i = 0; i < controls.size(); ++i)
        for (int j = i + 1; j < controls.size(); ++j)
            EXPECT_FALSE((!isCheckBox(controls[i]) || !isCheckBox(controls[j])) &&
                         controls[i]->geometry().intersects(controls[j]->geometry()))
                << controls[i]->objectName().toStdString() << " overlaps "
                << controls[j]->objectName().toStdString();
    for (QLabel* label : f.form.findChildren<QLabel*>())
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width())
            << label->objectName().toStdString();
    for (QAbstractButton* button : f.form.findChildren<QAbstractButton*>())
        if (!button->text().isEmpty()) {
            EXPECT_LE(button->sizeHint().width(), button->width())
                << button->objectName().toStdString();
        }
    EXPECT_EQ(QFontInfo(f.form.font()).family(), "Liberation Sans");

    const QImage shot = f.form.grab().toImage();
    EXPECT_EQ(shot.size() / shot.devicePixelRatio(), QSize(375, 462));
    shot.save(QString(MORVEL_SCREENSHOT_DIR) + "/options-dialog.png");
    f.form.hide();
}
