#include "io/SafeOpen.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvel {

int OpenRegularFile(const std::string& path, std::string& why, bool* refused) {
    if (refused) *refused = false;
    // O_NONBLOCK makes opening a FIFO without a writer return at once; O_NOCTTY keeps a
    // terminal named by mistake from becoming the controlling terminal.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        why = std::strerror(errno);
        return -1;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        why = std::strerror(errno);
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        const bool directory = S_ISDIR(info.st_mode);
        errno = directory ? EISDIR : EINVAL;
        why = directory ? "is a directory" : "is not a regular file";
        if (refused) *refused = true;
        return -1;
    }
    // Reads of a regular file never wait; the flag goes so that nothing sees EAGAIN.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

std::FILE* OpenRegularFileStream(const std::string& path, std::string& why, bool* refused) {
    const int fd = OpenRegularFile(path, why, refused);
    if (fd < 0) return nullptr;
    std::FILE* file = ::fdopen(fd, "rb");
    if (file == nullptr) {
        const int error = errno;
        ::close(fd);
        errno = error;
        why = std::strerror(errno);
    }
    return file;
}

} // namespace morvel
