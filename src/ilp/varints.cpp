#include "constraints/varint.hpp"
#include "core/var_registry.hpp"
#include "ilp/ilp.hpp"

namespace dalo {

namespace {

// A record's name: its group's name, with the element's indices when the group has a shape.
std::string varint_name(const VarIntRecord& r) {
    VarRegistry& reg = var_registry();
    if (r.group >= reg.group_count()) return "";
    const VarArrayBlock& g = reg.group(r.group);
    std::string out = g.name.empty() ? std::string() : g.name.substr(1);
    if (!g.shape.empty()) append_indices(out, g.shape, r.position);
    return out;
}

}  // namespace

std::vector<IlpVarInt> ilp_registered_varints() {
    const VarIntSet& set = varint_set();
    const uint64_t n = set.size();
    std::vector<IlpVarInt> out;
    out.reserve(n);
    for (uint64_t i = 0; i < n; ++i) {
        const VarIntRecord& r = set.get(static_cast<uint32_t>(i));
        out.push_back(IlpVarInt{r.lo, r.hi, r.coeffs, r.vars, varint_name(r)});
    }
    return out;
}

}  // namespace dalo
