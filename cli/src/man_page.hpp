// The program's manual page, written from the same command-line description that --help
// prints, so that the two never disagree.
#pragma once

#include <string>
#include <string_view>

namespace CLI {
class App;
}

namespace zembra::cli {

// A man(7) page for `app`: NAME, SYNOPSIS, DESCRIPTION and OPTIONS from the top-level
// command, then one section per subcommand (nested ones too, such as "ZEMBRA DB LOAD") with
// its usage, options and footer. Hidden options and subcommands (empty group) are left out;
// footer paragraphs that the top-level footer already holds appear only there.
std::string manPage(const CLI::App& app, std::string_view version);

// Text escaped for a troff text line: backslashes and minus signs escaped, and a line that
// would start with a control character ('.' or '\'') protected.
std::string troffEscape(std::string_view text);

}  // namespace zembra::cli
