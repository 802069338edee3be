// What travels between processes: a Model as its bytes (and so through pickle), and a Sol
// as its values by model index, to be set on the receiver's copy of the Model.
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include <new>
#include <string>
#include <vector>

#include "dalo.hpp"
#include "quadratic.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace {

nb::bytes bytes_of(const dalo::Model& m) {
    const std::vector<uint8_t> b = m.serialize();
    return nb::bytes(reinterpret_cast<const char*>(b.data()), b.size());
}

dalo::Model model_of(nb::bytes b, const char* who) {
    const auto* data = reinterpret_cast<const uint8_t*>(b.c_str());
    if (const char* why = dalo_model_bytes_problem(data, b.size()))
        throw dalo::error(std::string(who) + ": " + why);
    return dalo::Model::deserialize(data, b.size());
}

}  // namespace

void bind_transport(nb::class_<dalo::Model>& model, nb::class_<dalo::Sol>& sol) {
    model.def("to_bytes", &bytes_of, "The Model's bytes; Model.from_bytes reads them back.")
        .def_static(
            "from_bytes", [](nb::bytes b) { return model_of(b, "dalo.Model.from_bytes"); },
            "bytes"_a,
            "The Model of bytes from to_bytes, over newly registered variables with the same\n"
            "names; ValueError says why bytes are refused.")
        .def("__getstate__", &bytes_of)
        .def("__setstate__", [](dalo::Model& self, nb::bytes b) {
            new (&self) dalo::Model(model_of(b, "dalo.Model"));
        });
    sol.def(
           "bits",
           [](const dalo::Sol& s) {
               const uint32_t n = dalo_sol_var_count(s.get());
               const uint64_t* w = dalo_sol_bits(s.get());
               std::string out(n, '\0');
               for (uint32_t i = 0; i < n; ++i)
                   out[i] = static_cast<char>((w[i / 64] >> (i % 64)) & 1);
               return nb::bytes(out.data(), out.size());
           },
           "The binary values by model index, one byte each.")
        .def(
            "set_bits",
            [](dalo::Sol& s, nb::bytes b) {
                const uint32_t n = dalo_sol_var_count(s.get());
                if (b.size() != n) {
                    throw dalo::error("dalo.Sol.set_bits: " + std::to_string(b.size()) +
                                      " values for " + std::to_string(n) + " variables");
                }
                const dalo_model* m = dalo_sol_model(s.get());
                for (uint32_t i = 0; i < n; ++i)
                    dalo_sol_set(s.get(), dalo_model_var(m, i), b.c_str()[i] != 0 ? 1u : 0u);
            },
            "bits"_a)
        .def(
            "int_values",
            [](const dalo::Sol& s) {
                const int64_t* v = dalo_sol_int_vals(s.get());
                return std::vector<int64_t>(v, v + dalo_sol_int_count(s.get()));
            },
            "The integer values by atom.")
        .def(
            "set_int_values",
            [](dalo::Sol& s, const std::vector<int64_t>& v) {
                const dalo_model* m = dalo_sol_model(s.get());
                if (v.size() != dalo_model_int_var_count(m)) {
                    throw dalo::error("dalo.Sol.set_int_values: " + std::to_string(v.size()) +
                                      " values for " + std::to_string(dalo_model_int_var_count(m)) +
                                      " integer variables");
                }
                for (uint64_t a = 0; a < v.size(); ++a) {
                    int64_t lo = 0, hi = 0;
                    dalo_model_int_var_bounds(m, a, &lo, &hi);
                    if (v[a] < lo || v[a] > hi)
                        throw dalo::error("dalo.Sol.set_int_values: value out of bounds");
                    dalo_sol_set_int(s.get(), dalo_model_int_var_orig(m, a), v[a]);
                }
            },
            "values"_a);
}
