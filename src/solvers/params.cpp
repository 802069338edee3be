#include "solvers/params.hpp"

#include <stdexcept>

namespace dalo {

ParamList::ParamList(const dalo_plugin_pair* params) {
    if (params == nullptr) return;
    for (const dalo_plugin_pair* p = params; p->key != nullptr; ++p) {
        items_.emplace_back(p->key, p->value != nullptr ? p->value : "");
    }
}

bool ParamList::has(const std::string& key) const { return find(key) != nullptr; }

const std::string* ParamList::find(const std::string& key) const {
    for (const auto& [k, v] : items_) {
        if (k == key) return &v;
    }
    return nullptr;
}

const dalo_plugin_pair* ParamList::pairs() {
    view_.clear();
    for (const auto& [k, v] : items_) view_.push_back({k.c_str(), v.c_str()});
    view_.push_back({nullptr, nullptr});
    return view_.data();
}

int64_t parse_param_int(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i >= text.size() || text[i] < '0' || text[i] > '9') {
        throw std::runtime_error("dalo::_from_string: invalid integer '" + text + "'");
    }
    uint64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    return negative ? static_cast<int64_t>(0 - value) : static_cast<int64_t>(value);
}

uint64_t parse_param_uint(const std::string& text) {
    uint64_t value = 0;
    for (size_t i = 0; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    return value;
}

}  // namespace dalo
