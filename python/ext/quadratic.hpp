// Bindings kept beside the rest of the module: dalo.quadratic and dalo.quadratic_model, and
// the array side of the dimod conversions.
#pragma once

#include <nanobind/nanobind.h>

void bind_quadratic(nanobind::module_& m);
void bind_bqm(nanobind::module_& m);
