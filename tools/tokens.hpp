// A file as data lines of whitespace-separated words, and the checked numbers that every
// reader takes from them. Errors name the file and the line they come from.
#pragma once

#include <charconv>
#include <cstdint>
#include <istream>
#include <sstream>
#include <string>
#include <vector>

#include "readers.hpp"

namespace dalo_cli {

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

inline uint32_t index_in(const Tokens& t, size_t k, size_t w, int64_t n, const char* what) {
    const int64_t v = t.integer(k, w);
    if (v < 1 || v > n) {
        t.fail(k, std::string(what) + " " + std::to_string(v) + " outside 1.." + std::to_string(n));
    }
    return static_cast<uint32_t>(v - 1);
}

inline int64_t coefficient(const Tokens& t, size_t k, size_t w, int64_t scale) {
    const int64_t v = t.integer(k, w);
    if (v >= kCoeffLimit / scale || v <= -kCoeffLimit / scale) {
        t.fail(k, "value " + std::to_string(v) + " does not fit a 32-bit coefficient");
    }
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

}  // namespace dalo_cli
