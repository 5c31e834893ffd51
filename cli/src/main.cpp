// zembra: puts US zip codes on a map picture from the command line.
#include <unistd.h>

#include <iostream>

#include "app.hpp"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    zembra::cli::Io io{STDIN_FILENO,
                       std::cout,
                       std::cerr,
                       isatty(STDIN_FILENO) == 1,
                       isatty(STDOUT_FILENO) == 1,
                       isatty(STDERR_FILENO) == 1};
    return zembra::cli::run(argc, argv, io);
}
