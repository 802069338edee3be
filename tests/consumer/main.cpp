// Solves a small model through an installed dalo and checks the optimum.
#include <cstdio>

#include "dalo.hpp"

int main() {
    dalo::Var x = dalo::var("x"), y = dalo::var("y"), z = dalo::var("z");
    // Minimum -3 at x = 1, y = 0, z = 1.
    dalo::Expr f = -2 * x + y - 2 * z + 3 * x * y + x * z;
    dalo::Model m(f.simplify_as_binary());
    dalo::SweepSolver solver(m);
    dalo::Result r = solver.search();
    const dalo::Sol& s = r.sol();
    std::printf("energy %lld: %s\n", static_cast<long long>(r.energy()), s.str().c_str());
    return r.energy() == -3 && s[x] == 1 && s[y] == 0 && s[z] == 1 ? 0 : 1;
}
