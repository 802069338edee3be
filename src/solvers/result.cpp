// Turning a search result into Sols and handing its parts to the C interface.
#include "solvers/result.hpp"

#include "core/fatal.hpp"
#include "model/sol.hpp"

namespace dalo {

namespace {

SolImpl* make_sol(const ModelHandle& m, energy_t energy, PodArray<uint64_t>&& bits, double tts,
                  const std::vector<int64_t>& ints) {
    auto* s = new SolImpl(m, energy, std::move(bits), tts);
    if (!ints.empty() && ints.size() == s->int_vals.size()) s->int_vals = ints;
    return s;
}

}  // namespace

// The words leave the result only once the Sol accepts them.
SolImpl* result_to_sol(SolverResult& r, const ModelHandle& m) {
    return make_sol(m, r.energy, std::move(r.bits), r.tts, r.int_values);
}

SolImpl* topk_to_sol(SolverResult& r, uint64_t i, const ModelHandle& m) {
    TopkEntry& e = topk_entry(r, i);
    return make_sol(m, e.energy, std::move(e.bits), e.tts, e.int_values);
}

void exchange_bits(PodArray<uint64_t>& bits, dalo_u64_vector* v) {
    uint64_t* theirs = v->begin;
    const uint64_t their_size = theirs == nullptr ? 0 : static_cast<uint64_t>(v->end - v->begin);
    const uint64_t n = bits.size();
    uint64_t* ours = bits.release();
    v->begin = ours;
    v->end = ours == nullptr ? nullptr : ours + n;
    v->capacity = v->end;
    bits.adopt(theirs, their_size);
}

const TopkEntry& topk_entry(const SolverResult& r, uint64_t i) {
    if (i >= r.topk.size()) fatal("SolverResult: top-k index out of range");
    return r.topk[i];
}

TopkEntry& topk_entry(SolverResult& r, uint64_t i) {
    if (i >= r.topk.size()) fatal("SolverResult: top-k index out of range");
    return r.topk[i];
}

const std::pair<std::string, std::string>& info_entry(const SolverResult& r, uint64_t i) {
    if (i >= r.info.size()) fatal("SolverResult: info index out of range");
    return r.info[i];
}

}  // namespace dalo
