// The command line's options of a command, made from the render parameter table.
#pragma once

#include <CLI/CLI.hpp>
#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>
#include <zembra/render/parameters.hpp>

namespace zembra::cli {

class ParameterOptions {
  public:
    // Adds an option for every row offered in `scope` that has a command-line spelling:
    // its flags, placeholder, help and default as the row gives them; counts are checked
    // while parsing, with the row's message. The rows named in `required` are required in
    // this command even where the row itself is optional.
    void addTo(CLI::App& command, render::ParameterScope scope,
               std::initializer_list<std::string_view> required = {});
    // The values given on the command line, by parameter name.
    render::ParameterValues values() const;

  private:
    std::map<std::string, std::string> texts_;  // stable storage the parser writes into
    std::vector<std::pair<const render::Parameter*, CLI::Option*>> options_;
};

}  // namespace zembra::cli
