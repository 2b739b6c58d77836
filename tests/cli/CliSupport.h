// Helpers for the converter's tests: run the real binary with a time limit, build small
// MIDI files as bytes, and work in a private temporary folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
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

// Runs morvel-convert with `args`; kills it and sets TimedOut after `timeoutSeconds`.
RunResult RunConvert(const std::vector<std::string>& args, int timeoutSeconds = 60);

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& bytes);

// A Standard MIDI File assembled from raw track bodies; each track gets its end-of-track
// event appended.
class MidiBuilder {
  public:
    MidiBuilder(int format, int division) : format_(format), division_(division) {}
    // Starts a new track; the note calls below append to the newest one.
    MidiBuilder& Track();
    MidiBuilder& Name(const std::string& name);
    // A note-on after `delta` ticks, and its note-off `length` ticks later.
    MidiBuilder& Note(uint32_t delta, int note, uint32_t length, int channel = 0);
    // Several notes starting together, all `length` long.
    MidiBuilder& Chord(uint32_t delta, std::initializer_list<int> notes, uint32_t length,
                       int channel = 0);
    std::string Bytes() const;

  private:
    int format_;
    int division_;
    std::vector<std::string> tracks_;
};

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
