#include "solvers/handover.hpp"

#include <cstdio>

#include "core/fatal.hpp"

namespace dalo {

bool has_nonlinear_body(const NativeCons& c) { return !c.nl_coeffs.empty(); }

bool any_nonlinear_body(const ModelImpl& m) {
    for (const NativeCons& c : m.native_cons) {
        if (has_nonlinear_body(c)) return true;
    }
    return false;
}

void check_hand_over(const ModelImpl& m, const ConsSink& sink,
                     const std::vector<NativeCons>* records) {
    const std::vector<NativeCons>& list = records != nullptr ? *records : m.native_cons;
    if (!list.empty()) {
        bool shaped = false;
        for (const NativeCons& c : list) shaped = shaped || !default_shape(c);
        if (shaped && sink.set_shape == nullptr) fatal(sink.no_shape);
        if (sink.add == nullptr) fatal(sink.no_add);
    }
    for (const NativeCons& c : list) {
        if (has_nonlinear_body(c)) {
            if (sink.add_nl == nullptr) fatal(sink.no_nl);
        } else if (!c.allowed.empty()) {
            if (sink.add_set == nullptr) fatal(sink.no_set);
        }
    }
    if (m.has_remainder && sink.set_remainder == nullptr) fatal(sink.no_remainder);
}

void hand_over(const ModelImpl& m, const ConsSink& sink, const std::vector<NativeCons>* records) {
    check_hand_over(m, sink, records);
    const std::vector<NativeCons>& list = records != nullptr ? *records : m.native_cons;
    for (const NativeCons& c : list) {
        if (has_nonlinear_body(c)) {
            sink.add_nl(sink.solver, &c.weight, &c.lower, &c.upper, &c.constant, c.vars.size(),
                        c.vars.data(), c.coeffs.data(), c.nl_coeffs.size(), c.nl_head.data(),
                        c.nl_vars.data(), c.nl_coeffs.data());
        } else if (!c.allowed.empty()) {
            std::vector<int64_t> lo, hi;
            for (const auto& [a, b] : c.allowed) {
                lo.push_back(a);
                hi.push_back(b);
            }
            sink.add_set(sink.solver, &c.weight, &c.lower, &c.upper, &c.constant, c.vars.size(),
                         c.vars.data(), c.coeffs.data(), lo.size(), lo.data(), hi.data());
        } else {
            sink.add(sink.solver, &c.weight, &c.lower, &c.upper, &c.constant, c.vars.size(),
                     c.vars.data(), c.coeffs.data());
        }
        if (!default_shape(c))
            sink.set_shape(sink.solver, c.exponent, c.exponent != 2 ? c.objective_only : 1u);
    }
    if (m.has_remainder) {
        sink.set_remainder(sink.solver, &m.remainder_constant, m.remainder_coeffs.size(),
                           m.remainder_head.data(), m.remainder_vars.data(),
                           m.remainder_coeffs.data());
    }
}

std::vector<NativeCons> unified_records(const ModelImpl& m) {
    std::vector<NativeCons> out = m.native_cons;
    const uint32_t nbin = m.var_count();
    auto rewrite = [nbin](uint32_t& w) {
        if ((w & 0xC0000000u) == kAtomBit) w = nbin + (w & 0x3FFFFFFFu);
    };
    for (NativeCons& c : out) {
        for (uint32_t& w : c.vars) rewrite(w);
        for (uint32_t& w : c.nl_vars) rewrite(w);
    }
    return out;
}

SolutionCells::SolutionCells(uint32_t var_count)
    : var_count_(var_count), word_count_((var_count + 63) / 64), bits_(word_count_, 0) {
    record_ = dalo_solution_record{&var_count_, &word_count_, &energy_, bits_.data(), &tts_};
}

PodArray<uint64_t> SolutionCells::bits() const {
    PodArray<uint64_t> out(bits_.size());
    for (size_t i = 0; i < bits_.size(); ++i) out[i] = bits_[i];
    return out;
}

KelpCells::KelpCells(uint32_t var_count) : bits_((var_count + 63) / 64, 0) {
    record_ = dalo_kelp_solution_record{0, bits_.data(), 0.0, nullptr,
                                        static_cast<uint32_t>(bits_.size())};
}

PodArray<uint64_t> KelpCells::bits() const {
    PodArray<uint64_t> out(bits_.size());
    for (size_t i = 0; i < bits_.size(); ++i) out[i] = bits_[i];
    return out;
}

TermArrays::TermArrays(const ModelImpl& m) {
    for (uint32_t d = 0; d < m.max_degree; ++d) {
        counts.push_back(m.term_count[d]);
        vars.push_back(m.term_vars[d].data());
        coeffs.push_back(m.coeff_array[d].data());
    }
}

std::string format_seconds(double seconds) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%f", seconds);
    return buf;
}

}  // namespace dalo
