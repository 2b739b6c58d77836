#include "SettingsTestSupport.h"
#include "widgets/ColorRef.h"
#include "settings/SettingsCommands.h"
#include "tests/support/ScriptedPrompts.h"
#include "widgets/MenuOrder.h"
#include "widgets/UpDown.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <sys/resource.h>

using namespace morvel;
using morvel::test::ConfigHome;
using morvel::test::ReadAll;
using morvel::test::WriteAll;

namespace {

// The settings commands over a stand-in window, with every dialog answered by the test.
struct Fixture {
    ConfigHome home;
    Conversion conv;
    DisplaySettings display;
    QWidget window;
    test::ScriptedPrompts prompts;
    SettingsCommands commands{conv, display, prompts, &window};
    QStringList& messages = prompts.Messages;
    std::optional<QColor>& nextColor = prompts.ColorAnswer;
    QString nextFile;
    QString writeError;
    int redraws = 0;

    Fixture() {
        conv.SetReporter([](const std::string&) {});
        prompts.FileAnswer = [this](const FileDialogRequest&) { return nextFile; };
        QObject::connect(&commands, &SettingsCommands::DrawingChanged, [this] { ++redraws; });
    }
    // The ending's write; its reason, if any, in writeError.
    bool Write() {
        writeError.clear();
        return commands.TryWriteSettings(&writeError);
    }
};

// Limits the size of files this process may write, as a full disk would.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }

  private:
    rlimit old_{};
    void (*oldHandler_)(int);
};

} // namespace

TEST(SettingsStore, StartWithoutIniFileGivesEveryDefault) {
    Fixture f;
    f.conv.Settings.MaxFret = 5;
    f.conv.TuningSettings.CustomDelta[2] = 4;
    f.display.BarColor = 0x123456;
    f.display.TuningName = "Open G";
    f.commands.ReadIniSettings();
    EXPECT_EQ(f.commands.Store().IniPath(), f.home.IniPath());
    EXPECT_EQ(f.conv.Settings.PrintMeasPerWidth, 3);
    EXPECT_EQ(f.conv.Settings.PrintMeasPerHeight, 5);
    EXPECT_EQ(f.conv.Settings.MaxFret, 21);
    EXPECT_EQ(f.conv.TuningSettings.CustomDelta, (std::array<int16_t, 6>{}));
    EXPECT_EQ(f.display.MeasuresPerPage, 3);
    EXPECT_EQ(f.display.BarColor, 0u);
    EXPECT_EQ(f.display.NotesColor, 0x800080u);
    EXPECT_EQ(f.display.BackgroundColor, 0x00FFFFu);
    EXPECT_EQ(f.display.TuningName, "Standard");
    EXPECT_EQ(f.commands.OptionsForm().TuningComboBox()->currentText(), "Standard");
    EXPECT_TRUE(f.messages.isEmpty());
    EXPECT_FALSE(QFile::exists(f.home.IniPath())); // reading creates nothing
}

TEST(SettingsStore, IniTuningNameSetsOnlyTheTextAndForeignLinesSurviveWriting) {
    Fixture f;
    const QByteArray original = "; kept comment\r\n"
                                "[Window]\r\n"
                                "Left=10\r\n"
                                "[params]\r\n"
                                "tuning=Drop D\r\n"
                                "customdelta3=$2\r\n"
                                "MeasPerPage=0x5\r\n"
                                "Extra=kept\r\n";
    WriteAll(f.home.IniPath(), original);
    f.commands.ReadIniSettings();
    EXPECT_EQ(f.commands.OptionsForm().TuningComboBox()->currentText(), "Drop D");
    EXPECT_EQ(f.conv.TuningSettings.CustomDelta, (std::array<int16_t, 6>{0, 0, 2, 0, 0, 0}));
    EXPECT_EQ(f.display.MeasuresPerPage, 5);

    f.display.BackgroundColor = 0xABCDEF;
    ASSERT_TRUE(f.Write());
    const QByteArray written = ReadAll(f.home.IniPath());
    for (const char* line : {"; kept comment\r\n", "[Window]\r\nLeft=10\r\n", "[params]\r\n",
                             "tuning=Drop D\r\n", "customdelta3=2\r\n", "MeasPerPage=5\r\n",
                             "Extra=kept\r\n", "BACKGROUNDCOLOR=11259375\r\n"})
        EXPECT_TRUE(written.contains(line)) << line << " missing from\n" << written.constData();
    // Only the INI file is left in the folder: no temporary files.
    EXPECT_EQ(QDir(QFileInfo(f.home.IniPath()).absolutePath()).entryList(QDir::Files),
              QStringList{"MORVEL.INI"});
    EXPECT_TRUE(f.messages.isEmpty());
}

TEST(SettingsStore, FailedWriteKeepsTheOldFileAndReportsIt) {
    Fixture f;
    QByteArray original = "[PARAMS]\nMAXFRET=24\n; " + QByteArray(200, 'c') + "\n";
    WriteAll(f.home.IniPath(), original);
    f.commands.ReadIniSettings();
    f.conv.Settings.MaxFret = 19;
    {
        FileSizeLimit full(64); // the new text is far longer: writing it fails
        EXPECT_FALSE(f.Write());
    }
    EXPECT_EQ(ReadAll(f.home.IniPath()), original);
    EXPECT_EQ(f.writeError, "Unable to write to " + f.home.IniPath() +
                                "\nCan't write the settings file \"" + f.home.IniPath() +
                                "\": cannot write: " + strerror(EFBIG));
    EXPECT_TRUE(f.messages.isEmpty()); // the ending shows it, not the write
    EXPECT_EQ(f.conv.Settings.MaxFret, 19); // nothing in memory is lost either

    ASSERT_TRUE(f.Write()); // space again: the next attempt succeeds
    EXPECT_TRUE(ReadAll(f.home.IniPath()).contains("MAXFRET=19\n"));
}

TEST(SettingsStore, IniPathThatIsNoFileIsNeitherReadNorReplaced) {
    Fixture f;
    QDir().mkpath(f.home.IniPath()); // a folder where the file should be
    f.commands.ReadIniSettings();
    ASSERT_EQ(f.messages.size(), 1); // the defaults are used, and the user is told why
    EXPECT_TRUE(f.messages[0].contains(f.home.IniPath()));
    EXPECT_EQ(f.conv.Settings.MaxFret, 21);
    EXPECT_TRUE(f.messages[0].endsWith("Settings will not be saved; the file is left as it is."));
    // A file refused at start-up is left alone at the end, without a second message.
    EXPECT_TRUE(f.Write());
    EXPECT_EQ(f.messages.size(), 1);
    EXPECT_TRUE(QFileInfo(f.home.IniPath()).isDir());
}

TEST(SettingsStore, IniPathFollowsXdgConfigHome) {
    ConfigHome home;
    EXPECT_EQ(SettingsStore::DefaultIniPath(), home.IniPath());
    const QByteArray old = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", "relative/dir"); // not absolute: ignored
    EXPECT_EQ(SettingsStore::DefaultIniPath(), QDir::homePath() + "/.config/morvel/MORVEL.INI");
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(SettingsStore::DefaultIniPath(), QDir::homePath() + "/.config/morvel/MORVEL.INI");
    qputenv("XDG_CONFIG_HOME", old);
}

TEST(OptionCommands, SaveThenLoadRestoresEveryFieldAndRefillsTheDialog) {
    Fixture f;
    f.conv.Settings.PrintMeasPerWidth = 4;
    f.conv.Settings.PrintMeasPerHeight = 8;
    f.conv.TuningSettings.Transpose = -7;
    f.display.MeasuresPerPage = 2;
    f.conv.TuningSettings.CustomDelta = {-2, -2, 0, 0, -1, -2};
    f.conv.Settings.ShowChord = 1;
    f.conv.Settings.BassMode = 1;
    f.conv.Settings.MaxFret = 24;
    f.display.TuningName = "G Minor";
    f.nextFile = f.home.Path("mine.opt");
    f.commands.SaveOptions1Click();
    ASSERT_EQ(ReadAll(f.nextFile).size(), 768);

    // Change everything, colours and directory included; loading restores all but those.
    StoredSettings other;
    other.Display.MidiFileDir = "/other/";
    other.Display.BarColor = 0x0000FF;
    f.commands.Store().Scatter(other);
    f.commands.OptionsForm().ShowTuningName();
    f.commands.LoadOptions1Click();
    EXPECT_EQ(f.conv.Settings.PrintMeasPerWidth, 4);
    EXPECT_EQ(f.conv.Settings.PrintMeasPerHeight, 8);
    EXPECT_EQ(f.conv.TuningSettings.Transpose, -7);
    EXPECT_EQ(f.display.MeasuresPerPage, 2);
    EXPECT_EQ(f.conv.TuningSettings.CustomDelta, (std::array<int16_t, 6>{-2, -2, 0, 0, -1, -2}));
    EXPECT_EQ(f.conv.Settings.ShowChord, 1);
    EXPECT_EQ(f.conv.Settings.BassMode, 1);
    EXPECT_EQ(f.conv.Settings.MaxFret, 24);
    EXPECT_EQ(f.display.TuningName, "G Minor");
    EXPECT_EQ(f.display.MidiFileDir, "/other/");
    EXPECT_EQ(f.display.BarColor, 0x0000FFu);

    TOptionsForm& form = f.commands.OptionsForm();
    EXPECT_EQ(form.TuningComboBox()->currentText(), "G Minor");
    EXPECT_EQ(form.TransposeUpDown()->Position(), -7);
    EXPECT_EQ(form.MaxFretUpDown()->Position(), 24);
    EXPECT_EQ(form.MeasuresUpDown()->Position(), 2);
    EXPECT_EQ(form.DeltaUpDown(4)->Position(), -1);
    EXPECT_TRUE(f.messages.isEmpty());
}

TEST(OptionCommands, CancelAndUnopenableFilesChangeNothing) {
    Fixture f;
    f.conv.Settings.MaxFret = 25;
    f.nextFile.clear(); // cancelled
    f.commands.LoadOptions1Click();
    f.commands.SaveOptions1Click();
    EXPECT_TRUE(f.messages.isEmpty());

    f.nextFile = f.home.Path("missing.opt");
    f.commands.LoadOptions1Click();
    f.nextFile = f.home.Path("no/such/folder/x.opt");
    f.commands.SaveOptions1Click();
    // The designed text for both, load included, and on a second line what failed and why.
    EXPECT_EQ(f.messages,
              QStringList({"Can't save options to file specified.\nCan't read the option file \"" +
                               f.home.Path("missing.opt") + "\": No such file or directory",
                           "Can't save options to file specified.\nCan't write the option file \"" +
                               f.home.Path("no/such/folder/x.opt") +
                               "\": cannot create: No such file or directory"}));
    EXPECT_EQ(f.conv.Settings.MaxFret, 25);
}

TEST(OptionCommands, SaveUsesTheTuningTextButNotUnappliedControls) {
    Fixture f;
    TOptionsForm& form = f.commands.OptionsForm();
    form.FillOptionsDialog();
    form.TransposeUpDown()->SetPosition(9); // not applied
    form.TuningComboBox()->setEditText("My tuning");
    f.nextFile = f.home.Path("t.opt");
    f.commands.SaveOptions1Click();
    StoredSettings read;
    std::string error;
    ASSERT_TRUE(ReadOptionFile(f.nextFile.toStdString(), read, error)) << error;
    EXPECT_EQ(read.Display.TuningName, "My tuning");
    EXPECT_EQ(read.TuningSettings.Transpose, 0);
}

TEST(OptionCommands, FileDialogOffersNeitherTheOpenSongNorItsFolder) {
    ConfigHome home;
    const QString songs = home.Path("songs"), options = home.Path("options");
    QDir().mkpath(options);
    const QString song = songs + "/song.mid";
    const QByteArray songBytes = test::TinyMidi({76});
    WriteAll(song, songBytes);
    Conversion conv;
    DisplaySettings display;
    QWidget window;
    // The real dialogs, but messages collected and, when `chosen` is set, that file chosen.
    class Prompts : public DialogPrompts {
      public:
        using DialogPrompts::DialogPrompts;
        QStringList messages;
        QString chosen;
        QString ChooseFile(const FileDialogRequest& request) override {
            return chosen.isEmpty() ? DialogPrompts::ChooseFile(request) : chosen;
        }

      private:
        void Show(const QString&, const QString& text) override { messages << text; }
    } prompts("MORVEL");
    prompts.SetWindow(&window);
    // The program's one file dialog as opening the song left it.
    QFileDialog& dialog = *prompts.FileDialog();
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilter("MID (*.mid)");
    dialog.setDirectory(songs);
    dialog.selectFile(song);
    conv.MidiFileName = song.toStdString();
    display.MidiFileDir = (songs + "/").toStdString();
    SettingsCommands commands(conv, display, prompts, &window);
    const QStringList& messages = prompts.messages;

    struct Seen {
        QString name, folder;
        QStringList filters;
    };
    std::vector<Seen> seen;
    QLineEdit* name = dialog.findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(name, nullptr);
    // Looks at the dialog once it runs, then answers it.
    auto answer = [&](std::function<void()> reply) {
        QTimer::singleShot(0, &dialog, [&, reply] {
            seen.push_back({name->text(), dialog.directory().absolutePath(), dialog.nameFilters()});
            reply();
        });
    };

    answer([&] {
        QTest::keyClick(name, Qt::Key_Return); // an empty name: Return chooses nothing
        EXPECT_TRUE(dialog.isVisible());
        name->setText(options + "/mine.opt");
        QTest::keyClick(name, Qt::Key_Return);
    });
    commands.SaveOptions1Click();
    answer([&] { dialog.reject(); });
    commands.SaveOptions1Click(); // opens where the last save went
    answer([&] { dialog.reject(); });
    commands.LoadOptions1Click(); // has a folder of its own

    ASSERT_EQ(seen.size(), 3u);
    for (const Seen& s : seen) {
        EXPECT_EQ(s.name, "");
        EXPECT_EQ(s.filters, QStringList{"OPT (*.opt)"});
        EXPECT_NE(s.folder, QDir(songs).absolutePath());
    }
    EXPECT_EQ(seen[1].folder, QDir(options).absolutePath());
    EXPECT_EQ(seen[2].folder, QDir::homePath());
    EXPECT_EQ(ReadAll(options + "/mine.opt").size(), 768);
    EXPECT_EQ(ReadAll(song), songBytes);
    EXPECT_EQ(dialog.directory().absolutePath(), QDir(songs).absolutePath()); // given back

    // Even when chosen by name, the open song is not overwritten with options.
    prompts.chosen = song;
    commands.SaveOptions1Click();
    EXPECT_EQ(ReadAll(song), songBytes);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("song.mid")) << messages[0].toStdString();
}

TEST(ColorCommands, ChosenColoursAreStoredAndRedrawnCancelKeepsThem) {
    Fixture f;
    f.nextColor = ColorFromRef(0x00112233);
    f.commands.Foreground1Click();
    EXPECT_EQ(f.display.BarColor, 0x00112233u);
    f.nextColor = ColorFromRef(0x00445566);
    f.commands.Background1Click();
    EXPECT_EQ(f.display.BackgroundColor, 0x00445566u);
    f.nextColor = ColorFromRef(0x00778899);
    f.commands.Notes1Click();
    EXPECT_EQ(f.display.NotesColor, 0x00778899u);
    EXPECT_EQ(f.redraws, 3);

    f.nextColor.reset();
    f.commands.Notes1Click();
    EXPECT_EQ(f.display.NotesColor, 0x00778899u);
    EXPECT_EQ(f.redraws, 3);
}

TEST(ColorCommands, InvertSwapsBarAndBackgroundAndTwiceRestores) {
    Fixture f;
    f.commands.Invert1Click();
    EXPECT_EQ(f.display.BarColor, 0x00FFFFu);
    EXPECT_EQ(f.display.BackgroundColor, 0u);
    EXPECT_EQ(f.display.NotesColor, 0x800080u);
    f.commands.Invert1Click();
    EXPECT_EQ(f.display.BarColor, 0u);
    EXPECT_EQ(f.display.BackgroundColor, 0x00FFFFu);
    EXPECT_EQ(f.redraws, 2);
}

TEST(ColorCommands, ColourReferencesKeepTheirComponents) {
    EXPECT_EQ(ColorFromRef(0x00FF8040), QColor(0x40, 0x80, 0xFF));
    EXPECT_EQ(RefFromColor(QColor(0x40, 0x80, 0xFF)), 0x00FF8040u);
    EXPECT_EQ(RefFromColor(ColorFromRef(0x800080)), 0x800080u);
}

TEST(SettingsMenus, MenusTakeTheirPlacesAndRunTheirHandlers) {
    Fixture f;
    QMenuBar bar;
    for (const char* name : {"File1", "Edit1", "TracksMenu", "ChordsMenu", "Help1"}) {
        QAction* action = bar.addAction(name);
        action->setObjectName(name);
    }
    for (QMenu* menu : {f.commands.OptionsMenu(), f.commands.ColorsMenu()})
        InsertInMenuOrder(&bar, menu->menuAction());
    QStringList order;
    for (QAction* action : bar.actions())
        order << action->objectName();
    EXPECT_EQ(order.join(' ').toStdString(),
              "File1 Edit1 TracksMenu Options1 ChordsMenu Colors1 Help1");

    QStringList captions;
    for (QMenu* menu : {f.commands.OptionsMenu(), f.commands.ColorsMenu()})
        for (QAction* action : menu->actions())
            captions << action->objectName() + "=" + action->text();
    EXPECT_EQ(captions, QStringList({"OptionsPanel1=Options", "LoadOptions1=Load Options",
                                     "SaveOptions1=Save Options", "Foreground1=Bar Color",
                                     "Background1=Background Color", "Notes1=Note Color",
                                     "Invert1=Invert Colors"}));

    f.commands.ColorsMenu()->findChild<QAction*>("Invert1")->trigger();
    EXPECT_EQ(f.display.BackgroundColor, 0u);
    f.commands.OptionsMenu()->findChild<QAction*>("OptionsPanel1")->trigger();
    EXPECT_TRUE(f.commands.OptionsForm().isVisible());
    f.commands.OptionsForm().hide();
}
