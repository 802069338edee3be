// Graph colouring with one-hot constraints solved natively: each vertex takes exactly one of
// k colours (declared constraints, kept out of the polynomial), and the objective counts the
// edges whose ends share a colour. The Petersen graph needs 3 colours.
#include <cstdio>
#include <utility>
#include <vector>

#include "dalo.hpp"

int main() {
    const int n = 10, k = 3;
    std::vector<std::pair<int, int>> edges;
    for (int i = 0; i < 5; ++i) {
        edges.emplace_back(i, (i + 1) % 5);          // outer cycle
        edges.emplace_back(5 + i, 5 + (i + 2) % 5);  // inner star
        edges.emplace_back(i, 5 + i);                // spokes
    }
    dalo::VarArray x = dalo::var("c", {n, k});  // x(v, c) = 1: vertex v has colour c

    dalo::Expr conflicts;
    for (auto [u, v] : edges) {
        for (uint64_t c = 0; c < k; ++c) conflicts += x({uint64_t(u), c}) * x({uint64_t(v), c});
    }
    dalo::Expr f = conflicts;
    const dalo::ExprArray per_vertex = x.sum(1);
    for (uint64_t v = 0; v < n; ++v) f += dalo::cons(per_vertex.at(v), 1, 1);

    dalo::Model m(f.simplify_as_binary());
    dalo::Result r =
        dalo::BriskSolver(m).search({.time_limit = 5.0, .seed = 1, .target_energy = 0});
    const dalo::Sol& s = r.sol();

    // Check: one colour per vertex, no edge inside a colour class.
    std::vector<int> colour(n, -1);
    bool ok = f.violations(s) == 0;
    for (int v = 0; v < n; ++v) {
        int count = 0;
        for (int c = 0; c < k; ++c) {
            if (s[x({uint64_t(v), uint64_t(c)})] != 0) {
                colour[v] = c;
                ++count;
            }
        }
        ok &= count == 1;
    }
    for (auto [u, v] : edges) ok &= colour[u] != colour[v];
    std::printf("Petersen graph, %d colours: energy %lld, colours", k,
                static_cast<long long>(r.energy()));
    for (int c : colour) std::printf(" %d", c);
    std::printf(" -> %s\n", ok && r.energy() == 0 ? "proper colouring" : "NOT proper");
    return ok && r.energy() == 0 ? 0 : 1;
}
