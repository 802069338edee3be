// The command line's problem files for Python: dalo._core._read_problem reads any QUBO file
// `dalo solve` reads, with the same format table, sniffing and messages.
#include <nanobind/nanobind.h>
#include <nanobind/ndarray.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include <cstdint>
#include <string>
#include <vector>

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

}  // namespace

void bind_readers(nb::module_& m) {
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
