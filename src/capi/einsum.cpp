// einsum: tag and handle checks, then the contraction.
#include <string>
#include <vector>

#include "array/einsum.hpp"
#include "capi/array_handles.hpp"
#include "core/fatal.hpp"

using namespace dalo;

namespace {

const void* array_of(uint32_t tag, const void* handle) {
    switch (tag) {
        case DALO_EINSUM_VAR:
            return unwrap(static_cast<const dalo_array_var*>(handle));
        case DALO_EINSUM_INT:
            return unwrap(static_cast<const dalo_array_int*>(handle));
        case DALO_EINSUM_TERM:
            return unwrap(static_cast<const dalo_array_term*>(handle));
        default:
            return unwrap(static_cast<const dalo_array_expr*>(handle));
    }
}

}  // namespace

void* dalo_einsum(const char* subscript, int32_t n, const uint32_t* tags, const void* const* inputs,
                  uint32_t expr_output, uint64_t out_dim) try {
    if (n < 1) fatal("einsum: requires at least one input");
    if (subscript == nullptr) fatal("einsum: subscript is null");
    std::vector<EinsumInput> in(static_cast<uint64_t>(n));
    for (int32_t i = 0; i < n; ++i) {
        if (tags[i] > 3) fatal("einsum: unknown input type tag " + std::to_string(tags[i]));
        if (inputs[i] == nullptr) fatal("einsum: input " + std::to_string(i) + " is null");
        in[i] = EinsumInput{static_cast<EinsumKind>(tags[i]), array_of(tags[i], inputs[i])};
    }
    auto result = einsum(subscript, in.size(), in.data(), expr_output != 0, out_dim);
    if (auto* ints = std::get_if<IntArray>(&result)) {
        return wrap(new IntArray(std::move(*ints)));
    }
    return wrap(new ExprArray(std::move(std::get<ExprArray>(result))));
}
DALO_RECOVER
