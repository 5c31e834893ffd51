// A one-line progress display on a terminal, rewritten in place.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>

namespace zembra::cli {

class Progress {
  public:
    // `out` null: shows nothing (standard error is not a terminal).
    Progress(std::ostream* out, std::string label, size_t total)
        : out_(out), label_(std::move(label)), total_(total) {}
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    // Erases the line so that the messages after it start clean.
    ~Progress() { done(); }

    // Shows "label: done of total (pct%)".
    void update(size_t done);
    // Erases the line, if one is shown.
    void done();

  private:
    std::ostream* out_;
    std::string label_;
    size_t total_;
    size_t shownWidth_ = 0;
};

}  // namespace zembra::cli
