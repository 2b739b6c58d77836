// The settings commands joined to the real main window.
#include "SettingsTestSupport.h"
#include "app/SettingsConnection.h"
#include "tests/support/ScriptedPrompts.h"
#include "widgets/UpDown.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QMenuBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

using namespace morvel;

namespace {

struct Program {
    test::ConfigHome home;
    Conversion conv;
    DisplaySettings display;
    test::ScriptedPrompts prompts; // every question answered "Stay"
    TTabForm form{conv, display, prompts};
    SettingsCommands settings{conv, display, prompts, &form};

    Program() {
        conv.SetReporter([](const std::string&) {});
        ConnectSettings(form, settings);
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
    // The strictRead text, then the reason.
    EXPECT_EQ(p.prompts.Questions, QStringList{"Unable to write to " + p.home.IniPath() +
                                               "\nCan't read the settings file \"" +
                                               p.home.IniPath() + "\": is a directory"});
    EXPECT_TRUE(p.prompts.Messages.isEmpty());

    QDir().rmdir(p.home.IniPath());
    p.form.findChild<QAction*>("Quit1")->trigger();
    EXPECT_FALSE(p.form.isVisible());
    EXPECT_TRUE(test::ReadAll(p.home.IniPath()).startsWith("[PARAMS]\n"));
}

namespace {

// The peak resident memory of this process so far, in KiB.
long PeakKib() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

} // namespace

TEST(SettingsInMainWindow, QuitLeavesAnIniThatStartUpRefusedAsItIsAndEndsAtOnce) {
    const std::string big = "[PARAMS]\nMAXFRET=20\n; " + std::string(5 << 20, 'x') + "\n";
    enum Kind { Fifo, ZeroDevice, Large };
    for (Kind kind : {Fifo, ZeroDevice, Large}) {
        SCOPED_TRACE(kind);
        Program p;
        p.form.show();
        const std::string ini = p.home.IniPath().toStdString();
        std::filesystem::create_directories(std::filesystem::path(ini).parent_path());
        std::filesystem::remove(ini);
        if (kind == Fifo) {
            ASSERT_EQ(mkfifo(ini.c_str(), 0600), 0);
        }
        if (kind == ZeroDevice) std::filesystem::create_symlink("/dev/zero", ini);
        if (kind == Large) std::ofstream(ini, std::ios::binary) << big;
        const long peakBefore = PeakKib();
        const auto start = std::chrono::steady_clock::now();

        p.settings.ReadIniSettings(); // start-up: refused once, with the reason
        ASSERT_EQ(p.prompts.Messages.size(), 1);
        EXPECT_TRUE(p.prompts.Messages[0].contains(p.home.IniPath()));
        EXPECT_TRUE(p.prompts.Messages[0].contains("Settings will not be saved"));
        p.form.findChild<QAction*>("Quit1")->trigger();

        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
        EXPECT_FALSE(p.form.isVisible());
        EXPECT_EQ(p.prompts.Messages.size(), 1); // the ending says nothing more
        EXPECT_LT(PeakKib() - peakBefore, 64 * 1024);
        const std::filesystem::file_status stat = std::filesystem::symlink_status(ini);
        if (kind == Fifo) {
            EXPECT_EQ(stat.type(), std::filesystem::file_type::fifo);
        }
        if (kind == ZeroDevice) {
            EXPECT_EQ(std::filesystem::read_symlink(ini), "/dev/zero");
        }
        if (kind == Large) {
            EXPECT_EQ(test::ReadAll(p.home.IniPath()).toStdString(), big);
        }
    }
}

// A file the strict reader refuses: one further message names the setting; with the check
// box on, Apply shows the file, and opening it again shows no hint.
TEST(SettingsInMainWindow, LenientReadingOpensARefusedFileAfterTheHint) {
    Program p;
    p.form.show();
    QByteArray bytes = test::TinyMidi({76, 71});
    // After the first note-on, a marker, then a note-on in running status.
    bytes.insert(26, QByteArray("\x00\xFF\x06\x01M\x00\x47\x64", 8));
    bytes[21] = static_cast<char>(bytes[21] + 8);
    test::WriteAll(p.home.Path("meta.mid"), bytes);
    p.form.OpenMidiFilePath(p.home.Path("meta.mid"));
    EXPECT_EQ(p.prompts.Messages, QStringList{"This file opens with Options > Lenient reading."});
    EXPECT_TRUE(p.Report().empty());

    TOptionsForm& options = p.settings.OptionsForm();
    p.form.findChild<QAction*>("OptionsPanel1")->trigger();
    options.findChild<QAbstractButton*>("LenientReadingToggle")->click();
    options.findChild<QPushButton*>("Button2")->click();
    ASSERT_EQ(p.conv.TrackList.size(), 1u);
    EXPECT_EQ(p.conv.TrackList[0].Notes.size(), 3u);
    p.form.OpenMidiFilePath(p.home.Path("meta.mid"));
    EXPECT_EQ(p.prompts.Messages.size(), 1);
    EXPECT_NE(p.Report().find("Track 1:"), std::string::npos) << p.Report();
}
