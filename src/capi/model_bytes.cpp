// Models as bytes: serialisation, its check and deserialisation.
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "capi/handles.hpp"
#include "model/serialize.hpp"

using namespace dalo;

extern "C" {

uint8_t* dalo_model_serialize(const dalo_model* m, uint64_t* size) try {
    const std::vector<uint8_t> bytes = model_serialize(**unwrap(m));
    auto* out = static_cast<uint8_t*>(std::malloc(bytes.size()));
    if (out == nullptr) throw std::bad_alloc();
    std::memcpy(out, bytes.data(), bytes.size());
    *size = bytes.size();
    return out;
}
DALO_RECOVER

const char* dalo_model_bytes_problem(const uint8_t* data, uint64_t size) try {
    thread_local std::string problem;
    problem = model_bytes_problem(data, size);
    return problem.empty() ? nullptr : problem.c_str();
}
DALO_RECOVER

dalo_model* dalo_model_deserialize(const uint8_t* data, uint64_t size) try {
    return wrap(new ModelHandle(model_deserialize(data, size)));
}
DALO_RECOVER

}  // extern "C"
