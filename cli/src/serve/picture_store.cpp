#include "serve/picture_store.hpp"

#include <algorithm>
#include <random>

namespace zembra::serve {

PictureStore::PictureStore(size_t maxCount, size_t maxBytes, std::chrono::seconds keepFor)
    : maxCount_(std::max<size_t>(maxCount, 1)), maxBytes_(maxBytes), keepFor_(keepFor) {}

std::string PictureStore::newId() {
    // Ids are not guessable, so one client cannot fetch another client's picture by
    // counting.
    std::random_device random;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string id;
    for (int i = 0; i < 4; ++i) {
        uint32_t bits = random();
        for (int j = 0; j < 8; ++j, bits >>= 4) id += kHex[bits & 0xF];
    }
    return id;
}

std::optional<std::string> PictureStore::put(StoredPicture picture, Clock::time_point now) {
    const size_t size = picture.bytes.size();
    if (size > maxBytes_) return std::nullopt;
    auto shared = std::make_shared<const StoredPicture>(std::move(picture));
    std::string id = newId();
    std::lock_guard lock(mutex_);
    while (!slots_.empty() && (slots_.size() >= maxCount_ || bytes_ + size > maxBytes_ ||
                               now - slots_.front().stored > keepFor_)) {
        bytes_ -= slots_.front().picture->bytes.size();
        slots_.pop_front();
    }
    slots_.push_back(Slot{id, now, std::move(shared)});
    bytes_ += size;
    return id;
}

std::shared_ptr<const StoredPicture> PictureStore::get(std::string_view id,
                                                       Clock::time_point now) const {
    std::lock_guard lock(mutex_);
    const auto it =
        std::find_if(slots_.begin(), slots_.end(), [&](const Slot& s) { return s.id == id; });
    if (it == slots_.end() || now - it->stored > keepFor_) return nullptr;
    return it->picture;
}

}  // namespace zembra::serve
