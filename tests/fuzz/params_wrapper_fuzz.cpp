// The library's own parameter handling (the integer engine behind the wrappers): misuse throws
// (fuzzing build), a bad integer throws std::runtime_error as documented; the integer parser
// is cross-checked against strtoll where both apply.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

#include "fuzz_util.hpp"
#include "solvers/int_engine.hpp"
#include "solvers/params.hpp"

namespace {

void check_int_parser(const std::string& text) {
    int64_t got = 0;
    try {
        got = dalo::parse_param_int(text);
    } catch (const std::runtime_error& e) {
        // what() ends at the first NUL of the text.
        const std::string want = "dalo::_from_string: invalid integer '" + text + "'";
        if (std::string(e.what()) != want.substr(0, want.find('\0')))
            dalo_fuzz::fault("parse_param_int message: " + std::string(e.what()));
        return;
    }
    // Blanks, sign and up to 18 digits: strtoll reads the same prefix exactly.
    size_t i = text.find_first_not_of(" \t");
    if (i == std::string::npos) dalo_fuzz::fault("accepted a text without digits");
    if (text[i] == '+' || text[i] == '-') ++i;
    size_t digits = 0;
    while (i + digits < text.size() && text[i + digits] >= '0' && text[i + digits] <= '9') ++digits;
    if (digits == 0) dalo_fuzz::fault("accepted a text without digits");
    if (digits > 18 || text.find('\0') != std::string::npos) return;
    const long long want = std::strtoll(text.c_str(), nullptr, 10);
    if (got != want) dalo_fuzz::fault("parse_param_int('" + text + "') = " + std::to_string(got));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const dalo_fuzz::Params p(data, size);
    for (const std::string& t : p.text) {
        check_int_parser(t);
        (void)dalo::parse_param_uint(t);
    }
    const dalo::ParamList list(p.pairs.data());
    try {
        const dalo::IntSearchOpts o = dalo::int_search_options(list, "BriskSolver");
        if (o.threads < 1) dalo_fuzz::fault("zero threads accepted");
        if (list.has("topk_sols") && o.topk == 0) dalo_fuzz::fault("zero topk accepted");
    } catch (const std::logic_error&) {
    } catch (const std::runtime_error&) {
    }
    return 0;
}
