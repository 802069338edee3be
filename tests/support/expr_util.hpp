// Reading expressions back through the public interface.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dalo.h"
#include "support/handles.hpp"

namespace dalo_test {

struct Term {
    int64_t coeff;
    std::vector<dalo_var> vars;
    bool operator==(const Term&) const = default;
};

inline Term term_of(const dalo_term* t) {
    Term out{dalo_term_coeff(t, nullptr), {}};
    for (uint64_t i = 0; i < dalo_term_degree(t); ++i) out.vars.push_back(dalo_term_var_at(t, i));
    return out;
}

// Every present term of e in numbering order.
inline std::vector<Term> terms_of(const dalo_expr* e) {
    std::vector<Term> out;
    for (uint64_t i = 0; i < dalo_expr_term_count(e); ++i)
        out.push_back(term_of(dalo_expr_term_at(e, i)));
    return out;
}

inline std::string str(const dalo_expr* e) { return dalo_expr_str(e); }
// The text of a new value, which is released at once.
inline std::string str_take(dalo_expr* e) { return str(ExprPtr(e).get()); }
}  // namespace dalo_test
