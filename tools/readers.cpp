#include "readers.hpp"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <map>
#include <sstream>

namespace dalo_cli {

namespace {

constexpr int64_t kCoeffLimit = int64_t{1} << 31;

// Whitespace-separated tokens with the line each comes from; '#' starts a comment (in the
// triplet format, and harmless elsewhere since the other formats have no '#').
class Tokens {
  public:
    Tokens(const std::string& path, std::istream& in) : path_(path) {
        std::string line;
        uint64_t number = 0;
        while (std::getline(in, line)) {
            ++number;
            const size_t hash = line.find('#');
            if (hash != std::string::npos) line.resize(hash);
            std::istringstream s(line);
            std::string word;
            std::vector<std::string> words;
            while (s >> word) words.push_back(word);
            if (!words.empty()) lines_.push_back({number, std::move(words)});
        }
    }
    bool empty() const { return lines_.empty(); }
    size_t line_count() const { return lines_.size(); }
    // Words of data line k.
    const std::vector<std::string>& words(size_t k) const { return lines_[k].words; }
    uint64_t number(size_t k) const { return lines_[k].number; }

    [[noreturn]] void fail(size_t k, const std::string& reason) const {
        throw ReadError{path_ + ":" + std::to_string(number(k)) + ": " + reason};
    }
    [[noreturn]] void fail_file(const std::string& reason) const {
        throw ReadError{path_ + ": " + reason};
    }
    int64_t integer(size_t k, size_t w) const {
        const std::string& text = words(k)[w];
        int64_t v = 0;
        const char* begin = text.data();
        const char* end = begin + text.size();
        if (*begin == '+') ++begin;
        auto [p, ec] = std::from_chars(begin, end, v);
        if (ec == std::errc::result_out_of_range) fail(k, "'" + text + "' is out of range");
        if (ec != std::errc() || p != end || begin == end)
            fail(k, "'" + text + "' is not an integer");
        return v;
    }
    // Exactly `count` words on data line k.
    void expect_words(size_t k, size_t count, const char* what) const {
        const size_t got = words(k).size();
        if (got != count) {
            fail(k, "expected " + std::to_string(count) + " numbers (" + what + "), found " +
                        std::to_string(got));
        }
    }

  private:
    struct Line {
        uint64_t number;
        std::vector<std::string> words;
    };
    std::string path_;
    std::vector<Line> lines_;
};

uint32_t index_in(const Tokens& t, size_t k, size_t w, int64_t n, const char* what) {
    const int64_t v = t.integer(k, w);
    if (v < 1 || v > n) {
        t.fail(k, std::string(what) + " " + std::to_string(v) + " outside 1.." + std::to_string(n));
    }
    return static_cast<uint32_t>(v - 1);
}

int64_t coefficient(const Tokens& t, size_t k, size_t w, int64_t scale) {
    const int64_t v = t.integer(k, w);
    if (v >= kCoeffLimit / scale || v <= -kCoeffLimit / scale) {
        t.fail(k, "value " + std::to_string(v) + " does not fit a 32-bit coefficient");
    }
    return v;
}

int64_t positive_count(const Tokens& t, size_t k, size_t w, const char* what, int64_t limit) {
    const int64_t v = t.integer(k, w);
    if (v < 0 || v > limit) {
        t.fail(k, std::string(what) + " " + std::to_string(v) + " outside 0.." +
                      std::to_string(limit));
    }
    return v;
}

void sequential_labels(Problem& p) {
    p.labels.resize(p.n);
    for (uint32_t i = 0; i < p.n; ++i) p.labels[i] = i + 1;
}

// Max-Cut: minimise -cut, cut = sum of w over edges whose ends differ
// = sum w (x_i + x_j - 2 x_i x_j).
Problem read_gset(const Tokens& t) {
    Problem p;
    p.format = Format::Gset;
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
    p.format = Format::Bqp;
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
Problem read_qubo(const Tokens& t) {
    Problem p;
    p.format = Format::Qubo;
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

}  // namespace

const char* format_name(Format f) {
    switch (f) {
        case Format::Gset:
            return "gset";
        case Format::Bqp:
            return "bqp";
        case Format::Qubo:
            return "qubo";
    }
    return "?";
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
    std::string format = format_name_in;
    if (format.empty()) {
        const size_t words = t.words(0).size();
        format = words == 1 ? "bqp" : words == 2 ? "gset" : words == 3 ? "qubo" : "";
        if (format.empty()) {
            t.fail(0, "cannot tell the format from " + std::to_string(words) +
                          " numbers on the first line (use --format gset|bqp|qubo)");
        }
    }
    if (format == "gset") return read_gset(t);
    if (format == "bqp") return read_bqp(t, instance);
    if (format == "qubo") return read_qubo(t);
    throw ReadError{"unknown format '" + format + "' (gset, bqp or qubo)"};
}

}  // namespace dalo_cli
