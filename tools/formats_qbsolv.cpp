// qbsolv .qubo files: lines starting with 'c' are comments; the header
// "p qubo TOPOLOGY MAXNODES NNODES NCOUPLERS" comes first, then NNODES lines "i i value" and
// NCOUPLERS lines "i j value" over the 0-based variables below MAXNODES, each node and each
// coupler once. The values may be written as decimals, and must be integers.
#include <unordered_map>

#include "formats.hpp"

namespace dalo_cli {

namespace {

constexpr const char* kHeader = "\"p qubo 0 MAXNODES NNODES NCOUPLERS\"";

std::string counted(int64_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

}  // namespace

Problem read_qbsolv(const Tokens& t, uint32_t /*instance*/) {
    std::vector<size_t> lines;
    for (size_t k = 0; k < t.line_count(); ++k) {
        if (t.words(k)[0][0] != 'c') lines.push_back(k);
    }
    if (lines.empty()) t.fail_file(std::string("no header line ") + kHeader);
    const size_t h = lines[0];
    const auto header = t.words(h);
    if (header[0] != "p" || header.size() != 6 || header[1] != "qubo") {
        std::string found;
        for (const std::string_view w : header)
            found += (found.empty() ? "" : " ") + std::string(w);
        t.fail(h, std::string("expected the header ") + kHeader + ", found " + in_quotes(found));
    }
    const int64_t n = positive_count(t, h, 3, "MAXNODES", (int64_t{1} << 30) - 2);
    const int64_t nodes = positive_count(t, h, 4, "NNODES", int64_t{1} << 40);
    const int64_t couplers = positive_count(t, h, 5, "NCOUPLERS", int64_t{1} << 40);
    const std::string announced = counted(nodes, "node") + " and " + counted(couplers, "coupler");
    const int64_t found = static_cast<int64_t>(lines.size()) - 1;
    if (found < nodes + couplers) {
        t.fail_file("the header announces " + announced + ", found " +
                    counted(found, "entry line") + " (truncated file?)");
    }
    if (found > nodes + couplers) {
        t.fail(lines[static_cast<size_t>(nodes + couplers) + 1],
               "more lines than the " + announced + " announced");
    }
    check_announced(t, h, static_cast<uint64_t>(n), "variables",
                    static_cast<uint64_t>(nodes + couplers), "entry");

    Problem p;
    p.n = static_cast<uint32_t>(n);
    p.entries.reserve(static_cast<size_t>(found));
    std::unordered_map<uint64_t, uint64_t> first_line;  // pair -> line
    int64_t node_count = 0;
    for (size_t e = 1; e < lines.size(); ++e) {
        const size_t k = lines[e];
        t.expect_words(k, 3, "i j value");
        uint32_t i = index_in(t, k, 0, n, "index", 0);
        uint32_t j = index_in(t, k, 1, n, "index", 0);
        const int64_t v = t.integral(k, 2);
        check_coefficient(t, k, v, 1);
        if (i > j) std::swap(i, j);
        node_count += i == j ? 1 : 0;
        const auto [at, fresh] = first_line.emplace(uint64_t{i} << 32 | j, t.number(k));
        if (!fresh) {
            t.fail(k, (i == j ? "node " + std::to_string(i)
                              : "coupler " + std::to_string(i) + " " + std::to_string(j)) +
                          " appears twice (first on line " + std::to_string(at->second) + ")");
        }
        p.entries.push_back({i, j, v});
    }
    if (node_count != nodes) {
        t.fail(h, "the header announces " + announced + ", the file has " +
                      counted(node_count, "node") + " and " +
                      counted(found - node_count, "coupler"));
    }
    p.labels.resize(p.n);
    for (uint32_t i = 0; i < p.n; ++i) p.labels[i] = i;
    return p;
}

// Variables by position, 0-based; the constant term has no place in the format.
void write_qbsolv(std::ostream& out, const Problem& p, const std::string& path) {
    const Coefficients c = merged(p);
    uint64_t nodes = 0;
    for (uint32_t i = 0; i < p.n; ++i) {
        check_writable(path, p, i, i, c.linear[i], 1);
        nodes += c.linear[i] != 0 ? 1 : 0;
    }
    for (const Entry& e : c.quadratic) check_writable(path, p, e.i, e.j, e.value, 1);
    out << "c " << p.n << " variables; minimise the sum of value * x_i * x_j\n"
        << "p qubo 0 " << p.n << " " << nodes << " " << c.quadratic.size() << "\n";
    for (uint32_t i = 0; i < p.n; ++i) {
        if (c.linear[i] != 0) out << i << " " << i << " " << c.linear[i] << "\n";
    }
    for (const Entry& e : c.quadratic) out << e.i << " " << e.j << " " << e.value << "\n";
}

}  // namespace dalo_cli
