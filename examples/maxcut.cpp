// Max-Cut on a graph file ("n m", then m lines "i j w", 1-based vertices, as in the G-set
// collection) with BriskSolver:
//
//   maxcut FILE [BEST_KNOWN [SECONDS]]
//
// The cut of a side assignment x is the sum of w over edges whose ends differ,
// w (x_i + x_j - 2 x_i x_j); the solver minimises the negated cut, and stops early once it
// reaches BEST_KNOWN. The program recomputes the cut from the assignment, and on graphs
// small enough checks the optimum by exhaustive search.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "dalo.hpp"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [BEST_KNOWN [SECONDS]]\n", argv[0]);
        return 2;
    }
    const long long best_known = argc > 2 ? std::atoll(argv[2]) : 0;
    const double seconds = argc > 3 ? std::atof(argv[3]) : 2.0;
    std::ifstream in(argv[1]);
    uint64_t n = 0, m = 0;
    if (!(in >> n >> m) || n == 0) {
        std::fprintf(stderr, "%s: expected \"n m\" on the first line\n", argv[1]);
        return 2;
    }
    std::vector<std::tuple<uint64_t, uint64_t, int64_t>> edges;
    for (uint64_t e = 0; e < m; ++e) {
        uint64_t i = 0, j = 0;
        int64_t w = 0;
        if (!(in >> i >> j >> w) || i < 1 || j < 1 || i > n || j > n) {
            std::fprintf(stderr, "%s: bad edge %llu\n", argv[1],
                         static_cast<unsigned long long>(e + 1));
            return 2;
        }
        edges.emplace_back(i - 1, j - 1, w);
    }

    const dalo::VarArray x = dalo::var("x", {n});
    dalo::Expr cut;
    for (const auto& [i, j, w] : edges) {
        cut += w * x.at(i);
        cut += w * x.at(j);
        cut += -2 * w * x.at(i) * x.at(j);
    }
    dalo::Model model((-cut).simplify_as_binary());
    dalo::SearchOptions options;
    options.time_limit = seconds;
    if (best_known > 0) options.target_energy = -best_known;
    dalo::Result r = dalo::BriskSolver(model).search(options);

    // The cut of the returned sides, counted edge by edge.
    const dalo::IntArray side = r.sol().values(x);
    int64_t counted = 0;
    for (const auto& [i, j, w] : edges) counted += side.at(i) != side.at(j) ? w : 0;
    bool ok = counted == -r.energy();
    std::printf("%s: %llu vertices, %llu edges: cut %lld", argv[1],
                static_cast<unsigned long long>(n), static_cast<unsigned long long>(m),
                static_cast<long long>(counted));
    if (best_known > 0) std::printf(" (best known %lld)", best_known);
    std::printf(" after %.3f s with BriskSolver\n", r.tts());
    if (n <= 24) {
        const int64_t optimum = -dalo::SweepSolver(model).search().energy();
        std::printf("exhaustive optimum %lld\n", static_cast<long long>(optimum));
        ok &= optimum == counted;
    }
    return ok ? 0 : 1;
}
