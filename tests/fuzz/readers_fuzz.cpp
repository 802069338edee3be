// The command-line program's file readers. The first byte picks the format (gset, bqp, qubo
// or guessed) and the BQP instance; the rest is the file. A ReadError is a rejected file;
// an accepted one must describe a consistent problem.
#include <sstream>
#include <string>

#include "fuzz_util.hpp"
#include "readers.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const char* const kFormats[] = {"gset", "bqp", "qubo", ""};
    const std::string format = kFormats[data[0] & 3];
    const uint32_t instance = 1 + ((data[0] >> 2) & 3);
    std::istringstream in(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
    try {
        const dalo_cli::Problem p = dalo_cli::read_problem("input", in, format, instance);
        if (p.labels.size() != p.n) dalo_fuzz::fault("label count differs from variable count");
        for (const dalo_cli::Entry& e : p.entries) {
            if (e.i >= p.n || e.j >= p.n) dalo_fuzz::fault("entry index outside the variables");
        }
    } catch (const dalo_cli::ReadError& e) {
        if (e.text.empty()) dalo_fuzz::fault("empty error text");
    }
    return 0;
}
