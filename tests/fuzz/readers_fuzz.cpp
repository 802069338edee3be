// The command-line program's file readers. The first byte picks the format (gset, bqp, qubo
// or guessed) and the BQP instance; the rest is the file. A ReadError is a rejected file;
// an accepted one must describe a consistent problem.
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_util.hpp"
#include "readers.hpp"

namespace {

// A G-set or BQP header may announce up to 2^30 - 2 variables in a valid file, and the
// reader sizes its label list by it; such inputs are skipped to keep runs fast. Count lines
// are the only lines with one or two numbers.
bool announces_huge_counts(const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        line = line.substr(0, line.find('#'));
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string x; words >> x;) w.push_back(x);
        if (w.size() > 2) continue;
        for (const std::string& x : w) {
            const size_t digits = x.find_first_not_of("+-0123456789");
            if (x.size() > 7 && digits == std::string::npos) return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const char* const kFormats[] = {"gset", "bqp", "qubo", ""};
    const std::string format = kFormats[data[0] & 3];
    const uint32_t instance = 1 + ((data[0] >> 2) & 3);
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (announces_huge_counts(text)) return 0;
    std::istringstream in(text);
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
