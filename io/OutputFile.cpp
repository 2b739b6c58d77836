#include "io/OutputFile.h"

#include "io/TempFiles.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
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

PipeWriting pipeWriting = PipeWriting::WaitForReader;

// Opens a special file to write into it, as the pipe policy says.
int OpenSpecialForWriting(const std::string& path, std::string& error) {
    if (pipeWriting == PipeWriting::WaitForReader) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) error = std::string("cannot open: ") + std::strerror(errno);
        return fd;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = errno == ENXIO ? std::string("is a pipe that no program reads; nothing was written")
                               : std::string("cannot open: ") + std::strerror(errno);
        return -1;
    }
    // The reader is there; from now on writes wait for it as usual.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

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

std::string NameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string IdKey(dev_t device, ino_t inode) {
    return std::to_string(device) + ":" + std::to_string(inode);
}

// A folder anyone may add names to but only their owners remove (/tmp).
bool IsSharedFolder(const struct stat& folder) {
    return (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
}

// False for a file `entry` (a link or a file) owned by neither the user nor the owner of the
// shared folder it lies in: the kernel's fs.protected_symlinks and fs.protected_regular rule.
bool OwnedHere(const std::string& path, const struct stat& entry) {
    struct stat folder;
    if (::stat(FolderOf(path).c_str(), &folder) != 0 || !IsSharedFolder(folder)) return true;
    return entry.st_uid == ::geteuid() || entry.st_uid == folder.st_uid;
}

std::string LinkText(const std::string& path) {
    char target[PATH_MAX];
    const ssize_t size = ::readlink(path.c_str(), target, sizeof target);
    return size > 0 ? std::string(target, static_cast<size_t>(size)) : std::string("?");
}

// The names of the extended attributes of `path` (or of the file open on `fd` when `path` is
// empty), each ended by a zero byte. False with errno when they cannot be listed; a
// filesystem without extended attributes has none.
bool AttributeNames(const std::string& path, int fd, std::string& names) {
    for (;;) {
        const ssize_t size =
            path.empty() ? ::flistxattr(fd, nullptr, 0) : ::listxattr(path.c_str(), nullptr, 0);
        if (size < 0) {
            names.clear();
            return errno == ENOTSUP;
        }
        names.assign(static_cast<size_t>(size), '\0');
        const ssize_t got = path.empty() ? ::flistxattr(fd, names.data(), names.size())
                                         : ::listxattr(path.c_str(), names.data(), names.size());
        if (got >= 0) {
            names.resize(static_cast<size_t>(got));
            return true;
        }
        if (errno != ERANGE) return false; // grown in between: ask again
    }
}

std::vector<std::string> Split(const std::string& names) {
    std::vector<std::string> list;
    for (size_t at = 0; at < names.size();) {
        const size_t end = names.find('\0', at);
        list.push_back(names.substr(at, end - at));
        at = end == std::string::npos ? names.size() : end + 1;
    }
    return list;
}

// Gives the file open on `to` exactly the extended attributes of `from`, its ACL
// (system.posix_acl_access) included, and none it got from elsewhere (a folder's default ACL).
bool CopyAttributes(const std::string& from, int to, std::string& error) {
    std::string names;
    if (!AttributeNames(from, -1, names)) {
        error = Reason("cannot read its extended attributes", errno);
        return false;
    }
    const std::vector<std::string> wanted = Split(names);
    std::string present;
    if (AttributeNames("", to, present))
        for (const std::string& name : Split(present))
            if (std::find(wanted.begin(), wanted.end(), name) == wanted.end() &&
                ::fremovexattr(to, name.c_str()) != 0 && errno != ENODATA) {
                error = Reason(("cannot leave out the extended attribute \"" + name + "\"").c_str(),
                               errno);
                return false;
            }
    std::string value;
    for (const std::string& name : wanted) {
        ssize_t size = ::getxattr(from.c_str(), name.c_str(), nullptr, 0);
        if (size >= 0) {
            value.assign(static_cast<size_t>(size), '\0');
            size = ::getxattr(from.c_str(), name.c_str(), value.data(), value.size());
        }
        if (size < 0) {
            if (errno == ENODATA) continue; // removed in between
            error = Reason(("cannot read its extended attribute \"" + name + "\"").c_str(), errno);
            return false;
        }
        if (::fsetxattr(to, name.c_str(), value.data(), static_cast<size_t>(size), 0) != 0) {
            error = Reason(("cannot keep its extended attribute \"" + name + "\"").c_str(), errno);
            return false;
        }
    }
    return true;
}

constexpr const char* LEFT_AS_IT_IS = "; it is left as it is";

} // namespace

void SetPipeWriting(PipeWriting how) {
    pipeWriting = how;
}

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

std::optional<FileId> StandardOutputId() {
    struct stat info;
    if (::fstat(STDOUT_FILENO, &info) != 0) return std::nullopt;
    return FileId{info.st_dev, info.st_ino};
}

bool MakePrivateFolders(const std::string& folder, std::string& error) {
    struct stat info;
    if (folder.empty() || ::stat(folder.c_str(), &info) == 0) {
        if (folder.empty() || S_ISDIR(info.st_mode)) return true;
        error = "\"" + folder + "\" is not a folder";
        return false;
    }
    const std::string parent = FolderOf(folder);
    if (parent != folder && !MakePrivateFolders(parent, error)) return false;
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot create the folder \"" + folder + "\": " + std::strerror(errno);
        return false;
    }
    return true;
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
    struct stat entry; // the name itself, a link not followed
    const bool named = ::lstat(path.c_str(), &entry) == 0;
    const bool isLink = named && S_ISLNK(entry.st_mode);
    struct stat info;
    const bool exists = ::stat(path.c_str(), &info) == 0;
    if (named && !exists) {
        if (!isLink) {
            error = Reason("cannot open", errno);
        } else if (errno == ELOOP) {
            error = std::string("is a symbolic link that never reaches a file (a loop)") +
                    LEFT_AS_IT_IS;
        } else {
            error = "is a symbolic link to \"" + LinkText(path) + "\", which does not exist" +
                    LEFT_AS_IT_IS;
        }
        return false;
    }
    bool isSpecial = false;
    if (exists) {
        const FileId id{info.st_dev, info.st_ino};
        output.Key = IdKey(info.st_dev, info.st_ino);
        if (std::find(refused.begin(), refused.end(), id) != refused.end()) {
            error = refusal;
            return false;
        }
        if (isLink && !OwnedHere(path, entry)) {
            error = "is a symbolic link of another user in a shared folder; it is not followed";
            return false;
        }
        if (std::optional<FileId> out = StandardOutputId(); out && id == *out) {
            output.ToStandardOutput = true;
            isSpecial = true;
        } else if (S_ISDIR(info.st_mode)) {
            error = "cannot create: is a directory";
            return false;
        } else if (!S_ISREG(info.st_mode)) {
            isSpecial = true;
        }
    } else {
        struct stat folder;
        output.Key = ::stat(FolderOf(path).c_str(), &folder) == 0
                         ? IdKey(folder.st_dev, folder.st_ino) + "/" + NameOf(path)
                         : path;
    }
    for (const Output& earlier : outputs_)
        if (earlier.Key == output.Key) {
            error = earlier.Given == path
                        ? "is named twice among the outputs of this command (a picture's parts "
                          "included); nothing was written"
                        : "is the same file as the output \"" + earlier.Given +
                              "\" of this command; nothing was written";
            return false;
        }

    if (isSpecial && special == SpecialFiles::Stream) {
        if (output.ToStandardOutput) {
            output.Fd = STDOUT_FILENO;
        } else {
            output.Fd = OpenSpecialForWriting(path, error);
            if (output.Fd < 0) return false;
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
    if (isLink) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) != nullptr) output.Target = resolved;
    }
    if (!PrepareReplacement(output, exists, info, error)) {
        Throw(output);
        return false;
    }
    outputs_.push_back(std::move(output));
    return true;
}

// Checks that the regular file `output.Target` may be replaced as the contract says and makes
// its temporary file, with everything of the old file the new one keeps.
bool OutputSet::PrepareReplacement(Output& output, bool exists, const struct stat& info,
                                   std::string& error) {
    const std::string folder = FolderOf(output.Target);
    const std::string name = NameOf(output.Target);
    output.Existed = exists;
    if (exists) {
        if (!OwnedHere(output.Target, info)) {
            error = std::string("belongs to another user in a shared folder") + LEFT_AS_IT_IS;
            return false;
        }
        if (::faccessat(AT_FDCWD, output.Target.c_str(), W_OK, AT_EACCESS) != 0) {
            error = Reason("cannot open", errno);
            return false;
        }
        if (info.st_nlink > 1) {
            error = "has " + std::to_string(info.st_nlink) +
                    " names (hard links), which a new file in its place would part" +
                    LEFT_AS_IT_IS;
            return false;
        }
    }
    if (name.size() > NAME_MAX) { // found now, not when the finished file is renamed
        error = Reason("cannot create", ENAMETOOLONG);
        return false;
    }
    const bool bare = output.Target.find('/') == std::string::npos;
    const std::string prefix = bare ? std::string() : folder + (folder == "/" ? "" : "/");
    output.Temp = prefix + "." + name.substr(0, TEMP_NAME_KEPT) + ".XXXXXX";
    output.Fd = CreateTemporaryFile(output.Temp, 0, output.Slot);
    if (output.Fd < 0) {
        const int why = errno;
        output.Temp.clear();
        if (exists)
            error = "cannot write a temporary file in the folder \"" + folder + "\" (" +
                    std::strerror(why) + ")" + LEFT_AS_IT_IS;
        else
            error = Reason("cannot create", why);
        return false;
    }
    if (!exists) {
        ::fchmod(output.Fd, NEW_FILE_MODE & ~CREATION_UMASK);
        return true;
    }
    // Owner first: changing it may clear set-id bits that the mode then restores.
    if (::fchown(output.Fd, info.st_uid, info.st_gid) != 0) {
        struct stat made;
        if (::fstat(output.Fd, &made) != 0 || made.st_uid != info.st_uid) {
            error = std::string("belongs to another user, and a new file in its place would be "
                                "yours") +
                    LEFT_AS_IT_IS;
            return false;
        }
        if (made.st_gid != info.st_gid) {
            error = "belongs to the group " + std::to_string(info.st_gid) +
                    ", which a new file in its place could not keep" + LEFT_AS_IT_IS;
            return false;
        }
    }
    if (::fchmod(output.Fd, info.st_mode & MODE_BITS) != 0) {
        error = Reason("cannot keep its permissions", errno) + LEFT_AS_IT_IS;
        return false;
    }
    if (!CopyAttributes(output.Target, output.Fd, error)) {
        error += LEFT_AS_IT_IS;
        return false;
    }
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
        to = OpenSpecialForWriting(output.Given, error);
        if (to < 0) {
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

// Gives the old file of `output` a second name beside it, so that a commit can put it back.
bool OutputSet::KeepOldFile(Output& output, std::string& error) {
    const std::string folder = FolderOf(output.Target);
    const bool bare = output.Target.find('/') == std::string::npos;
    const std::string base = (bare ? std::string() : folder + (folder == "/" ? "" : "/")) + "." +
                             NameOf(output.Target).substr(0, TEMP_NAME_KEPT) + ".old-" +
                             std::to_string(::getpid()) + "-";
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = base + std::to_string(counter.fetch_add(1));
        if (::link(output.Target.c_str(), name.c_str()) == 0) {
            output.Backup = name;
            return true;
        }
        if (errno == EEXIST) continue;
        // A filesystem without hard links: the old file steps aside instead.
        if (::rename(output.Target.c_str(), name.c_str()) == 0) {
            output.Backup = name;
            output.BackupMoved = true;
            return true;
        }
        if (errno != EEXIST) break;
    }
    error = Reason("cannot keep the old file until every output is in place", errno);
    return false;
}

// Undoes the rename of `output`: its old file back under its name, or a new file removed.
void OutputSet::PutBack(Output& output) {
    if (output.Backup.empty()) {
        if (!output.Existed) ::unlink(output.Target.c_str());
        return;
    }
    if (::rename(output.Backup.c_str(), output.Target.c_str()) == 0) output.Backup.clear();
}

bool OutputSet::Commit(std::string& error) {
    failed_.clear();
    committed_.clear();
    size_t replacing = 0;
    for (const Output& output : outputs_)
        if (!output.Temp.empty()) ++replacing;
    // Only a commit of several files can fail after one was put in place.
    const bool undoable = replacing > 1;
    std::vector<Output*> renamed;
    bool ok = true;
    auto fail = [&](Output& output, const std::string& why) {
        error = why;
        failed_ = output.Given;
        ok = false;
    };
    // The renames, their undoing and the backups' removal finish before a signal ends us; only
    // the copying into special files, which may wait on a pipe's reader, takes signals.
    std::optional<SignalsHeld> held(std::in_place);
    {
        if (undoable)
            for (Output& output : outputs_)
                if (ok && !output.Target.empty() && output.Existed)
                    if (std::string why; !KeepOldFile(output, why)) fail(output, why);
        for (Output& output : outputs_) {
            if (!ok || output.Target.empty()) continue;
            ::close(output.Fd);
            output.Fd = -1;
            if (RenameTemporaryFile(output.Slot, output.Temp, output.Target) != 0) {
                fail(output, Reason("cannot replace the file", errno));
                break;
            }
            output.Temp.clear();
            output.Slot = NO_TEMP_SLOT;
            renamed.push_back(&output);
        }
    }
    for (Output& output : outputs_) { // streamed into a special file: nothing left to do
        if (!output.Temp.empty() || !output.Target.empty()) continue;
        if (output.Fd >= 0 && !output.ToStandardOutput) ::close(output.Fd);
        output.Fd = -1;
        committed_.push_back(output.Given);
    }
    // Staged special files last: what a pipe or device got cannot be taken back.
    for (Output& output : outputs_) {
        if (!ok || !output.Target.empty() || output.Temp.empty()) continue;
        held.reset();
        if (std::string why; !CopyInto(output, why)) fail(output, why);
        else committed_.push_back(output.Given);
        Throw(output);
    }
    if (!held) held.emplace();
    {
        if (!ok)
            for (auto it = renamed.rbegin(); it != renamed.rend(); ++it)
                PutBack(**it);
        for (Output& output : outputs_) {
            const bool wasRenamed =
                std::find(renamed.begin(), renamed.end(), &output) != renamed.end();
            if (ok && wasRenamed) committed_.push_back(output.Given);
            if (!output.Backup.empty()) {
                if (ok || (!wasRenamed && !output.BackupMoved)) ::unlink(output.Backup.c_str());
                else if (!wasRenamed) PutBack(output);
                // A backup that could not be put back stays: the old file is not lost.
            }
            Throw(output);
        }
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
                      std::string& error, const std::string& refusal) {
    if (!set_.Add(path, inputs, SpecialFiles::Stream, error, refusal)) return false;
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
