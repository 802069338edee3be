// Text forms of variables, terms and expressions, and the per-thread buffers they live in.
#pragma once

#include <string>

#include "core/expr.hpp"

namespace dalo {

// One string per thread and kind of text; expression and expression-array texts share one.
struct TextBuffers {
    std::string var;
    std::string auto_name;
    std::string term;
    std::string expr;
    std::string array_var;
    std::string array_int;
    std::string array_term;
};
TextBuffers& text_buffers();

// Display name of any identifier: a registry string, or `scratch` for array elements.
const char* var_display(Var id, std::string& scratch);

void append_var_name(std::string& out, Var id);
void append_term(std::string& out, const TermImpl& t);
void append_expr(std::string& out, const ExprImpl& e);

}  // namespace dalo
