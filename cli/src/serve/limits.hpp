// What one request may ask of `zembra serve`, how much work it takes on at once, and how
// long it keeps what its links need.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace zembra::serve {

struct Limits {
    size_t maxBodyBytes = 8u << 20;               // request body (JSON or CSV upload)
    size_t maxCodes = 100'000;                    // zip codes plus points in one render
    uint64_t maxPicturePixels = 40'000'000;       // width x height of a map that may be rendered
    size_t workers = 0;                           // render and lookup threads; 0: one per core
    size_t queue = 16;                            // requests waiting for a worker before 503
    std::chrono::milliseconds deadline{60'000};   // from arrival to answer, queue included
    std::chrono::seconds keepFor{7 * 24 * 3600};  // a link works this long after its render
    size_t cacheBytes = 32u << 20;  // rendered pictures kept in memory (a cache: links re-render)
    // Connections.
    std::chrono::milliseconds headTimeout{5'000};   // for a whole request head
    std::chrono::milliseconds idleTimeout{15'000};  // keep-alive between requests
    size_t maxConnections = 2'048;
    size_t maxPerAddress = 64;
    size_t maxIdle = 256;
};

}  // namespace zembra::serve
