// The imaging floor: what any render of a 2000 x 1000 JPEG map costs at least
// (decode the map once, encode the output once), and stamping markers. The engine's
// own benchmarks compare against these. For bench/speed.sh: `--once MAP OUT` does the
// floor once on a file, `--make-map OUT` writes the 2000 x 1000 map as JPEG, and
// `--reference-png IN OUT` writes IN as PNG with zlib level 6 and adaptive filtering.
#include <benchmark/benchmark.h>
#include <spng.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <zembra/runtime.hpp>

#include "codec.hpp"
#include "imaging.hpp"

namespace {

using zembra::imaging::Format;
using zembra::imaging::Picture;

// A map-like photograph: smooth land and water shading, a grid of roads, and a
// little sensor noise, so it compresses like a real map JPEG.
Picture makeMap(int32_t width, int32_t height) {
    Picture p{width, height, {}};
    p.rgba.resize(size_t(width) * size_t(height) * 4);
    uint32_t seed = 1;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* px = p.rgba.data() + (size_t(y) * size_t(width) + size_t(x)) * 4;
            const double coast = std::sin(x * 0.004) * 120 + std::cos(y * 0.01) * 60 + height / 2.0;
            seed = seed * 1664525u + 1013904223u;
            const int noise = int(seed >> 29) - 4;
            if (y > coast) {
                px[0] = uint8_t(110 + noise), px[1] = uint8_t(150 + noise),
                px[2] = uint8_t(200 + noise);
            } else {
                px[0] = uint8_t(180 + (x % 256) / 8 + noise);
                px[1] = uint8_t(200 - (y % 256) / 8 + noise);
                px[2] = uint8_t(150 + noise);
            }
            if (x % 97 == 0 || y % 89 == 0) px[0] = 90, px[1] = 90, px[2] = 90;
            px[3] = 255;
        }
    }
    return p;
}

const std::vector<uint8_t>& mapJpeg() {
    static const std::vector<uint8_t> bytes =
        zembra::imaging::encode(makeMap(2000, 1000), Format::Jpeg);
    return bytes;
}

const Picture& mapPicture() {
    static const Picture picture = zembra::imaging::decode(mapJpeg(), "map");
    return picture;
}

// Decode the map once and encode the output once, per output format.
void BM_Floor(benchmark::State& state) {
    const auto format = static_cast<Format>(state.range(0));
    for (auto _ : state) {
        const Picture map = zembra::imaging::decode(mapJpeg(), "map");
        auto out = zembra::imaging::encode(map, format);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_Floor)
    ->ArgName("format(0png,1jpg,2gif,3bmp)")
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMillisecond);

void BM_DecodeJpeg(benchmark::State& state) {
    for (auto _ : state) {
        const Picture map = zembra::imaging::decode(mapJpeg(), "map");
        benchmark::DoNotOptimize(map.rgba.data());
    }
}
BENCHMARK(BM_DecodeJpeg)->Unit(benchmark::kMillisecond);

// JPEG output of the map (2000 x 1000) and of a map four times as tall, by one encoder
// and in strips on threads (the same bytes).
void BM_EncodeJpegStrips(benchmark::State& state) {
    const Picture& map = mapPicture();
    Picture tall{map.width, map.height * int32_t(state.range(0)), {}};
    for (int64_t i = 0; i < state.range(0); ++i)
        tall.rgba.insert(tall.rgba.end(), map.rgba.begin(), map.rgba.end());
    for (auto _ : state) {
        auto out = zembra::imaging::detail::encodeJpegInStrips(
            tall, zembra::imaging::detail::kJpegQuality, int(state.range(1)));
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_EncodeJpegStrips)
    ->ArgNames({"height(x1000)", "strips"})
    ->ArgsProduct({{1, 4}, {1, 2}})
    ->Unit(benchmark::kMillisecond);

// Stamping N markers of 15 x 15 onto the loaded map, as a plotting call does.
void BM_StampMarkers(benchmark::State& state) {
    Picture marker{15, 15, {}};
    for (int i = 0; i < 15 * 15; ++i) {
        const bool ring = (i % 15 - 7) * (i % 15 - 7) + (i / 15 - 7) * (i / 15 - 7) < 40;
        marker.rgba.insert(marker.rgba.end(), {uint8_t(ring ? 220 : 255), uint8_t(ring ? 20 : 255),
                                               uint8_t(ring ? 20 : 255), 255});
    }
    const int64_t count = state.range(0);
    for (auto _ : state) {
        Picture map = mapPicture();
        const zembra::imaging::Stamp stamp(marker, zembra::imaging::kWhite);
        for (int64_t i = 0; i < count; ++i) {
            stamp.drawOnto(map, int32_t(i * 37 % 2000), int32_t(i * 11 % 1000));
        }
        benchmark::DoNotOptimize(map.rgba.data());
    }
}
BENCHMARK(BM_StampMarkers)->Arg(1)->Arg(33000)->Unit(benchmark::kMillisecond);

bool writeFile(const char* path, const std::vector<uint8_t>& bytes);

// The floor of a whole render as one command, for bench/speed.sh to time beside
// `zembra points`: read and decode the map file once, encode once, write the file.
int floorOnce(const char* mapPath, const char* outPath) {
    const std::string out = outPath;
    const auto* info =
        zembra::imaging::formatForExtension(std::filesystem::path(out).extension().string());
    const Format format = info != nullptr ? info->format : Format::Jpeg;
    try {
        const Picture map = zembra::imaging::readPicture(mapPath);
        return writeFile(outPath, zembra::imaging::encode(map, format)) ? 0 : 1;
    } catch (const zembra::Error& e) {
        std::fprintf(stderr, "%s\n", e.description().c_str());
        return 1;
    }
}

// Writes bytes to a file; false when that fails.
bool writeFile(const char* path, const std::vector<uint8_t>& bytes) {
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

// The size a PNG of the same picture has with zlib's level 6 and adaptive filtering,
// the common default of PNG writers, to compare the engine's PNG settings against.
int referencePng(const char* inPath, const char* outPath) {
    const Picture picture = zembra::imaging::readPicture(inPath);
    std::vector<uint8_t> rgb;
    for (size_t i = 0; i < picture.rgba.size(); i += 4) {
        rgb.insert(rgb.end(), picture.rgba.begin() + long(i), picture.rgba.begin() + long(i) + 3);
    }
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr{};
    ihdr.width = uint32_t(picture.width);
    ihdr.height = uint32_t(picture.height);
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
    spng_set_ihdr(ctx, &ihdr);
    spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, 6);
    spng_set_option(ctx, SPNG_FILTER_CHOICE, SPNG_FILTER_CHOICE_ALL);
    int rc = spng_encode_image(ctx, rgb.data(), rgb.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
    size_t size = 0;
    void* png = rc == 0 ? spng_get_png_buffer(ctx, &size, &rc) : nullptr;
    spng_ctx_free(ctx);
    if (png == nullptr) return 1;
    const auto* bytes = static_cast<const uint8_t*>(png);
    const bool written = writeFile(outPath, std::vector<uint8_t>(bytes, bytes + size));
    std::free(png);
    return written ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view mode = argc > 1 ? argv[1] : "";
    if (argc == 4 && mode == "--once") return floorOnce(argv[2], argv[3]);
    if (argc == 4 && mode == "--reference-png") return referencePng(argv[2], argv[3]);
    if (argc == 3 && mode == "--make-map") return writeFile(argv[2], mapJpeg()) ? 0 : 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
