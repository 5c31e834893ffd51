#include "support.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <zembra/render/csv.hpp>

extern char** environ;

namespace zembra::test {

namespace fs = std::filesystem;

namespace {

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
           uint32_t{b[at + 3]} << 24;
}
uint16_t le16(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}
uint32_t be32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 | uint32_t{b[at + 2]} << 8 |
           uint32_t{b[at + 3]};
}
void putLe32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

RunResult runProgram(const fs::path& program, const std::vector<std::string>& args,
                     const std::string& input) {
    ScratchDir io("run");
    const auto in = io.path() / "stdin", out = io.path() / "stdout", err = io.path() / "stderr";
    writeText(in, input);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> argvText{program.string()};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argvText) argv.push_back(a.data());
    argv.push_back(nullptr);

    RunResult result;
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        ADD_FAILURE() << "cannot start " << program << ": " << std::strerror(rc);
        return result;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = readText(out);
    result.err = readText(err);
    return result;
}

std::string sniffFormat(const std::vector<uint8_t>& b) {
    const auto starts = [&](std::initializer_list<uint8_t> magic) {
        return b.size() >= magic.size() && std::equal(magic.begin(), magic.end(), b.begin());
    };
    if (starts({0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'})) return "png";
    if (starts({0xFF, 0xD8, 0xFF})) return "jpg";
    if (starts({'G', 'I', 'F', '8'})) return "gif";
    if (starts({'B', 'M'})) return "bmp";
    return "";
}

std::optional<Size> pictureSize(const std::vector<uint8_t>& b) {
    const auto format = sniffFormat(b);
    if (format == "png" && b.size() >= 24) {
        return Size{static_cast<int32_t>(be32(b, 16)), static_cast<int32_t>(be32(b, 20))};
    }
    if (format == "gif" && b.size() >= 10) return Size{le16(b, 6), le16(b, 8)};
    if (format == "bmp" && b.size() >= 26) {
        return Size{static_cast<int32_t>(le32(b, 18)), std::abs(static_cast<int32_t>(le32(b, 22)))};
    }
    if (format == "jpg") {
        // Walk the markers to the first start-of-frame.
        size_t at = 2;
        while (at + 9 < b.size() && b[at] == 0xFF) {
            const uint8_t marker = b[at + 1];
            const size_t length = static_cast<size_t>(b[at + 2] << 8 | b[at + 3]);
            if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
                marker != 0xCC) {
                return Size{b[at + 7] << 8 | b[at + 8], b[at + 5] << 8 | b[at + 6]};
            }
            at += 2 + length;
        }
    }
    return std::nullopt;
}

Picture decodeBmp(const std::vector<uint8_t>& b) {
    Picture picture;
    if (sniffFormat(b) != "bmp" || b.size() < 54) {
        ADD_FAILURE() << "not a BMP";
        return picture;
    }
    const uint32_t offset = le32(b, 10);
    const int32_t width = static_cast<int32_t>(le32(b, 18));
    const int32_t rawHeight = static_cast<int32_t>(le32(b, 22));
    const uint16_t bits = le16(b, 28);
    const uint32_t compression = le32(b, 30);
    const int32_t height = std::abs(rawHeight);
    const size_t bytesPerPixel = bits / 8u;
    const size_t stride = (static_cast<size_t>(width) * bytesPerPixel + 3) / 4 * 4;
    if ((bits != 24 && bits != 32) || (compression != 0 && compression != 3) || width <= 0 ||
        offset + stride * static_cast<size_t>(height) > b.size()) {
        ADD_FAILURE() << "unsupported BMP: " << bits << " bits, compression " << compression;
        return picture;
    }
    picture.width = width;
    picture.height = height;
    picture.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int32_t y = 0; y < height; ++y) {
        const int32_t fileRow = rawHeight > 0 ? height - 1 - y : y;
        const size_t row = offset + static_cast<size_t>(fileRow) * stride;
        for (int32_t x = 0; x < width; ++x) {
            const size_t p = row + static_cast<size_t>(x) * bytesPerPixel;
            picture.pixels[static_cast<size_t>(y) * static_cast<size_t>(width) +
                           static_cast<size_t>(x)] = Rgb{b[p + 2], b[p + 1], b[p]};
        }
    }
    return picture;
}

std::vector<uint8_t> encodeBmp(const Picture& picture) {
    const size_t stride = (static_cast<size_t>(picture.width) * 3 + 3) / 4 * 4;
    const auto imageSize = static_cast<uint32_t>(stride * static_cast<size_t>(picture.height));
    std::vector<uint8_t> b{'B', 'M'};
    putLe32(b, 54 + imageSize);
    putLe32(b, 0);
    putLe32(b, 54);
    putLe32(b, 40);
    putLe32(b, static_cast<uint32_t>(picture.width));
    putLe32(b, static_cast<uint32_t>(picture.height));
    b.insert(b.end(), {1, 0, 24, 0});
    putLe32(b, 0);
    putLe32(b, imageSize);
    putLe32(b, 2835);
    putLe32(b, 2835);
    putLe32(b, 0);
    putLe32(b, 0);
    for (int32_t y = picture.height - 1; y >= 0; --y) {
        size_t written = 0;
        for (int32_t x = 0; x < picture.width; ++x, written += 3) {
            const Rgb& p = picture.at(x, y);
            b.insert(b.end(), {p.b, p.g, p.r});
        }
        b.insert(b.end(), stride - written, 0);
    }
    return b;
}

std::vector<ZipRow> readZipCsv(const fs::path& path) {
    zembra::render::CsvReader reader(path);
    std::vector<std::string> f;
    reader.next(f);  // header: zipcode,latitude,longitude,city,state
    std::vector<ZipRow> rows;
    while (reader.next(f)) {
        if (f.size() < 5) continue;
        rows.push_back({f[0], std::stod(f[1]), std::stod(f[2]), f[4]});
    }
    return rows;
}

Pixel project(double lat, double lon, double minLat, double maxLat, double minLon, double maxLon,
              int32_t width, int32_t height) {
    // The engine's formulas, in its order of evaluation; nearbyint rounds ties to even.
    const double qx = width / (maxLon - minLon);
    const double x = qx * (lon - minLon);
    const double qy = height / (maxLat - minLat);
    const double y = height - qy * (lat - minLat);
    return {static_cast<int64_t>(std::nearbyint(x)), static_cast<int64_t>(std::nearbyint(y))};
}

}  // namespace zembra::test
