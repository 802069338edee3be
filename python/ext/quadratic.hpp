// Bindings kept beside the rest of the module: dalo.quadratic and dalo.quadratic_model, the
// array side of the dimod conversions, and what travels between processes.
#pragma once

#include <nanobind/nanobind.h>

#include "dalo.hpp"

void bind_quadratic(nanobind::module_& m);
void bind_bqm(nanobind::module_& m);
// dalo._core._read_problem: the command line's readers.
void bind_readers(nanobind::module_& m);
// Model.to_bytes, from_bytes and pickling; Sol.bits, set_bits, int_values, set_int_values.
void bind_transport(nanobind::class_<dalo::Model>& model, nanobind::class_<dalo::Sol>& sol);
