// Joining JPEG files of horizontal strips of one picture into the file one encoder writes.
//
// A baseline JPEG without restart markers is one run of Huffman codes, block after block;
// a block's codes depend only on its own coefficients and, through the DC difference, on
// the block before it of the same component. A strip encoded with the last MCU row of the
// strip above repeated at its top therefore holds, after that row, exactly the codes the
// whole picture's encoder writes for the strip's rows, only at another bit offset. Finding
// where a strip's own codes begin and end takes decoding the Huffman codes, not the
// coefficients; joining is copying bits and stuffing the bytes again.
#include <algorithm>
#include <array>
#include <cstring>

#include "codec.hpp"

namespace zembra::imaging::detail {

namespace {

constexpr uint8_t kMarker = 0xFF;
constexpr uint8_t kSof0 = 0xC0;
constexpr uint8_t kDht = 0xC4;
constexpr uint8_t kSos = 0xDA;
constexpr uint8_t kEoi = 0xD9;
constexpr uint8_t kDri = 0xDD;
constexpr int kLookBits = 10;

uint32_t be16(const uint8_t* p) { return uint32_t(p[0]) << 8 | p[1]; }

// A Huffman table as a decoder needs it: codes of up to kLookBits bits in one look-up,
// longer ones by the canonical code's largest code per length.
struct HuffmanTable {
    bool defined = false;
    std::array<uint16_t, 1 << kLookBits> fast{};  // length << 8 | symbol, 0 when longer
    std::array<int32_t, 17> maxCode{};            // largest code of each length, -1 if none
    std::array<int32_t, 17> firstIndex{};         // index in symbols of each length's first code
    std::array<int32_t, 17> firstCode{};
    std::array<uint8_t, 256> symbols{};

    bool build(const uint8_t* counts, const uint8_t* values, size_t valueCount) {
        size_t total = 0;
        for (int i = 0; i < 16; ++i) total += counts[i];
        if (total > 256 || total > valueCount) return false;
        std::copy(values, values + total, symbols.begin());
        fast.fill(0);
        int32_t code = 0;
        int32_t index = 0;
        for (int length = 1; length <= 16; ++length) {
            firstIndex[length] = index;
            firstCode[length] = code;
            for (int i = 0; i < counts[length - 1]; ++i, ++code, ++index) {
                if (code >= 1 << length) return false;  // more codes than the length holds
                if (length <= kLookBits) {
                    const int spread = kLookBits - length;
                    for (int fill = 0; fill < 1 << spread; ++fill)
                        fast[size_t(code << spread | fill)] =
                            uint16_t(length << 8 | symbols[size_t(index)]);
                }
            }
            maxCode[length] = counts[length - 1] ? code - 1 : -1;
            code <<= 1;
        }
        defined = true;
        return true;
    }
};

// Reads bits, most significant first, from unstuffed entropy-coded bytes followed by at
// least eight readable bytes (JpegStrip::kSlack).
class BitReader {
  public:
    BitReader(const uint8_t* bytes, uint64_t bits) : bytes_(bytes), bits_(bits) {}
    uint64_t position() const { return at_; }
    bool overrun() const { return at_ > bits_; }
    // The next 57 bits and more from the position, at the top of the word.
    uint64_t peek() const {
        uint64_t word;
        std::memcpy(&word, bytes_ + (std::min(at_, bits_) >> 3), 8);
        return __builtin_bswap64(word) << (std::min(at_, bits_) & 7);
    }
    void skip(uint32_t count) { at_ += count; }
    // One symbol of `table`, or -1 for a code the table lacks.
    int decode(const HuffmanTable& table) {
        const uint64_t look = peek();
        const uint16_t hit = table.fast[look >> (64 - kLookBits)];
        if (hit != 0) {
            at_ += hit >> 8;
            return hit & 0xFF;
        }
        for (int length = kLookBits + 1; length <= 16; ++length) {
            const auto code = int32_t(look >> (64 - length));
            if (code <= table.maxCode[length]) {
                at_ += uint64_t(length);
                return table
                    .symbols[size_t(table.firstIndex[length] + code - table.firstCode[length])];
            }
        }
        return -1;
    }

  private:
    const uint8_t* bytes_;
    uint64_t bits_;
    uint64_t at_ = 0;
};

// `count` (at most 32) bits at bit `at` of `bytes`, which are readable 8 bytes past it.
uint32_t bitsAt(const uint8_t* bytes, uint64_t at, unsigned count) {
    if (count == 0) return 0;
    uint64_t word;
    std::memcpy(&word, bytes + (at >> 3), 8);
    return uint32_t((__builtin_bswap64(word) << (at & 7)) >> (64 - count));
}

struct ScanComponent {
    int dc = 0;
    int ac = 0;
};

// Moves past one block's codes; false where they are not a valid block.
bool skipBlock(BitReader& in, const HuffmanTable& dc, const HuffmanTable& ac) {
    const int size = in.decode(dc);
    if (size < 0 || size > 16) return false;
    in.skip(uint32_t(size));
    for (int k = 1; k < 64;) {
        const int rs = in.decode(ac);
        if (rs < 0) return false;
        const int run = rs >> 4, bits = rs & 15;
        if (bits != 0) {
            in.skip(uint32_t(bits));
            k += run + 1;
        } else if (run == 15) {
            k += 16;
        } else {
            break;  // end of block
        }
        if (k > 64) return false;
    }
    return !in.overrun();
}

}  // namespace

std::optional<JpegStrip> readJpegStrip(std::span<const uint8_t> file, uint32_t skippedMcuRows,
                                       bool toEnd) {
    const size_t size = file.size();
    const uint8_t* d = file.data();
    if (size < 4 || d[0] != kMarker || d[1] != 0xD8) return std::nullopt;
    std::array<HuffmanTable, 8> tables;  // DC 0-3, AC 4-7
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> componentIds;
    size_t sofAt = 0;
    size_t at = 2;
    std::vector<ScanComponent> scan;
    while (true) {
        if (at + 4 > size || d[at] != kMarker) return std::nullopt;
        const uint8_t marker = d[at + 1];
        const size_t length = be16(d + at + 2);
        if (length < 2 || at + 2 + length > size) return std::nullopt;
        const uint8_t* s = d + at + 4;
        const size_t body = length - 2;
        if (marker == kSof0) {
            if (body < 6) return std::nullopt;
            height = be16(s + 1);
            width = be16(s + 3);
            const size_t count = s[5];
            if (s[0] != 8 || count == 0 || body < 6 + count * 3) return std::nullopt;
            for (size_t i = 0; i < count; ++i) {
                if (s[6 + i * 3 + 1] != 0x11) return std::nullopt;  // full-resolution only
                componentIds.push_back(s[6 + i * 3]);
            }
            sofAt = at + 5;
        } else if (marker == kDht) {
            for (size_t p = 0; p < body;) {
                if (p + 17 > body) return std::nullopt;
                const uint8_t cls = s[p] >> 4, id = s[p] & 15;
                if (cls > 1 || id > 3) return std::nullopt;
                size_t count = 0;
                for (int i = 0; i < 16; ++i) count += s[p + 1 + size_t(i)];
                if (p + 17 + count > body) return std::nullopt;
                if (!tables[cls * 4u + id].build(s + p + 1, s + p + 17, count)) return std::nullopt;
                p += 17 + count;
            }
        } else if (marker == kDri) {
            if (body < 2 || be16(s) != 0) return std::nullopt;
        } else if (marker == kSos) {
            const size_t count = body >= 1 ? s[0] : 0;
            if (count == 0 || body < 1 + count * 2 + 3 || count != componentIds.size())
                return std::nullopt;
            for (size_t i = 0; i < count; ++i) {
                const ScanComponent c{s[2 + i * 2] >> 4, 4 + (s[2 + i * 2] & 15)};
                if (s[1 + i * 2] != componentIds[i] || c.dc > 3 || c.ac > 7 ||
                    !tables[size_t(c.dc)].defined || !tables[size_t(c.ac)].defined)
                    return std::nullopt;
                scan.push_back(c);
            }
            const uint8_t* spectral = s + 1 + count * 2;
            if (spectral[0] != 0 || spectral[1] != 63 || spectral[2] != 0) return std::nullopt;
            at += 2 + length;
            break;
        } else if ((marker >= 0xC1 && marker <= 0xCF && marker != 0xC8) || marker < 0xC0) {
            return std::nullopt;  // another kind of coding, or no marker at all
        }
        at += 2 + length;
    }
    if (sofAt == 0 || width == 0 || height == 0) return std::nullopt;

    JpegStrip strip;
    strip.header.assign(d, d + at);
    strip.heightAt = sofAt;
    // The entropy-coded data without its stuffed zero bytes, up to the end of the picture.
    strip.bits.resize(size - at + JpegStrip::kSlack);
    size_t out = 0;
    bool ended = false;
    while (at < size) {
        const auto* mark = static_cast<const uint8_t*>(std::memchr(d + at, kMarker, size - at));
        const size_t run = (mark ? size_t(mark - d) : size) - at;
        std::memcpy(strip.bits.data() + out, d + at, run);
        out += run;
        at += run;
        if (!mark) break;
        if (at + 1 < size && d[at + 1] == 0) {
            strip.bits[out++] = kMarker;
            at += 2;
        } else if (at + 1 < size && d[at + 1] == kEoi) {
            ended = true;
            break;
        } else {
            return std::nullopt;  // restart markers and others: not ours
        }
    }
    if (!ended) return std::nullopt;
    strip.bitCount = uint64_t(out) * 8;
    strip.bits.resize(out + JpegStrip::kSlack);
    std::fill(strip.bits.begin() + ptrdiff_t(out), strip.bits.end(), uint8_t(0));

    const uint64_t perRow = (width + 7) / 8;
    const uint64_t rows = (height + 7) / 8;
    if (skippedMcuRows >= rows) return std::nullopt;
    BitReader in(strip.bits.data(), strip.bitCount);
    const uint64_t last = toEnd ? perRow * rows : perRow * skippedMcuRows;
    for (uint64_t mcu = 0; mcu < last; ++mcu) {
        if (mcu == 1) strip.firstMcuEnd = in.position();
        if (mcu == perRow * skippedMcuRows) strip.begin = in.position();
        for (const ScanComponent& c : scan) {
            if (!skipBlock(in, tables[size_t(c.dc)], tables[size_t(c.ac)])) return std::nullopt;
        }
    }
    if (last == 1) strip.firstMcuEnd = in.position();
    if (last == perRow * skippedMcuRows) strip.begin = in.position();
    if (toEnd) {
        // What follows the last block is the padding to a whole byte, of one bits.
        const uint64_t padding = strip.bitCount - in.position();
        if (in.overrun() || padding >= 8 ||
            (padding > 0 &&
             bitsAt(strip.bits.data(), in.position(), unsigned(padding)) != (1u << padding) - 1))
            return std::nullopt;
        strip.end = in.position();
    }
    return strip;
}

namespace {

// Where the codes of `strip`'s own rows end: the strip's last row is the row that `below`
// repeats at its top, whose codes after its first MCU are the same bits; they end the
// strip's data, followed by up to seven one bits of padding. nullopt unless exactly one
// place fits.
std::optional<uint64_t> endBefore(const JpegStrip& strip, const JpegStrip& below) {
    const uint64_t tail = below.begin - below.firstMcuEnd;
    if (tail == 0) return std::nullopt;
    std::optional<uint64_t> found;
    for (unsigned padding = 0; padding < 8 && padding <= strip.bitCount; ++padding) {
        const uint64_t end = strip.bitCount - padding;
        if (end < strip.begin + tail) break;
        if (padding > 0 && bitsAt(strip.bits.data(), end, padding) != (1u << padding) - 1) continue;
        bool same = true;
        for (uint64_t k = 0; k < tail && same; k += 32) {
            const auto count = unsigned(std::min<uint64_t>(32, tail - k));
            same = bitsAt(strip.bits.data(), end - tail + k, count) ==
                   bitsAt(below.bits.data(), below.firstMcuEnd + k, count);
        }
        if (!same) continue;
        if (found) return std::nullopt;  // two places fit: not to be guessed
        found = end;
    }
    return found;
}

// Collects bits most significant first into bytes.
class BitWriter {
  public:
    explicit BitWriter(size_t bytes) { bytes_.reserve(bytes + 8); }
    void put(uint32_t value, unsigned count) {  // count <= 32
        if (count == 0) return;
        buffer_ = buffer_ << count | value;
        held_ += count;
        if (held_ >= 32) {
            held_ -= 32;
            const auto word = uint32_t(buffer_ >> held_);
            bytes_.push_back(uint8_t(word >> 24));
            bytes_.push_back(uint8_t(word >> 16));
            bytes_.push_back(uint8_t(word >> 8));
            bytes_.push_back(uint8_t(word));
        }
    }
    // The bytes, the last one filled up with one bits as the encoder pads it.
    std::vector<uint8_t> finish() {
        const unsigned padding = (8 - held_ % 8) % 8;
        put((1u << padding) - 1, padding);
        for (; held_ > 0; held_ -= 8) bytes_.push_back(uint8_t(buffer_ >> (held_ - 8)));
        return std::move(bytes_);
    }

  private:
    std::vector<uint8_t> bytes_;
    uint64_t buffer_ = 0;
    unsigned held_ = 0;
};

}  // namespace

std::optional<std::vector<uint8_t>> joinJpegStrips(std::span<const JpegStrip> strips,
                                                   uint32_t height) {
    if (strips.empty()) return std::nullopt;
    std::vector<uint64_t> ends(strips.size());
    uint64_t total = 0;
    for (size_t i = 0; i < strips.size(); ++i) {
        std::optional<uint64_t> end = strips[i].end;
        if (!end && i + 1 < strips.size()) end = endBefore(strips[i], strips[i + 1]);
        if (!end || *end < strips[i].begin) return std::nullopt;
        ends[i] = *end;
        total += *end - strips[i].begin;
    }
    BitWriter writer(size_t(total / 8));
    for (size_t i = 0; i < strips.size(); ++i) {
        for (uint64_t from = strips[i].begin; from < ends[i]; from += 32) {
            const auto count = unsigned(std::min<uint64_t>(32, ends[i] - from));
            writer.put(bitsAt(strips[i].bits.data(), from, count), count);
        }
    }
    const std::vector<uint8_t> bits = writer.finish();

    std::vector<uint8_t> file = strips.front().header;
    file[strips.front().heightAt] = uint8_t(height >> 8);
    file[strips.front().heightAt + 1] = uint8_t(height);
    file.reserve(file.size() + bits.size() + bits.size() / 64 + 2);
    // Every 0xFF byte of the data is followed by a stuffed zero.
    for (size_t at = 0; at < bits.size();) {
        const auto* mark =
            static_cast<const uint8_t*>(std::memchr(bits.data() + at, kMarker, bits.size() - at));
        const size_t stop = mark ? size_t(mark - bits.data()) + 1 : bits.size();
        file.insert(file.end(), bits.begin() + ptrdiff_t(at), bits.begin() + ptrdiff_t(stop));
        if (mark) file.push_back(0);
        at = stop;
    }
    file.push_back(kMarker);
    file.push_back(kEoi);
    return file;
}

}  // namespace zembra::imaging::detail
