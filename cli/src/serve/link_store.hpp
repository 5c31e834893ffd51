// Where the links of rendered pictures live: for each picture id, the render request that
// made it (and its answer), so that any server sharing the store can answer the link by
// rendering it again. Entries are kept for a stated time from their creation and never
// pushed out by other entries.
//
//   a folder:        one file per id, written to a temporary name and renamed into place,
//                    so several servers (on one machine or a shared file system) may share it;
//   "DSN=..." or "Driver=...": a table zembra_links in that database, created when missing.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace zembra::serve {

using WallClock = std::chrono::system_clock;

struct KeptLink {
    std::string record;  // JSON text
    WallClock::time_point created;
};

class LinkStore {
  public:
    virtual ~LinkStore() = default;
    // Keeps `record` under `id` (32 hex digits). Raises zembra::Error when it cannot.
    virtual void put(const std::string& id, const std::string& record,
                     WallClock::time_point now) = 0;
    // The entry of `id`; nothing when there is none. Raises zembra::Error when the store
    // cannot be read.
    virtual std::optional<KeptLink> get(const std::string& id) = 0;
    // Removes the entries created before `cutoff`.
    virtual void removeOlderThan(WallClock::time_point cutoff) = 0;
    // What the store is, for the log: a folder's path or "database"; never a connection string.
    virtual std::string describe() const = 0;
};

// A store for `--store`: a connection string when it holds "=", a folder otherwise (created
// when missing). Raises zembra::Error when it cannot be opened.
std::unique_ptr<LinkStore> openLinkStore(const std::string& where);

// The folder used without `--store`: $XDG_STATE_HOME/zembra/links, or
// ~/.local/state/zembra/links.
std::filesystem::path defaultLinkFolder();

// 32 random hex digits.
std::string newLinkId();

// True for what newLinkId() makes.
bool isLinkId(std::string_view text) noexcept;

}  // namespace zembra::serve
