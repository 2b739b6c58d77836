#include "io/OutputFile.h"

#include "io/TempFiles.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvel {

namespace {

constexpr size_t OUTPUT_BUFFER_BYTES = 1 << 16;
constexpr mode_t NEW_FILE_MODE = 0666;
constexpr mode_t MODE_BITS = 07777;
// A temporary name is the output's name with a dot before and a unique part after; long names
// are cut so that it still fits a folder entry.
constexpr size_t TEMP_NAME_KEPT = 200;

// Read once, before any thread starts: umask can only be read by setting it.
const mode_t CREATION_UMASK = [] {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}();

std::string Reason(const char* what, int error) {
    return std::string(what) + ": " + std::strerror(error);
}

bool WriteAll(int fd, const char* data, size_t size, int& error) {
    while (size > 0) {
        const ssize_t done = ::write(fd, data, size);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) {
            error = done < 0 ? errno : EIO;
            return false;
        }
        data += done;
        size -= static_cast<size_t>(done);
    }
    return true;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

std::optional<FileId> FileIdOf(const std::string& path) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return FileId{info.st_dev, info.st_ino};
}

std::vector<FileId> FileIds(const std::vector<std::string>& paths) {
    std::vector<FileId> ids;
    for (const std::string& path : paths)
        if (std::optional<FileId> id = FileIdOf(path)) ids.push_back(*id);
    return ids;
}

// ---- OutputSet ----

OutputSet::~OutputSet() {
    Discard();
}

const std::string& OutputSet::WritePath(size_t i) const {
    const Output& output = outputs_[i];
    return output.Temp.empty() ? output.Given : output.Temp;
}

int OutputSet::Descriptor(size_t i) const {
    return outputs_[i].Fd;
}

const std::string& OutputSet::Path(size_t i) const {
    return outputs_[i].Given;
}

bool OutputSet::Add(const std::string& path, const std::vector<FileId>& refused,
                    SpecialFiles special, std::string& error, const std::string& refusal) {
    std::signal(SIGXFSZ, SIG_IGN);
    Output output;
    output.Given = path;
    struct stat info;
    const bool exists = ::stat(path.c_str(), &info) == 0;
    bool isSpecial = false;
    if (exists) {
        const FileId id{info.st_dev, info.st_ino};
        if (std::find(refused.begin(), refused.end(), id) != refused.end()) {
            error = refusal;
            return false;
        }
        struct stat out;
        if (::fstat(STDOUT_FILENO, &out) == 0 && id == FileId{out.st_dev, out.st_ino}) {
            output.ToStandardOutput = true;
            isSpecial = true;
        } else if (S_ISDIR(info.st_mode)) {
            error = "cannot create: is a directory";
            return false;
        } else if (!S_ISREG(info.st_mode)) {
            isSpecial = true;
        }
    }

    if (isSpecial && special == SpecialFiles::Stream) {
        if (output.ToStandardOutput) {
            output.Fd = STDOUT_FILENO;
        } else {
            // A pipe waits here for its reader, as any writer of a pipe does.
            output.Fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
            if (output.Fd < 0) {
                error = Reason("cannot open", errno);
                return false;
            }
        }
        outputs_.push_back(std::move(output));
        return true;
    }

    if (isSpecial) {
        // Staged in the temporary folder, copied into the special file on commit.
        const char* tmp = std::getenv("TMPDIR");
        std::string folder = tmp && *tmp ? tmp : "/tmp";
        output.Temp = folder + "/morvel-output-XXXXXX";
        output.Fd = CreateTemporaryFile(output.Temp, 0, output.Slot);
        if (output.Fd < 0) {
            error = "cannot create a temporary file in the folder \"" + folder +
                    "\": " + std::strerror(errno);
            return false;
        }
        outputs_.push_back(std::move(output));
        return true;
    }

    output.Target = path;
    struct stat link;
    if (exists && ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) != nullptr) output.Target = resolved;
    }
    const std::string folder = FolderOf(output.Target);
    const size_t slash = output.Target.rfind('/');
    const std::string name =
        slash == std::string::npos ? output.Target : output.Target.substr(slash + 1);
    if (name.size() > NAME_MAX) { // found now, not when the finished file is renamed
        error = Reason("cannot create", ENAMETOOLONG);
        return false;
    }
    const std::string prefix =
        slash == std::string::npos ? std::string() : folder + (folder == "/" ? "" : "/");
    output.Temp = prefix + "." + name.substr(0, TEMP_NAME_KEPT) + ".XXXXXX";
    output.Fd = CreateTemporaryFile(output.Temp, 0, output.Slot);
    if (output.Fd < 0) {
        const int why = errno;
        output.Temp.clear();
        if (exists)
            error = "cannot write a temporary file in the folder \"" + folder +
                    "\" (" + std::strerror(why) + "); the file is left as it is";
        else
            error = Reason("cannot create", why);
        return false;
    }
    if (exists) {
        // Owner first: changing it may clear set-id bits that the mode then restores.
        if (::fchown(output.Fd, info.st_uid, info.st_gid) != 0) {
            // Only the superuser may give a file away; the mode is kept all the same.
        }
        ::fchmod(output.Fd, info.st_mode & MODE_BITS);
    } else {
        ::fchmod(output.Fd, NEW_FILE_MODE & ~CREATION_UMASK);
    }
    outputs_.push_back(std::move(output));
    return true;
}

bool OutputSet::CopyInto(const Output& output, std::string& error) {
    const int from = ::open(output.Temp.c_str(), O_RDONLY | O_CLOEXEC);
    if (from < 0) {
        error = Reason("cannot read the written file", errno);
        return false;
    }
    int to = STDOUT_FILENO;
    if (!output.ToStandardOutput) {
        to = ::open(output.Given.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (to < 0) {
            error = Reason("cannot open", errno);
            ::close(from);
            return false;
        }
    }
    char buffer[OUTPUT_BUFFER_BYTES];
    int why = 0;
    bool ok = true;
    for (;;) {
        const ssize_t got = ::read(from, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = Reason("cannot read the written file", errno);
            ok = false;
            break;
        }
        if (got == 0) break;
        if (!WriteAll(to, buffer, static_cast<size_t>(got), why)) {
            error = Reason("cannot write", why);
            ok = false;
            break;
        }
    }
    ::close(from);
    if (!output.ToStandardOutput && ::close(to) != 0 && ok) {
        error = Reason("cannot write", errno);
        ok = false;
    }
    return ok;
}

bool OutputSet::Commit(std::string& error) {
    failed_.clear();
    bool ok = true;
    for (Output& output : outputs_) {
        if (!ok) {
            Throw(output);
            continue;
        }
        if (output.Temp.empty()) { // streamed into a special file: nothing left to do
            if (output.Fd >= 0 && !output.ToStandardOutput) ::close(output.Fd);
            output.Fd = -1;
            committed_.push_back(output.Given);
            continue;
        }
        if (output.Target.empty()) {
            ok = CopyInto(output, error);
            if (ok) committed_.push_back(output.Given);
            else failed_ = output.Given;
            Throw(output);
            continue;
        }
        ::close(output.Fd);
        output.Fd = -1;
        if (RenameTemporaryFile(output.Slot, output.Temp, output.Target) != 0) {
            error = Reason("cannot replace the file", errno);
            failed_ = output.Given;
            ok = false;
            Throw(output);
            continue;
        }
        output.Temp.clear();
        output.Slot = NO_TEMP_SLOT;
        committed_.push_back(output.Given);
    }
    outputs_.clear();
    return ok;
}

void OutputSet::Throw(Output& output) {
    if (output.Fd >= 0 && !output.ToStandardOutput) ::close(output.Fd);
    output.Fd = -1;
    if (!output.Temp.empty()) RemoveTemporaryFile(output.Slot, output.Temp);
    output.Temp.clear();
    output.Slot = NO_TEMP_SLOT;
}

void OutputSet::Discard() {
    for (Output& output : outputs_)
        Throw(output);
    outputs_.clear();
}

// ---- OutputFile ----

OutputFile::~OutputFile() {
    if (stream_ != nullptr && !standardOutput_) std::fclose(stream_);
    stream_ = nullptr;
}

void OutputFile::OpenStandardOutput() {
    stream_ = stdout;
    standardOutput_ = true;
    std::setvbuf(stream_, nullptr, _IOFBF, OUTPUT_BUFFER_BYTES);
}

bool OutputFile::Open(const std::string& path, const std::vector<FileId>& inputs,
                      std::string& error) {
    if (!set_.Add(path, inputs, SpecialFiles::Stream, error)) return false;
    if (set_.IsStandardOutput(0)) {
        OpenStandardOutput();
        return true;
    }
    const int fd = ::dup(set_.Descriptor(0));
    if (fd < 0 || (stream_ = ::fdopen(fd, "wb")) == nullptr) {
        error = Reason("cannot open", errno);
        if (fd >= 0) ::close(fd);
        set_.Discard();
        return false;
    }
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    std::setvbuf(stream_, nullptr, _IOFBF, OUTPUT_BUFFER_BYTES);
    return true;
}

void OutputFile::Write(const char* data, size_t size) {
    if (writeErrno_ != 0 || stream_ == nullptr) return;
    if (std::fwrite(data, 1, size, stream_) != size) writeErrno_ = errno != 0 ? errno : EIO;
}

bool OutputFile::Finish(bool keep, std::string& error) {
    if (stream_ == nullptr) return true;
    errno = 0;
    if (std::fflush(stream_) != 0 && writeErrno_ == 0) writeErrno_ = errno != 0 ? errno : EIO;
    if (!standardOutput_ && std::fclose(stream_) != 0 && writeErrno_ == 0)
        writeErrno_ = errno != 0 ? errno : EIO;
    stream_ = nullptr;
    if (writeErrno_ != 0) {
        error = Reason("cannot write", writeErrno_);
        set_.Discard();
        return false;
    }
    if (!keep) {
        set_.Discard();
        return true;
    }
    return set_.Size() == 0 || set_.Commit(error);
}

} // namespace morvel
