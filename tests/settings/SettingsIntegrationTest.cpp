// The settings commands joined to the real main window.
#include "SettingsTestSupport.h"
#include "app/SettingsConnection.h"
#include "widgets/UpDown.h"

#include <QAction>
#include <QApplication>
#include <QMenuBar>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace morvel;

namespace {

struct Program {
    test::ConfigHome home;
    Conversion conv;
    DisplaySettings display;
    TTabForm form{conv, display};
    SettingsCommands settings{conv, display, &form, form.OpenMidifile()};
    QStringList messages;

    Program() {
        conv.SetReporter([](const std::string&) {});
        settings.Seams.ShowMessage = [this](const QString& text) { messages << text; };
        ConnectSettings(form, settings);
        form.AskQuitWithoutSaving = [this](const QString& text) {
            messages << text;
            return false; // stay
        };
        settings.ReadIniSettings();
    }
    ~Program() { form.hide(); }

    QImage FirstMeasure() {
        QApplication::processEvents();
        QWidget* panel = form.TabScroll()->PanelWidget(1);
        return panel ? panel->grab().toImage() : QImage();
    }
    std::string Report() {
        return test::ReadAll(QString::fromStdString(conv.TempFileName)).toStdString();
    }
};

} // namespace

TEST(SettingsInMainWindow, MenusSitInTheirPlacesAndKeepTheirOrder) {
    Program p;
    QStringList order;
    for (QAction* action : p.form.menuBar()->actions())
        order << action->objectName();
    const qsizetype tracks = order.indexOf("TracksMenu"), options = order.indexOf("Options1"),
                    colors = order.indexOf("Colors1"), help = order.indexOf("Help1");
    EXPECT_TRUE(tracks >= 0 && tracks < options && options < colors && colors < help)
        << order.join(' ').toStdString();
    EXPECT_EQ(p.form.TopMenu("Options1"), p.settings.OptionsMenu());
    EXPECT_EQ(p.form.TopMenu("Colors1"), p.settings.ColorsMenu());
}

TEST(SettingsInMainWindow, ApplyReconvertsAndRedrawsTheShownTrack) {
    Program p;
    p.form.resize(700, 500);
    p.form.show();
    test::WriteAll(p.home.Path("e.mid"), test::TinyMidi({76, 71}));
    p.form.OpenMidiFilePath(p.home.Path("e.mid"));
    p.form.TrackMenuClick(1);
    const QImage before = p.FirstMeasure();
    ASSERT_FALSE(before.isNull());
    EXPECT_NE(p.Report().find("|---0------|"), std::string::npos) << p.Report();

    TOptionsForm& options = p.settings.OptionsForm();
    p.form.findChild<QAction*>("OptionsPanel1")->trigger();
    ASSERT_TRUE(options.isVisible());
    options.TransposeUpDown()->SetPosition(2);
    options.findChild<QPushButton*>("Button2")->click();

    EXPECT_NE(p.Report().find("|---2------|"), std::string::npos) << p.Report();
    EXPECT_EQ(p.form.TabScroll()->SelectedTrack(), 1);
    const QImage after = p.FirstMeasure();
    ASSERT_FALSE(after.isNull());
    EXPECT_NE(before, after); // the moved frets are drawn
    options.hide();
}

TEST(SettingsInMainWindow, InvertRepaintsThePanels) {
    Program p;
    p.form.resize(700, 500);
    p.form.show();
    test::WriteAll(p.home.Path("e.mid"), test::TinyMidi({76}));
    p.form.OpenMidiFilePath(p.home.Path("e.mid"));
    p.form.TrackMenuClick(1);
    const QImage yellow = p.FirstMeasure();
    p.form.findChild<QAction*>("Invert1")->trigger();
    const QImage black = p.FirstMeasure();
    ASSERT_FALSE(yellow.isNull());
    const QPoint inside(yellow.width() / 2, 2);
    EXPECT_EQ(QColor(yellow.pixel(inside)), QColor(Qt::yellow));
    EXPECT_EQ(QColor(black.pixel(inside)), QColor(Qt::black));
}

TEST(SettingsInMainWindow, FailedIniWriteKeepsTheProgramRunning) {
    Program p;
    p.form.show();
    QDir().mkpath(p.home.IniPath()); // a folder in the way: the INI file cannot be written
    EXPECT_FALSE(p.form.close());
    EXPECT_TRUE(p.form.isVisible());
    ASSERT_EQ(p.messages.size(), 1);
    // The designed text, then the reason.
    EXPECT_EQ(p.messages[0], "Unable to write to " + p.home.IniPath() +
                                 "\nCan't read the settings file \"" + p.home.IniPath() +
                                 "\": is a directory");

    QDir().rmdir(p.home.IniPath());
    p.form.findChild<QAction*>("Quit1")->trigger();
    EXPECT_FALSE(p.form.isVisible());
    EXPECT_TRUE(test::ReadAll(p.home.IniPath()).startsWith("[PARAMS]\n"));
}
