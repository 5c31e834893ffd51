// The pixel size of a picture file, read from its header only.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace zembra::serve {

struct PictureSize {
    int32_t width = 0;
    int32_t height = 0;
    friend bool operator==(const PictureSize&, const PictureSize&) = default;
};

// The size recorded in a PNG, JPEG, GIF or BMP header. Nothing when the file cannot be
// read or is none of these; the pixels themselves are never decoded.
std::optional<PictureSize> readPictureSize(const std::filesystem::path& file);

}  // namespace zembra::serve
