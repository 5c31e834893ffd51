// The bytes of a decoded picture. Like a std::vector<uint8_t>, with one addition: the bytes
// may be those of a file mapped copy-on-write, so that a large uncompressed picture already
// in the raster's layout (a map drawn into a memory file) is used where it lies instead of
// being copied. Writing to the bytes then copies only the pages written; changing the size
// first copies the bytes into memory of the raster's own.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

namespace zembra::imaging {

class Raster {
  public:
    using value_type = uint8_t;
    using size_type = size_t;
    using difference_type = std::ptrdiff_t;
    using reference = uint8_t&;
    using const_reference = const uint8_t&;
    using pointer = uint8_t*;
    using const_pointer = const uint8_t*;
    using iterator = uint8_t*;
    using const_iterator = const uint8_t*;

    Raster() = default;
    explicit Raster(size_t count, uint8_t value = 0) : own_(count, value) {}
    Raster(std::initializer_list<uint8_t> bytes) : own_(bytes) {}
    template <typename It>
    Raster(It first, It last) : own_(first, last) {}
    Raster(std::vector<uint8_t> bytes) : own_(std::move(bytes)) {}  // NOLINT: as a vector
    // A copy holds its bytes itself.
    Raster(const Raster& other) : own_(other.begin(), other.end()) {}
    Raster& operator=(const Raster& other) {
        if (this != &other) *this = Raster(other);
        return *this;
    }
    Raster(Raster&&) noexcept = default;
    Raster& operator=(Raster&&) noexcept = default;

    // `size` bytes at `at`, inside a private writable mapping that `mapping` unmaps when
    // the last raster holding it goes.
    static Raster mapped(std::shared_ptr<void> mapping, uint8_t* at, size_t size) {
        Raster r;
        r.mapping_ = std::move(mapping);
        r.mappedAt_ = at;
        r.mappedSize_ = size;
        return r;
    }
    bool isMapped() const { return mapping_ != nullptr; }

    uint8_t* data() { return mapping_ ? mappedAt_ : own_.data(); }
    const uint8_t* data() const { return mapping_ ? mappedAt_ : own_.data(); }
    size_t size() const { return mapping_ ? mappedSize_ : own_.size(); }
    bool empty() const { return size() == 0; }
    iterator begin() { return data(); }
    iterator end() { return data() + size(); }
    const_iterator begin() const { return data(); }
    const_iterator end() const { return data() + size(); }
    uint8_t& operator[](size_t i) { return data()[i]; }
    const uint8_t& operator[](size_t i) const { return data()[i]; }
    uint8_t& back() { return data()[size() - 1]; }
    const uint8_t& back() const { return data()[size() - 1]; }

    void resize(size_t count) { owned().resize(count); }
    void resize(size_t count, uint8_t value) { owned().resize(count, value); }
    void reserve(size_t count) { owned().reserve(count); }
    void clear() {
        mapping_.reset();
        own_.clear();
    }
    void push_back(uint8_t value) { owned().push_back(value); }
    template <typename It>
    iterator insert(const_iterator at, It first, It last) {
        const auto offset = at - begin();
        std::vector<uint8_t>& bytes = owned();
        bytes.insert(bytes.begin() + offset, first, last);
        return bytes.data() + offset;
    }
    iterator insert(const_iterator at, std::initializer_list<uint8_t> bytes) {
        return insert(at, bytes.begin(), bytes.end());
    }
    iterator insert(const_iterator at, size_t count, uint8_t value) {
        const auto offset = at - begin();
        std::vector<uint8_t>& bytes = owned();
        bytes.insert(bytes.begin() + offset, count, value);
        return bytes.data() + offset;
    }
    void assign(size_t count, uint8_t value) {
        mapping_.reset();
        own_.assign(count, value);
    }
    template <typename It>
    void assign(It first, It last) {
        std::vector<uint8_t> bytes(first, last);  // the source may be these very bytes
        mapping_.reset();
        own_ = std::move(bytes);
    }

    friend bool operator==(const Raster& a, const Raster& b) {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
    }
    friend bool operator==(const Raster& a, const std::vector<uint8_t>& b) {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
    }

  private:
    // The bytes in memory of the raster's own, copied out of the mapping if need be.
    std::vector<uint8_t>& owned() {
        if (mapping_) {
            own_.assign(mappedAt_, mappedAt_ + mappedSize_);
            mapping_.reset();
        }
        return own_;
    }

    std::vector<uint8_t> own_;
    std::shared_ptr<void> mapping_;
    uint8_t* mappedAt_ = nullptr;
    size_t mappedSize_ = 0;
};

}  // namespace zembra::imaging
