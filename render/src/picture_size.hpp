// The pixel size of a picture file, for reading its world file.
#pragma once

#include <cstdint>
#include <filesystem>

namespace zembra::render::detail {

struct PictureSize {
    int32_t width = 0;
    int32_t height = 0;
};

// Reads the picture through the imaging adapter. Raises 53 for a missing file, 70 for
// one that cannot be read and the engine's picture error for one that is not a picture.
PictureSize readPictureSize(const std::filesystem::path& picture);

}  // namespace zembra::render::detail
