// Permutation problems solved: QAPLIB and TSPLIB files told apart from the QUBO formats and
// read, written as one-hot models x[i, p] with declared row and column constraints, and the
// best state found read back as a permutation or a tour.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dalo.hpp"
#include "permutation.hpp"

namespace dalo_cli {

// "qap" or "tsp" where the file holds a permutation problem: named by --format, by the
// extension (.dat, .tsp) without one, or by a TSPLIB keyword on the first line; else "".
std::string assignment_format(const std::string& path, const std::string& format);
// Reads the file in that format; throws ReadError.
Assignment read_assignment(const std::string& path, const std::string& format);

// The cost of order (0-based): facility i at location order[i], or city order[t] at step t.
int64_t assignment_cost(const Assignment& a, const std::vector<uint32_t>& order);

// x[i, p] = facility i at location p (city i at step p); the objective plus weight times each
// declared one-hot constraint, weight large enough that leaving a row or column empty never
// pays.
struct OneHot {
    dalo::VarArray x;
    dalo::Expr cost;  // the objective alone
    dalo::Expr f;
    int64_t weight = 0;
};
OneHot one_hot_model(const Assignment& a);

// The problem for MIP solvers: for a tour the arc formulation (linear, with integer ranks
// against subtours), for an assignment the one-hot model (quadratic: export it linearized).
dalo::Expr mip_model(const Assignment& a);

// What a Sol says about the problem.
struct Decoded {
    bool feasible = false;       // every row and column holds exactly one 1
    uint64_t violations = 0;     // declared constraints broken
    int64_t cost = 0;            // the objective without penalties
    std::vector<int64_t> order;  // 1-based location of each facility (row) or city at each
                                 // step (column); 0 where that row or column is not one-hot
};
Decoded decode(const Assignment& a, const OneHot& m, const dalo::Sol& s);

}  // namespace dalo_cli
