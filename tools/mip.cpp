#include "mip.hpp"

#include <memory>
#include <vector>

namespace dalo_cli {

namespace {

// Starts from e itself so that its declared constraints stay, and trades each product for
// its new variable.
dalo::Expr linearize(const dalo::Expr& e) {
    dalo::Expr out = e;
    for (uint64_t t = 0; t < e.term_count(); ++t) {
        const dalo::Term term = e.term(t);
        const uint64_t k = term.degree();
        if (k < 2) continue;
        out -= term;
        std::string name;
        dalo::Expr sum;
        for (uint64_t f = 0; f < k; ++f) {
            name += (f == 0 ? "" : "_") + term.var(f).name();
            sum += term.var(f);
        }
        const dalo::Var y = dalo::var(name);
        out += dalo::Term(term.coeff(), y);
        // The sides that the bounds of y and the x_i already give are the ones left open.
        for (uint64_t f = 0; f < k; ++f) out += dalo::cons(y - term.var(f), -1, 0);
        const auto degree = static_cast<int64_t>(k);
        out += dalo::cons(sum - y, -1, degree - 1);
    }
    return out;
}

// A variable's column name: "x" and its file label, or the model's own name for JSON models
// (the library makes names legal and distinct).
std::string column_name(const Problem& p, uint32_t i) {
    if (p.names.size() == p.n) {
        const std::string& json = p.names[i];
        const bool quoted = json.size() >= 2 && json.front() == '"' && json.back() == '"';
        return quoted ? json.substr(1, json.size() - 2) : json;
    }
    return "x" + std::to_string(p.labels.size() == p.n ? p.labels[i] : i);
}

dalo::Expr problem_expr(const Problem& p) {
    std::vector<dalo::Var> x;
    x.reserve(p.n);
    for (uint32_t i = 0; i < p.n; ++i) x.push_back(dalo::var(column_name(p, i)));
    dalo::Expr e(p.offset);
    for (const Entry& t : p.entries) {
        e += t.i == t.j ? dalo::Term(t.value, x[t.i]) : dalo::Term(t.value, x[t.i], x[t.j]);
    }
    return e.simplify_as_binary();
}

struct IlpFree {
    void operator()(dalo_ilp* p) const { dalo_ilp_destroy(p); }
};

}  // namespace

void write_mip(const dalo::Expr& e, const std::string& path, const std::string& format,
               bool linearize, const std::string& source) {
    const std::string& name = source.empty() ? path : source;
    if (format != "lp" && format != "mps") {
        throw MipError{path + ": '" + format + "' is not a MIP format (lp or mps)"};
    }
    const uint64_t degree = e.max_degree();
    if (degree >= 2 && !linearize) {
        throw MipError{name + ": not an ILP: the objective has a degree-" + std::to_string(degree) +
                       " term; --linearize writes each product as a binary variable with "
                       "linear rows"};
    }
    const dalo::Model model(degree >= 2 ? dalo_cli::linearize(e).simplify_as_binary() : e);
    const std::unique_ptr<dalo_ilp, IlpFree> ilp(dalo_model_ilp_build(model.get()));
    if (ilp == nullptr) throw MipError{name + ": " + dalo_ilp_last_error()};
    const int rc = format == "lp" ? dalo_ilp_write_lp(ilp.get(), path.c_str())
                                  : dalo_ilp_write_mps(ilp.get(), path.c_str());
    if (rc != 0) throw MipError{dalo_ilp_last_error()};
}

void write_mip(const Problem& p, const std::string& path, const std::string& format, bool linearize,
               const std::string& source) {
    write_mip(problem_expr(p), path, format, linearize, source);
}

}  // namespace dalo_cli
