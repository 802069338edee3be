// QAPLIB quadratic assignment files: n, then the n x n flow matrix and the n x n distance
// matrix as whitespace-separated integers; line breaks and blank lines carry no meaning.
#include "permutation.hpp"
#include "tokens.hpp"

namespace dalo_cli {

namespace {

// The model has n^2 variables and up to n^4 terms.
constexpr int64_t kQapLimit = 1000;

}  // namespace

Assignment read_qap(const Tokens& t) {
    Assignment a;
    a.format = "qap";
    const int64_t n = positive_count(t, 0, 0, "size", kQapLimit);
    if (n == 0) t.fail(0, "size 0: nothing to assign");
    const auto un = static_cast<uint64_t>(n);
    check_announced(t, 0, un * un, "variables", un * un * un * un, "term");
    a.n = static_cast<uint32_t>(n);
    const size_t want = static_cast<size_t>(2 * n * n);
    std::vector<int64_t> values;
    values.reserve(want);
    size_t k = 0, w = 1;
    for (; k < t.line_count(); ++k, w = 0) {
        for (; w < t.words(k).size(); ++w) {
            if (values.size() == want) {
                t.fail(k, "more numbers than the 2 matrices of " + std::to_string(n) + " x " +
                              std::to_string(n));
            }
            values.push_back(coefficient(t, k, w, 1));
        }
    }
    if (values.size() < want) {
        const char* which = values.size() < want / 2 ? "flow" : "distance";
        t.fail(t.line_count() - 1, "the file ends inside the " + std::string(which) +
                                       " matrix: " + std::to_string(values.size()) + " of " +
                                       std::to_string(want) + " numbers (truncated file?)");
    }
    a.flow.assign(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(want / 2));
    a.distance.assign(values.begin() + static_cast<std::ptrdiff_t>(want / 2), values.end());
    return a;
}

}  // namespace dalo_cli
