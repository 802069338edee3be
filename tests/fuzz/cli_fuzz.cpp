// The whole program on a file: the first byte picks a command line, the rest is the file.
// Whatever the file holds, the program returns 0 to 3, never crashing, throwing, exiting or
// allocating past the memory limit that the readers plan for. Without the plug-ins (the fuzz
// targets do not build them) a solve stops at loading one, with status 2.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "cli.hpp"
#include "fuzz_util.hpp"
#include "readers.hpp"

namespace {

std::string g_dir;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    dalo_cli::set_memory_limit(uint64_t{4} << 20);
    // The solvers are the plug-ins of this build folder, where they are built.
    setenv("DALO_LIB_DIR", DALO_FUZZ_LIB_DIR, 0);
    char dir[] = "/tmp/dalo_cli_fuzz_XXXXXX";
    if (mkdtemp(dir) == nullptr) dalo_fuzz::fault("no temporary folder");
    g_dir = dir;
    std::atexit([] {
        for (const char* name :
             {"in", "out.json", "out.qubo", "out.gset", "out.bqp", "out.txt", "out.lp", "out.mps"})
            std::remove((g_dir + "/" + name).c_str());
        rmdir(g_dir.c_str());
    });
    // What the program prints is not looked at.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) dalo_fuzz::fault("no /dev/null");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string in = g_dir + "/in", out = g_dir + "/out";
    std::ofstream(in, std::ios::binary)
        .write(reinterpret_cast<const char*>(data) + 1, static_cast<std::streamsize>(size - 1));
    const std::string quick[] = {"--time-limit", "0", "--threads", "1", "--seed", "1", "--quiet"};
    std::vector<std::vector<std::string>> commands = {
        {"solve", in},
        {"solve", in, "--solver", "kelp"},
        {"solve", in, "--json", "--topk", "2"},
        {"convert", in, out + ".json"},
        {"convert", in, out + ".qubo"},
        {"convert", in, out + ".gset"},
        {"convert", in, out + ".bqp"},
        {"convert", in, out + ".txt"},
        {"export-lp", in, out + ".lp", "--linearize"},
        {"convert", in, out + ".mps", "--linearize"},
        {"export-lp", in, out + ".lp"},
        {"solve", in, "--format", "qap"},
        {"solve", in, "--format", "tsp", "--json"},
    };
    for (std::vector<std::string>& c : commands) {
        if (c[0] == "solve") c.insert(c.end(), std::begin(quick), std::end(quick));
    }
    std::vector<std::string> args = {"dalo"};
    const std::vector<std::string>& command = commands[data[0] % commands.size()];
    args.insert(args.end(), command.begin(), command.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int status = dalo_cli::run(static_cast<int>(args.size()), argv.data());
    if (status < 0 || status > 3) dalo_fuzz::fault("exit status " + std::to_string(status));
    return 0;
}
