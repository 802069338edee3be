// A compiled Model as bytes and back: a versioned little-endian format that carries the
// Model's arrays, native constraints, remainder and integer atoms, with the names and
// bounds of its variables so that a receiving process registers them afresh.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/model.hpp"

namespace dalo {

inline constexpr uint32_t kModelFormatVersion = 1;

std::vector<uint8_t> model_serialize(const ModelImpl& m);

// Why the bytes are not a Model this library reads ("" when they are).
std::string model_bytes_problem(const uint8_t* data, uint64_t size);

// The Model of the bytes, over new variables with the stored names (and bounds, for integer
// variables), in model-index order; fatal "Model bytes: <problem>" when they are refused.
ModelHandle model_deserialize(const uint8_t* data, uint64_t size);

}  // namespace dalo
