// Where one conversion's text goes.
//
// A regular file, existing or new, is written as a temporary file in the same folder and
// renamed into place only when the conversion succeeded and every byte was written: a failed,
// cut-short or interrupted conversion leaves an existing file as it was and no half file
// behind. The new file keeps an existing file's permissions (and, where allowed, its owner);
// a new one gets the usual 0666 less the umask. A file reached through a symbolic link is
// replaced at the link's target, so the link stays. An existing file that may be written in a
// folder that may not is kept whole in memory instead and written over only on success.
//
// Special files (a terminal, /dev/null, a pipe, a device) and standard output under any name
// (/dev/stdout, /proc/self/fd/1) are written directly and never renamed over.
#pragma once

#include <cstdio>
#include <string>
#include <sys/types.h>
#include <vector>

namespace morvel::cli {

// A file as the system knows it, whatever name reaches it.
struct FileId {
    dev_t Device;
    ino_t Inode;
    bool operator==(const FileId&) const = default;
};

// The ids of the files among `paths` that exist (others are left out).
std::vector<FileId> FileIds(const std::vector<std::string>& paths);

class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile(); // an unfinished temporary file is removed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Prepares `path` for writing. Refuses a path that reaches one of `inputs`. False with
    // `error` (a short lower-case text to follow the file name) when it cannot be written.
    bool Open(const std::string& path, const std::vector<FileId>& inputs, std::string& error);
    // Writes to the process's standard output.
    void OpenStandardOutput();

    // Writes `size` bytes; a failure is remembered (with its errno) and later writes are
    // dropped.
    void Write(const char* data, size_t size);

    // Ends the output. With `keep` a regular file is put in place; without, the text written
    // so far is thrown away (a special file keeps what it got). False with `error` when
    // something could not be written or put in place.
    bool Finish(bool keep, std::string& error);

  private:
    bool WriteOver(std::string& error);
    void Discard();

    std::FILE* stream_ = nullptr;
    bool standardOutput_ = false;
    std::string target_;   // the file put in place by Finish; empty for direct writes
    std::string tempPath_; // the temporary file being written
    bool holding_ = false; // the text is held in `held_` until Finish writes it over target_
    std::string held_;
    int tempSlot_ = -1;
    int writeErrno_ = 0; // errno of the first failed write, 0 while all went well
};

} // namespace morvel::cli
