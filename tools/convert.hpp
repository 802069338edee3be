// `dalo convert`: a problem read in one format and written in another.
#pragma once

#include <cstdint>
#include <string>

namespace dalo_cli {

// Reads in (format in_format, "" = guess; instance for BQP) and writes out in out_format
// ("" = from out's extension: .lp/.mps go through write_mip). Throws ReadError / MipError.
// A constant term that the output format cannot hold is left out, with a note on standard
// error.
void convert(const std::string& in, const std::string& in_format, uint32_t instance,
             const std::string& out, const std::string& out_format, bool linearize);

}  // namespace dalo_cli
