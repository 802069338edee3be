// Rows and columns from one-hot groups where every grouped variable lies in exactly two
// groups: a 2-colouring of the groups in which every row meets every column once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace plugin_common {

// members(s): the variables of group s of ng; in[0][v] and in[1][v]: the groups of v where
// count[v] == 2. On success, side and cell (the variable of row r and column c at
// r * side + c).
template <class Members>
bool as_assignment(size_t ng, Members members, const std::vector<uint32_t> (&in)[2],
                   const std::vector<uint8_t>& count, uint32_t& side, std::vector<uint32_t>& cell) {
    if (ng % 2 != 0) return false;
    const auto half = static_cast<uint32_t>(ng / 2);
    std::vector<int> colour(ng, -1);
    std::vector<size_t> queue;
    for (size_t s = 0; s < ng; ++s) {
        if (colour[s] >= 0) continue;
        colour[s] = 0;
        queue.assign(1, s);
        while (!queue.empty()) {
            const size_t a = queue.back();
            queue.pop_back();
            for (uint32_t v : members(a)) {
                const uint32_t b = in[0][v] == a ? in[1][v] : in[0][v];
                if (colour[b] < 0) {
                    colour[b] = 1 - colour[a];
                    queue.push_back(b);
                } else if (colour[b] == colour[a]) {
                    return false;
                }
            }
        }
    }
    std::vector<uint32_t> index(ng, 0);
    uint32_t rows = 0, cols = 0;
    for (size_t s = 0; s < ng; ++s) {
        if (members(s).size() != half) return false;
        index[s] = colour[s] == 0 ? rows++ : cols++;
    }
    if (rows != half) return false;
    side = half;
    cell.assign(uint64_t{half} * half, UINT32_MAX);
    for (uint32_t v = 0; v < count.size(); ++v) {
        if (count[v] != 2) continue;
        const uint32_t r = colour[in[0][v]] == 0 ? in[0][v] : in[1][v];
        const uint32_t c = r == in[0][v] ? in[1][v] : in[0][v];
        uint32_t& slot = cell[uint64_t{index[r]} * half + index[c]];
        if (slot != UINT32_MAX) return false;
        slot = v;
    }
    return true;
}

}  // namespace plugin_common
