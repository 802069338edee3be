// The parameter pairs a plug-in receives: one walker over the key=value list, each family
// with its own table of keys, and the value readers the families share. Each family keeps the
// value syntax and the messages it has always had, so the readers differ in what they allow
// around a number.
#pragma once

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "dalo_plugin.h"

namespace plugin_common {

// The library's misuse handler, set through the family's set_fail entry point.
inline std::atomic<dalo_plugin_fail> g_fail{nullptr};

// Hands "dalo: <msg>" to the library's handler, which ends the process or unwinds the call
// back into the library; without a handler writes the line on standard error and aborts.
[[noreturn]] inline void fatal(const std::string& msg) {
#ifdef DALO_FATAL_THROWS
    throw std::logic_error(msg);  // fuzzing builds catch misuse instead of aborting
#endif
    const std::string line = "dalo: " + msg;
    if (dalo_plugin_fail fail = g_fail.load(std::memory_order_acquire)) fail(line.c_str());
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
    std::abort();
}

// A key of a family's table and how its value goes into the options; the reader may end the
// process on a bad value.
template <class Options>
struct Key {
    const char* name;
    void (*read)(Options& o, const std::string& key, const char* value);
};

// Walks the pairs up to the one with a null key. An absent value reads as ""; a key outside
// the table goes to unknown (which does not return).
template <class Options, size_t N, class Unknown>
void read_params(const dalo_plugin_pair* params, const Key<Options> (&table)[N], Options& o,
                 Unknown&& unknown) {
    for (const dalo_plugin_pair* q = params; q != nullptr && q->key != nullptr; ++q) {
        const std::string key = q->key;
        const char* value = q->value != nullptr ? q->value : "";
        const Key<Options>* k = nullptr;
        for (const Key<Options>& entry : table) {
            if (key == entry.name) {
                k = &entry;
                break;
            }
        }
        if (k == nullptr) {
            unknown(key);
        } else {
            k->read(o, key, value);
        }
    }
}

// The whole text as a decimal integer.
inline bool whole_int(const char* text, int64_t& out) {
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0) return false;
    out = v;
    return true;
}

// A decimal integer followed by blanks only.
inline bool int_then_blanks(const char* text, int64_t& out) {
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text, &end, 10);
    if (end == text || errno != 0) return false;
    while (*end == ' ' || *end == '\t') ++end;
    if (*end != '\0') return false;
    out = v;
    return true;
}

// A non-negative decimal integer between blanks (no minus sign, which strtoull would wrap).
inline bool uint_then_blanks(const char* text, uint64_t& out) {
    const char* t = text;
    while (*t == ' ' || *t == '\t') ++t;
    if (*t == '-') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(t, &end, 10);
    if (end == t || errno != 0) return false;
    while (*end == ' ' || *end == '\t') ++end;
    if (*end != '\0') return false;
    out = v;
    return true;
}

// The whole text as a number other than NaN (out is written either way).
inline bool whole_double(const char* text, double& out) {
    char* end = nullptr;
    out = std::strtod(text, &end);
    return end != text && *end == '\0' && !std::isnan(out);
}

// Leading decimal digits; 0 when there are none.
inline uint64_t leading_uint(const char* text) {
    uint64_t v = 0;
    for (; *text >= '0' && *text <= '9'; ++text) v = v * 10 + static_cast<uint64_t>(*text - '0');
    return v;
}

// "1", "true" or "True".
inline bool is_true(const char* text) {
    return std::strcmp(text, "1") == 0 || std::strcmp(text, "true") == 0 ||
           std::strcmp(text, "True") == 0;
}

// "0", "false" or "False".
inline bool is_false(const char* text) {
    return std::strcmp(text, "0") == 0 || std::strcmp(text, "false") == 0 ||
           std::strcmp(text, "False") == 0;
}

// The refusal BriskSolver and KELPSolver share for a value they cannot read.
inline std::string invalid_value(const std::string& key, const char* value) {
    return "invalid value '" + std::string(value) + "' for '" + key + "'";
}

}  // namespace plugin_common
