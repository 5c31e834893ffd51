// Rendered pictures kept in memory for a while, so that a render's answer can be a small
// JSON text with a link and the picture fetched (or downloaded) by that link.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zembra::serve {

struct StoredPicture {
    std::string extension;  // the format's name in the format table
    std::string fileName;   // proposed when downloaded, e.g. "zembra-usa.jpg"
    std::vector<uint8_t> bytes;
};

class PictureStore {
  public:
    using Clock = std::chrono::steady_clock;

    PictureStore(size_t maxCount, size_t maxBytes, std::chrono::seconds keepFor);

    // Keeps the picture and returns its id: 32 random hex digits. The oldest pictures go
    // first when the count or bytes would exceed the limits. Nothing when the picture
    // alone is larger than the byte limit.
    std::optional<std::string> put(StoredPicture picture, Clock::time_point now = Clock::now());

    // The picture of `id`, or nullptr when unknown or older than the keeping time.
    std::shared_ptr<const StoredPicture> get(std::string_view id,
                                             Clock::time_point now = Clock::now()) const;

  private:
    struct Slot {
        std::string id;
        Clock::time_point stored;
        std::shared_ptr<const StoredPicture> picture;
    };
    std::string newId();

    size_t maxCount_;
    size_t maxBytes_;
    std::chrono::seconds keepFor_;
    mutable std::mutex mutex_;
    std::deque<Slot> slots_;  // oldest first
    size_t bytes_ = 0;
};

}  // namespace zembra::serve
