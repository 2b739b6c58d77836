// The one way every writer of the program puts a file on disk.
//
// A regular file, existing or new, is written as a temporary file in the same folder and
// renamed into place only when every byte of it was written: a failed, cut-short or
// interrupted write leaves an existing file as it was and no half file behind. When no
// temporary file can be made beside the target the output is refused with the folder and the
// reason; nothing is ever written in place.
//
// An existing file is replaced only as the user could write it with the shell's `>`, and only
// when the new file can be all the old one was:
// - a file the user may not write (a 0444 file, another user's 0644 file) is refused with the
//   system's reason ("Permission denied"); the superuser, whom `>` lets write anything, may;
// - in a sticky world-writable folder (/tmp), a file owned by neither the user nor the folder's
//   owner is refused, as the kernel's fs.protected_regular refuses `>` there, the superuser
//   included;
// - the new file gets the old one's mode, owner, group, ACL and every other extended
//   attribute. Where it cannot, the file is refused with the reason and left as it is: a file
//   of another owner (only the superuser can give a file away), a group the user is not in, a
//   file with several names (hard links), which a new file would part from its other names,
//   an attribute the filesystem or the user's rights do not let the new file carry. Writing
//   into the old file instead would cost the guarantee that a failure leaves it whole.
// A new file gets the usual 0666 less the umask.
//
// A symbolic link is followed only to a file that exists: a regular file is then replaced at
// the link's target, so the link stays; a special file is written as below. A dangling link or
// a loop is refused, naming it. In a sticky world-writable folder, a link owned by neither the
// user nor the folder's owner is not followed (the kernel's fs.protected_symlinks rule).
//
// Special files (a terminal, /dev/null, a pipe, a device) and standard output under any name
// (/dev/stdout, /proc/self/fd/1) are written, never renamed over or replaced.
//
// Several outputs of one command form one OutputSet. Every one is checked and written first;
// two that name the same file (by any names) are refused when the second is added. Only then
// are they put in place together, all or none: when putting one in place fails, those put in
// place before it get their old files back. Temporary files are registered in the TempFiles
// table and so removed on SIGINT, SIGTERM and SIGHUP; the renames of a commit finish before
// such a signal is taken. Preparing an output ignores SIGXFSZ, so that a file-size limit is a
// write error like any other instead of ending the process without a word.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <sys/stat.h>
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
// The id of the file the process's standard output writes into, if it is open.
std::optional<FileId> StandardOutputId();

// Makes `folder` and its missing parents, each new one with mode 0700 (as the XDG base
// directory rules ask of state folders). False with `error` (a short lower-case text naming
// the folder) when one cannot be made or is not a folder.
bool MakePrivateFolders(const std::string& folder, std::string& error);

// How a special file (a pipe, a device, standard output) receives its bytes.
enum class SpecialFiles {
    // The writer streams straight into it through Descriptor().
    Stream,
    // The writer writes a temporary regular file (in $TMPDIR) by its WritePath(), and Commit
    // copies it into the special file, so that a writer which opens files by name and cannot
    // report its own write errors still has every failure seen.
    Stage,
};

// What opening a pipe that no program reads does. A command-line tool waits for its reader,
// as any writer of a pipe does; a window must not freeze on a pipe left where a file was
// expected, so it refuses it ("is a pipe that no program reads"). Chosen once, at start-up.
enum class PipeWriting { WaitForReader, RefuseWithoutReader };
void SetPipeWriting(PipeWriting how);

class OutputSet {
  public:
    OutputSet() = default;
    ~OutputSet(); // what was not committed is thrown away
    OutputSet(const OutputSet&) = delete;
    OutputSet& operator=(const OutputSet&) = delete;

    // Prepares `path` as the next output. Refuses a path that reaches one of `refused` (the
    // inputs, the open song) with `refusal` as its text, a file an earlier output of the set
    // reaches, a folder, a folder in which no temporary file can be made, and whatever the
    // rules above refuse. False with `error` (a short lower-case text to follow the file name)
    // when it cannot be written; nothing on disk has changed then.
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

    // Puts every output in place: temporary files renamed over their targets, then staged
    // special files copied into them. At the first failure, with `error` (a short lower-case
    // text) and FailedPath() naming the output, every file renamed into place gets its old
    // file back (a new one is removed) and the outputs not yet put in place are thrown away.
    // Committed() lists the names that keep what was written: all of them, or after a failure
    // the special files that had already received their bytes.
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
        std::string Key;    // which file it reaches, to find two outputs reaching one
        std::string Backup; // the old file's second name while a commit may still undo
        int Slot = -1;
        int Fd = -1;
        bool ToStandardOutput = false;
        bool Existed = false;     // the target was there before
        bool BackupMoved = false; // the old file stepped aside instead of getting a second name
    };
    bool PrepareReplacement(Output& output, bool exists, const struct ::stat& info,
                            std::string& error);
    void Throw(Output& output);
    bool CopyInto(const Output& output, std::string& error);
    bool KeepOldFile(Output& output, std::string& error);
    void PutBack(Output& output);

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
    bool Open(const std::string& path, const std::vector<FileId>& inputs, std::string& error,
              const std::string& refusal = "is one of the input files; it is left as it is");
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
