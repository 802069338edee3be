// A file as data lines of whitespace-separated words, and the checked numbers that every
// reader takes from them. Errors name the file and the line they come from.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <istream>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "readers.hpp"

namespace dalo_cli {

constexpr int64_t kCoeffLimit = int64_t{1} << 31;

// Text as it appears in a message: bytes outside printable ASCII escaped (and backslashes and
// the quote character), cut short after `shown` bytes, so that binary garbage stays on one
// readable line.
inline std::string printable(std::string_view s, size_t shown, char quote = 0) {
    constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (const char c : s.substr(0, shown)) {
        const auto u = static_cast<unsigned char>(c);
        if ((quote != 0 && c == quote) || c == '\\') {
            out += '\\';
            out += c;
        } else if (u >= 0x20 && u < 0x7f) {
            out += c;
        } else {
            out += "\\x";
            out += kHex[u >> 4];
            out += kHex[u & 15];
        }
    }
    if (s.size() > shown) out += "...";
    return out;
}

// A word of the file in quotes.
inline std::string in_quotes(std::string_view s) { return "'" + printable(s, 24, '\'') + "'"; }

// The file's text, and its words line by line; '#' starts a comment (in the triplet format,
// and harmless elsewhere: no other text format uses '#', and JSON is read from the text).
class Tokens {
  public:
    Tokens(const std::string& path, std::istream& in)
        : Tokens(path, std::string(std::istreambuf_iterator<char>(in), {})) {}
    Tokens(const std::string& path, std::string text) : path_(path), text_(std::move(text)) {
        const std::string_view all = text_;
        uint64_t number = 0;
        for (size_t at = 0; at < all.size();) {
            size_t end = all.find('\n', at);
            if (end == std::string_view::npos) end = all.size();
            std::string_view line = all.substr(at, end - at);
            at = end + 1;
            ++number;
            line = line.substr(0, line.find('#'));
            const size_t first = words_.size();
            for (size_t w = 0; w < line.size();) {
                w = line.find_first_not_of(kSpace, w);
                if (w == std::string_view::npos) break;
                const size_t stop = std::min(line.find_first_of(kSpace, w), line.size());
                words_.push_back(line.substr(w, stop - w));
                w = stop;
            }
            if (words_.size() > first) lines_.push_back({number, first, words_.size() - first});
        }
    }
    // The words point into the text.
    Tokens(const Tokens&) = delete;
    Tokens& operator=(const Tokens&) = delete;

    const std::string& path() const { return path_; }
    const std::string& text() const { return text_; }
    bool empty() const { return lines_.empty(); }
    size_t line_count() const { return lines_.size(); }
    // Words of data line k.
    std::span<const std::string_view> words(size_t k) const {
        return {words_.data() + lines_[k].first, lines_[k].count};
    }
    uint64_t number(size_t k) const { return lines_[k].number; }

    [[noreturn]] void fail(size_t k, const std::string& reason) const {
        fail_line(number(k), reason);
    }
    [[noreturn]] void fail_line(uint64_t line, const std::string& reason) const {
        throw ReadError{path_ + ":" + std::to_string(line) + ": " + reason};
    }
    [[noreturn]] void fail_file(const std::string& reason) const {
        throw ReadError{path_ + ": " + reason};
    }
    int64_t integer(size_t k, size_t w) const {
        const std::string_view text = words(k)[w];
        int64_t v = 0;
        const char* begin = text.data();
        const char* end = begin + text.size();
        if (*begin == '+') ++begin;
        auto [p, ec] = std::from_chars(begin, end, v);
        if (ec == std::errc::result_out_of_range) fail(k, in_quotes(text) + " is out of range");
        if (ec != std::errc() || p != end || begin == end)
            fail(k, in_quotes(text) + " is not an integer");
        return v;
    }
    // An integer, also written as a decimal with an integral value ("3.0", "-2e3"), as
    // programs that write floating-point coefficients do.
    int64_t integral(size_t k, size_t w) const {
        const std::string_view text = words(k)[w];
        if (text.find_first_of(".eE") == std::string_view::npos) return integer(k, w);
        double v = 0;
        const char* begin = text.data() + (text[0] == '+' ? 1 : 0);
        auto [p, ec] = std::from_chars(begin, text.data() + text.size(), v);
        if (ec == std::errc::result_out_of_range || (ec == std::errc() && std::fabs(v) >= 0x1p62))
            fail(k, in_quotes(text) + " is out of range");
        if (ec != std::errc() || p != text.data() + text.size() || v != std::trunc(v))
            fail(k, in_quotes(text) + " is not an integer");
        return static_cast<int64_t>(v);
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
    static constexpr const char* kSpace = " \t\r\v\f";
    struct Line {
        uint64_t number;
        size_t first, count;
    };
    std::string path_;
    std::string text_;
    std::vector<std::string_view> words_;
    std::vector<Line> lines_;
};

// A 1-based index in 1..n (base 1) or a 0-based one in 0..n-1 (base 0), as a position.
inline uint32_t index_in(const Tokens& t, size_t k, size_t w, int64_t n, const char* what,
                         int64_t base = 1) {
    const int64_t v = t.integer(k, w);
    if (v < base || v >= n + base) {
        t.fail(k, std::string(what) + " " + std::to_string(v) + " outside " + std::to_string(base) +
                      ".." + std::to_string(n + base - 1));
    }
    return static_cast<uint32_t>(v - base);
}

inline void check_coefficient(const Tokens& t, size_t k, int64_t v, int64_t scale) {
    if (v >= kCoeffLimit / scale || v <= -kCoeffLimit / scale) {
        t.fail(k, "value " + std::to_string(v) + " does not fit a 32-bit coefficient");
    }
}

inline int64_t coefficient(const Tokens& t, size_t k, size_t w, int64_t scale) {
    const int64_t v = t.integer(k, w);
    check_coefficient(t, k, v, scale);
    return v;
}

inline int64_t positive_count(const Tokens& t, size_t k, size_t w, const char* what,
                              int64_t limit) {
    const int64_t v = t.integer(k, w);
    if (v < 0 || v > limit) {
        t.fail(k, std::string(what) + " " + std::to_string(v) + " outside 0.." +
                      std::to_string(limit));
    }
    return v;
}

// The sizes a header announces, checked on data line k before anything is sized by them:
// n variables (a noun such as "vertices") for `entries` entries (a noun such as "edge"), each
// touching at most two variables. Refused where more than a million variables could appear in
// no entry, or where the problem would not fit the memory at hand.
void check_announced(const Tokens& t, size_t k, uint64_t n, const char* variables, uint64_t entries,
                     const char* entry);

}  // namespace dalo_cli
