// The `zembra` program: parses the command line and runs one subcommand.
#pragma once

#include "commands/commands.hpp"

namespace zembra::cli {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // a run-time error (file, engine, database)
inline constexpr int kExitUsage = 2;    // the command line asks for something impossible

// Runs the program on `argv`; messages go to io.err as "zembra: error N: description"
// or "zembra: <usage problem>". Returns the exit status.
int run(int argc, const char* const* argv, Io& io);

}  // namespace zembra::cli
