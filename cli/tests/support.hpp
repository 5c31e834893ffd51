// Helpers for the tests that run the built `zembra` program and look at the pictures
// it writes: running a program, small picture headers, BMP decoding, the zip-code CSV.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>
#include <zembra/test/support.hpp>

namespace zembra::test {

struct RunResult {
    int status = -1;  // exit status, or -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs `program` with `args`, feeding `input` on its standard input (never a terminal),
// and collects the exit status and both output streams.
RunResult runProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                     const std::string& input = {});

struct Size {
    int32_t width = 0;
    int32_t height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

// The format word ("png", "jpg", "gif", "bmp") from the file's magic bytes, or "".
std::string sniffFormat(const std::vector<uint8_t>& bytes);
// The picture's size read from its header (PNG IHDR, GIF screen, BMP info, JPEG SOF).
std::optional<Size> pictureSize(const std::vector<uint8_t>& bytes);

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// An uncompressed 24- or 32-bit BMP decoded to rows from the top; fails the calling test
// (and returns an empty picture) for anything else.
struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<Rgb> pixels;  // row-major from the top-left
    const Rgb& at(int32_t x, int32_t y) const {
        return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
    }
};
Picture decodeBmp(const std::vector<uint8_t>& bytes);
// A 24-bit bottom-up BMP of the picture.
std::vector<uint8_t> encodeBmp(const Picture& picture);

struct ZipRow {
    std::string code;
    double lat = 0;
    double lon = 0;
    std::string state;
};
// The rows of assets/zipcodes/zipcodes.csv.
std::vector<ZipRow> readZipCsv(const std::filesystem::path& path);

// The engine's straight projection of a point onto a W x H picture (ties to even).
struct Pixel {
    int64_t x = 0;
    int64_t y = 0;
    friend bool operator==(const Pixel&, const Pixel&) = default;
};
Pixel project(double lat, double lon, double minLat, double maxLat, double minLon, double maxLon,
              int32_t width, int32_t height);

// A fresh, empty scratch folder, removed at destruction.
using ScratchDir = TempDir;

}  // namespace zembra::test
