// Short descriptions of the library and the machine it runs on.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dalo {

// Answer of dalo_const_str for a key ("Invalid string parameter" for null or unknown keys).
std::string const_string(const char* key);

// Machine strings, probed once per process.
std::string os_string();
std::string cpu_summary();
std::string gpu_summary();
std::string ram_string();
std::string cpu_name();

// Probed on every call: both may change while the process runs.
std::string host_name();
long online_processors();

// Appends ("os", ...), ("cpu", ...), ("gpu", ...), ("ram", ...) in that order.
void append_system_info(std::vector<std::pair<std::string, std::string>>& info);

// ---- the pieces behind the probes, on fixed inputs ----

// `s` without blanks, tabs, carriage returns and newlines at either end.
std::string_view trim_blanks(std::string_view s);

// Processor name for an implementer/part pair of the ARM-style identification registers;
// null when the pair is not listed.
const char* processor_table_name(unsigned long implementer, unsigned long part);

// Processor name from /proc/cpuinfo text: the first name line, else the table entry of the
// implementer and part numbers seen before it; empty when neither gives a name.
std::string cpuinfo_name(std::string_view text);

// Largest "cpu MHz" value of /proc/cpuinfo text in GHz; none unless positive.
std::optional<double> cpuinfo_max_ghz(std::string_view text);

// Distinct ("physical id", "core id") pairs of /proc/cpuinfo text; none when there are none.
std::optional<long> cpuinfo_core_count(std::string_view text);

// Operating-system string from /etc/os-release text, and from a file ("Linux" if unreadable).
std::string os_release_string(std::string_view text);
std::string os_string_from_file(const char* path);

// "name  (max X.XX GHz, N cores, T threads)"; unknown parts read "(unknown)" and the thread
// part is left out unless `threads` is positive.
std::string format_cpu_summary(std::string_view name, std::optional<double> max_ghz,
                               std::optional<long> cores, long threads);

// One name per device: "A x2, B x1" in ascending name order, "(none)" when empty.
std::string format_gpu_summary(std::vector<std::string> device_names);

// Bytes as "N.NNN GiB"; "(unknown)" for 0.
std::string format_ram(unsigned long long bytes);

}  // namespace dalo
