// Rendered pictures kept in memory by one server, so that fetching a picture right after
// its render costs no second render. Only a cache: a picture pushed out (the least recently
// used goes first when the bytes would exceed the limit) is rendered again from its kept
// request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zembra::serve {

struct StoredPicture {
    std::string extension;  // "jpg", "gif", "bmp", "png"
    std::string fileName;   // proposed when downloaded, e.g. "zembra-usa.jpg"
    std::vector<uint8_t> bytes;
};

class PictureCache {
  public:
    explicit PictureCache(size_t maxBytes) : maxBytes_(maxBytes) {}

    // Keeps the picture under `key` (a picture larger than the whole cache is not kept).
    void put(const std::string& key, std::shared_ptr<const StoredPicture> picture);
    // The picture of `key`, or nullptr.
    std::shared_ptr<const StoredPicture> get(std::string_view key);

    size_t bytes() const;

  private:
    using Entry = std::pair<std::string, std::shared_ptr<const StoredPicture>>;
    size_t maxBytes_;
    mutable std::mutex mutex_;
    std::list<Entry> order_;  // most recently used first
    std::unordered_map<std::string, std::list<Entry>::iterator> index_;
    size_t bytes_ = 0;
};

}  // namespace zembra::serve
