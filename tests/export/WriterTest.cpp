// Every writer of the program against one table of hostile outputs: the input by another name,
// a FIFO, a character device, a folder where no temporary file can be made, a file-size limit
// and SIGTERM while a long export runs. Each writer runs in a child process (the tools exec'd,
// the window's commands and the settings writer forked), so limits, identities and signals
// never touch the test runner.

#include "core/SettingsFiles.h"
#include "tests/export/ExportFixture.h"

#include <QDir>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace morvel::exporttest {
namespace {

namespace fs = std::filesystem;

constexpr uid_t NOBODY = 65534;
constexpr rlim_t SIZE_LIMIT = 500; // bytes: every writer's output is larger

// How the child is set up and watched.
struct ChildSetup {
    rlim_t FileSizeLimit = RLIM_INFINITY;
    bool AsNobody = false;          // drop root, so that folder permissions hold
    int FifoReader = -1;            // drained while the child runs
    std::string SignalWhenHidden;   // SIGTERM once a hidden file appears in this folder
};

struct Outcome {
    int ExitCode = -1;
    int Signal = 0;
    std::string Err;
    std::string FromFifo;
};

bool HasHiddenEntry(const std::string& folder) {
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec))
        if (entry.path().filename().string().starts_with(".")) return true;
    return false;
}

// Runs `body` (which execs or returns an exit status) in a forked child set up by `setup`.
Outcome RunChild(const std::function<int()>& body, const ChildSetup& setup) {
    int err[2];
    EXPECT_EQ(pipe2(err, O_CLOEXEC), 0);
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(err[1], STDERR_FILENO);
        if (setup.FileSizeLimit != RLIM_INFINITY) {
            const rlimit limit{setup.FileSizeLimit, setup.FileSizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (setup.AsNobody && geteuid() == 0 && (setgid(NOBODY) != 0 || setuid(NOBODY) != 0))
            _exit(126);
        _exit(body());
    }
    close(err[1]);
    fcntl(err[0], F_SETFL, O_NONBLOCK);
    Outcome outcome;
    bool signalled = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    int status = 0;
    char buffer[65536];
    for (;;) {
        for (ssize_t n; (n = read(err[0], buffer, sizeof buffer)) > 0;)
            outcome.Err.append(buffer, size_t(n));
        if (setup.FifoReader >= 0)
            for (ssize_t n; (n = read(setup.FifoReader, buffer, sizeof buffer)) > 0;)
                outcome.FromFifo.append(buffer, size_t(n));
        if (!signalled && !setup.SignalWhenHidden.empty() &&
            HasHiddenEntry(setup.SignalWhenHidden)) {
            kill(pid, SIGTERM);
            signalled = true;
        }
        if (waitpid(pid, &status, WNOHANG) == pid) break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "the writer did not finish";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    for (ssize_t n; (n = read(err[0], buffer, sizeof buffer)) > 0;)
        outcome.Err.append(buffer, size_t(n));
    close(err[0]);
    if (WIFEXITED(status)) outcome.ExitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) outcome.Signal = WTERMSIG(status);
    EXPECT_NE(outcome.ExitCode, 126) << "could not drop root";
    return outcome;
}

int Exec(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    return 127;
}

std::string Read(const std::string& path) {
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string("<none>");
}

void Write(const std::string& path, const std::string& bytes) {
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

class WriterTest : public ExportTest {
  protected:
    struct Writer {
        const char* Name;
        const char* Suffix;
        std::string Magic;  // how its output starts
        bool RefusesInput;  // it has an input or an open file to refuse
        bool Long;          // runs long enough on the long song to be signalled midway
        std::function<int(const std::string& out)> Run; // in the child
    };

    // The window's messages go to standard error; the status says whether any was shown.
    int WindowResult() {
        for (const QString& text : shown)
            fprintf(stderr, "%s\n", text.toUtf8().constData());
        return shown.empty() ? 0 : 1;
    }

    std::vector<Writer> Writers() {
        auto tool = [this](const char* flag) {
            return [this, flag](const std::string& out) {
                return Exec({MORVEL_EXPORT_TOOL, "--track", "1", flag, out, midi_});
            };
        };
        return {
            {"morvel-convert -o", ".txt", "", true, false,
             [this](const std::string& out) {
                 return Exec({MORVEL_CONVERT_BIN, "-o", out, midi_});
             }},
            {"morvel-export --png", ".png", "\x89PNG", true, true, tool("--png")},
            {"morvel-export --bmp", ".bmp", "BM", true, true, tool("--bmp")},
            {"morvel-export --pdf", ".pdf", "%PDF", true, true, tool("--pdf")},
            {"Save Track Text", ".txt", "", true, false,
             [this](const std::string& out) {
                 exporter->SaveTrackText(QString::fromStdString(out), false);
                 return WindowResult();
             }},
            {"Save Tabulature BMP", ".bmp", "BM", true, false,
             [this](const std::string& out) {
                 saveAnswer = QString::fromStdString(out);
                 exporter->SaveTabulatureBMP1Click();
                 return WindowResult();
             }},
            {"Print Track", ".pdf", "%PDF", true, false,
             [this](const std::string& out) {
                 saveAnswer = QString::fromStdString(out);
                 exporter->PrintAllTab1Click();
                 return WindowResult();
             }},
            {"Save MusicXML", ".musicxml", "<?xml", true, false,
             [this](const std::string& out) {
                 exporter->SaveMusicXml(QString::fromStdString(out), 1);
                 return WindowResult();
             }},
            {"morvel-convert --musicxml", ".musicxml", "<?xml", true, false,
             [this](const std::string& out) {
                 return Exec({MORVEL_CONVERT_BIN, "--musicxml", "-o", out, midi_});
             }},
            {"settings file", ".opt", "", false, false,
             [](const std::string& out) {
                 std::string error;
                 if (WriteOptionFile(out, StoredSettings(), error)) return 0;
                 fprintf(stderr, "%s\n", error.c_str());
                 return 1;
             }},
        };
    }

    void SetUp() override {
        ExportTest::SetUp();
        Show(Song({Measures(24)}), 1);
        midi_ = answer.toStdString();
        midiBytes_ = Read(midi_);
        // A child without root still reads the song and the report.
        fs::permissions(dir.path().toStdString(), fs::perms(0755));
        fs::permissions(conv.TempFileName, fs::perms(0644));
        root_ = dir.path().toStdString();
    }

    // Nothing the writer did not own changed, and no temporary file was left behind.
    void CheckNothingLeft() {
        EXPECT_EQ(Read(midi_), midiBytes_) << "the open MIDI file changed";
        EXPECT_FALSE(HasHiddenEntry(root_)) << "a temporary file was left behind";
    }

    std::string midi_, midiBytes_, root_;
};

TEST_F(WriterTest, EveryWriterKeepsWhatItDidNotWriteAndSaysWhatHappened) {
    const bool root = geteuid() == 0;
    for (const Writer& writer : Writers()) {
        SCOPED_TRACE(writer.Name);

        // The input by another name is refused and stays as it was.
        if (writer.RefusesInput) {
            fs::create_directories(root_ + "/d");
            const std::string alias = root_ + "/d/../" + fs::path(midi_).filename().string();
            const Outcome run = RunChild([&] { return writer.Run(alias); }, {});
            EXPECT_EQ(run.ExitCode, 1) << run.Err;
            EXPECT_NE(run.Err.find("left as it is"), std::string::npos) << run.Err;
            CheckNothingLeft();
        }

        // A FIFO is written into, not replaced.
        const std::string fifo = root_ + "/fifo" + writer.Suffix;
        ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
        ChildSetup reading;
        reading.FifoReader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        const Outcome piped = RunChild([&] { return writer.Run(fifo); }, reading);
        close(reading.FifoReader);
        EXPECT_EQ(piped.ExitCode, 0) << piped.Err;
        EXPECT_TRUE(fs::is_fifo(fifo));
        EXPECT_GT(piped.FromFifo.size(), writer.Magic.size());
        EXPECT_TRUE(piped.FromFifo.starts_with(writer.Magic));
        fs::remove(fifo);
        CheckNothingLeft();

        // A character device node made here (root only) is written, and stays a device.
        const std::string device = root_ + "/null" + writer.Suffix;
        if (mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
            const Outcome run = RunChild([&] { return writer.Run(device); }, {});
            EXPECT_EQ(run.ExitCode, 0) << run.Err;
            EXPECT_TRUE(fs::is_character_file(device));
            fs::remove(device);
            CheckNothingLeft();
        }

        // A writable file in a folder where no temporary file can be made is refused with the
        // folder named, instead of being written in place.
        const std::string locked = root_ + "/locked";
        const std::string kept = locked + "/kept" + writer.Suffix;
        fs::create_directories(locked);
        Write(kept, "old");
        fs::permissions(kept, fs::perms(0666));
        fs::permissions(locked, fs::perms(0555));
        ChildSetup nobody;
        nobody.AsNobody = root;
        const Outcome refused = RunChild([&] { return writer.Run(kept); }, nobody);
        EXPECT_EQ(refused.ExitCode, 1) << refused.Err;
        EXPECT_NE(refused.Err.find("\"" + locked + "\""), std::string::npos) << refused.Err;
        EXPECT_EQ(Read(kept), "old");
        fs::permissions(locked, fs::perms(0755));
        fs::remove_all(locked);

        // Past a file-size limit the old file stays whole and the failure is said.
        const std::string limited = root_ + "/limited" + writer.Suffix;
        Write(limited, "old");
        ChildSetup small;
        small.FileSizeLimit = SIZE_LIMIT;
        const Outcome cut = RunChild([&] { return writer.Run(limited); }, small);
        EXPECT_EQ(cut.Signal, 0);
        EXPECT_EQ(cut.ExitCode, 1) << cut.Err;
        EXPECT_FALSE(cut.Err.empty());
        EXPECT_EQ(Read(limited), "old");
        CheckNothingLeft();

        // A good output is written and keeps the old file's permissions.
        const std::string good = root_ + "/good" + writer.Suffix;
        Write(good, "old");
        fs::permissions(good, fs::perms(0640));
        const Outcome done = RunChild([&] { return writer.Run(good); }, {});
        EXPECT_EQ(done.ExitCode, 0) << done.Err;
        EXPECT_TRUE(Read(good).starts_with(writer.Magic));
        EXPECT_NE(Read(good), "old");
        EXPECT_EQ(fs::status(good).permissions(), fs::perms(0640));
        CheckNothingLeft();
    }
}

TEST_F(WriterTest, SigtermDuringALongExportLeavesEveryOldPartAsItWas) {
    // 1200 measures: a picture in several parts and many pages.
    midi_ = WriteMidi(Song({Measures(1200)}), "long.mid").toStdString();
    midiBytes_ = Read(midi_);
    for (const Writer& writer : Writers()) {
        if (!writer.Long) continue;
        SCOPED_TRACE(writer.Name);
        const std::string folder = root_ + "/signalled";
        fs::create_directories(folder);
        const std::string out = folder + "/out" + writer.Suffix;
        const std::string second = folder + "/out-2" + writer.Suffix;
        Write(out, "old");
        Write(second, "old 2");
        ChildSetup watched;
        watched.SignalWhenHidden = folder;
        const Outcome run = RunChild([&] { return writer.Run(out); }, watched);
        EXPECT_EQ(run.Signal, SIGTERM) << run.Err;
        EXPECT_EQ(Read(out), "old");
        EXPECT_EQ(Read(second), "old 2");
        EXPECT_FALSE(HasHiddenEntry(folder));
        fs::remove_all(folder);
    }
}

} // namespace
} // namespace morvel::exporttest
