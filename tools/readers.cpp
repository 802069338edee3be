#include "readers.hpp"

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>

#include "formats.hpp"
#include "tokens.hpp"

namespace dalo_cli {

namespace {

// What a problem costs the program, generously: the problem, the model built from it and a
// solver's state per variable and per entry, and the text and its words per byte of a file.
constexpr uint64_t kBytesPerVariable = 64;
constexpr uint64_t kBytesPerEntry = 256;
constexpr uint64_t kBytesPerFileByte = 16;
// Variables that no entry touches cost memory and say nothing; past this many the count is
// taken for a mistake.
constexpr uint64_t kIsolatedLimit = uint64_t{1} << 20;

std::atomic<uint64_t> g_memory_limit{0};

std::string bytes_text(uint64_t bytes) {
    char text[32];
    if (bytes >= 1000000000) {
        std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes) / 1e9);
    } else {
        std::snprintf(text, sizeof text, "%llu MB",
                      static_cast<unsigned long long>(std::max<uint64_t>(1, bytes / 1000000)));
    }
    return text;
}

uint64_t read_number(const char* path) {
    unsigned long long v = 0;
    FILE* f = std::fopen(path, "r");
    if (f == nullptr) return std::numeric_limits<uint64_t>::max();
    const bool got = std::fscanf(f, "%llu", &v) == 1;
    std::fclose(f);
    return got ? v : std::numeric_limits<uint64_t>::max();
}

int64_t saturating_add(int64_t a, int64_t b) {
    int64_t s = 0;
    if (__builtin_add_overflow(a, b, &s)) return b > 0 ? INT64_MAX : INT64_MIN;
    return s;
}

uint64_t label_of(const Problem& p, uint32_t i) { return p.labels.size() == p.n ? p.labels[i] : i; }

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
    if (static_cast<int64_t>(t.line_count()) - 1 != m) {
        if (static_cast<int64_t>(t.line_count()) - 1 < m) {
            t.fail_file("expected " + std::to_string(m) + " edges, found " +
                        std::to_string(t.line_count() - 1) + " (truncated file?)");
        }
        t.fail(static_cast<size_t>(m) + 1,
               "more lines than the " + std::to_string(m) + " edges announced");
    }
    check_announced(t, 0, static_cast<uint64_t>(n), "vertices", static_cast<uint64_t>(m), "edge");
    p.n = static_cast<uint32_t>(n);
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

// Both formats store half of each quadratic coefficient, so it must be even and its half fit.
void check_even(const std::string& path, const Problem& p, const Entry& e, const char* holder) {
    if (e.value % 2 != 0) {
        throw ReadError{path + ": " + var_name(p, e.i) + "*" + var_name(p, e.j) +
                        " has the odd coefficient " + std::to_string(e.value) + ", and " + holder +
                        " holds even ones only"};
    }
    check_writable(path, p, e.i, e.j, e.value / 2, 2);
}

// The graph whose cut is -energy: an edge of weight Q/2 per quadratic coefficient Q, and one
// to an extra vertex for what the linear coefficients leave over. Cuts do not change when
// every side flips, so the extra vertex may be taken on side 0, where its edges count x_i.
void write_gset(std::ostream& out, const Problem& p, const std::string& path) {
    const Coefficients c = merged(p);
    std::vector<int64_t> rest = c.linear;
    std::vector<Entry> edges;
    for (const Entry& e : c.quadratic) {
        check_even(path, p, e, "a Max-Cut graph");
        edges.push_back({e.i, e.j, e.value / 2});
        rest[e.i] = saturating_add(rest[e.i], e.value / 2);
        rest[e.j] = saturating_add(rest[e.j], e.value / 2);
    }
    bool extra = false;
    for (uint32_t i = 0; i < p.n; ++i) {
        if (rest[i] == 0) continue;
        check_writable(path, p, i, i, rest[i], 2);
        edges.push_back({i, p.n, -rest[i]});
        extra = true;
    }
    std::sort(edges.begin(), edges.end(),
              [](const Entry& a, const Entry& b) { return a.i != b.i ? a.i < b.i : a.j < b.j; });
    out << p.n + (extra ? 1 : 0) << " " << edges.size() << "\n";
    for (const Entry& e : edges) out << e.i + 1 << " " << e.j + 1 << " " << e.value << "\n";
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
        if (static_cast<int64_t>(t.line_count() - k - 1) < nnz) {
            t.fail_file("instance " + std::to_string(inst) + " announces " + std::to_string(nnz) +
                        " entries, found " + std::to_string(t.line_count() - k - 1) +
                        " (truncated file?)");
        }
        const bool wanted = inst == instance;
        if (wanted) {
            check_announced(t, k, static_cast<uint64_t>(n), "variables", static_cast<uint64_t>(nnz),
                            "entry");
            p.n = static_cast<uint32_t>(n);
            p.entries.reserve(static_cast<size_t>(nnz));
        }
        ++k;
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

// One instance whose x'Qx is -energy: q_ii = -linear, q_ij = -Q/2 once per pair.
void write_bqp(std::ostream& out, const Problem& p, const std::string& path) {
    const Coefficients c = merged(p);
    std::vector<Entry> q;
    for (uint32_t i = 0; i < p.n; ++i) {
        if (c.linear[i] == 0) continue;
        check_writable(path, p, i, i, c.linear[i], 2);
        q.push_back({i, i, -c.linear[i]});
    }
    for (const Entry& e : c.quadratic) {
        check_even(path, p, e, "a BQP file");
        q.push_back({e.i, e.j, -e.value / 2});
    }
    out << "1\n" << p.n << " " << q.size() << "\n";
    for (const Entry& e : q) out << e.i + 1 << " " << e.j + 1 << " " << e.value << "\n";
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

// By label; a variable without coefficients gets "l l 0", so that the file names it.
void write_qubo(std::ostream& out, const Problem& p, const std::string& path) {
    if (p.n == 0)
        throw ReadError{path + ": a triplet file cannot hold a problem without variables"};
    const Coefficients c = merged(p);
    std::vector<bool> named(p.n, false);
    for (const Entry& e : c.quadratic) {
        check_writable(path, p, e.i, e.j, e.value, 1);
        named[e.i] = named[e.j] = true;
    }
    for (uint32_t i = 0; i < p.n; ++i) {
        if (c.linear[i] == 0 && named[i]) continue;
        check_writable(path, p, i, i, c.linear[i], 1);
        out << label_of(p, i) << " " << label_of(p, i) << " " << c.linear[i] << "\n";
    }
    for (const Entry& e : c.quadratic) {
        out << label_of(p, e.i) << " " << label_of(p, e.j) << " " << e.value << "\n";
    }
}

// The numeric formats tell themselves apart by how many numbers their first data line holds.
bool numeric(const Tokens& t) {
    const char c = t.words(0)[0][0];
    return (c >= '0' && c <= '9') || c == '+' || c == '-';
}

template <size_t Count>
bool first_line_has(const Tokens& t) {
    return numeric(t) && t.words(0).size() == Count;
}

bool qbsolv_first_line(const Tokens& t) {
    const std::string_view w = t.words(0)[0];
    return w == "p" || w[0] == 'c';
}

bool json_first_line(const Tokens& t) { return t.words(0)[0][0] == '{'; }

constexpr FileFormat kFormats[] = {
    {"gset", ".gset",
     "G-set Max-Cut graph: \"n m\", then m lines \"i j w\" (1-based); maximises the cut",
     first_line_has<2>, read_gset, write_gset},
    {"bqp", ".bqp",
     "OR-Library BQP: K, then per instance \"n nnz\" and nnz lines \"i j q\";\n"
     "maximises x'Qx (pick the instance with --instance, default 1)",
     first_line_has<1>, read_bqp, write_bqp},
    {"qubo", ".triplets .txt",
     "lines \"i j value\": minimises the sum of value*x_i*x_j (value*x_i when i = j)",
     first_line_has<3>, read_qubo, write_qubo},
    {"qbsolv", ".qubo",
     "qbsolv .qubo: \"p qubo 0 MAXNODES NNODES NCOUPLERS\", then lines\n"
     "\"i j value\" (0-based; lines starting with c are comments)",
     qbsolv_first_line, read_qbsolv, write_qbsolv},
    {"bqm", ".json", "binary quadratic model as JSON (BINARY or SPIN, integer biases)",
     json_first_line, read_bqm, write_bqm},
};

}  // namespace

void check_announced(const Tokens& t, size_t k, uint64_t n, const char* variables, uint64_t entries,
                     const char* entry) {
    const std::string noun = entry;
    const std::string nouns =
        noun.ends_with('y') ? noun.substr(0, noun.size() - 1) + "ies" : noun + "s";
    const std::string counts = std::to_string(n) + " " + variables + " and " +
                               std::to_string(entries) + " " + (entries == 1 ? noun : nouns);
    if (n > 2 * entries + kIsolatedLimit) {
        t.fail(k, counts + ": more than " + std::to_string(kIsolatedLimit) + " " + variables +
                      " would appear in no " + entry);
    }
    const uint64_t need = n * kBytesPerVariable + entries * kBytesPerEntry;
    const uint64_t have = memory_at_hand();
    if (need > have) {
        t.fail(k, counts + " need about " + bytes_text(need) + ", more than the " +
                      bytes_text(have) + " of memory at hand");
    }
}

Coefficients merged(const Problem& p) {
    Coefficients c;
    c.linear.assign(p.n, 0);
    std::vector<Entry> q;
    for (const Entry& e : p.entries) {
        if (e.i == e.j) {
            c.linear[e.i] = saturating_add(c.linear[e.i], e.value);
        } else {
            q.push_back({std::min(e.i, e.j), std::max(e.i, e.j), e.value});
        }
    }
    std::sort(q.begin(), q.end(),
              [](const Entry& a, const Entry& b) { return a.i != b.i ? a.i < b.i : a.j < b.j; });
    for (const Entry& e : q) {
        if (!c.quadratic.empty() && c.quadratic.back().i == e.i && c.quadratic.back().j == e.j) {
            c.quadratic.back().value = saturating_add(c.quadratic.back().value, e.value);
        } else {
            c.quadratic.push_back(e);
        }
    }
    std::erase_if(c.quadratic, [](const Entry& e) { return e.value == 0; });
    return c;
}

std::string var_name(const Problem& p, uint32_t i) { return "x" + std::to_string(label_of(p, i)); }

void check_writable(const std::string& path, const Problem& p, uint32_t i, uint32_t j, int64_t v,
                    int64_t scale) {
    if (v < kCoeffLimit / scale && v > -kCoeffLimit / scale) return;
    const std::string term = i == j ? var_name(p, i) : var_name(p, i) + "*" + var_name(p, j);
    throw ReadError{path + ": " + term + ": value " + std::to_string(v) +
                    " does not fit a 32-bit coefficient" + (scale > 1 ? " once doubled" : "")};
}

uint64_t memory_at_hand() {
    if (const uint64_t limit = g_memory_limit.load()) return limit;
    uint64_t have = std::numeric_limits<uint64_t>::max();
    if (FILE* f = std::fopen("/proc/meminfo", "r")) {
        char line[256];
        unsigned long long kb = 0;
        while (std::fgets(line, sizeof line, f) != nullptr) {
            if (std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1) have = kb * 1024;
        }
        std::fclose(f);
    }
    const uint64_t cgroup_max = read_number("/sys/fs/cgroup/memory.max");
    const uint64_t cgroup_used = read_number("/sys/fs/cgroup/memory.current");
    if (cgroup_max != std::numeric_limits<uint64_t>::max() && cgroup_used < cgroup_max) {
        have = std::min(have, cgroup_max - cgroup_used);
    }
    for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
        rlimit r{};
        if (getrlimit(resource, &r) == 0 && r.rlim_cur != RLIM_INFINITY)
            have = std::min<uint64_t>(have, r.rlim_cur);
    }
    return have;
}

void set_memory_limit(uint64_t bytes) { g_memory_limit.store(bytes); }

std::span<const FileFormat> formats() { return kFormats; }

std::string format_names(const std::string& sep, const std::string& last) {
    std::string names;
    for (size_t k = 0; k < std::size(kFormats); ++k) {
        if (k > 0) names += k + 1 == std::size(kFormats) ? last : sep;
        names += kFormats[k].name;
    }
    return names;
}

const FileFormat* format_named(const std::string& name) {
    for (const FileFormat& f : kFormats) {
        if (name == f.name) return &f;
    }
    return nullptr;
}

const FileFormat* format_for_extension(const std::string& ext) {
    for (const FileFormat& f : kFormats) {
        const std::string list = std::string(" ") + f.extensions + " ";
        if (!ext.empty() && list.find(" " + ext + " ") != std::string::npos) return &f;
    }
    return nullptr;
}

Problem read_problem(const std::string& path, const std::string& format_name_in,
                     uint32_t instance) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) throw ReadError{path + ": cannot open file"};
    if (S_ISDIR(st.st_mode)) throw ReadError{path + ": is a directory"};
    if (S_ISREG(st.st_mode)) {
        const uint64_t need = static_cast<uint64_t>(st.st_size) * kBytesPerFileByte;
        const uint64_t have = memory_at_hand();
        if (need > have) {
            throw ReadError{path + ": reading " + bytes_text(static_cast<uint64_t>(st.st_size)) +
                            " takes about " + bytes_text(need) + ", more than the " +
                            bytes_text(have) + " of memory at hand"};
        }
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ReadError{path + ": cannot open file"};
    return read_problem(path, in, format_name_in, instance);
}

Problem read_problem(const std::string& path, std::istream& in, const std::string& format_name_in,
                     uint32_t instance) {
    std::string text(std::istreambuf_iterator<char>(in), {});
    if (in.bad()) throw ReadError{path + ": read error"};
    const Tokens t(path, std::move(text));
    if (t.empty()) throw ReadError{path + ": empty file"};
    const bool guessed = format_name_in.empty();
    const FileFormat* format = guessed ? nullptr : format_named(format_name_in);
    if (guessed) {
        for (const FileFormat& f : kFormats) {
            if (f.sniff(t)) {
                format = &f;
                break;
            }
        }
    }
    const std::string choices = "use --format " + format_names("|", "|");
    if (format == nullptr && guessed && numeric(t)) {
        t.fail(0, "cannot tell the format from " + std::to_string(t.words(0).size()) +
                      " numbers on the first line (" + choices + ")");
    }
    if (format == nullptr && guessed) {
        t.fail(0, "cannot tell the format from the first line, which starts with " +
                      in_quotes(t.words(0)[0]) + " (" + choices + ")");
    }
    if (format == nullptr) {
        throw ReadError{"unknown format " + in_quotes(format_name_in) + " (" +
                        format_names(", ", " or ") + ")"};
    }
    try {
        Problem p = format->read(t, instance);
        p.format = format;
        return p;
    } catch (ReadError& e) {
        if (guessed)
            e.text += std::string(" (guessed format ") + format->name + "; " + choices + ")";
        throw;
    }
}

}  // namespace dalo_cli
