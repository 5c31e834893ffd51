#include "serve/picture_store.hpp"

namespace zembra::serve {

void PictureCache::put(const std::string& key, std::shared_ptr<const StoredPicture> picture) {
    const size_t size = picture->bytes.size();
    if (size > maxBytes_) return;
    std::lock_guard lock(mutex_);
    if (const auto it = index_.find(key); it != index_.end()) {
        bytes_ -= it->second->second->bytes.size();
        order_.erase(it->second);
        index_.erase(it);
    }
    while (!order_.empty() && bytes_ + size > maxBytes_) {
        bytes_ -= order_.back().second->bytes.size();
        index_.erase(order_.back().first);
        order_.pop_back();
    }
    order_.emplace_front(key, std::move(picture));
    index_[key] = order_.begin();
    bytes_ += size;
}

std::shared_ptr<const StoredPicture> PictureCache::get(std::string_view key) {
    std::lock_guard lock(mutex_);
    const auto it = index_.find(std::string(key));
    if (it == index_.end()) return nullptr;
    order_.splice(order_.begin(), order_, it->second);
    return it->second->second;
}

size_t PictureCache::bytes() const {
    std::lock_guard lock(mutex_);
    return bytes_;
}

}  // namespace zembra::serve
