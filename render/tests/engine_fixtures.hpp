// Pictures and zip tables made on the spot for the tests that render through the engine.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <zembra/render/catalogue.hpp>

#include "imaging.hpp"

namespace zembra::render::test {

// 100 x 100 map of latitude 0..100 and longitude -100..0: latitude L and longitude -G
// land on pixel (100 - G, 100 - L).
inline const Bounds kGrid{0.0, 100.0, -100.0, 0.0};

// A size x size PNG of one opaque colour.
inline void writeSquare(const std::filesystem::path& path, int32_t size,
                        std::array<uint8_t, 3> rgb) {
    imaging::Picture p{size, size, {}};
    for (int32_t i = 0; i < size * size; ++i)
        p.rgba.insert(p.rgba.end(), {rgb[0], rgb[1], rgb[2], 255});
    const auto bytes = imaging::encode(p, imaging::Format::Png);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// Runs `sql` on the SQLite database at `path`, creating it when needed.
inline void runSql(const std::filesystem::path& path, const std::string& sql) {
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, &sqlite3_close);
    ASSERT_EQ(sqlite3_exec(db.get(), sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
}

}  // namespace zembra::render::test
