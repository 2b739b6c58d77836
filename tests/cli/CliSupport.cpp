#include "tests/cli/CliSupport.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace morvel::clitest {

namespace {

// Forks and execs the converter with the given standard output and error. In the child,
// `prepare` runs just before the exec.
template <typename Prepare>
pid_t Spawn(const std::vector<std::string>& args, int outFd, int errFd, Prepare prepare) {
    std::vector<std::string> argStrings;
    argStrings.push_back(MORVEL_CONVERT_BIN);
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argStrings)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(outFd, STDOUT_FILENO);
        dup2(errFd, STDERR_FILENO);
        // A sanitizer report must not pass for a conversion failure (status 1).
        for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
            const char* given = getenv(name);
            std::string value = std::string(given ? given : "") +
                                ":exitcode=" + std::to_string(SANITIZER_EXIT_CODE);
            setenv(name, value.c_str(), 1);
        }
        prepare();
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

} // namespace

int StartConvert(const std::vector<std::string>& args, int errFd) {
    int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    pid_t pid = Spawn(args, devNull, errFd, [] {});
    close(devNull);
    return pid;
}

RunResult RunConvert(const std::vector<std::string>& args, int timeoutSeconds, long fileSizeLimit) {
    RunResult result;
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    pid_t pid = Spawn(args, outPipe[1], errPipe[1], [fileSizeLimit] {
        if (fileSizeLimit < 0) return;
        const rlimit limit{static_cast<rlim_t>(fileSizeLimit), static_cast<rlim_t>(fileSizeLimit)};
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    close(outPipe[1]);
    close(errPipe[1]);

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.Out, &result.Err};
    int open = 2;
    char buffer[65536];
    while (open > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) {
            result.TimedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        int ready = poll(fds, 2, static_cast<int>(left));
        if (ready < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (pollfd& p : fds)
        if (p.fd >= 0) close(p.fd);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status))
        result.ExitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.Signal = WTERMSIG(status);
    return result;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "morvel-cli-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

} // namespace morvel::clitest
