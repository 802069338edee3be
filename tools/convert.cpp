#include "convert.hpp"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "assignment.hpp"
#include "mip.hpp"
#include "readers.hpp"

namespace dalo_cli {

void convert(const std::string& in, const std::string& in_format, uint32_t instance,
             const std::string& out, const std::string& out_format, bool linearize) {
    const std::string choices = format_names(", ", ", ") + ", lp or mps";
    std::string name = out_format;
    if (name.empty()) {
        const size_t slash = out.rfind('/');
        const size_t dot = out.rfind('.');
        const std::string ext =
            dot == std::string::npos || (slash != std::string::npos && dot < slash)
                ? ""
                : out.substr(dot);
        const FileFormat* by_ext = format_for_extension(ext);
        if (by_ext != nullptr) {
            name = by_ext->name;
        } else if (ext == ".lp" || ext == ".mps") {
            name = ext.substr(1);
        } else {
            throw ReadError{out + ": cannot tell the format from the name (use --to " +
                            format_names("|", "|") + "|lp|mps)"};
        }
    }
    const FileFormat* format = format_named(name);
    if (format == nullptr && name != "lp" && name != "mps") {
        throw ReadError{"unknown output format '" + name + "' (" + choices + ")"};
    }
    // Read before anything is written, so that a failed read leaves OUT as it was.
    if (const std::string kind = assignment_format(in, in_format); !kind.empty()) {
        if (format != nullptr)
            throw ReadError{in + ": a " + kind + " file converts to lp or mps only"};
        write_mip(mip_model(read_assignment(in, kind)).simplify_as_binary(), out, name, linearize,
                  in);
        return;
    }
    const Problem p = read_problem(in, in_format, instance);
    if (format == nullptr) {
        write_mip(p, out, name, linearize, in);
        return;
    }
    std::ostringstream text;
    format->write(text, p, out);
    struct stat st {};
    if (::stat(out.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        throw ReadError{out + ": is a directory"};
    }
    std::ofstream file(out, std::ios::binary);
    file << text.str();
    file.close();
    if (!file) throw ReadError{out + ": cannot write the file"};
    if (p.offset != 0 && name != "bqm") {
        std::fprintf(stderr,
                     "dalo: note: %s: the %s format has no constant term; the offset %lld "
                     "is left out\n",
                     out.c_str(), name.c_str(), static_cast<long long>(p.offset));
    }
}

}  // namespace dalo_cli
