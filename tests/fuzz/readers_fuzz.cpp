// The command-line program's file readers and writers. The first byte picks the format (its
// low three bits: gset, bqp, qubo, qbsolv, bqm, else guessed) and the BQP instance (its top two
// bits), so that seed files starting with '0' .. '7' read instance 1; the rest is the file.
// A ReadError is a rejected file. An accepted one must describe a consistent problem within
// the memory limit, and every writer must either refuse it or write a file that its reader
// reads back with the same minimum, the same coefficients where positions are kept, and that
// reads and writes again to the same text.
#include <sstream>
#include <string>
#include <vector>

#include "../support/problem_brute.hpp"
#include "formats.hpp"
#include "fuzz_util.hpp"
#include "readers.hpp"

namespace {

using dalo_test::minimum;

// Small, so that announced sizes meet the check and runs stay fast.
constexpr uint64_t kMemoryLimit = uint64_t{4} << 20;

dalo_cli::Problem read(const std::string& text, const std::string& format, uint32_t instance) {
    std::istringstream in(text);
    return dalo_cli::read_problem("input", in, format, instance);
}

std::string written(const dalo_cli::Problem& p, const dalo_cli::FileFormat& f) {
    std::ostringstream out;
    f.write(out, p, "output");
    return out.str();
}

bool same(const dalo_cli::Coefficients& a, const dalo_cli::Coefficients& b) {
    if (a.linear != b.linear || a.quadratic.size() != b.quadratic.size()) return false;
    for (size_t k = 0; k < a.quadratic.size(); ++k) {
        const dalo_cli::Entry &x = a.quadratic[k], &y = b.quadratic[k];
        if (x.i != y.i || x.j != y.j || x.value != y.value) return false;
    }
    return true;
}

void check_writers(const dalo_cli::Problem& p) {
    for (const dalo_cli::FileFormat& f : dalo_cli::formats()) {
        const std::string name = f.name;
        std::string text;
        try {
            text = written(p, f);
        } catch (const dalo_cli::ReadError& e) {
            if (e.text.empty()) dalo_fuzz::fault("empty refusal from the " + name + " writer");
            continue;
        }
        try {
            const dalo_cli::Problem back = read(text, name, 1);
            if (p.n <= 8 && minimum(back) != minimum(p))
                dalo_fuzz::fault(name + " read back with another minimum");
            const bool positions = name == "bqp" || name == "qbsolv" || name == "bqm";
            if (positions && (back.n != p.n || !same(dalo_cli::merged(back), dalo_cli::merged(p))))
                dalo_fuzz::fault(name + " read back with other coefficients");
            if (name == "bqm" && back.offset != p.offset)
                dalo_fuzz::fault("bqm read back with another offset");
            const std::string again = written(back, f);
            if (written(read(again, name, 1), f) != again)
                dalo_fuzz::fault(name + " is not a fixed point of reading and writing");
        } catch (const dalo_cli::ReadError& e) {
            dalo_fuzz::fault("the " + name + " writer wrote what its reader refuses: " + e.text);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    dalo_cli::set_memory_limit(kMemoryLimit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const char* const kFormats[] = {"gset", "bqp", "qubo", "qbsolv", "bqm", "", "", ""};
    const std::string format = kFormats[data[0] & 7];
    const uint32_t instance = 1 + (data[0] >> 6);
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    try {
        const dalo_cli::Problem p = read(text, format, instance);
        if (p.labels.size() != p.n) dalo_fuzz::fault("label count differs from variable count");
        if (!p.names.empty() && p.names.size() != p.n)
            dalo_fuzz::fault("name count differs from variable count");
        if (p.n > kMemoryLimit / 64) dalo_fuzz::fault("more variables than the memory limit");
        for (const dalo_cli::Entry& e : p.entries) {
            if (e.i >= p.n || e.j >= p.n) dalo_fuzz::fault("entry index outside the variables");
        }
        check_writers(p);
    } catch (const dalo_cli::ReadError& e) {
        if (e.text.empty() || e.text.find('\n') != std::string::npos)
            dalo_fuzz::fault("error text is not one line");
    }
    return 0;
}
