// The command line's problem files for Python: dalo._core._read_problem reads any QUBO file
// `dalo solve` reads, with the same format table, sniffing and messages.
#include <nanobind/nanobind.h>
#include <nanobind/ndarray.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include <cstdint>
#include <string>
#include <vector>

#include "assignment.hpp"
#include "dalo.hpp"
#include "quadratic.hpp"
#include "readers.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace {

nb::object int64_array(std::vector<int64_t>&& v) {
    auto* owned = new std::vector<int64_t>(std::move(v));
    nb::capsule free(owned, [](void* p) noexcept { delete static_cast<std::vector<int64_t>*>(p); });
    return nb::cast(
        nb::ndarray<nb::numpy, int64_t, nb::ndim<1>>(owned->data(), {owned->size()}, free));
}

// A QAPLIB or TSPLIB problem with its one-hot model, as the command line builds it.
struct Permutation {
    dalo_cli::Assignment problem;
    dalo_cli::OneHot model;
    dalo::Expr simplified;
};

}  // namespace

void bind_readers(nb::module_& m) {
    nb::class_<Permutation>(m, "_Permutation")
        .def_prop_ro("format", [](const Permutation& p) { return std::string(p.problem.format); })
        .def_prop_ro("n", [](const Permutation& p) { return p.problem.n; })
        .def_prop_ro("weight", [](const Permutation& p) { return p.model.weight; })
        .def_prop_ro("terms", [](const Permutation& p) { return p.simplified.term_count(); })
        .def("model", [](const Permutation& p) { return dalo::Model(p.simplified); })
        .def("bits",
             [](const Permutation& p, const dalo::Sol& s) {
                 std::string bits;
                 for (uint64_t k = 0; k < p.model.x.size(); ++k)
                     bits.push_back(s[p.model.x.at(k)] != 0 ? '1' : '0');
                 return bits;
             })
        .def("decode", [](const Permutation& p, const dalo::Sol& s) {
            const dalo_cli::Decoded d = dalo_cli::decode(p.problem, p.model, s);
            return nb::make_tuple(d.feasible, d.violations, d.cost, d.order);
        });
    m.def(
        "_read_permutation",
        [](const std::string& path, const std::string& format) -> nb::object {
            const std::string kind = dalo_cli::assignment_format(path, format);
            if (kind.empty()) return nb::none();
            auto p = std::make_unique<Permutation>();
            try {
                p->problem = dalo_cli::read_assignment(path, kind);
            } catch (const dalo_cli::ReadError& e) {
                throw dalo::error(e.text);
            }
            p->model = dalo_cli::one_hot_model(p->problem);
            p->simplified = p->model.f.simplify_as_binary();
            return nb::cast(p.release(), nb::rv_policy::take_ownership);
        },
        "path"_a, "format"_a = "",
        "A QAPLIB or TSPLIB file as `dalo solve` reads it, with its one-hot model; None when the\n"
        "file holds another format.");
    m.def(
        "_read_problem",
        [](const std::string& path, const std::string& format, uint32_t instance) {
            dalo_cli::Problem p;
            try {
                p = dalo_cli::read_problem(path, format, instance);
            } catch (const dalo_cli::ReadError& e) {
                throw dalo::error(e.text);
            }
            std::vector<int64_t> i, j, w;
            i.reserve(p.entries.size());
            j.reserve(p.entries.size());
            w.reserve(p.entries.size());
            for (const dalo_cli::Entry& e : p.entries) {
                i.push_back(e.i);
                j.push_back(e.j);
                w.push_back(e.value);
            }
            nb::dict d;
            d["format"] = std::string(p.format->name);
            d["n"] = p.n;
            d["i"] = int64_array(std::move(i));
            d["j"] = int64_array(std::move(j));
            d["w"] = int64_array(std::move(w));
            d["offset"] = p.offset;
            d["sign"] = p.sign;
            d["value_name"] = std::string(p.value_name);
            d["labels"] = p.labels;
            d["names"] = p.names;
            return d;
        },
        "path"_a, "format"_a = "", "instance"_a = 1,
        "The problem in a file as `dalo solve` reads it: format, n, index arrays i, j, w\n"
        "(energy = offset + sum w x_i x_j), sign and value_name of the reported value, labels.");
}
