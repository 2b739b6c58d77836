// Every writer of the program against one table of hostile outputs: the input by another name,
// a FIFO, a character device, links (followed, dangling, looping, planted in a shared folder),
// files the writer may not write or whose ACL, attributes or other names a replacement would
// lose, a folder where no temporary file can be made, a file-size limit and SIGTERM while a long
// export runs; then what only the tools can be asked: standard output that is the input, a
// settings file as output, outputs naming one file, and several outputs put in place all or
// none. Each writer runs in a child process (the tools exec'd, the window's commands and the
// settings and Recent Files writers forked), so limits, identities and signals never touch the
// test runner.

#include "core/SettingsFiles.h"
#include "io/OutputFile.h"
#include "settings/RecentFiles.h"
#include "tests/export/ExportFixture.h"

#include <QDir>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sys/xattr.h>
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

std::string Attribute(const std::string& path, const char* name) {
    char value[256];
    const ssize_t size = getxattr(path.c_str(), name, value, sizeof value);
    return size < 0 ? std::string("<none>") : std::string(value, size_t(size));
}

// An access ACL in the kernel's form: the owner rw, user nobody r, the group r (mask r),
// others nothing.
std::string AclLettingNobodyRead() {
    std::string acl;
    auto put = [&acl](uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            acl.push_back(char((value >> (8 * i)) & 0xFF));
    };
    put(2, 4); // the format's version
    const uint32_t none = 0xFFFFFFFF;
    const uint32_t entries[][3] = {
        {0x01, 6, none}, {0x02, 4, NOBODY}, {0x04, 4, none}, {0x10, 4, none}, {0x20, 0, none}};
    for (const auto& entry : entries) {
        put(entry[0], 2);
        put(entry[1], 2);
        put(entry[2], 4);
    }
    return acl;
}

uid_t OwnerOf(const std::string& path) {
    struct stat info {};
    lstat(path.c_str(), &info);
    return info.st_uid;
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
            // One long name, so that the list is larger than the size limit.
            {"Recent Files", ".list", "/", false, false,
             [](const std::string& out) {
                 RecentFiles list(out);
                 std::string error;
                 if (list.Add("/" + std::string(SIZE_LIMIT, 'm') + ".mid", error)) return 0;
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
        // The window's writers refuse a FIFO that nothing reads instead of freezing on it.
        if (!std::string_view(writer.Name).starts_with("morvel-")) {
            const Outcome unread = RunChild(
                [&] {
                    SetPipeWriting(PipeWriting::RefuseWithoutReader);
                    return writer.Run(fifo);
                },
                {});
            EXPECT_EQ(unread.ExitCode, 1) << unread.Err;
            EXPECT_NE(unread.Err.find("is a pipe that no program reads"), std::string::npos)
                << unread.Err;
            EXPECT_TRUE(fs::is_fifo(fifo));
        }
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

        // A link is followed to a regular file, which is replaced while the link stays; a
        // dangling link or a loop is refused, naming it, and stays as it was.
        const std::string target = root_ + "/target" + writer.Suffix;
        const std::string link = root_ + "/link" + writer.Suffix;
        Write(target, "old");
        fs::create_symlink(target, link);
        const Outcome followed = RunChild([&] { return writer.Run(link); }, {});
        EXPECT_EQ(followed.ExitCode, 0) << followed.Err;
        EXPECT_TRUE(fs::is_symlink(link));
        EXPECT_TRUE(Read(target).starts_with(writer.Magic));
        EXPECT_NE(Read(target), "old");
        fs::remove(link);
        fs::remove(target);
        for (const std::string& pointsAt : {root_ + "/missing", link}) {
            fs::create_symlink(pointsAt, link);
            const Outcome dangling = RunChild([&] { return writer.Run(link); }, {});
            EXPECT_EQ(dangling.ExitCode, 1) << dangling.Err;
            EXPECT_NE(dangling.Err.find("symbolic link"), std::string::npos) << dangling.Err;
            EXPECT_TRUE(fs::is_symlink(link));
            EXPECT_FALSE(fs::exists(root_ + "/missing"));
            fs::remove(link);
            CheckNothingLeft();
        }

        // In a sticky world-writable folder, what another user planted there is left alone by
        // the superuser: a link to the superuser's file is not followed, a file not written.
        if (root) {
            const std::string shared = root_ + "/shared";
            fs::create_directories(shared);
            fs::permissions(shared, fs::perms(01777));
            const std::string victim = root_ + "/victim" + writer.Suffix;
            const std::string planted = shared + "/out" + writer.Suffix;
            Write(victim, "root's");
            fs::create_symlink(victim, planted);
            ASSERT_EQ(lchown(planted.c_str(), NOBODY, NOBODY), 0);
            const Outcome viaLink = RunChild([&] { return writer.Run(planted); }, {});
            EXPECT_EQ(viaLink.ExitCode, 1) << viaLink.Err;
            EXPECT_NE(viaLink.Err.find("not followed"), std::string::npos) << viaLink.Err;
            EXPECT_EQ(Read(victim), "root's");
            fs::remove(planted);
            Write(planted, "nobody's");
            ASSERT_EQ(chown(planted.c_str(), NOBODY, NOBODY), 0);
            const Outcome theirs = RunChild([&] { return writer.Run(planted); }, {});
            EXPECT_EQ(theirs.ExitCode, 1) << theirs.Err;
            EXPECT_EQ(Read(planted), "nobody's");
            EXPECT_EQ(OwnerOf(planted), NOBODY);
            fs::remove_all(shared);
            fs::remove(victim);
        }

        // What the user may not write is refused with the system's reason, as `>` refuses it:
        // a 0444 file of the user's, and another user's 0644 file in a folder open to all.
        {
            const std::string open = root_ + "/open";
            fs::create_directories(open);
            fs::permissions(open, fs::perms(0777));
            const std::string mine = open + "/mine" + writer.Suffix;
            Write(mine, "old");
            fs::permissions(mine, fs::perms(0444));
            if (root) {
                ASSERT_EQ(chown(mine.c_str(), NOBODY, NOBODY), 0);
            }
            ChildSetup asUser;
            asUser.AsNobody = root;
            const Outcome own = RunChild([&] { return writer.Run(mine); }, asUser);
            EXPECT_EQ(own.ExitCode, 1) << own.Err;
            EXPECT_NE(own.Err.find(std::strerror(EACCES)), std::string::npos) << own.Err;
            EXPECT_EQ(Read(mine), "old");
            if (root) {
                const std::string theirs = open + "/theirs" + writer.Suffix;
                Write(theirs, "old");
                fs::permissions(theirs, fs::perms(0644));
                const Outcome other = RunChild([&] { return writer.Run(theirs); }, asUser);
                EXPECT_EQ(other.ExitCode, 1) << other.Err;
                EXPECT_NE(other.Err.find(std::strerror(EACCES)), std::string::npos) << other.Err;
                EXPECT_EQ(Read(theirs), "old");
                EXPECT_EQ(OwnerOf(theirs), 0u);
            }
            EXPECT_FALSE(HasHiddenEntry(open));
            fs::remove_all(open);
        }

        // A file with a second name is not parted from it.
        const std::string linked = root_ + "/linked" + writer.Suffix;
        Write(linked, "old");
        fs::create_hard_link(linked, root_ + "/second-name");
        const Outcome parted = RunChild([&] { return writer.Run(linked); }, {});
        EXPECT_EQ(parted.ExitCode, 1) << parted.Err;
        EXPECT_NE(parted.Err.find("hard links"), std::string::npos) << parted.Err;
        EXPECT_EQ(Read(linked), "old");
        EXPECT_EQ(fs::hard_link_count(linked), 2u);
        fs::remove(linked);
        fs::remove(root_ + "/second-name");
        CheckNothingLeft();

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

        // A good output is written and keeps the old file's permissions, its ACL and its other
        // extended attributes (where the filesystem has them).
        const std::string good = root_ + "/good" + writer.Suffix;
        Write(good, "old");
        fs::permissions(good, fs::perms(0640));
        const std::string acl = AclLettingNobodyRead();
        const bool attributes = setxattr(good.c_str(), "user.morvel", "kept", 4, 0) == 0;
        const bool withAcl =
            setxattr(good.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) == 0;
        const Outcome done = RunChild([&] { return writer.Run(good); }, {});
        EXPECT_EQ(done.ExitCode, 0) << done.Err;
        EXPECT_TRUE(Read(good).starts_with(writer.Magic));
        EXPECT_NE(Read(good), "old");
        EXPECT_EQ(fs::status(good).permissions(), fs::perms(0640));
        if (attributes) {
            EXPECT_EQ(Attribute(good, "user.morvel"), "kept");
        }
        if (withAcl) {
            EXPECT_EQ(Attribute(good, "system.posix_acl_access"), acl);
        }
        CheckNothingLeft();
    }
}

TEST_F(WriterTest, TheToolsLeaveWhatTheyReadAndPutSeveralOutputsInPlaceAllOrNone) {
    const bool root = geteuid() == 0;
    // Standard output appending to or overwriting the input is refused before anything is
    // written.
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{MORVEL_CONVERT_BIN, midi_},
          {MORVEL_CONVERT_BIN, "--musicxml", midi_},
          {MORVEL_EXPORT_TOOL, "--track", "1", "--png", root_ + "/t.png", midi_}})
        for (int flags : {O_WRONLY | O_APPEND, O_RDWR}) {
            SCOPED_TRACE(command[1] + (flags == O_RDWR ? " 1<>" : " >>"));
            const Outcome run = RunChild(
                [&] {
                    const int fd = open(midi_.c_str(), flags);
                    if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) return 125;
                    return Exec(command);
                },
                {});
            EXPECT_EQ(run.ExitCode, 1) << run.Err;
            EXPECT_NE(run.Err.find("standard output: is \"" + midi_ + "\""), std::string::npos)
                << run.Err;
            EXPECT_FALSE(fs::exists(root_ + "/t.png"));
            CheckNothingLeft();
        }

    // The settings files a command reads are never its output.
    const std::string ini = root_ + "/settings.ini";
    const std::string optionFile = root_ + "/settings.opt";
    Write(ini, "[Options]\n");
    std::string error;
    ASSERT_TRUE(WriteOptionFile(optionFile, StoredSettings(), error)) << error;
    const std::string optionBytes = Read(optionFile);
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{MORVEL_CONVERT_BIN, "--ini", ini, "-o", ini, midi_},
          {MORVEL_CONVERT_BIN, "--options", optionFile, "--musicxml", "-o", optionFile, midi_},
          {MORVEL_EXPORT_TOOL, "--ini", ini, "--track", "1", "--png", ini, midi_},
          {MORVEL_EXPORT_TOOL, "--options", optionFile, "--track", "1", "--pdf", optionFile,
           midi_}}) {
        SCOPED_TRACE(command[0] + " " + command[command.size() - 2]);
        const Outcome run = RunChild([&] { return Exec(command); }, {});
        EXPECT_EQ(run.ExitCode, 1) << run.Err;
        EXPECT_NE(run.Err.find("files this command reads"), std::string::npos) << run.Err;
        EXPECT_EQ(Read(ini), "[Options]\n");
        EXPECT_EQ(Read(optionFile), optionBytes);
        CheckNothingLeft();
    }

    // A picture's second part named like another output is refused before anything is drawn.
    const std::string tall = WriteMidi(Song({Measures(1200)}), "tall.mid").toStdString();
    const std::string png = root_ + "/t.png", bmp = root_ + "/t-2.png";
    const Outcome collided = RunChild(
        [&] { return Exec({MORVEL_EXPORT_TOOL, "--track", "1", "--png", png, "--bmp", bmp, tall}); },
        {});
    EXPECT_EQ(collided.ExitCode, 1) << collided.Err;
    EXPECT_NE(collided.Err.find(bmp + ": is named twice among the outputs"), std::string::npos)
        << collided.Err;
    EXPECT_FALSE(fs::exists(png));
    EXPECT_FALSE(fs::exists(bmp));
    CheckNothingLeft();

    // One output that cannot be replaced (another user's file in a shared folder) keeps the
    // others from being replaced.
    const std::string shared = root_ + "/shared";
    fs::create_directories(shared);
    fs::permissions(shared, fs::perms(01777));
    const std::string picture = shared + "/t.png", pages = shared + "/t.pdf";
    Write(picture, "old");
    Write(pages, "old");
    fs::permissions(pages, fs::perms(0666));
    if (root) {
        ASSERT_EQ(chown(picture.c_str(), NOBODY, NOBODY), 0);
    }
    ChildSetup asUser;
    asUser.AsNobody = root;
    if (root) {
        const Outcome run = RunChild(
            [&] {
                return Exec({MORVEL_EXPORT_TOOL, "--track", "1", "--png", picture, "--pdf", pages,
                             midi_});
            },
            asUser);
        EXPECT_EQ(run.ExitCode, 1) << run.Err;
        EXPECT_EQ(Read(picture), "old");
        EXPECT_EQ(Read(pages), "old");
        EXPECT_FALSE(HasHiddenEntry(shared));
    }

    // When the last output fails as it is put in place (a device that is full), the picture
    // already put in place gets its old file back.
    if (fs::exists("/dev/full")) {
        const std::string kept = root_ + "/kept.png";
        Write(kept, "old");
        const Outcome run = RunChild(
            [&] {
                return Exec({MORVEL_EXPORT_TOOL, "--track", "1", "--png", kept, "--pdf",
                             "/dev/full", midi_});
            },
            {});
        EXPECT_EQ(run.ExitCode, 1) << run.Err;
        EXPECT_NE(run.Err.find("/dev/full: "), std::string::npos) << run.Err;
        EXPECT_EQ(Read(kept), "old");
        CheckNothingLeft();
    }
    fs::remove_all(shared);
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
