// The imaging floor: what any render of a 2000 x 1000 JPEG map costs at least
// (decode the map once, encode the output once), and the engine's internal PNG
// round trip between calls. The engine's own benchmarks compare against these.
#include "codec.hpp"
#include "imaging.hpp"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>

namespace {

using zembra::imaging::Format;
using zembra::imaging::Imaging;
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
                px[0] = uint8_t(110 + noise), px[1] = uint8_t(150 + noise), px[2] = uint8_t(200 + noise);
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
    static const std::vector<uint8_t> bytes = zembra::imaging::encode(makeMap(2000, 1000), Format::Jpeg);
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

// The engine stores its picture as fast PNG between calls: one encode and one
// decode per plotting call.
void BM_InternalPngRoundTrip(benchmark::State& state) {
    const Picture& map = mapPicture();
    size_t size = 0;
    for (auto _ : state) {
        const auto png = zembra::imaging::encodeFastPng(map);
        const Picture back = zembra::imaging::decode(png, "internal");
        benchmark::DoNotOptimize(back.rgba.data());
        size = png.size();
    }
    state.counters["bytes"] = double(size);
}
BENCHMARK(BM_InternalPngRoundTrip)->Unit(benchmark::kMillisecond);

void BM_InternalPngEncode(benchmark::State& state) {
    const Picture& map = mapPicture();
    for (auto _ : state) benchmark::DoNotOptimize(zembra::imaging::encodeFastPng(map).data());
}
BENCHMARK(BM_InternalPngEncode)->Unit(benchmark::kMillisecond);

void BM_InternalPngDecode(benchmark::State& state) {
    const auto png = zembra::imaging::encodeFastPng(mapPicture());
    for (auto _ : state) benchmark::DoNotOptimize(zembra::imaging::decode(png, "internal").rgba.data());
}
BENCHMARK(BM_InternalPngDecode)->Unit(benchmark::kMillisecond);

// The same internal format through libspng, for comparison with the adapter's own
// writer and reader above.
void BM_InternalPngEncodeLibspng(benchmark::State& state) {
    const Picture& map = mapPicture();
    for (auto _ : state) {
        benchmark::DoNotOptimize(zembra::imaging::detail::encodePngWithLibrary(map, true).data());
    }
}
BENCHMARK(BM_InternalPngEncodeLibspng)->Unit(benchmark::kMillisecond);

void BM_InternalPngDecodeLibspng(benchmark::State& state) {
    const auto png = zembra::imaging::encodeFastPng(mapPicture());
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            zembra::imaging::detail::decodePngWithLibrary(png, "internal").rgba.data());
    }
}
BENCHMARK(BM_InternalPngDecodeLibspng)->Unit(benchmark::kMillisecond);

// Stamping N markers of 15 x 15 onto the loaded map, as a plotting call does.
void BM_StampMarkers(benchmark::State& state) {
    Picture marker{15, 15, {}};
    for (int i = 0; i < 15 * 15; ++i) {
        const bool ring = (i % 15 - 7) * (i % 15 - 7) + (i / 15 - 7) * (i / 15 - 7) < 40;
        marker.rgba.insert(marker.rgba.end(), {uint8_t(ring ? 220 : 255), uint8_t(ring ? 20 : 255),
                                               uint8_t(ring ? 20 : 255), 255});
    }
    const auto markerPng = zembra::imaging::encode(marker, Format::Png);
    const auto mapPng = zembra::imaging::encodeFastPng(mapPicture());
    const int64_t count = state.range(0);
    for (auto _ : state) {
        Imaging imaging;
        imaging.loadFromBytes("png", mapPng);
        imaging.transparentColor("ffffff");
        imaging.useTransparency(true);
        for (int64_t i = 0; i < count; ++i) {
            imaging.drawFromBytes(markerPng, "png", int32_t(i * 37 % 2000), int32_t(i * 11 % 1000));
        }
        benchmark::DoNotOptimize(imaging.pngBytes().data());
    }
}
BENCHMARK(BM_StampMarkers)->Arg(1)->Arg(33000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
