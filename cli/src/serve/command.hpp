// `zembra serve`: its options and the command that runs the server until a signal.
#pragma once

#include <CLI/CLI.hpp>
#include <ostream>

#include "serve/server.hpp"

namespace zembra::serve {

// Adds the `serve` subcommand with its options, which fill `config`.
CLI::App* addServeCommand(CLI::App& app, ServerConfig& config);

// Serves until SIGINT or SIGTERM: prints "listening on http://HOST:PORT/" on `out` once
// bound, one line per request on `err`. Returns 0 after a clean stop; raises zembra::Error
// when the server cannot start.
int runServe(const ServerConfig& config, std::ostream& out, std::ostream& err);

}  // namespace zembra::serve
