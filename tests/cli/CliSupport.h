// Helpers for the converter's tests: run the real binary with a time limit and work in a
// private temporary folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace morvel::clitest {

// The status a sanitizer-built converter exits with when it reports a fault.
constexpr int SANITIZER_EXIT_CODE = 86;

struct RunResult {
    int ExitCode = -1; // -1 when the process did not exit normally
    int Signal = 0;    // the signal that ended it, if any
    bool TimedOut = false;
    std::string Out;
    std::string Err;
};

// Runs morvel-convert with `args`; kills it and sets TimedOut after `timeoutSeconds`. A
// `fileSizeLimit` of 0 or more becomes the process's RLIMIT_FSIZE, in bytes.
RunResult RunConvert(const std::vector<std::string>& args, int timeoutSeconds = 60,
                     long fileSizeLimit = -1);

// Starts morvel-convert with `args`, its standard error on `errFd` and its standard output on
// /dev/null, and returns at once with its process id.
int StartConvert(const std::vector<std::string>& args, int errFd);

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& bytes);

// A fresh folder under the system's temporary folder, removed with the object.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

} // namespace morvel::clitest
