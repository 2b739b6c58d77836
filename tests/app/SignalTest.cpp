// The window program ends cleanly on a termination signal, even while its modal start-up
// window is open: its settings are written and it asks nothing on the way.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct TempDir {
    TempDir() {
        char pattern[] = "/tmp/morvel-app-XXXXXX";
        path = ::mkdtemp(pattern);
    }
    ~TempDir() { fs::remove_all(path); }
    fs::path path;
};

// Waits up to `seconds` for `pid`; its wait status, or -1 when it is still running.
int WaitFor(pid_t pid, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
        if (::waitpid(pid, &status, WNOHANG) == pid) return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

// True when the process `pid` has a handler for `signal` (its SigCgt mask in /proc).
bool Catches(pid_t pid, int signal) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("SigCgt:", 0) == 0)
            return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1;
    return false;
}

// Starts the window program with its settings in `config`, sends `signal` once its start-up
// window is up, and returns its wait status (after a failure when it did not end).
int RunUntilSignal(const fs::path& config, int signal) {
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", config.c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::execl(MORVEL_BINARY, MORVEL_BINARY, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // The signal is sent once the program catches it (its ending is installed), however long
    // a loaded machine takes to start it, and a moment later, while it starts up.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!Catches(pid, signal) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(pid, signal);
    // The ending waits for the player's SoundFont loader, slow on a loaded machine.
    int status = WaitFor(pid, 90);
    if (status == -1) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        ADD_FAILURE() << "the program did not end on the signal";
    }
    return status;
}

TEST(WindowProgram, EndsOnEachTerminationSignalAndWritesItsSettings) {
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        TempDir config;
        const fs::path ini = config.path / "morvel" / "MORVEL.INI";
        fs::create_directories(ini.parent_path());
        std::ofstream(ini) << "[PARAMS]\nMAXFRET=20\n";
        const int status = RunUntilSignal(config.path, signal);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
        std::ifstream in(ini);
        const std::string text((std::istreambuf_iterator<char>(in)), {});
        EXPECT_NE(text.find("MAXFRET=20"), std::string::npos);
        EXPECT_NE(text.find("BACKGROUNDCOLOR="), std::string::npos) << text; // written anew
    }
}

TEST(WindowProgram, EndsOnASignalWithAnIniThatIsAFifoAndLeavesIt) {
    TempDir config;
    const fs::path ini = config.path / "morvel" / "MORVEL.INI";
    fs::create_directories(ini.parent_path());
    ASSERT_EQ(::mkfifo(ini.c_str(), 0600), 0);
    // Start-up refuses the FIFO at once and says so in a message box, which the signal leaves.
    const int status = RunUntilSignal(config.path, SIGTERM);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
    EXPECT_TRUE(fs::is_fifo(ini));
}

} // namespace
