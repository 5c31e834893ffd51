#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>
#include <zembra/render/catalogue.hpp>
#include <zembra/runtime.hpp>
#include <zembra/text.hpp>

#include "picture_formats.hpp"

namespace zembra::render {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSource = "Zembra";

// The shipped maps, in the order the name rule tries them: "usa" wins over the others
// in a name holding several.
constexpr std::array<MapKey, 3> kMapKeys{{
    {"usa", {24.0, 50.0, -125.0, -66.44}},
    {"alaska", {51.0, 77.0, -180.0, -125.0}},
    {"hawaii", {18.5, 22.5, -161.0, -154.0}},
}};

// World files are a few lines; anything much larger is not one.
constexpr size_t kMaxWorldFileSize = 64 * 1024;

// The engine maps column x to minLon + x * (maxLon - minLon) / W and row y to
// maxLat - y * (maxLat - minLat) / H in its straight projection, so the top-left
// pixel is the point (maxLat, minLon) itself: that is the origin a world file names.
// The far edge a reader computes from an origin, a step and a count of pixels, in
// extended precision and rounded once, so that a step written with 17 digits carries
// the edge back exactly.
double farEdge(double origin, long double step, int pixels) {
    return static_cast<double>(static_cast<long double>(origin) +
                               step * static_cast<long double>(pixels));
}

std::string formatDouble(double value) {
    std::array<char, 64> buf{};
    const auto result =
        std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::general, 17);
    return std::string(buf.data(), result.ptr);
}

// A decimal of 17 significant digits: the digits as an integer and the power of ten
// of the first one.
struct Decimal17 {
    bool negative = false;
    uint64_t digits = 0;  // 10^16 <= digits < 10^17
    int exponent = 0;

    static Decimal17 of(double value) {
        std::array<char, 64> buf{};
        const auto end = std::to_chars(buf.data(), buf.data() + buf.size(), value,
                                       std::chars_format::scientific, 16)
                             .ptr;
        const std::string text(buf.data(), end);  // "-d.dddddddddddddddde-XX"
        Decimal17 d;
        size_t i = 0;
        if (text[i] == '-') {
            d.negative = true;
            ++i;
        }
        for (; i < text.size() && text[i] != 'e'; ++i) {
            if (text[i] != '.') d.digits = d.digits * 10 + static_cast<uint64_t>(text[i] - '0');
        }
        std::from_chars(text.data() + i + 1 + (text[i + 1] == '+' ? 1 : 0),
                        text.data() + text.size(), d.exponent);
        return d;
    }

    std::string text() const {
        const std::string all = std::to_string(digits);
        std::string s = negative ? "-" : "";
        s.append(all, 0, 1).append(".").append(all, 1).append("e").append(std::to_string(exponent));
        // Written back in the shortest general form of the same value.
        long double value = 0;
        std::from_chars(s.data(), s.data() + s.size(), value);
        std::array<char, 64> buf{};
        const auto end = std::to_chars(buf.data(), buf.data() + buf.size(), value,
                                       std::chars_format::general, 17)
                             .ptr;
        return std::string(buf.data(), end);
    }
};

long double parseLongDouble(const std::string& text) {
    long double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

// The pixel step, written with 17 significant digits, that takes a reader from `origin`
// over `pixels` pixels exactly to `target`: the nearest such decimal to `natural`, or
// `natural` itself when none lies close by (the edge is then within a unit in its last
// place).
std::string stepText(double natural, double origin, double target, int pixels) {
    const Decimal17 base = Decimal17::of(natural);
    constexpr uint64_t kLowest = 10'000'000'000'000'000ULL;
    constexpr uint64_t kHighest = 99'999'999'999'999'999ULL;
    for (uint64_t k = 0; k <= 256; ++k) {
        for (const int sign : {-1, 1}) {
            if (k == 0 && sign > 0) continue;
            Decimal17 candidate = base;
            if (sign < 0) {
                if (base.digits < kLowest + k) continue;
                candidate.digits -= k;
            } else {
                if (base.digits + k > kHighest) continue;
                candidate.digits += k;
            }
            std::string text = candidate.text();
            if (farEdge(origin, parseLongDouble(text), pixels) == target) return text;
        }
    }
    return formatDouble(natural);
}

[[noreturn]] void malformed(const fs::path& worldFile, std::string_view problem) {
    throw Error::standard(err::kTypeMismatch, kSource,
                          worldFile.string() + ": " + std::string(problem));
}

}  // namespace

std::span<const MapKey> mapKeys() noexcept { return kMapKeys; }

std::optional<Bounds> boundsForMapName(std::string_view fileName) {
    const std::string name = lowerAscii(fs::path(fileName).filename().string());
    for (const MapKey& entry : kMapKeys) {
        if (name.find(entry.key) != std::string::npos) return entry.bounds;
    }
    return std::nullopt;
}

fs::path worldFilePath(const fs::path& picture) {
    const std::string ext = picture.extension().string();
    fs::path world = picture;
    if (ext.size() < 2) return world.replace_extension(".w");
    const char last = ext.back();
    const char w = std::isupper(static_cast<unsigned char>(last)) ? 'W' : 'w';
    return world.replace_extension(std::string{'.', ext[1], last, w});
}

void writeWorldFile(const fs::path& worldFile, const Bounds& bounds, int width, int height) {
    if (width <= 0 || height <= 0) {
        throw Error::standard(err::kInvalidArgument, kSource,
                              "a world file needs a picture of at least one pixel");
    }
    if (!(bounds.minLon != bounds.maxLon && bounds.minLat != bounds.maxLat) ||
        !std::isfinite(bounds.minLon) || !std::isfinite(bounds.maxLon) ||
        !std::isfinite(bounds.minLat) || !std::isfinite(bounds.maxLat)) {
        throw Error::standard(err::kInvalidArgument, kSource,
                              "a world file needs bounds of finite, unequal numbers");
    }
    const double west = bounds.minLon;
    const double north = bounds.maxLat;
    const std::string a =
        stepText((bounds.maxLon - bounds.minLon) / width, west, bounds.maxLon, width);
    const std::string e = stepText(-(north - bounds.minLat) / height, north, bounds.minLat, height);
    const std::string text =
        a + "\n0\n0\n" + e + "\n" + formatDouble(west) + "\n" + formatDouble(north) + "\n";

    std::ofstream out(worldFile, std::ios::binary | std::ios::trunc);
    if (!out) throw fileError(errno, kSource, worldFile.string(), worldFile.string());
    out << text;
    out.close();
    if (!out) throw fileError(errno, kSource, worldFile.string(), worldFile.string());
}

std::optional<Bounds> readWorldFile(const fs::path& worldFile, int width, int height) {
    std::error_code ec;
    if (!fs::exists(worldFile, ec)) return std::nullopt;
    if (width <= 0 || height <= 0) malformed(worldFile, "the picture has no pixels");
    if (!fs::is_regular_file(worldFile, ec)) malformed(worldFile, "not a file");
    const auto size = fs::file_size(worldFile, ec);
    if (ec || size > kMaxWorldFileSize) malformed(worldFile, "not a world file (too large)");
    std::ifstream in(worldFile, std::ios::binary);
    if (!in) throw fileError(errno, kSource, worldFile.string(), worldFile.string());
    std::vector<std::string> tokens;
    std::string token;
    while (in >> token) tokens.push_back(token);
    if (in.bad()) throw Error::standard(err::kPermissionDenied, kSource, worldFile.string());
    if (tokens.size() != 6) malformed(worldFile, "a world file holds six numbers");

    std::array<long double, 6> values{};
    for (size_t i = 0; i < tokens.size(); ++i) {
        const std::string& t = tokens[i];
        const auto result = std::from_chars(t.data(), t.data() + t.size(), values[i]);
        if (result.ec != std::errc() || result.ptr != t.data() + t.size() ||
            !std::isfinite(values[i])) {
            malformed(worldFile,
                      "'" + t + "' on line " + std::to_string(i + 1) + " is not a number");
        }
    }
    if (values[1] != 0 || values[2] != 0) {
        malformed(worldFile, "the picture is rotated (lines 2 and 3 must be 0)");
    }
    if (values[0] == 0 || values[3] == 0) {
        malformed(worldFile, "a pixel has no width or height (lines 1 and 4)");
    }
    // The origin is read as the double it was written from; the far edges are computed
    // from it in extended precision (see farEdge).
    double west = 0;
    double north = 0;
    std::from_chars(tokens[4].data(), tokens[4].data() + tokens[4].size(), west);
    std::from_chars(tokens[5].data(), tokens[5].data() + tokens[5].size(), north);
    Bounds b;
    b.minLon = west;
    b.maxLon = farEdge(west, values[0], width);
    b.maxLat = north;
    b.minLat = farEdge(north, values[3], height);
    // Edges so far out that a pixel's step vanishes against them make a map with no
    // extent (the engine would divide by zero), or one whose extent overflows.
    if (!std::isfinite(b.maxLon) || !std::isfinite(b.minLat) || b.minLat == b.maxLat ||
        b.minLon == b.maxLon || !std::isfinite(b.maxLat - b.minLat) ||
        !std::isfinite(b.maxLon - b.minLon)) {
        malformed(worldFile, "its bounds are out of range");
    }
    return b;
}

std::optional<Bounds> boundsForMap(const fs::path& picture) {
    // A world file beside the picture says where it lies; the name rule is for maps
    // without one (the shipped maps' world files agree with it).
    const fs::path world = worldFilePath(picture);
    std::error_code ec;
    if (fs::exists(world, ec)) {
        const imaging::PictureSize size = imaging::readPictureSize(picture.string());
        return readWorldFile(world, size.width, size.height);
    }
    return boundsForMapName(picture.filename().string());
}

}  // namespace zembra::render
