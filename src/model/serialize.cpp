// The Model byte format. A 32-byte header: "DALOMODL", the format version, a byte-order
// mark, the payload length and a checksum of the payload; then the payload, every number
// little-endian. Reading checks every length and every variable word before anything is
// registered, so a refused buffer leaves the process as it was.
#include "model/serialize.hpp"

#include <bit>
#include <cstring>
#include <memory>
#include <string>

#include "core/fatal.hpp"
#include "core/var_registry.hpp"

namespace dalo {

namespace {

constexpr char kMagic[8] = {'D', 'A', 'L', 'O', 'M', 'O', 'D', 'L'};
constexpr uint32_t kByteOrderMark = 0x01020304u;
constexpr uint64_t kHeaderBytes = 32;

// One bijective step per 64-bit word: a buffer that differs from the written one in a
// single word always gives another sum.
uint64_t checksum(const uint8_t* p, uint64_t n) {
    uint64_t h = 0x9E3779B97F4A7C15ull ^ n;
    auto mix = [&h](uint64_t w) {
        h = (h ^ w) * 0xFF51AFD7ED558CCDull;
        h ^= h >> 32;
    };
    uint64_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w = 0;
        for (int b = 7; b >= 0; --b) w = (w << 8) | p[i + b];
        mix(w);
    }
    uint64_t w = 0;
    for (uint64_t b = 0; i + b < n; ++b) w |= uint64_t{p[i + b]} << (8 * b);
    mix(w);
    return h;
}

class Writer {
  public:
    template <class T>
    void put(T v) {
        using U = std::make_unsigned_t<T>;
        U u = static_cast<U>(v);
        for (size_t b = 0; b < sizeof(T); ++b) out_.push_back(static_cast<uint8_t>(u >> (8 * b)));
    }
    void put_f64(double v) { put(std::bit_cast<uint64_t>(v)); }
    // n values, no count.
    template <class T>
    void put_values(const T* p, uint64_t n) {
        if constexpr (std::endian::native == std::endian::little) {
            const size_t at = out_.size();
            out_.resize(at + n * sizeof(T));
            if (n > 0) std::memcpy(out_.data() + at, p, n * sizeof(T));
        } else {
            for (uint64_t i = 0; i < n; ++i) put(p[i]);
        }
    }
    // A u64 count, then the values.
    template <class T>
    void put_vector(const std::vector<T>& v) {
        put(uint64_t{v.size()});
        put_values(v.data(), v.size());
    }
    void put_text(const std::string& s) {
        put(static_cast<uint32_t>(s.size()));
        out_.insert(out_.end(), s.begin(), s.end());
    }
    std::vector<uint8_t>& bytes() { return out_; }

  private:
    std::vector<uint8_t> out_;
};

// Bounds-checked reads; the first failure is kept and every later read gives zeros.
class Reader {
  public:
    Reader(const uint8_t* p, uint64_t n) : p_(p), n_(n) {}
    bool ok() const { return problem_.empty(); }
    const std::string& problem() const { return problem_; }
    void fail(const std::string& why) {
        if (problem_.empty()) problem_ = why;
    }
    bool done() const { return at_ == n_; }

    template <class T>
    T get() {
        using U = std::make_unsigned_t<T>;
        if (!room(sizeof(T))) return T{};
        U u = 0;
        for (size_t b = 0; b < sizeof(T); ++b) u |= static_cast<U>(U{p_[at_ + b]} << (8 * b));
        at_ += sizeof(T);
        return static_cast<T>(u);
    }
    template <class T>
    void get_values(T* out, uint64_t n) {
        if (n > 0 && !room_for(n, sizeof(T))) return;
        if constexpr (std::endian::native == std::endian::little) {
            if (n > 0) std::memcpy(out, p_ + at_, n * sizeof(T));
            at_ += n * sizeof(T);
        } else {
            for (uint64_t i = 0; i < n; ++i) out[i] = get<T>();
        }
    }
    template <class T>
    std::vector<T> get_vector() {
        const uint64_t n = get<uint64_t>();
        std::vector<T> v;
        if (!room_for(n, sizeof(T))) return v;
        v.resize(n);
        get_values(v.data(), n);
        return v;
    }
    std::string get_text() {
        const uint32_t n = get<uint32_t>();
        if (!room(n)) return {};
        std::string s(reinterpret_cast<const char*>(p_ + at_), n);
        at_ += n;
        return s;
    }
    bool room_for(uint64_t count, uint64_t size) {
        if (count > (n_ - at_) / size) {
            fail("truncated or corrupted (a length runs past the end)");
            return false;
        }
        return true;
    }

  private:
    bool room(uint64_t bytes) { return ok() && room_for(bytes, 1); }

    const uint8_t* p_;
    uint64_t n_;
    uint64_t at_ = 0;
    std::string problem_;
};

// What a buffer holds besides the Model's own arrays.
struct Contents {
    ModelImpl m;  // vars, index maps and int_var_orig are filled on registration
    std::vector<std::string> names;
    std::vector<std::string> int_names;
};

bool valid_word(uint32_t w, uint64_t vars, uint64_t ints) {
    if ((w & kAtomBit) != 0) return (w & ~kAtomBit) < ints;
    return (w & 0x7FFFFFFFu) < vars;
}

bool valid_words(const uint32_t* w, uint64_t n, const Contents& c) {
    for (uint64_t i = 0; i < n; ++i) {
        if (!valid_word(w[i], c.names.size(), c.int_names.size())) return false;
    }
    return true;
}

// Terms stored as a head of running word counts, the words and one coefficient per term.
bool valid_terms(const std::vector<uint64_t>& head, const std::vector<uint32_t>& words,
                 const std::vector<coeff_t>& coeffs, const Contents& c) {
    if (head.empty()) return words.empty() && coeffs.empty();
    if (head[0] != 0 || head.back() != words.size() || coeffs.size() != head.size() - 1)
        return false;
    for (size_t i = 1; i < head.size(); ++i) {
        if (head[i] < head[i - 1]) return false;
    }
    return valid_words(words.data(), words.size(), c);
}

std::string parse(const uint8_t* data, uint64_t size, Contents& c) {
    if (data == nullptr || size < kHeaderBytes) return "too short for a Model header";
    if (std::memcmp(data, kMagic, sizeof kMagic) != 0) return "not a dalo Model (unknown magic)";
    Reader head(data + sizeof kMagic, kHeaderBytes - sizeof kMagic);
    const uint32_t version = head.get<uint32_t>();
    const uint32_t mark = head.get<uint32_t>();
    const uint64_t payload = head.get<uint64_t>();
    const uint64_t sum = head.get<uint64_t>();
    if (mark != kByteOrderMark) return "foreign byte order";
    if (version != kModelFormatVersion) {
        return "format version " + std::to_string(version) + " (this library reads version " +
               std::to_string(kModelFormatVersion) + ")";
    }
    if (payload != size - kHeaderBytes) {
        return "the header announces " + std::to_string(payload) + " payload bytes, " +
               std::to_string(size - kHeaderBytes) + " are there";
    }
    if (checksum(data + kHeaderBytes, payload) != sum) return "checksum mismatch (corrupted)";

    Reader in(data + kHeaderBytes, payload);
    ModelImpl& m = c.m;
    m.constant = in.get<int64_t>();
    m.scale = std::bit_cast<double>(in.get<uint64_t>());
    m.max_degree = in.get<uint32_t>();
    const uint32_t nvars = in.get<uint32_t>();
    const uint32_t nints = in.get<uint32_t>();
    in.get<uint32_t>();  // reserved
    // Every name takes at least its 4-byte length.
    if (!in.room_for(uint64_t{nvars} + nints, 4)) return in.problem();
    for (uint32_t i = 0; i < nvars && in.ok(); ++i) c.names.push_back(in.get_text());
    for (uint32_t i = 0; i < nints && in.ok(); ++i) {
        c.int_names.push_back(in.get_text());
        m.int_lower.push_back(in.get<int64_t>());
        m.int_upper.push_back(in.get<int64_t>());
        if (in.ok() && m.int_lower.back() >= m.int_upper.back())
            in.fail("integer variable " + std::to_string(i) + " has bounds with lo >= hi");
    }
    if (!in.ok()) return in.problem();
    if (m.max_degree > 64) return "a term degree of " + std::to_string(m.max_degree);
    m.term_count.assign(m.max_degree, 0);
    m.term_vars.resize(m.max_degree);
    m.coeff_array.resize(m.max_degree);
    for (uint32_t d = 1; d <= m.max_degree && in.ok(); ++d) {
        const uint64_t count = in.get<uint64_t>();
        if (!in.room_for(count, 4 * uint64_t{d} + 4)) break;
        m.term_count[d - 1] = count;
        m.term_vars[d - 1].resize_uninitialized(count * d);
        m.coeff_array[d - 1].resize_uninitialized(count);
        in.get_values(m.term_vars[d - 1].data(), count * d);
        in.get_values(m.coeff_array[d - 1].data(), count);
        if (!valid_words(m.term_vars[d - 1].data(), count * d, c))
            in.fail("a term names a variable the Model does not have");
    }
    const uint64_t ncons = in.get<uint64_t>();
    if (!in.room_for(ncons, 40)) return in.problem();
    for (uint64_t k = 0; k < ncons && in.ok(); ++k) {
        NativeCons& r = m.native_cons.emplace_back();
        r.weight = in.get<int64_t>();
        r.lower = in.get<int64_t>();
        r.upper = in.get<int64_t>();
        r.constant = in.get<int64_t>();
        r.exponent = in.get<uint8_t>();
        r.objective_only = in.get<uint8_t>();
        r.vars = in.get_vector<uint32_t>();
        r.coeffs = in.get_vector<coeff_t>();
        r.nl_head = in.get_vector<uint64_t>();
        r.nl_vars = in.get_vector<uint32_t>();
        r.nl_coeffs = in.get_vector<coeff_t>();
        const uint64_t nallowed = in.get<uint64_t>();
        if (!in.room_for(nallowed, 16)) break;
        for (uint64_t a = 0; a < nallowed; ++a) {
            const int64_t lo = in.get<int64_t>();
            r.allowed.emplace_back(lo, in.get<int64_t>());
        }
        if (in.ok() &&
            (r.vars.size() != r.coeffs.size() || !valid_words(r.vars.data(), r.vars.size(), c) ||
             !valid_terms(r.nl_head, r.nl_vars, r.nl_coeffs, c)))
            in.fail("constraint " + std::to_string(k) + " is malformed");
    }
    m.has_remainder = in.get<uint8_t>();
    m.remainder_constant = in.get<int64_t>();
    m.remainder_head = in.get_vector<uint64_t>();
    m.remainder_vars = in.get_vector<uint32_t>();
    m.remainder_coeffs = in.get_vector<coeff_t>();
    if (in.ok() && (m.has_remainder > 1 ||
                    !valid_terms(m.remainder_head, m.remainder_vars, m.remainder_coeffs, c)))
        in.fail("the remainder is malformed");
    if (in.ok() && !in.done()) in.fail("bytes after the Model");
    return in.problem();
}

}  // namespace

std::vector<uint8_t> model_serialize(const ModelImpl& m) {
    Writer out;
    out.put_values(kMagic, sizeof kMagic);
    out.put(kModelFormatVersion);
    out.put(kByteOrderMark);
    out.put(uint64_t{0});  // payload length and checksum, written last
    out.put(uint64_t{0});
    out.put(m.constant);
    out.put_f64(m.scale);
    out.put(m.max_degree);
    out.put(m.var_count());
    out.put(static_cast<uint32_t>(m.int_count()));
    out.put(uint32_t{0});
    std::string buffer;
    for (uint32_t i = 0; i < m.var_count(); ++i)
        out.put_text(var_registry().display_name(m.vars[i], buffer));
    for (uint64_t a = 0; a < m.int_count(); ++a) {
        out.put_text(int_var_registry().display_name(m.int_var_orig[a] | kIntBit, buffer));
        out.put(m.int_lower[a]);
        out.put(m.int_upper[a]);
    }
    for (uint32_t d = 1; d <= m.max_degree; ++d) {
        const uint64_t count = m.term_count[d - 1];
        out.put(count);
        out.put_values(m.term_vars[d - 1].data(), count * d);
        out.put_values(m.coeff_array[d - 1].data(), count);
    }
    out.put(uint64_t{m.native_cons.size()});
    for (const NativeCons& r : m.native_cons) {
        out.put(r.weight);
        out.put(r.lower);
        out.put(r.upper);
        out.put(r.constant);
        out.put(r.exponent);
        out.put(r.objective_only);
        out.put_vector(r.vars);
        out.put_vector(r.coeffs);
        out.put_vector(r.nl_head);
        out.put_vector(r.nl_vars);
        out.put_vector(r.nl_coeffs);
        out.put(uint64_t{r.allowed.size()});
        for (const auto& [lo, hi] : r.allowed) {
            out.put(lo);
            out.put(hi);
        }
    }
    out.put(m.has_remainder);
    out.put(m.remainder_constant);
    out.put_vector(m.remainder_head);
    out.put_vector(m.remainder_vars);
    out.put_vector(m.remainder_coeffs);

    std::vector<uint8_t>& bytes = out.bytes();
    const uint64_t payload = bytes.size() - kHeaderBytes;
    Writer tail;
    tail.put(payload);
    tail.put(checksum(bytes.data() + kHeaderBytes, payload));
    std::memcpy(bytes.data() + 16, tail.bytes().data(), 16);
    return std::move(bytes);
}

std::string model_bytes_problem(const uint8_t* data, uint64_t size) {
    Contents c;
    return parse(data, size, c);
}

ModelHandle model_deserialize(const uint8_t* data, uint64_t size) {
    auto c = std::make_unique<Contents>();
    const std::string problem = parse(data, size, *c);
    if (!problem.empty()) fatal("Model bytes: " + problem);
    ModelImpl& m = c->m;
    m.vars.resize_uninitialized(c->names.size());
    for (size_t i = 0; i < c->names.size(); ++i)
        m.vars[i] = var_registry().new_var(c->names[i].c_str());
    m.map_vars();
    for (size_t a = 0; a < c->int_names.size(); ++a) {
        const Var id =
            int_var_registry().new_int_var(c->int_names[a].c_str(), m.int_lower[a], m.int_upper[a]);
        m.int_var_orig.push_back(id & ~kIntBit);
    }
    const uint64_t nints = int_var_registry().count();
    if (nints > 0) m.int_index_map.assign(nints, kNotInModel);
    for (size_t a = 0; a < m.int_var_orig.size(); ++a)
        m.int_index_map[m.int_var_orig[a]] = static_cast<uint32_t>(a);
    return std::make_shared<const ModelImpl>(std::move(m));
}

}  // namespace dalo
