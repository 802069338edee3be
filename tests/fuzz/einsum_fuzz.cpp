// The einsum subscript parser and contraction. Inputs: up to three integer arrays (shapes and
// values from the input bytes) and, sometimes, a variable array; the rest of the bytes is the
// subscript. Misuse throws (fuzzing build). An accepted integer contraction is cross-checked
// against the expression result of the same inputs: each element's terms are the contraction
// tuples, so their coefficients sum to the integer element (both truncated to 32 bits).
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "dalo.h"
#include "fuzz_util.hpp"

namespace {

struct Inputs {
    std::vector<dalo_array_int*> ints;
    dalo_array_var* vars = nullptr;
    ~Inputs() {
        for (dalo_array_int* a : ints) dalo_array_int_destroy(a);
        if (vars != nullptr) dalo_array_var_destroy(vars);
    }
};

int64_t coeff_sum(const dalo_expr* e) {
    int64_t sum = 0;
    dalo_expr_constant(e, &sum);
    for (uint64_t t = 0; t < dalo_expr_term_count(e); ++t) {
        int64_t c = 0;
        dalo_term_coeff(dalo_expr_term_at(e, t), &c);
        sum += c;
    }
    return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    dalo_fuzz::Bytes b(data, size);
    const uint32_t n = 1 + b.below(3);
    const bool with_vars = (b.u8() & 7) == 0;
    const uint64_t out_dim = b.below(5);
    Inputs in;
    std::vector<uint32_t> tags;
    std::vector<const void*> handles;
    for (uint32_t k = 0; k < n; ++k) {
        const uint64_t ndim = b.below(4);
        uint64_t shape[3];
        uint64_t count = 1;
        for (uint64_t d = 0; d < ndim; ++d) count *= shape[d] = 1 + b.below(3);
        std::vector<int32_t> values(count);
        for (int32_t& v : values) v = static_cast<int32_t>(b.small(3));
        in.ints.push_back(dalo_array_int_create_data(values.data(), shape, ndim));
        tags.push_back(DALO_EINSUM_INT);
        handles.push_back(in.ints.back());
    }
    if (with_vars) {
        // The same three variables every run: the registry is process-wide.
        static const dalo_var first = [] {
            const uint64_t three[1] = {3};
            return dalo_new_var_array("v", three, 1);
        }();
        const dalo_var ids[3] = {first, first + 1, first + 2};
        const uint64_t shape[1] = {1 + b.below(3)};
        in.vars = dalo_array_var_create_data(ids, shape, 1);
        tags.push_back(DALO_EINSUM_VAR);
        handles.push_back(in.vars);
    }
    std::string subscript;
    while (!b.empty()) {
        const char c = static_cast<char>(b.u8());
        if (c == '\0') break;
        subscript.push_back(c);
    }
    const int32_t count = static_cast<int32_t>(tags.size());
    std::unique_ptr<dalo_array_int, decltype(&dalo_array_int_destroy)> as_int(
        nullptr, dalo_array_int_destroy);
    std::unique_ptr<dalo_array_expr, decltype(&dalo_array_expr_destroy)> as_expr(
        nullptr, dalo_array_expr_destroy);
    try {
        as_expr.reset(static_cast<dalo_array_expr*>(
            dalo_einsum(subscript.c_str(), count, tags.data(), handles.data(), 1, out_dim)));
    } catch (const std::logic_error&) {
        return 0;
    }
    if (dalo_array_expr_ndim(as_expr.get()) != out_dim)
        dalo_fuzz::fault("result ndim differs from out_dim");
    if (with_vars) return 0;
    try {
        as_int.reset(static_cast<dalo_array_int*>(
            dalo_einsum(subscript.c_str(), count, tags.data(), handles.data(), 0, out_dim)));
    } catch (const std::logic_error& e) {
        dalo_fuzz::fault(std::string("integer einsum refused what the expression one took: ") +
                         e.what());
    }
    const uint64_t size_out = dalo_array_int_size(as_int.get());
    if (size_out != dalo_array_expr_size(as_expr.get())) dalo_fuzz::fault("result sizes differ");
    for (uint64_t i = 0; i < size_out; ++i) {
        int64_t got = 0;
        dalo_array_int_get(as_int.get(), i, &got);
        const int64_t want = static_cast<int32_t>(coeff_sum(dalo_array_expr_ref(as_expr.get(), i)));
        if (got != want) {
            dalo_fuzz::fault("einsum '" + subscript + "' element " + std::to_string(i) + ": " +
                             std::to_string(got) + " != " + std::to_string(want));
        }
    }
    return 0;
}
