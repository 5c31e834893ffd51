// zembra: puts US zip codes on a map picture from the command line.
#include <unistd.h>

#include <iostream>

#include "app.hpp"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    zembra::cli::Io io{std::cin, std::cout, std::cerr, isatty(STDIN_FILENO) == 1,
                       isatty(STDERR_FILENO) == 1};
    const int status = zembra::cli::run(argc, argv, io);
    std::cout.flush();
    return status;
}
