#include "ilp/ilp.hpp"

namespace dalo {

std::vector<IlpVarInt> ilp_registered_varints() { return {}; }

}  // namespace dalo
