#include "picture_size.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>
#include <zembra/runtime.hpp>

#include "imaging.hpp"

namespace zembra::render::detail {

PictureSize readPictureSize(const std::filesystem::path& picture) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(picture, ec)) {
        throw Error::standard(err::kFileNotFound, "Zembra", picture.string());
    }
    std::ifstream in(picture, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    if (in.bad() || !in.is_open()) {
        throw Error::standard(err::kPermissionDenied, "Zembra", picture.string());
    }
    // The adapter offers no size-only reading yet, so the picture is decoded once;
    // this happens only for maps whose bounds come from a world file.
    const imaging::Picture decoded = imaging::decode(bytes, picture.filename().string());
    return {decoded.width, decoded.height};
}

}  // namespace zembra::render::detail
