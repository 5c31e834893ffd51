// What one request may ask of `zembra serve`, and how much work it takes on at once.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "picture_formats.hpp"

namespace zembra::serve {

struct Limits {
    size_t maxBodyBytes = 8u << 20;  // request body (JSON or CSV upload)
    size_t maxCodes = 100'000;       // zip codes plus points in one render
    // Width x height of a map that may be rendered: the imaging adapter's own limit.
    uint64_t maxPicturePixels = imaging::kDefaultMaxPicturePixels;
    size_t workers = 0;                          // render and lookup threads; 0: one per core
    size_t queue = 16;                           // requests waiting for a worker before 503
    std::chrono::milliseconds deadline{60'000};  // from arrival to answer, queue included
    size_t connections = 32;                     // connection threads of the HTTP library
    size_t storedPictures = 64;                  // rendered pictures kept for their links
    size_t storedBytes = 256u << 20;
    std::chrono::seconds storedFor{900};
};

}  // namespace zembra::serve
