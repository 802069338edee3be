// Search parameters as (key, value) string pairs ended by a null key.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "dalo_plugin.h"

namespace dalo {

// An owned copy of a parameter array; pairs() gives the plug-in layout (null-key ended).
class ParamList {
  public:
    ParamList() = default;
    explicit ParamList(const dalo_plugin_pair* params);  // null: no pairs

    bool has(const std::string& key) const;
    const std::string* find(const std::string& key) const;
    void add(std::string key, std::string value) {
        items_.emplace_back(std::move(key), std::move(value));
    }
    const std::vector<std::pair<std::string, std::string>>& items() const { return items_; }
    std::vector<std::pair<std::string, std::string>>& items() { return items_; }
    // Pointers into this list, valid while it is not changed.
    const dalo_plugin_pair* pairs();

  private:
    std::vector<std::pair<std::string, std::string>> items_;
    std::vector<dalo_plugin_pair> view_;
};

// The integer parser of search parameters: blanks and tabs, an optional sign, at least one
// digit; stops at the first non-digit. Throws std::runtime_error
// "dalo::_from_string: invalid integer '<text>'" otherwise.
int64_t parse_param_int(const std::string& text);
// Unsigned decimal (leading digits; 0 when there are none).
uint64_t parse_param_uint(const std::string& text);

}  // namespace dalo
