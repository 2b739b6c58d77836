// The one way every writer of the program puts a file on disk.
//
// A regular file, existing or new, is written as a temporary file in the same folder and
// renamed into place only when every byte of it was written: a failed, cut-short or
// interrupted write leaves an existing file as it was and no half file behind. The new file
// keeps an existing file's permissions (and, where allowed, its owner); a new one gets the
// usual 0666 less the umask. A file reached through a symbolic link is replaced at the link's
// target, so the link stays. When no temporary file can be made beside the target the output
// is refused with the folder and the reason; nothing is ever written in place.
//
// Special files (a terminal, /dev/null, a pipe, a device) and standard output under any name
// (/dev/stdout, /proc/self/fd/1) are written, never renamed over or replaced.
//
// Several outputs of one command form one OutputSet: every one is written first, and only then
// are they put in place together, so a failure in one part leaves every old file as it was.
// Temporary files are registered in the TempFiles table and so removed on SIGINT, SIGTERM and
// SIGHUP. Preparing an output ignores SIGXFSZ, so that a file-size limit is a write error like
// any other instead of ending the process without a word.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace morvel {

// A file as the system knows it, whatever name reaches it.
struct FileId {
    dev_t Device;
    ino_t Inode;
    bool operator==(const FileId&) const = default;
};

// The id of the file `path` reaches, if it exists.
std::optional<FileId> FileIdOf(const std::string& path);
// The ids of the files among `paths` that exist (others are left out).
std::vector<FileId> FileIds(const std::vector<std::string>& paths);

// How a special file (a pipe, a device, standard output) receives its bytes.
enum class SpecialFiles {
    // The writer streams straight into it through Descriptor().
    Stream,
    // The writer writes a temporary regular file (in $TMPDIR) by its WritePath(), and Commit
    // copies it into the special file, so that a writer which opens files by name and cannot
    // report its own write errors still has every failure seen.
    Stage,
};

class OutputSet {
  public:
    OutputSet() = default;
    ~OutputSet(); // what was not committed is thrown away
    OutputSet(const OutputSet&) = delete;
    OutputSet& operator=(const OutputSet&) = delete;

    // Prepares `path` as the next output. Refuses a path that reaches one of `refused` (the
    // inputs, the open song) with `refusal` as its text, a folder, and a folder in which no
    // temporary file can be made. False with `error` (a short lower-case text to follow the
    // file name) when it cannot be written.
    bool Add(const std::string& path, const std::vector<FileId>& refused, SpecialFiles special,
             std::string& error,
             const std::string& refusal = "is one of the input files; it is left as it is");

    size_t Size() const { return outputs_.size(); }
    // The file the writer of output `i` writes into: its temporary file, or for a special file
    // streamed to, the name given.
    const std::string& WritePath(size_t i) const;
    // A write descriptor on WritePath(i), owned by the set, positioned at the start.
    int Descriptor(size_t i) const;
    // The name given for output `i`.
    const std::string& Path(size_t i) const;

    // True when output `i` is the process's standard output.
    bool IsStandardOutput(size_t i) const { return outputs_[i].ToStandardOutput; }

    // Puts every output in place: temporary files renamed over their targets, staged special
    // files copied into them. Stops at the first failure with `error` (a short lower-case text)
    // and FailedPath() naming the output; the outputs not yet put in place are thrown away.
    // Committed() lists the names put in place.
    bool Commit(std::string& error);
    const std::string& FailedPath() const { return failed_; }
    // Throws every output not yet committed away; the old files stay as they were.
    void Discard();
    const std::vector<std::string>& Committed() const { return committed_; }

  private:
    struct Output {
        std::string Given;  // the name the caller gave
        std::string Target; // the file renamed over (a link's target); empty for special files
        std::string Temp;   // the temporary file; empty when streaming into a special file
        int Slot = -1;
        int Fd = -1;
        bool ToStandardOutput = false;
    };
    void Throw(Output& output);
    bool CopyInto(const Output& output, std::string& error);

    std::vector<Output> outputs_;
    std::vector<std::string> committed_;
    std::string failed_;
};

// One streamed output: the converter's text to a file or to standard output.
class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile(); // an unfinished temporary file is removed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Prepares `path` for writing; see OutputSet::Add.
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
    OutputSet set_;
    std::FILE* stream_ = nullptr;
    bool standardOutput_ = false;
    int writeErrno_ = 0; // errno of the first failed write, 0 while all went well
};

} // namespace morvel
