#include "io/ByteSource.h"

#include "io/SafeOpen.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace morvel {

namespace {
constexpr size_t READ_CHUNK = 64 * 1024;
std::atomic<uint64_t> filesOpened{0};
} // namespace

uint64_t ByteSource::FilesOpened() {
    return filesOpened.load();
}

bool ByteSource::OpenFile(const std::string& path, std::string& why, bool& refused) {
    Close();
    file_ = OpenRegularFileStream(path, why, &refused);
    if (file_ == nullptr) return false;
    ++filesOpened;
    buffer_.resize(READ_CHUNK);
    // The size as opened; Refill counts on if the file grows while it is read.
    struct stat info {};
    if (fstat(fileno(file_), &info) == 0 && info.st_size > 0)
        total_ = static_cast<uint64_t>(info.st_size);
    return true;
}

void ByteSource::OpenMemory(const uint8_t* data, size_t size) {
    Close();
    memory_ = true;
    cur_ = data;
    end_ = data + size;
    total_ = fetched_ = size;
}

void ByteSource::Close() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    memory_ = false;
    cur_ = end_ = nullptr;
    pushed_ = -1;
    total_ = fetched_ = 0;
}

bool ByteSource::Refill() {
    if (file_ == nullptr) return false;
    size_t got = std::fread(buffer_.data(), 1, buffer_.size(), file_);
    cur_ = buffer_.data();
    end_ = cur_ + got;
    fetched_ += got;
    if (fetched_ > total_) total_ = fetched_; // the file grew while being read
    return got > 0;
}

size_t ByteSource::Read(uint8_t* out, size_t size) {
    size_t done = 0;
    if (size > 0 && pushed_ >= 0) out[done++] = static_cast<uint8_t>(Get());
    while (done < size) {
        if (cur_ == end_ && !Refill()) break;
        const size_t take = std::min(size - done, static_cast<size_t>(end_ - cur_));
        std::memcpy(out + done, cur_, take);
        cur_ += take;
        done += take;
    }
    return done;
}

} // namespace morvel
