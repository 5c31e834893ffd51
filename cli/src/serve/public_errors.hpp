// What a client is told of a server-side failure: the kind of failure, never the connection
// string, the database's server or user, or a file path of the server (those stay in the log).
#pragma once

#include <string>
#include <zembra/runtime.hpp>

namespace zembra::serve {

std::string publicDescription(const Error& e);

}  // namespace zembra::serve
