#include "readers.hpp"

#include <algorithm>
#include <fstream>
#include <map>

#include "tokens.hpp"

namespace dalo_cli {

namespace {

void sequential_labels(Problem& p) {
    p.labels.resize(p.n);
    for (uint32_t i = 0; i < p.n; ++i) p.labels[i] = i + 1;
}

// Max-Cut: minimise -cut, cut = sum of w over edges whose ends differ
// = sum w (x_i + x_j - 2 x_i x_j).
Problem read_gset(const Tokens& t, uint32_t /*instance*/) {
    Problem p;
    p.sign = -1;
    p.value_name = "cut";
    t.expect_words(0, 2, "vertices and edges");
    const int64_t n = positive_count(t, 0, 0, "vertex count", (int64_t{1} << 30) - 2);
    const int64_t m = positive_count(t, 0, 1, "edge count", int64_t{1} << 40);
    p.n = static_cast<uint32_t>(n);
    if (static_cast<int64_t>(t.line_count()) - 1 != m) {
        if (static_cast<int64_t>(t.line_count()) - 1 < m) {
            t.fail_file("expected " + std::to_string(m) + " edges, found " +
                        std::to_string(t.line_count() - 1) + " (truncated file?)");
        }
        t.fail(static_cast<size_t>(m) + 1,
               "more lines than the " + std::to_string(m) + " edges announced");
    }
    p.entries.reserve(static_cast<size_t>(3 * m));
    for (size_t k = 1; k < t.line_count(); ++k) {
        t.expect_words(k, 3, "i j weight");
        const uint32_t i = index_in(t, k, 0, n, "vertex");
        const uint32_t j = index_in(t, k, 1, n, "vertex");
        if (i == j) t.fail(k, "self loop on vertex " + std::to_string(i + 1));
        const int64_t w = coefficient(t, k, 2, 2);
        p.entries.push_back({i, j, 2 * w});
        p.entries.push_back({i, i, -w});
        p.entries.push_back({j, j, -w});
    }
    sequential_labels(p);
    return p;
}

// OR-Library BQP: K, then per instance "n nnz" and nnz triples; maximise
// sum q_ii x_i + 2 sum_{i<j} q_ij x_i x_j.
Problem read_bqp(const Tokens& t, uint32_t instance) {
    Problem p;
    p.sign = -1;
    p.value_name = "value";
    t.expect_words(0, 1, "instance count");
    const int64_t count = positive_count(t, 0, 0, "instance count", 1 << 20);
    if (instance < 1 || instance > count) {
        t.fail(0, "instance " + std::to_string(instance) + " requested, the file has " +
                      std::to_string(count));
    }
    size_t k = 1;
    for (int64_t inst = 1; inst <= count; ++inst) {
        if (k >= t.line_count())
            t.fail_file("instance " + std::to_string(inst) + " is missing (truncated file?)");
        t.expect_words(k, 2, "n and nonzero count");
        const int64_t n = positive_count(t, k, 0, "variable count", (int64_t{1} << 30) - 2);
        const int64_t nnz = positive_count(t, k, 1, "nonzero count", int64_t{1} << 40);
        ++k;
        if (static_cast<int64_t>(t.line_count() - k) < nnz) {
            t.fail_file("instance " + std::to_string(inst) + " announces " + std::to_string(nnz) +
                        " entries, found " + std::to_string(t.line_count() - k) +
                        " (truncated file?)");
        }
        const bool wanted = inst == instance;
        if (wanted) p.n = static_cast<uint32_t>(n);
        for (int64_t e = 0; e < nnz; ++e, ++k) {
            t.expect_words(k, 3, "i j q");
            const uint32_t i = index_in(t, k, 0, n, "index");
            const uint32_t j = index_in(t, k, 1, n, "index");
            const int64_t q = coefficient(t, k, 2, 2);
            if (wanted) p.entries.push_back({i, j, i == j ? -q : -2 * q});
        }
        if (wanted) break;
    }
    sequential_labels(p);
    return p;
}

// Triplets "i j value": minimise the sum of value * x_i * x_j (value * x_i when i == j) over
// the variables that the file names, numbered by ascending index.
Problem read_qubo(const Tokens& t, uint32_t /*instance*/) {
    Problem p;
    std::vector<std::pair<uint64_t, uint64_t>> pairs;
    std::vector<int64_t> values;
    std::map<uint64_t, uint32_t> index;
    for (size_t k = 0; k < t.line_count(); ++k) {
        t.expect_words(k, 3, "i j value");
        const int64_t i = t.integer(k, 0), j = t.integer(k, 1);
        if (i < 0 || j < 0) t.fail(k, "negative index " + std::to_string(std::min(i, j)));
        pairs.emplace_back(static_cast<uint64_t>(i), static_cast<uint64_t>(j));
        values.push_back(coefficient(t, k, 2, 1));
        index[static_cast<uint64_t>(i)] = 0;
        index[static_cast<uint64_t>(j)] = 0;
    }
    if (index.size() >= (uint64_t{1} << 30) - 1) t.fail_file("too many variables");
    for (auto& [label, v] : index) {
        v = static_cast<uint32_t>(p.labels.size());
        p.labels.push_back(label);
    }
    p.n = static_cast<uint32_t>(p.labels.size());
    for (size_t e = 0; e < pairs.size(); ++e) {
        p.entries.push_back({index[pairs[e].first], index[pairs[e].second], values[e]});
    }
    return p;
}

// The formats tell themselves apart by how many numbers their first data line holds.
template <size_t Count>
bool first_line_has(const Tokens& t) {
    return t.words(0).size() == Count;
}

constexpr FileFormat kFormats[] = {
    {"gset", ".gset",
     "G-set Max-Cut graph: \"n m\", then m lines \"i j w\" (1-based); maximises the cut",
     first_line_has<2>, read_gset, nullptr},
    {"bqp", ".bqp",
     "OR-Library BQP: K, then per instance \"n nnz\" and nnz lines \"i j q\";\n"
     "maximises x'Qx (pick the instance with --instance, default 1)",
     first_line_has<1>, read_bqp, nullptr},
    {"qubo", ".qubo",
     "lines \"i j value\": minimises the sum of value*x_i*x_j (value*x_i when i = j)",
     first_line_has<3>, read_qubo, nullptr},
};

}  // namespace

std::span<const FileFormat> formats() { return kFormats; }

std::string format_names(const std::string& sep, const std::string& last) {
    std::string names;
    for (size_t k = 0; k < std::size(kFormats); ++k) {
        if (k > 0) names += k + 1 == std::size(kFormats) ? last : sep;
        names += kFormats[k].name;
    }
    return names;
}

Problem read_problem(const std::string& path, const std::string& format_name_in,
                     uint32_t instance) {
    std::ifstream in(path);
    if (!in) throw ReadError{path + ": cannot open file"};
    return read_problem(path, in, format_name_in, instance);
}

Problem read_problem(const std::string& path, std::istream& in, const std::string& format_name_in,
                     uint32_t instance) {
    Tokens t(path, in);
    if (in.bad()) throw ReadError{path + ": read error"};
    if (t.empty()) throw ReadError{path + ": empty file"};
    const FileFormat* format = nullptr;
    for (const FileFormat& f : kFormats) {
        if (format_name_in.empty() ? f.sniff(t) : format_name_in == f.name) {
            format = &f;
            break;
        }
    }
    if (format == nullptr && format_name_in.empty()) {
        t.fail(0, "cannot tell the format from " + std::to_string(t.words(0).size()) +
                      " numbers on the first line (use --format " + format_names("|", "|") + ")");
    }
    if (format == nullptr) {
        throw ReadError{"unknown format '" + format_name_in + "' (" + format_names(", ", " or ") +
                        ")"};
    }
    Problem p = format->read(t, instance);
    p.format = format;
    return p;
}

}  // namespace dalo_cli
