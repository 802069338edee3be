#include "constraints/attr_rules.hpp"

namespace dalo {

// Without constraint records every result is plain, and a VarInt word does not survive
// arithmetic. The constraint registries extend each rule for operands that carry records.

uint32_t attr_other(const ExprImpl& /*e*/, AttrOp /*op*/, int64_t /*constant*/) {
    return kAttrPlain;
}

uint32_t attr_add_term(const ExprImpl& /*e*/, const TermImpl& /*t*/) { return kAttrPlain; }

uint32_t attr_add_expr(ExprImpl& /*a*/, const ExprImpl& /*b*/, bool /*in_place*/) {
    return kAttrPlain;
}

uint32_t attr_sub_expr(ExprImpl& /*a*/, const ExprImpl& /*b*/, bool /*in_place*/) {
    return kAttrPlain;
}

uint32_t attr_scale(const ExprImpl& /*e*/, int64_t /*m*/) { return kAttrPlain; }

}  // namespace dalo
