// The command line's own kind of failure: the operator asked for something that
// cannot be done as written (a bad option value, a missing input). Such failures end
// the program with exit status 2; zembra::Error values raised while working end it
// with status 1.
#pragma once

#include <stdexcept>
#include <string>

namespace zembra::cli {

class UsageError : public std::runtime_error {
  public:
    explicit UsageError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace zembra::cli
