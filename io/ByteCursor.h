// A bounds-checked cursor over the bytes of one MIDI chunk (or a whole file held in memory):
// every read fails, and reads nothing, once the bytes are used up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace morvel {

class ByteCursor {
  public:
    explicit ByteCursor(std::string_view data) : data_(data) {}
    bool AtEnd() const { return pos_ >= data_.size(); }
    bool Byte(uint8_t& out) {
        if (AtEnd()) return false;
        out = static_cast<uint8_t>(data_[pos_++]);
        return true;
    }
    // A big-endian number of `bytes` bytes (at most four).
    bool Number(int bytes, uint32_t& out) {
        out = 0;
        for (int i = 0; i < bytes; ++i) {
            uint8_t b = 0;
            if (!Byte(b)) return false;
            out = (out << 8) | b;
        }
        return true;
    }
    // A variable-length quantity of at most four bytes.
    bool VarLen(uint32_t& out) {
        out = 0;
        for (int i = 0; i < 4; ++i) {
            uint8_t b = 0;
            if (!Byte(b)) return false;
            out = (out << 7) | (b & 0x7F);
            if (!(b & 0x80)) return true;
        }
        return false;
    }
    bool Take(uint32_t count, std::string_view& out) {
        if (count > data_.size() - pos_) return false;
        out = data_.substr(pos_, count);
        pos_ += count;
        return true;
    }

  private:
    std::string_view data_;
    size_t pos_ = 0;
};

} // namespace morvel
