// Random commands against the whole program, wired as app/main.cpp wires it, on the offscreen
// platform: menu commands, track choices, option changes, colours, player buttons, fields and
// keys, loops chosen on the panels, chord names, resizes and export commands, each prompt
// answered at random (cancel, a good path, a
// missing folder, the open file itself, a special file). After every step: no modal window is
// left open, the player's fields and measure stay within the track on show, the shown track's
// panels match its measures, the open MIDI file is unchanged, the
// FIFO is still one and nothing was written in the current folder. MORVEL_MONKEY_SEED and
// MORVEL_MONKEY_STEPS choose another run; a failure names the seed and the step.

#include "app/ChordsConnection.h"
#include "app/ExportConnection.h"
#include "app/PlayerConnection.h"
#include "app/RecentFilesConnection.h"
#include "app/SettingsConnection.h"
#include "chords/ChordDiagram.h"
#include "chords/TChordsForm.h"
#include "core/MeasureIndex.h"
#include "tests/support/MidiBuilder.h"
#include "tests/support/ScriptedPrompts.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPrinter>
#include <QSpinBox>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace morvel {
namespace {

constexpr unsigned DEFAULT_SEED = 15;
constexpr int DEFAULT_STEPS = 2000;
// Commands that end or replace the whole program are left to their own tests.
const QStringList LEFT_OUT = {"Quit1"};

unsigned long EnvNumber(const char* name, unsigned long fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::strtoul(text, nullptr, 10) : fallback;
}

// Reads everything written into a FIFO on its own thread, so that no writer ever waits on it.
class FifoDrain {
  public:
    explicit FifoDrain(const QString& path) {
        ::mkfifo(QFile::encodeName(path).constData(), 0600);
        fd_ = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        thread_ = std::thread([this] {
            char buffer[65536];
            while (!stop_) {
                if (::read(fd_, buffer, sizeof buffer) <= 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    ~FifoDrain() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }

  private:
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The program as app/main.cpp puts it together, with scripted prompts.
struct Program {
    Conversion conv;
    DisplaySettings display;
    test::ScriptedPrompts prompts;
    ChordViewDiagrams chordView{conv.ChordUsed, display};
    RecentFiles recentFiles;
    TTabForm form{conv, display, prompts, &chordView};
    TChordsForm chords{display, &form};
    SettingsCommands settings{conv, display, prompts, &form};
    TrackExport* exporter = new TrackExport(conv, *form.TabScroll(), prompts, &form);
    MidiPlayback playback;
    TMidiPlayer player{*form.TabScroll(), conv, playback, prompts};

    explicit Program(const QString& recentList)
        : recentFiles(QFile::encodeName(recentList).toStdString()) {
        ConnectRecentFiles(form, recentFiles, prompts);
        conv.SetReporter([this](const std::string& text) {
            prompts.ShowMessage(QString::fromStdString(text));
        });
        ConnectChords(form, chords);
        ConnectSettings(form, settings, chords.ChordPaint());
        ConnectExport(form, *exporter);
        ConnectPlayer(form, player);
        settings.ReadIniSettings();
        form.show();
    }
    ~Program() {
        player.hide();
        chords.hide();
        form.hide();
    }
};

class Monkey {
  public:
    Monkey(Program& program, const QString& folder, unsigned seed)
        : p_(program), folder_(folder), random_(seed) {
        for (const QString& name : QDir(MORVEL_EXAMPLES_DIR).entryList({"*.mid"})) {
            const QString copy = folder_ + "/" + name;
            QFile::copy(QString(MORVEL_EXAMPLES_DIR) + "/" + name, copy);
            inputs_[copy] = Read(copy);
        }
        // A file only lenient reading reads (the options step switches it): running status
        // after a 128-byte text.
        test::TrackBuilder refused;
        refused.NoteOn(0, 64).Raw({0, 0xFF, 0x01, 0x81, 0x00}).bytes.resize(137, 'x');
        const std::string bytes = test::MidiBuilder(0).Add(refused.Raw({96, 67, 100})).Bytes();
        QFile lenient(folder_ + "/lenient.mid");
        if (lenient.open(QIODevice::WriteOnly)) lenient.write(bytes.data(), qint64(bytes.size()));
        lenient.close();
        inputs_[lenient.fileName()] = Read(lenient.fileName());
        QDir().mkpath(folder_ + "/out");
        special_ = folder_ + "/fifo";
        drain_ = std::make_unique<FifoDrain>(special_);
        p_.prompts.FileAnswer = [this](const FileDialogRequest& request) {
            return AnswerFile(request);
        };
        p_.prompts.PrinterAnswer = [this](QPrinter& printer) {
            if (Pick(3) == 0) return false;
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(AnswerFile({"PDF (*.pdf)", true, folder_}));
            return true;
        };
        for (QAction* action : p_.form.menuBar()->actions())
            Collect(action);
    }

    // One random step; false with `what` describing it.
    void Step(QString& what) {
        p_.prompts.AskAnswer = Pick(2) == 0;
        p_.prompts.ColorAnswer = Pick(4) == 0 ? std::optional<QColor>()
                                              : QColor::fromRgb(static_cast<QRgb>(random_()));
        switch (Pick(8)) {
        case 0:
        case 1: {
            QAction* action = actions_[Pick(actions_.size())];
            what = "menu command " + action->objectName();
            action->trigger();
            break;
        }
        case 2:
            if (QAction* track = Any(p_.form.TracksMenu()->actions())) {
                what = "track " + track->text();
                track->trigger();
            } else {
                what = "open a file";
                p_.form.OpenMidifile1Click();
            }
            break;
        case 3: {
            what = "option change";
            QWidget& options = p_.settings.OptionsForm();
            if (QComboBox* combo = Any(options.findChildren<QComboBox*>());
                combo && combo->count() > 0 && Pick(3) == 0) {
                what += " " + combo->objectName();
                combo->setCurrentIndex(static_cast<int>(Pick(size_t(combo->count()))));
            }
            // Check boxes, "Apply" and "Close".
            if (QAbstractButton* button = Any(ButtonsOf(options))) {
                what += " " + button->objectName();
                button->click();
            }
            break;
        }
        case 4:
            PlayerStep(what);
            break;
        case 5: {
            static const QStringList NAMES = {"C", "Am7", "F#m7b5", "Gsus4", "xyz", "",
                                              "C/E", "Bb13", "D\u00e9", QString(300, 'A')};
            const QString name = NAMES[Pick(NAMES.size())];
            what = "chord name " + name.left(20);
            p_.chords.show();
            if (auto* edit = p_.chords.findChild<QLineEdit*>("ChordEdit")) edit->setText(name);
            break;
        }
        case 6: {
            const int width = 100 + Pick(1500), height = 80 + Pick(1100);
            what = QString("resize to %1 x %2").arg(width).arg(height);
            p_.form.resize(width, height);
            break;
        }
        default: {
            static const char* const EXPORTS[] = {"Save1", "SaveAllTEXT1", "SaveTabulatureBMP1",
                                                  "PrintAllTab1", "Copy1", "SaveOptions1",
                                                  "LoadOptions1", "SaveStandardTab1",
                                                  "CopyStandardTab1"};
            const char* name = EXPORTS[Pick(std::size(EXPORTS))];
            what = QString("export command ") + name;
            if (QAction* action = p_.form.findChild<QAction*>(name)) action->trigger();
            break;
        }
        }
        QApplication::processEvents();
    }

    // The player: its buttons and check boxes, a number in one of its fields, Space or Home at
    // one of its controls or the view, a click and shift-click on two panels, or the window.
    void PlayerStep(QString& what) {
        QWidget& player = p_.player;
        switch (Pick(6)) {
        case 0:
        case 1:
            if (QAbstractButton* button = Any(ButtonsOf(player))) {
                what = "player button " + button->objectName();
                button->click();
                return;
            }
            break;
        case 2:
            if (QSpinBox* box = Any(player.findChildren<QSpinBox*>())) {
                const int value =
                    box->minimum() - 2 +
                    static_cast<int>(Pick(size_t(box->maximum() - box->minimum() + 5)));
                what = QString("player field %1 = %2").arg(box->objectName()).arg(value);
                box->setValue(value);
                return;
            }
            break;
        case 3: {
            QList<QWidget*> targets = player.findChildren<QWidget*>();
            targets << &player << p_.form.TabScroll();
            QWidget* target = Any(targets);
            const bool space = Pick(2) == 0;
            what = QString("key %1 at %2").arg(space ? "Space" : "Home").arg(target->objectName());
            QKeyEvent press(QEvent::KeyPress, space ? Qt::Key_Space : Qt::Key_Home, Qt::NoModifier,
                            space ? " " : "");
            QApplication::sendEvent(target, &press);
            return;
        }
        case 4: {
            const std::vector<QWidget*> panels = p_.form.TabScroll()->PanelWidgets();
            if (panels.empty()) break;
            what = "click and shift-click on two panels";
            for (Qt::KeyboardModifiers modifiers : {Qt::NoModifier, Qt::ShiftModifier}) {
                QWidget* panel = panels[Pick(panels.size())];
                QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5),
                                  panel->mapToGlobal(QPointF(5, 5)), Qt::LeftButton, Qt::LeftButton,
                                  modifiers);
                QApplication::sendEvent(panel, &press);
            }
            return;
        }
        default:
            break;
        }
        what = "player window";
        p_.player.PlayMidifile1Click();
    }

    // The player's own invariants: its fields within the measures on show, From never past
    // To, a measure shown within them, and no button to press without a file.
    QString PlayerBroken() {
        QWidget& player = p_.player;
        auto box = [&](const char* name) { return player.findChild<QSpinBox*>(name); };
        const int64_t n = p_.player.SelectedTrackMeasureCount();
        if (box("LoopFrom")->value() > box("LoopTo")->value())
            return "the loop's From is past its To";
        if (n >= 1)
            for (const char* name : {"StartMeasure", "LoopFrom", "LoopTo"})
                if (box(name)->value() < 1 || box(name)->value() > n)
                    return QString("%1 is %2 of %3 measures")
                        .arg(name)
                        .arg(box(name)->value())
                        .arg(n);
        const QString text = player.findChild<QLineEdit*>("MeasureText")->text();
        if (!text.isEmpty()) {
            const QStringList parts = text.split(" of ");
            if (parts.size() != 2 || parts[0].toLongLong() < 1 ||
                parts[0].toLongLong() > parts[1].toLongLong())
                return "the measure shows \"" + text + "\"";
        }
        const MidiPlayback::Practice& practice = p_.playback.CurrentPractice();
        if (practice.Loop &&
            (practice.LoopFrom >= practice.LoopTo || practice.LoopFrom > p_.playback.Length()))
            return "the loop in force is empty or past the file";
        if (!p_.playback.IsOpen() && player.findChild<QWidget*>("Play")->isEnabled())
            return "Play is enabled with no file open";
        return {};
    }

    // Every invariant; the first broken one as a text, empty when all hold.
    QString Broken() {
        if (QWidget* modal = QApplication::activeModalWidget())
            return "a modal window is left open: " + modal->objectName();
        if (const QString player = PlayerBroken(); !player.isEmpty()) return player;
        const MeasureView& view = *p_.form.TabScroll();
        if (view.ShowsTrack()) {
            const int track = view.SelectedTrack();
            int panels = 1; // the summary; alone for a number with no track behind it
            if (static_cast<size_t>(track) <= p_.conv.TrackList.size()) {
                const TrackRecord& record = p_.conv.TrackList[size_t(track) - 1];
                const MeasureIndex index(record, p_.conv.Header.Division);
                for (const MeasureEntry& entry : index.Entries())
                    if (static_cast<int64_t>(entry.Measure) <= view.MeasureCount()) ++panels;
            }
            if (view.PanelCount() != panels)
                return QString("track %1 shows %2 panels for %3 measures with notes")
                    .arg(track)
                    .arg(view.PanelCount())
                    .arg(panels - 1);
        }
        // The open MIDI file is never written. (Another song the user once named as an output,
        // in "Print Setup" while it was open, may be written after a different one is opened.)
        const QString open = QString::fromStdString(p_.conv.MidiFileName);
        if (open != openPath_) {
            openPath_ = open;
            openBytes_ = Read(open);
        } else if (!open.isEmpty() && Read(open) != openBytes_) {
            return "the open MIDI file " + open + " changed";
        }
        QFileInfo fifo(special_);
        if (!fifo.exists() || QFileInfo(special_).isFile())
            return "the FIFO was replaced";
        const QStringList outside = QDir(QDir::currentPath()).entryList(QDir::Hidden | QDir::Files);
        if (outside != cwdFiles_) return "a file was written in the current folder";
        return {};
    }

    void RememberCurrentFolder() {
        cwdFiles_ = QDir(QDir::currentPath()).entryList(QDir::Hidden | QDir::Files);
    }

  private:
    size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random_); }
    // One of `items` at random; nullptr when there is none.
    template <typename T> T* Any(const QList<T*>& items) {
        if (items.isEmpty()) return nullptr;
        return items[static_cast<qsizetype>(Pick(size_t(items.size())))];
    }

    // The bytes of a regular file (a FIFO is never opened: that would wait for a writer).
    static QByteArray Read(const QString& path) {
        if (!QFileInfo(path).isFile()) return {};
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static QList<QAbstractButton*> ButtonsOf(QWidget& widget) {
        QList<QAbstractButton*> buttons;
        for (QAbstractButton* button : widget.findChildren<QAbstractButton*>())
            if (button->isVisibleTo(&widget) && button->isEnabled()) buttons << button;
        return buttons;
    }

    void Collect(QAction* action) {
        if (QMenu* menu = action->menu()) {
            for (QAction* item : menu->actions())
                Collect(item);
            return;
        }
        if (!action->isSeparator() && !LEFT_OUT.contains(action->objectName()))
            actions_.push_back(action);
    }

    QString AnswerFile(const FileDialogRequest& request) {
        const QString suffix = request.Filter.section("*.", 1).section(')', 0, 0);
        const QString open = QString::fromStdString(p_.conv.MidiFileName);
        switch (Pick(6)) {
        case 0:
            return {}; // cancelled
        case 1:
            return folder_ + "/missing/x." + suffix;
        case 2:
            if (!open.isEmpty()) return open; // the open file itself
            [[fallthrough]];
        case 3:
            return special_;
        default:
            if (!request.ForSaving || suffix == "mid") {
                auto it = inputs_.begin();
                std::advance(it, static_cast<long>(Pick(inputs_.size())));
                return it->first;
            }
            return QString("%1/out/%2.%3").arg(folder_).arg(Pick(4)).arg(suffix);
        }
    }

    Program& p_;
    QString folder_;
    std::mt19937 random_;
    std::map<QString, QByteArray> inputs_;
    QString special_;
    std::unique_ptr<FifoDrain> drain_;
    std::vector<QAction*> actions_;
    QStringList cwdFiles_;
    QString openPath_;     // the open MIDI file when last checked
    QByteArray openBytes_; // its bytes when it was opened
};

TEST(Monkey, RandomCommandsKeepEveryInvariant) {
    const unsigned seed = static_cast<unsigned>(EnvNumber("MORVEL_MONKEY_SEED", DEFAULT_SEED));
    const int steps = static_cast<int>(EnvNumber("MORVEL_MONKEY_STEPS", DEFAULT_STEPS));
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // The report and every staged file go into the test's folder, the settings too.
    const QByteArray oldTmp = qgetenv("TMPDIR"), oldConfig = qgetenv("XDG_CONFIG_HOME");
    QDir().mkpath(dir.filePath("tmp"));
    qputenv("TMPDIR", QFile::encodeName(dir.filePath("tmp")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath("config")));
    {
        Program program(dir.filePath("state/recent-files"));
        Monkey monkey(program, dir.path(), seed);
        monkey.RememberCurrentFolder();
        int step = 0;
        for (; step < steps; ++step) {
            QString what;
            monkey.Step(what);
            const QString broken = monkey.Broken();
            ASSERT_TRUE(broken.isEmpty())
                << "seed " << seed << ", step " << step << " (" << what.toStdString()
                << "): " << broken.toStdString();
        }
        // What the run reached, so that a run that did nothing shows it.
        const qsizetype written = QDir(dir.filePath("out")).entryList(QDir::Files).size();
        std::printf("monkey: seed %u, %d steps, %lld prompts for files, %lld messages, %lld "
                    "outputs in place\n",
                    seed, step, static_cast<long long>(program.prompts.FileRequests.size()),
                    static_cast<long long>(program.prompts.Messages.size()),
                    static_cast<long long>(written));
        EXPECT_GT(written, 0);
    }
    qputenv("TMPDIR", oldTmp);
    qputenv("XDG_CONFIG_HOME", oldConfig);
}

} // namespace
} // namespace morvel
