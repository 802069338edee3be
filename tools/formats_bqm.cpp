// Binary quadratic models serialised as JSON: an object of type "BinaryQuadraticModel" with
// variable_labels, variable_type (BINARY or SPIN), offset, linear_biases (one per variable)
// and the interactions as three parallel lists quadratic_head, quadratic_tail and
// quadratic_biases of variable positions and biases. SPIN models are read through
// s = 2x - 1. The biases are floating point in the layout and must be integers here.
#include <algorithm>
#include <cmath>
#include <map>
#include <nlohmann/json.hpp>

#include "formats.hpp"

namespace dalo_cli {

namespace {

using nlohmann::json;

constexpr double kOffsetLimit = 0x1p62;
constexpr int kDepthLimit = 64;

// The line of the first "key": in the text, or 0 where it does not appear.
uint64_t line_of_key(const std::string& text, const std::string& key) {
    const std::string quoted_key = "\"" + key + "\"";
    for (size_t at = text.find(quoted_key); at != std::string::npos;
         at = text.find(quoted_key, at + 1)) {
        const size_t colon = text.find_first_not_of(" \t\r\n", at + quoted_key.size());
        if (colon != std::string::npos && text[colon] == ':')
            return 1 + static_cast<uint64_t>(std::count(text.begin(), text.begin() + at, '\n'));
    }
    return 0;
}

class Reader {
  public:
    Reader(const Tokens& t, const json& j) : t_(t), j_(j) {}

    [[noreturn]] void fail(const std::string& key, const std::string& reason) const {
        const uint64_t line = line_of_key(t_.text(), key);
        if (line == 0) t_.fail_file(reason);
        t_.fail_line(line, reason);
    }
    const json& member(const std::string& key) const {
        const auto it = j_.find(key);
        if (it == j_.end()) t_.fail_file("no \"" + key + "\" member");
        return *it;
    }
    const json& array(const std::string& key) const {
        const json& a = member(key);
        if (!a.is_array()) fail(key, key + " is not a list");
        return a;
    }
    // Element at of the list key (or key itself where at < 0) as an integer below limit.
    int64_t whole(const json& v, const std::string& key, int64_t at, double limit) const {
        const std::string what = at < 0 ? key : key + "[" + std::to_string(at) + "]";
        double d = 0;
        if (v.is_number_unsigned()) {
            d = static_cast<double>(v.get<uint64_t>());
        } else if (v.is_number_integer()) {
            d = static_cast<double>(v.get<int64_t>());
        } else if (v.is_number_float()) {
            d = v.get<double>();
            if (!std::isfinite(d) || d != std::trunc(d)) {
                fail(key, what + " is " + in_quotes(v.dump()) +
                              ", not an integer (coefficients must be integers)");
            }
        } else {
            fail(key, what + " is " + in_quotes(v.dump()) + ", not a number");
        }
        if (std::fabs(d) >= limit) {
            fail(key, what + ": value " + printable(v.dump(), 24) +
                          (limit == kOffsetLimit ? " is out of range"
                                                 : " does not fit a 32-bit coefficient"));
        }
        return v.is_number_float() ? static_cast<int64_t>(d) : v.get<int64_t>();
    }

  private:
    const Tokens& t_;
    const json& j_;
};

}  // namespace

Problem read_bqm(const Tokens& t, uint32_t /*instance*/) {
    json j;
    try {
        // Values are printed in messages, and printing recurses.
        j = json::parse(t.text(), [&](int depth, json::parse_event_t, const json&) {
            if (depth > kDepthLimit) {
                t.fail_file("JSON nested deeper than " + std::to_string(kDepthLimit) + " levels");
            }
            return true;
        });
    } catch (const json::parse_error& e) {
        const std::string what = e.what();
        const size_t column = what.find("column ");
        const size_t reason = what.find(": ", column == std::string::npos ? 0 : column);
        const std::string text = printable(what.substr(reason + 2), 120);
        const size_t end = std::min<size_t>(e.byte == 0 ? 0 : e.byte - 1, t.text().size());
        t.fail_line(
            1 + static_cast<uint64_t>(std::count(t.text().begin(), t.text().begin() + end, '\n')),
            "not JSON: " + text);
    } catch (const json::exception& e) {
        const std::string what = e.what();
        t.fail_file("not JSON: " + printable(what.substr(what.find("] ") + 2), 120));
    }
    if (!j.is_object()) t.fail_line(1, "expected a JSON object (a binary quadratic model)");
    const Reader r(t, j);
    const json& type = r.member("type");
    if (type != "BinaryQuadraticModel") {
        r.fail("type", "type " + in_quotes(type.dump()) + " is not \"BinaryQuadraticModel\"");
    }
    if (j.contains("use_bytes") && j["use_bytes"] != false) {
        r.fail("use_bytes", "biases stored as bytes are not read (serialise with use_bytes off)");
    }
    const json& vartype = r.member("variable_type");
    if (vartype != "BINARY" && vartype != "SPIN") {
        r.fail("variable_type", "variable_type " + in_quotes(vartype.dump()) +
                                    " is neither \"BINARY\" nor \"SPIN\"");
    }
    const bool spin = vartype == "SPIN";
    const json& labels = r.array("variable_labels");
    const json& linear = r.array("linear_biases");
    const json& head = r.array("quadratic_head");
    const json& tail = r.array("quadratic_tail");
    const json& quadratic = r.array("quadratic_biases");
    const size_t n = labels.size(), m = quadratic.size();
    if (n > (size_t{1} << 30) - 2) r.fail("variable_labels", "too many variables");
    if (linear.size() != n) {
        r.fail("linear_biases", "linear_biases has " + std::to_string(linear.size()) +
                                    " entries for " + std::to_string(n) + " variables");
    }
    for (const auto& [key, list] :
         {std::pair{"quadratic_head", &head}, {"quadratic_tail", &tail}}) {
        if (list->size() != m) {
            r.fail(key, std::string(key) + " has " + std::to_string(list->size()) +
                            " entries, quadratic_biases " + std::to_string(m));
        }
    }
    for (const auto& [key, count] : {std::pair{"num_variables", n}, {"num_interactions", m}}) {
        if (j.contains(key) && r.whole(j[key], key, -1, 0x1p62) != static_cast<int64_t>(count)) {
            r.fail(key, std::string(key) + " is " + printable(j[key].dump(), 24) +
                            ", but the lists hold " + std::to_string(count));
        }
    }

    Problem p;
    p.n = static_cast<uint32_t>(n);
    std::map<std::string, size_t> seen;
    bool numbered = true;
    for (size_t i = 0; i < n; ++i) {
        const auto [at, fresh] = seen.emplace(labels[i].dump(), i);
        if (!fresh) {
            r.fail("variable_labels", "variable_labels[" + std::to_string(i) + "]: the label " +
                                          in_quotes(at->first) + " appears twice (also at [" +
                                          std::to_string(at->second) + "])");
        }
        numbered = numbered && labels[i].is_number_unsigned() &&
                   labels[i].get<uint64_t>() <= static_cast<uint64_t>(INT64_MAX);
    }
    for (size_t i = 0; i < n; ++i) {
        p.labels.push_back(numbered ? labels[i].get<uint64_t>() : i);
        if (!numbered) p.names.push_back(labels[i].dump());
    }

    const double limit = static_cast<double>(kCoeffLimit);
    p.offset = r.whole(r.member("offset"), "offset", -1, kOffsetLimit);
    for (uint32_t i = 0; i < p.n; ++i) {
        const int64_t h = r.whole(linear[i], "linear_biases", i, spin ? limit / 2 : limit);
        if (h == 0) continue;
        p.entries.push_back({i, i, spin ? 2 * h : h});
        p.offset -= spin ? h : 0;
    }
    std::map<std::pair<uint32_t, uint32_t>, size_t> pairs;
    for (size_t k = 0; k < m; ++k) {
        const auto index = [&](const char* key, const json& list) {
            const int64_t v = r.whole(list[k], key, static_cast<int64_t>(k), 0x1p62);
            if (v < 0 || v >= static_cast<int64_t>(n)) {
                r.fail(key, std::string(key) + "[" + std::to_string(k) + "]: index " +
                                std::to_string(v) + " outside 0.." +
                                std::to_string(static_cast<int64_t>(n) - 1));
            }
            return static_cast<uint32_t>(v);
        };
        const uint32_t u = index("quadratic_head", head), v = index("quadratic_tail", tail);
        if (u == v) {
            r.fail("quadratic_head", "interaction " + std::to_string(k) + " joins variable " +
                                         std::to_string(u) + " to itself");
        }
        const auto [at, fresh] = pairs.emplace(std::minmax(u, v), k);
        if (!fresh) {
            r.fail("quadratic_head", "interaction " + std::to_string(u) + " " + std::to_string(v) +
                                         " appears twice (entries " + std::to_string(at->second) +
                                         " and " + std::to_string(k) + ")");
        }
        const int64_t w = r.whole(quadratic[k], "quadratic_biases", static_cast<int64_t>(k),
                                  spin ? limit / 4 : limit);
        if (w == 0) continue;
        if (!spin) {
            p.entries.push_back({u, v, w});
            continue;
        }
        p.entries.push_back({u, v, 4 * w});
        p.entries.push_back({u, u, -2 * w});
        p.entries.push_back({v, v, -2 * w});
        p.offset += w;
    }
    if (std::fabs(static_cast<double>(p.offset)) >= kOffsetLimit) {
        r.fail("offset", "the constant term " + std::to_string(p.offset) + " is out of range");
    }
    return p;
}

void write_bqm(std::ostream& out, const Problem& p, const std::string& path) {
    const Coefficients c = merged(p);
    nlohmann::ordered_json labels = nlohmann::ordered_json::array();
    for (uint32_t i = 0; i < p.n; ++i) {
        if (p.names.size() == p.n) {
            labels.push_back(nlohmann::ordered_json::parse(p.names[i]));
        } else {
            labels.push_back(p.labels.size() == p.n ? p.labels[i] : i);
        }
    }
    std::vector<double> linear, biases;
    std::vector<uint32_t> head, tail;
    for (uint32_t i = 0; i < p.n; ++i) {
        check_writable(path, p, i, i, c.linear[i], 1);
        linear.push_back(static_cast<double>(c.linear[i]));
    }
    for (const Entry& e : c.quadratic) {
        check_writable(path, p, e.i, e.j, e.value, 1);
        head.push_back(e.i);
        tail.push_back(e.j);
        biases.push_back(static_cast<double>(e.value));
    }
    nlohmann::ordered_json j;
    j["type"] = "BinaryQuadraticModel";
    j["version"] = {{"bqm_schema", "3.0.0"}};
    j["use_bytes"] = false;
    j["index_type"] = "int32";
    j["bias_type"] = "float64";
    j["num_variables"] = p.n;
    j["num_interactions"] = c.quadratic.size();
    j["variable_labels"] = labels;
    j["variable_type"] = "BINARY";
    // Exact as a double up to 2^53; larger constants stay integers.
    if (std::fabs(static_cast<double>(p.offset)) < 0x1p53) {
        j["offset"] = static_cast<double>(p.offset);
    } else {
        j["offset"] = p.offset;
    }
    j["info"] = nlohmann::ordered_json::object();
    j["linear_biases"] = linear;
    j["quadratic_biases"] = biases;
    j["quadratic_head"] = head;
    j["quadratic_tail"] = tail;
    out << j.dump() << "\n";
}

}  // namespace dalo_cli
