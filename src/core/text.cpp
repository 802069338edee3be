#include "core/text.hpp"

#include <charconv>

#include "core/var_registry.hpp"

namespace dalo {

namespace {

template <class Int>
void append_int(std::string& out, Int v) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, res.ptr);
}

}  // namespace

TextBuffers& text_buffers() {
    thread_local TextBuffers buffers;
    return buffers;
}

const char* var_display(Var id, std::string& scratch) {
    if (is_int_atom(id)) return int_var_registry().display_name(id, scratch);
    return var_registry().display_name(id, scratch);
}

void append_var_name(std::string& out, Var id) {
    thread_local std::string scratch;
    out.append(var_display(id, scratch));
}

void append_term(std::string& out, const TermImpl& t) {
    uint32_t d = degree(t);
    if (d == 0) {
        append_int(out, t.coeff);
        return;
    }
    if (t.coeff == -1) {
        out.push_back('-');
    } else if (t.coeff != 1) {
        append_int(out, t.coeff);
        out.push_back('*');
    }
    for (uint32_t i = 0; i < d; ++i) {
        if (i > 0 && (out.empty() || out.back() != '-')) out.push_back('*');
        append_var_name(out, var_at(t.vars, i));
    }
}

void append_expr(std::string& out, const ExprImpl& e) {
    bool first = true;
    if (e.constant != 0) {
        append_int(out, e.constant);
        first = false;
    }
    e.for_each_term([&](const TermImpl& t) {
        if (!first) out.append(t.coeff < 0 ? " " : " +");
        append_term(out, t);
        first = false;
    });
    if (first) out.push_back('0');
}

}  // namespace dalo
