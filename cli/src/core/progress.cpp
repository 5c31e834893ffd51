#include "core/progress.hpp"

#include <algorithm>
#include <string>

namespace zembra::cli {

void Progress::update(size_t done) {
    if (out_ == nullptr) return;
    const size_t pct = total_ == 0 ? 100 : done * 100 / total_;
    const std::string line = label_ + ": " + std::to_string(done) + " of " +
                             std::to_string(total_) + " (" + std::to_string(pct) + "%)";
    *out_ << '\r' << line;
    if (line.size() < shownWidth_) *out_ << std::string(shownWidth_ - line.size(), ' ');
    *out_ << std::flush;
    shownWidth_ = std::max(shownWidth_, line.size());
}

void Progress::done() {
    if (out_ == nullptr || shownWidth_ == 0) return;
    *out_ << '\r' << std::string(shownWidth_, ' ') << '\r' << std::flush;
    shownWidth_ = 0;
}

}  // namespace zembra::cli
