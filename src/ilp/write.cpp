// CPLEX-LP and free-format MPS files. Both formats are read by the common MIP solvers with
// the same meaning only in a shared subset, so the files keep to it: the objective constant
// is a column fixed at 1 (readers disagree on constants in objectives), every column
// appears in the objective in column order (so readers number the columns alike), and a
// row whose two sides both need posting becomes a range (MPS) or two rows (LP). An LP file
// has at least one column and one row, which some readers require.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_set>

#include "ilp/ilp.hpp"

namespace dalo {

namespace {

constexpr size_t kMaxName = 200;

bool legal_char(char ch) {
    return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') ||
           ch == '_' || ch == '.' || ch == '(' || ch == ')' || ch == '{' || ch == '}' ||
           ch == '#' || ch == '$' || ch == '%' || ch == '&' || ch == '@' || ch == '~' ||
           ch == '|' || ch == '!' || ch == '?' || ch == '\'';
}

// Letters, digits and a few punctuation marks; not starting with a digit or a period, nor
// with "e" and a digit (an exponent to a reader).
std::string legal_name(const std::string& raw) {
    std::string out;
    for (char ch : raw) out.push_back(legal_char(ch) ? ch : '_');
    if (out.size() > kMaxName) out.resize(kMaxName);
    const bool exponent_like = out.size() >= 1 && (out[0] == 'e' || out[0] == 'E') &&
                               (out.size() == 1 || (out[1] >= '0' && out[1] <= '9'));
    if (out.empty() || (out[0] >= '0' && out[0] <= '9') || out[0] == '.' || exponent_like) {
        out.insert(0, "v_");
    }
    return out;
}

std::string distinct(const std::string& base, std::unordered_set<std::string>& taken) {
    if (taken.insert(base).second) return base;
    for (uint64_t k = 2;; ++k) {
        std::string candidate = base + "_" + std::to_string(k);
        if (taken.insert(candidate).second) return candidate;
    }
}

// A FILE that closes itself; write errors are sticky in the stream.
struct File {
    FILE* f = nullptr;
    explicit File(const char* path) : f(path != nullptr ? std::fopen(path, "w") : nullptr) {}
    ~File() {
        if (f != nullptr) std::fclose(f);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    bool close() {
        const bool ok = std::ferror(f) == 0;
        const bool closed = std::fclose(f) == 0;
        f = nullptr;
        return ok && closed;
    }
};

bool open_failed(const File& file, const char* path, std::string& error) {
    if (file.f != nullptr) return false;
    error = "cannot open '" + std::string(path != nullptr ? path : "(null)") +
            "' for writing: " + std::strerror(errno);
    return true;
}

bool finish(File& file, const char* path, std::string& error) {
    if (file.close()) return true;
    error = "cannot write '" + std::string(path) + "': " + std::strerror(errno);
    return false;
}

bool is_posted(const IlpRow& r) { return !(r.lower_implied && r.upper_implied); }

// Whether the constant column is needed: a constant, a posted row without entries, or no
// other column (an LP objective names at least one column).
bool needs_constant_column(const IlpImpl& ilp) {
    if (ilp.obj_constant != 0 || ilp.cols.empty()) return true;
    for (const IlpRow& r : ilp.rows) {
        if (r.cols.empty() && is_posted(r)) return true;
    }
    return false;
}

void write_terms(FILE* f, const IlpRow& r, const IlpImpl& ilp) {
    if (r.cols.empty()) {
        std::fprintf(f, " 0 %s", ilp.constant_name.c_str());
        return;
    }
    for (size_t k = 0; k < r.cols.size(); ++k) {
        const int64_t a = r.coeffs[k];
        if (k % 8 == 7) std::fprintf(f, "\n ");
        std::fprintf(f, " %c %llu %s", a < 0 ? '-' : '+',
                     static_cast<unsigned long long>(a < 0 ? 0 - static_cast<uint64_t>(a)
                                                           : static_cast<uint64_t>(a)),
                     ilp.names[r.cols[k]].c_str());
    }
}

}  // namespace

void assign_file_names(IlpImpl& ilp) {
    std::unordered_set<std::string> taken;
    for (std::string& name : ilp.names) name = distinct(legal_name(name), taken);
    ilp.constant_name = distinct("dalo_constant", taken);
}

bool ilp_write_lp(const IlpImpl& ilp, const char* path, std::string& error) {
    File file(path);
    if (open_failed(file, path, error)) return false;
    FILE* f = file.f;
    const bool constant_col = needs_constant_column(ilp);
    std::fprintf(f, "\\ Integer linear program written by dalo\nMinimize\n obj:");
    for (size_t j = 0; j < ilp.cols.size(); ++j) {
        std::fprintf(f, " %+lld %s", static_cast<long long>(ilp.obj[j]), ilp.names[j].c_str());
        if (j % 8 == 7) std::fprintf(f, "\n ");
    }
    if (constant_col) {
        std::fprintf(f, " %+lld %s", static_cast<long long>(ilp.obj_constant),
                     ilp.constant_name.c_str());
    }
    std::fprintf(f, "\nSubject To\n");
    // Some readers take no file without a row: a program without one gets a row that
    // always holds.
    if (std::none_of(ilp.rows.begin(), ilp.rows.end(), is_posted)) {
        std::fprintf(f, " no_rows: 0 %s >= 0\n",
                     (ilp.cols.empty() ? ilp.constant_name : ilp.names[0]).c_str());
    }
    for (size_t i = 0; i < ilp.rows.size(); ++i) {
        const IlpRow& r = ilp.rows[i];
        const bool post_lo = r.lower_implied == 0, post_hi = r.upper_implied == 0;
        const char* kind = "c";
        if (post_lo && post_hi && r.lower == r.upper) {
            std::fprintf(f, " %s%zu:", kind, i);
            write_terms(f, r, ilp);
            std::fprintf(f, " = %lld\n", static_cast<long long>(r.lower));
            continue;
        }
        if (post_lo) {
            std::fprintf(f, " %s%zu%s:", kind, i, post_hi ? "_lo" : "");
            write_terms(f, r, ilp);
            std::fprintf(f, " >= %lld\n", static_cast<long long>(r.lower));
        }
        if (post_hi) {
            std::fprintf(f, " %s%zu%s:", kind, i, post_lo ? "_hi" : "");
            write_terms(f, r, ilp);
            std::fprintf(f, " <= %lld\n", static_cast<long long>(r.upper));
        }
    }
    std::fprintf(f, "Bounds\n");
    for (size_t j = 0; j < ilp.cols.size(); ++j) {
        const IlpCol& c = ilp.cols[j];
        if (c.kind == 0) continue;
        std::fprintf(f, " %lld <= %s <= %lld\n", static_cast<long long>(c.lower),
                     ilp.names[j].c_str(), static_cast<long long>(c.upper));
    }
    if (constant_col) std::fprintf(f, " %s = 1\n", ilp.constant_name.c_str());
    bool any = false;
    for (size_t j = 0; j < ilp.cols.size(); ++j) {
        if (ilp.cols[j].kind != 0) continue;
        std::fprintf(f, "%s %s", any ? "" : "Binaries\n", ilp.names[j].c_str());
        any = true;
    }
    if (any) std::fprintf(f, "\n");
    any = false;
    for (size_t j = 0; j < ilp.cols.size(); ++j) {
        if (ilp.cols[j].kind != 1) continue;
        std::fprintf(f, "%s %s", any ? "" : "Generals\n", ilp.names[j].c_str());
        any = true;
    }
    if (any) std::fprintf(f, "\n");
    std::fprintf(f, "End\n");
    return finish(file, path, error);
}

bool ilp_write_mps(const IlpImpl& ilp, const char* path, std::string& error) {
    File file(path);
    if (open_failed(file, path, error)) return false;
    FILE* f = file.f;
    const bool constant_col = needs_constant_column(ilp);
    // Posted rows: a range when both sides are needed and ordered, two rows when they
    // contradict each other (a range cannot say so); rows with both sides implied are left out.
    struct Posted {
        std::string name;
        char type;
        int64_t rhs;
        uint64_t range;  // width of a range row
        size_t row;
    };
    std::vector<Posted> posted;
    for (size_t i = 0; i < ilp.rows.size(); ++i) {
        const IlpRow& r = ilp.rows[i];
        const bool post_lo = r.lower_implied == 0, post_hi = r.upper_implied == 0;
        const std::string name = "c" + std::to_string(i);
        if (post_lo && post_hi && r.lower <= r.upper) {
            const uint64_t width = static_cast<uint64_t>(r.upper) - static_cast<uint64_t>(r.lower);
            posted.push_back({name, width == 0 ? 'E' : 'G', r.lower, width, i});
            continue;
        }
        if (post_lo) posted.push_back({post_hi ? name + "_lo" : name, 'G', r.lower, 0, i});
        if (post_hi) posted.push_back({post_lo ? name + "_hi" : name, 'L', r.upper, 0, i});
    }
    // "FREE" keeps readers that also take fixed-column MPS from reading a line by columns
    // when its fields happen to fall on them; readers of free MPS alone skip it.
    std::fprintf(f, "NAME dalo FREE\nROWS\n N obj\n");
    for (const Posted& p : posted) std::fprintf(f, " %c %s\n", p.type, p.name.c_str());
    // Entries by column: one pass over the posted rows.
    std::vector<std::vector<std::pair<size_t, int64_t>>> by_col(ilp.cols.size());
    std::vector<size_t> empty_rows;
    for (size_t p = 0; p < posted.size(); ++p) {
        const IlpRow& r = ilp.rows[posted[p].row];
        if (r.cols.empty()) empty_rows.push_back(p);
        for (size_t k = 0; k < r.cols.size(); ++k) by_col[r.cols[k]].emplace_back(p, r.coeffs[k]);
    }
    std::fprintf(f, "COLUMNS\n");
    if (!ilp.cols.empty()) std::fprintf(f, " MARKER 'MARKER' 'INTORG'\n");
    for (size_t j = 0; j < ilp.cols.size(); ++j) {
        const char* name = ilp.names[j].c_str();
        std::fprintf(f, " %s obj %lld\n", name, static_cast<long long>(ilp.obj[j]));
        for (const auto& [p, a] : by_col[j]) {
            std::fprintf(f, " %s %s %lld\n", name, posted[p].name.c_str(),
                         static_cast<long long>(a));
        }
    }
    if (!ilp.cols.empty()) std::fprintf(f, " MARKER 'MARKER' 'INTEND'\n");
    if (constant_col) {
        const char* name = ilp.constant_name.c_str();
        std::fprintf(f, " %s obj %lld\n", name, static_cast<long long>(ilp.obj_constant));
        for (size_t p : empty_rows) std::fprintf(f, " %s %s 0\n", name, posted[p].name.c_str());
    }
    std::fprintf(f, "RHS\n");
    for (const Posted& p : posted) {
        if (p.rhs != 0) {
            std::fprintf(f, " RHS %s %lld\n", p.name.c_str(), static_cast<long long>(p.rhs));
        }
    }
    bool any_range = false;
    for (const Posted& p : posted) {
        if (p.range == 0) continue;
        std::fprintf(f, "%s RNG %s %llu\n", any_range ? "" : "RANGES\n", p.name.c_str(),
                     static_cast<unsigned long long>(p.range));
        any_range = true;
    }
    std::fprintf(f, "BOUNDS\n");
    for (size_t j = 0; j < ilp.cols.size(); ++j) {
        const IlpCol& c = ilp.cols[j];
        std::fprintf(f, " LO BOUND %s %lld\n UP BOUND %s %lld\n", ilp.names[j].c_str(),
                     static_cast<long long>(c.lower), ilp.names[j].c_str(),
                     static_cast<long long>(c.upper));
    }
    if (constant_col) std::fprintf(f, " FX BOUND %s 1\n", ilp.constant_name.c_str());
    std::fprintf(f, "ENDATA\n");
    return finish(file, path, error);
}

}  // namespace dalo
