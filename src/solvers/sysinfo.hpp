// Short descriptions of the library and the machine it runs on.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace dalo {

// Answer of dalo_const_str for a key ("Invalid string parameter" for null or unknown keys).
std::string const_string(const char* key);

std::string os_string();
std::string cpu_summary();
std::string gpu_summary();
std::string ram_string();

// Appends ("os", ...), ("cpu", ...), ("gpu", ...), ("ram", ...) in that order.
void append_system_info(std::vector<std::pair<std::string, std::string>>& info);

}  // namespace dalo
