#include <cstdio>

#include "cli.hpp"

int main(int argc, char** argv) {
    // Line-buffered, so that solver progress lines arrive as they are printed.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    return dalo_cli::run(argc, argv);
}
