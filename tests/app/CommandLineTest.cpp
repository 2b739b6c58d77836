// The window program's command line, parsed in-process, and the real binary answering --help,
// --version and a wrong option with no display at all.
#include "app/CommandLine.h"
#include "core/Version.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

using morvel::CommandLine;
using morvel::ParseCommandLine;

TEST(CommandLine, HelpAndVersionPrintAndEndWithoutError) {
    for (const char* flag : {"--help", "-h"}) {
        SCOPED_TRACE(flag);
        const CommandLine help = ParseCommandLine({"/usr/local/bin/morvel", flag, "song.mid"});
        EXPECT_TRUE(help.Exit);
        EXPECT_EQ(help.ExitStatus, 0);
        EXPECT_TRUE(help.ErrorOutput.isEmpty());
        EXPECT_TRUE(help.Output.startsWith("Usage: morvel [options] [FILE]\n"))
            << help.Output.toStdString();
        EXPECT_TRUE(help.Output.contains("-v, --version"));
        EXPECT_TRUE(help.Output.contains("FILE"));
        // Qt's own options are taken but not offered.
        EXPECT_FALSE(help.Output.contains("platform"));
    }
    for (const char* flag : {"--version", "-v"}) {
        SCOPED_TRACE(flag);
        const CommandLine version = ParseCommandLine({"morvel", flag});
        EXPECT_TRUE(version.Exit);
        EXPECT_EQ(version.ExitStatus, 0);
        EXPECT_EQ(version.Output, QString("morvel %1\n").arg(morvel::PROGRAM_VERSION));
    }
}

TEST(CommandLine, UsageErrorsGoToStandardErrorWithStatusTwo) {
    const CommandLine unknown = ParseCommandLine({"morvel", "--bogus", "song.mid"});
    EXPECT_TRUE(unknown.Exit);
    EXPECT_EQ(unknown.ExitStatus, morvel::EXIT_USAGE);
    EXPECT_TRUE(unknown.Output.isEmpty());
    EXPECT_TRUE(unknown.ErrorOutput.startsWith("morvel: ")) << unknown.ErrorOutput.toStdString();
    EXPECT_TRUE(unknown.ErrorOutput.contains("bogus"));
    EXPECT_TRUE(unknown.ErrorOutput.contains("Usage: morvel"));
    const CommandLine control = ParseCommandLine({"morvel", "--bo\x1b[2Jgus"});
    EXPECT_TRUE(control.ErrorOutput.contains("bo\\x1b[2Jgus")) << control.ErrorOutput.toStdString();
    EXPECT_FALSE(control.ErrorOutput.contains('\x1b'));

    const CommandLine two = ParseCommandLine({"morvel", "a.mid", "b.mid"});
    EXPECT_TRUE(two.Exit);
    EXPECT_EQ(two.ExitStatus, morvel::EXIT_USAGE);
    EXPECT_TRUE(two.ErrorOutput.contains("Usage: morvel"));

    const CommandLine noValue = ParseCommandLine({"morvel", "-platform"});
    EXPECT_EQ(noValue.ExitStatus, morvel::EXIT_USAGE);
}

TEST(CommandLine, FileArgumentIsKeptForAfterTheVersionWindow) {
    EXPECT_FALSE(ParseCommandLine({"morvel"}).Exit);
    EXPECT_TRUE(ParseCommandLine({"morvel"}).File.empty());

    const CommandLine plain = ParseCommandLine({"morvel", "/music/My Song.mid"});
    EXPECT_FALSE(plain.Exit);
    EXPECT_EQ(plain.File, "/music/My Song.mid");
    // Qt's options around the file are left to the application object.
    const CommandLine withQt =
        ParseCommandLine({"morvel", "-platform", "offscreen", "-reverse", "song.mid"});
    EXPECT_FALSE(withQt.Exit);
    EXPECT_EQ(withQt.File, "song.mid");
    // After "--" a name that starts with a dash is a file.
    EXPECT_EQ(ParseCommandLine({"morvel", "--", "-odd.mid"}).File, "-odd.mid");
    // A name that is not UTF-8 keeps its bytes.
    EXPECT_EQ(ParseCommandLine({"morvel", "-style", "fusion", "caf\xe9.mid"}).File, "caf\xe9.mid");
}

namespace {

struct ProgramRun {
    int status = -1;
    std::string out, err;
};

// Runs the window program with `argument` and no display of any kind.
ProgramRun RunWithoutDisplay(const std::string& argument) {
    char dir[] = "/tmp/morvel-cmdline-XXXXXX";
    if (!::mkdtemp(dir)) return {};
    const std::string out = std::string(dir) + "/out", err = std::string(dir) + "/err";
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " +
                                std::string(MORVEL_BINARY) + " " + argument + " >" + out + " 2>" +
                                err + " </dev/null";
    ProgramRun run;
    const int raw = std::system(command.c_str());
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    auto Read = [](const std::string& path) {
        std::ostringstream text;
        text << std::ifstream(path).rdbuf();
        return text.str();
    };
    run.out = Read(out);
    run.err = Read(err);
    std::remove(out.c_str());
    std::remove(err.c_str());
    ::rmdir(dir);
    return run;
}

} // namespace

TEST(CommandLine, BinaryAnswersWithoutDisplay) {
    const ProgramRun help = RunWithoutDisplay("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, morvel::CommandLineUsage().toStdString());
    EXPECT_EQ(help.err, "");

    const ProgramRun version = RunWithoutDisplay("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("morvel ") + morvel::PROGRAM_VERSION + "\n");

    const ProgramRun unknown = RunWithoutDisplay("--no-such-option");
    EXPECT_EQ(unknown.status, morvel::EXIT_USAGE);
    EXPECT_EQ(unknown.out, "");
    EXPECT_NE(unknown.err.find("Usage: morvel"), std::string::npos) << unknown.err;

    // The window itself needs a display: a message and status 1, not Qt's abort.
    const ProgramRun window = RunWithoutDisplay("");
    EXPECT_EQ(window.status, 1);
    EXPECT_EQ(window.err.rfind("morvel: cannot connect to a display: ", 0), 0u) << window.err;
}
