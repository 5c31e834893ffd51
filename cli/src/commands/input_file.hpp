// Opening the file an input list is read from ("-": standard input).
#pragma once

#include <fstream>
#include <istream>
#include <string>

namespace zembra::cli {

class InputFile {
  public:
    // Raises zembra::Error 53 for a missing file, 70 for one that cannot be read.
    InputFile(const std::string& path, std::istream& standardInput);

    std::istream& stream() { return stream_ ? *stream_ : file_; }
    // How messages name the input: the path, or "standard input".
    const std::string& name() const { return name_; }

  private:
    std::ifstream file_;
    std::istream* stream_ = nullptr;
    std::string name_;
};

}  // namespace zembra::cli
