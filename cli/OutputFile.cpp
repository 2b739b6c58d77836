#include "cli/OutputFile.h"

#include "core/TempFiles.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvel::cli {

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

std::string WriteError(int error) {
    return std::string("cannot write: ") + std::strerror(error);
}

} // namespace

std::vector<FileId> FileIds(const std::vector<std::string>& paths) {
    std::vector<FileId> ids;
    for (const std::string& path : paths) {
        struct stat info;
        if (::stat(path.c_str(), &info) == 0) ids.push_back({info.st_dev, info.st_ino});
    }
    return ids;
}

OutputFile::~OutputFile() {
    if (stream_ != nullptr && !standardOutput_) std::fclose(stream_);
    stream_ = nullptr;
    Discard();
}

void OutputFile::OpenStandardOutput() {
    stream_ = stdout;
    standardOutput_ = true;
    std::setvbuf(stream_, nullptr, _IOFBF, OUTPUT_BUFFER_BYTES);
}

bool OutputFile::Open(const std::string& path, const std::vector<FileId>& inputs,
                      std::string& error) {
    struct stat info;
    const bool exists = ::stat(path.c_str(), &info) == 0;
    if (exists) {
        const FileId id{info.st_dev, info.st_ino};
        struct stat out;
        if (::fstat(STDOUT_FILENO, &out) == 0 && id == FileId{out.st_dev, out.st_ino}) {
            OpenStandardOutput();
            return true;
        }
        if (S_ISDIR(info.st_mode)) {
            error = "cannot create: is a directory";
            return false;
        }
        if (!S_ISREG(info.st_mode)) {
            // A pipe waits here for its reader, as any writer of a pipe does.
            const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
            if (fd < 0 || (stream_ = ::fdopen(fd, "wb")) == nullptr) {
                error = std::string("cannot open: ") + std::strerror(errno);
                if (fd >= 0) ::close(fd);
                return false;
            }
            std::setvbuf(stream_, nullptr, _IOFBF, OUTPUT_BUFFER_BYTES);
            return true;
        }
        if (std::find(inputs.begin(), inputs.end(), id) != inputs.end()) {
            error = "is one of the input files; it is left as it is";
            return false;
        }
    }

    target_ = path;
    struct stat link;
    if (exists && ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) != nullptr) target_ = resolved;
    }
    const size_t slash = target_.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target_.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    tempPath_ = folder + "." + name.substr(0, TEMP_NAME_KEPT) + ".XXXXXX";
    const int fd = CreateTemporaryFile(tempPath_, 0, tempSlot_);
    if (fd < 0 && exists && (errno == EACCES || errno == EPERM) &&
        ::access(target_.c_str(), W_OK) == 0) {
        tempPath_.clear();
        holding_ = true;
        return true;
    }
    if (fd < 0) {
        error = std::string("cannot create: ") + std::strerror(errno);
        tempPath_.clear();
        target_.clear();
        return false;
    }
    if (exists) {
        // Owner first: changing it may clear set-id bits that the mode then restores.
        if (::fchown(fd, info.st_uid, info.st_gid) != 0) {
            // Only the superuser may give a file away; the mode is kept all the same.
        }
        ::fchmod(fd, info.st_mode & MODE_BITS);
    } else {
        ::fchmod(fd, NEW_FILE_MODE & ~CREATION_UMASK);
    }
    stream_ = ::fdopen(fd, "wb");
    if (stream_ == nullptr) {
        error = std::string("cannot create: ") + std::strerror(errno);
        ::close(fd);
        Discard();
        return false;
    }
    std::setvbuf(stream_, nullptr, _IOFBF, OUTPUT_BUFFER_BYTES);
    return true;
}

void OutputFile::Write(const char* data, size_t size) {
    if (holding_) {
        held_.append(data, size);
        return;
    }
    if (writeErrno_ != 0 || stream_ == nullptr) return;
    if (std::fwrite(data, 1, size, stream_) != size) writeErrno_ = errno != 0 ? errno : EIO;
}

bool OutputFile::Finish(bool keep, std::string& error) {
    if (holding_) {
        holding_ = false;
        return !keep || WriteOver(error);
    }
    if (stream_ == nullptr) return true;
    errno = 0;
    if (std::fflush(stream_) != 0 && writeErrno_ == 0) writeErrno_ = errno != 0 ? errno : EIO;
    if (!standardOutput_ && std::fclose(stream_) != 0 && writeErrno_ == 0)
        writeErrno_ = errno != 0 ? errno : EIO;
    stream_ = nullptr;
    if (writeErrno_ != 0) {
        error = WriteError(writeErrno_);
        Discard();
        return false;
    }
    if (tempPath_.empty()) return true;
    if (!keep) {
        Discard();
        return true;
    }
    if (RenameTemporaryFile(tempSlot_, tempPath_, target_) != 0) {
        error = std::string("cannot replace the file: ") + std::strerror(errno);
        Discard();
        return false;
    }
    tempPath_.clear();
    tempSlot_ = NO_TEMP_SLOT;
    return true;
}

bool OutputFile::WriteOver(std::string& error) {
    const int fd = ::open(target_.c_str(), O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = std::string("cannot open: ") + std::strerror(errno);
        return false;
    }
    const char* data = held_.data();
    size_t left = held_.size();
    while (left > 0) {
        const ssize_t done = ::write(fd, data, left);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) {
            error = WriteError(done < 0 ? errno : EIO);
            ::close(fd);
            return false;
        }
        data += done;
        left -= static_cast<size_t>(done);
    }
    if (::close(fd) != 0) {
        error = WriteError(errno);
        return false;
    }
    return true;
}

void OutputFile::Discard() {
    if (tempPath_.empty()) return;
    RemoveTemporaryFile(tempSlot_, tempPath_);
    tempPath_.clear();
    tempSlot_ = NO_TEMP_SLOT;
}

} // namespace morvel::cli
