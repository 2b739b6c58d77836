// Temporary files that must not outlive the process: the conversion report and the converter's
// half-written outputs. Each one is registered while it exists; a handler for SIGINT, SIGTERM
// and SIGHUP removes every registered file and then lets the signal end the process, so an
// interrupted program leaves nothing behind and its parent sees the usual status 128 + signal.
//
// The registry is a fixed table that the handler walks without locks or allocation. Creating,
// renaming and removing a registered file happen with those signals held off, so no signal
// finds a file on disk but not in the table.
#pragma once

#include <csignal>
#include <string>

namespace morvel {

constexpr int NO_TEMP_SLOT = -1;

// Holds SIGINT, SIGTERM and SIGHUP off for the calling thread while it lives: what happens in
// that time is finished before the handler removes anything.
class SignalsHeld {
  public:
    SignalsHeld();
    ~SignalsHeld();
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

  private:
    sigset_t previous_;
};

// Creates a new file from `pattern` as mkstemps does ("XXXXXX" followed by `suffixLength`
// more characters, replaced by a unique name written back into `pattern`), mode 0600, and
// registers it. Returns the descriptor and sets `slot`, or returns -1 with errno set. A path
// the table cannot hold (it is full, or the path is longer than PATH_MAX) is still created,
// with `slot` NO_TEMP_SLOT: it is then not removed on a signal.
int CreateTemporaryFile(std::string& pattern, int suffixLength, int& slot);

// Renames a registered file to `target` and forgets it. Returns rename's result; on failure
// the file stays registered under its old name and errno is set.
int RenameTemporaryFile(int slot, const std::string& path, const std::string& target);

// Unlinks a registered file and forgets it.
void RemoveTemporaryFile(int slot, const std::string& path);

// Unlinks every registered file. Async-signal-safe; the registrations stay.
void RemoveTemporaryFiles();

// Installs the handler for SIGINT, SIGTERM and SIGHUP. A signal that was ignored when the
// process started (as nohup does for SIGHUP) stays ignored.
void RemoveTemporaryFilesOnSignals();

} // namespace morvel
