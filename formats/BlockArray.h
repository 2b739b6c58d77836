// An array kept in blocks of a fixed number of elements. Growing never moves what is stored,
// so it never needs room for two copies; blocks of one size are reused as they come free;
// and the early blocks can be given back while the later ones are still in use.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace morvel {

template <typename T, size_t BLOCK = 4096> class BlockArray {
  public:
    void push_back(const T& value) {
        if (size_ % BLOCK == 0) blocks_.push_back(std::make_unique<T[]>(BLOCK));
        blocks_.back()[size_ % BLOCK] = value;
        ++size_;
    }
    // Grows to `size` elements, at least size(); those never written are value-initialised.
    void resize(size_t size) {
        while (blocks_.size() * BLOCK < size)
            blocks_.push_back(std::make_unique<T[]>(BLOCK));
        size_ = size;
    }
    T& operator[](size_t i) { return blocks_[i / BLOCK][i % BLOCK]; }
    const T& operator[](size_t i) const { return blocks_[i / BLOCK][i % BLOCK]; }
    T& back() { return (*this)[size_ - 1]; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    void clear() {
        blocks_.clear();
        size_ = 0;
        released_ = 0;
    }
    // Gives back every block that holds only elements before `index`; those are not used
    // again.
    void ReleaseBefore(size_t index) {
        for (; released_ < index / BLOCK && released_ < blocks_.size(); ++released_)
            blocks_[released_].reset();
    }

  private:
    std::vector<std::unique_ptr<T[]>> blocks_;
    size_t size_ = 0;
    size_t released_ = 0;
};

} // namespace morvel
