// dalo.quadratic and dalo.quadratic_model, bound beside the rest of the module.
#pragma once

#include <nanobind/nanobind.h>

void bind_quadratic(nanobind::module_& m);
