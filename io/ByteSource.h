// Buffered byte input over a file or a block of memory, with one value of push-back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace morvel {

class ByteSource {
  public:
    static constexpr int END = -1;

    ByteSource() = default;
    ByteSource(const ByteSource&) = delete;
    ByteSource& operator=(const ByteSource&) = delete;
    ~ByteSource() { Close(); }

    // Opens the regular file `path` for binary reading without waiting on it; false when it
    // cannot be opened or is no regular file, with the reason in `why` and `refused` set for a
    // file refused for its kind (see OpenRegularFile).
    bool OpenFile(const std::string& path, std::string& why, bool& refused);
    // How many files OpenFile has opened in this process, in every thread: what tests count
    // to see that a file is read once.
    static uint64_t FilesOpened();
    // Reads from memory the caller keeps alive until Close.
    void OpenMemory(const uint8_t* data, size_t size);
    bool IsOpen() const { return file_ != nullptr || memory_; }
    void Close();

    // The next byte (0..255), or END at the end of the input.
    int Get() {
        if (pushed_ >= 0) {
            int value = pushed_;
            pushed_ = -1;
            return value;
        }
        if (cur_ == end_ && !Refill()) return END;
        return *cur_++;
    }

    // The next `count` bytes in place, when they are already buffered and nothing was pushed
    // back; nullptr otherwise. Skip then takes them.
    const uint8_t* Peek(size_t count) const {
        return pushed_ < 0 && static_cast<size_t>(end_ - cur_) >= count ? cur_ : nullptr;
    }
    void Skip(size_t count) { cur_ += count; }

    // Makes `value` the next byte Get returns, whether or not it was read from the input.
    void Unget(int value) { pushed_ = value & 0xFF; }

    // Bytes left to read (the size of the file as opened, less what was taken).
    uint64_t Remaining() const { return total_ - fetched_ + static_cast<uint64_t>(end_ - cur_); }

    // Reads up to `size` bytes; returns how many were read.
    size_t Read(uint8_t* out, size_t size);

  private:
    [[gnu::noinline]] bool Refill();

    std::FILE* file_ = nullptr;
    bool memory_ = false;
    std::vector<uint8_t> buffer_;
    const uint8_t* cur_ = nullptr;
    const uint8_t* end_ = nullptr;
    int pushed_ = -1;
    uint64_t total_ = 0;   // size of the input when opened
    uint64_t fetched_ = 0; // bytes moved into the buffer so far
};

} // namespace morvel
