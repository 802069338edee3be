// Range-checked reads of a Model and the two bit-vector evaluators.
#pragma once

#include <cstdint>

#include "core/expr.hpp"
#include "model/model.hpp"

namespace dalo {

// Fatal "<who>: index out of range" unless i < n.
void check_index(uint64_t i, uint64_t n, const char* who);
// Fatal "<who>: degree out of range" unless d <= max degree (d = 0 is allowed).
void check_degree(const ModelImpl& m, uint32_t d, const char* who);

// Coefficient i of degree d; fatal for d = 0, d above the max degree or i out of range.
coeff_t model_coeff_at(const ModelImpl& m, uint32_t d, uint64_t i);

const NativeCons& native_record(const ModelImpl& m, uint64_t i, const char* who);
// Linear body terms of a record, refusing bodies that a linear solver cannot take.
uint64_t native_linear_terms(const ModelImpl& m, uint64_t i);
bool has_negated_literals(const ModelImpl& m);
bool has_penalty_shapes(const ModelImpl& m);

// Objective of a bit vector (native constraints excluded); fatal for integer atoms.
int64_t model_eval(const ModelImpl& m, const uint64_t* bits);
// An expression under a bit vector indexed through the Model.
int64_t expr_eval_with_model(const ExprImpl& e, const ModelImpl& m, const uint64_t* bits);

}  // namespace dalo
