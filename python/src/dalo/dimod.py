"""dalo's solvers as dimod samplers, and conversions between dimod's models and dalo's.

A dimod user switches with one line:

    sampleset = dalo.dimod.BriskSampler().sample(bqm, time_limit=1.0)

The SampleSet is in the BQM's own labels and vartype, and its energies are bqm.energies of its
samples, whatever rounding the conversion needed.

Biases become 32-bit integer coefficients. Integer-valued biases that fit convert exactly
(scale 1). Any other BQM is multiplied by scale and rounded: give scale= yourself, or let the
conversion pick the power of two that brings the largest coefficient of the binary form to
between 2**29 and 2**30; the SampleSet's info then gives "scale" and "relative_precision", the
largest rounding error over the largest coefficient. A bias that does not fit in 32 bits
after scaling raises ValueError naming its variable or pair.
"""
import math

import dimod
import numpy as np

from . import _core

__all__ = ["BriskSampler", "KelpSampler", "SweepSampler", "VariableMap", "from_bqm",
           "from_cqm", "to_bqm"]

_INT32 = 2**31 - 1


class VariableMap:
    """How a BQM's variables sit in a Model: labels[k] is the variable vars[k].

    The Model holds scale * (E - offset) for the binary form's energy E; offset is kept here
    because the Model has no constant of its own. vartype is the BQM's vartype."""

    def __init__(self, labels, vars, scale, offset, vartype):
        self.labels, self.vars, self.scale, self.offset, self.vartype = (
            labels, vars, scale, offset, vartype)
        self._index = None

    def __len__(self):
        return len(self.labels)

    def __iter__(self):
        return iter(self.labels)

    def __contains__(self, label):
        return label in self.index

    def __getitem__(self, label):
        return self.vars[self.index[label]]

    @property
    def index(self):
        """Label -> position in vars."""
        if self._index is None:
            self._index = {v: k for k, v in enumerate(self.labels)}
        return self._index

    def __repr__(self):
        return f"VariableMap({len(self)} variables, scale={self.scale}, offset={self.offset})"


_pool = [None]


def _variables(n, fresh):
    # Samplers reuse one block of variables; from_bqm hands out new ones.
    if fresh:
        return _core.var("bqm", shape=(n,))
    if _pool[0] is None or _pool[0].size < n:
        _pool[0] = _core.var("bqm", shape=(max(n, 64),))
    return _pool[0].slice((0,), (n,))


def _binary_vectors(bqm):
    # In the BQM's own variable order, which the VariableMap keeps; without it dimod sorts
    # sortable labels.
    lin, (irow, icol, quad), offset = bqm.to_numpy_vectors(variable_order=list(bqm.variables))
    lin = np.asarray(lin, dtype=np.float64)
    quad = np.asarray(quad, dtype=np.float64)
    offset = float(offset)
    if bqm.vartype is dimod.SPIN:
        # s = 2x - 1: h s = 2h x - h and J s t = 4J x y - 2J x - 2J y + J.
        n = len(lin)
        field = np.bincount(irow, quad, n) + np.bincount(icol, quad, n) if len(quad) else 0
        offset += float(quad.sum()) - float(lin.sum())
        lin = 2 * lin - 2 * field
        quad = 4 * quad
    return (np.ascontiguousarray(lin), np.ascontiguousarray(irow, dtype=np.int32),
            np.ascontiguousarray(icol, dtype=np.int32), np.ascontiguousarray(quad), offset)


def _namer(labels, irow, icol):
    def name(kind, k):
        if kind == "linear":
            return f"variable {labels[k]!r}"
        return f"pair ({labels[int(irow[k])]!r}, {labels[int(icol[k])]!r})"
    return name


def _convert(bqm, scale=None, fresh=True):
    lin, irow, icol, quad, offset = _binary_vectors(bqm)
    name = _namer(bqm.variables, irow, icol)
    if scale is not None and not (float(scale) > 0 and math.isfinite(float(scale))):
        raise ValueError("dalo.from_bqm: scale must be a positive finite number")
    x = _variables(len(lin), fresh)
    if len(lin) == 0:
        model, scale, top, exact = _core.Model(_core.Expr()), 1.0, 0.0, True
    else:
        model, scale, top, exact, status, kind, at = _core._bqm_model(
            x, lin, irow, icol, quad, None if scale is None else float(scale))
        if status:
            what = name("linear" if kind == 0 else "quadratic", at)
            problem = ("is not finite" if status == 1
                       else f"does not fit in 32 bits at scale {scale}")
            raise ValueError(f"dalo.from_bqm: the bias of {what} {problem}")
    variables = VariableMap(list(bqm.variables), x, scale, offset, bqm.vartype)
    return model, variables, 0.0 if exact else 0.5 / (top * scale)


def from_bqm(bqm, scale=None):
    """(Model, VariableMap) of a dimod BinaryQuadraticModel, over new binary variables.

    A SPIN BQM becomes its binary form (s = 2x - 1). See the module text for the scale."""
    model, variables, _ = _convert(bqm, scale)
    return model, variables


def to_bqm(model, variables=None):
    """The BinaryQuadraticModel of a quadratic Model without integer atoms.

    With the VariableMap of from_bqm, the labels, vartype, scale and offset are the BQM's
    again; without it the labels are the variables' names, the vartype BINARY and the scale 1.
    """
    vars, degrees = _core._model_terms(model)
    if len(degrees) > 2:
        raise ValueError("dalo.to_bqm: the Model has terms of degree above 2")
    if model.int_var_count or model.native_cons_count:
        raise ValueError("dalo.to_bqm: the Model has integer variables or declared constraints")
    if variables is None:
        labels = [v.name for v in vars]
        scale, offset = 1.0, 0.0
    else:
        where = {variables.vars[k].id: k for k in range(variables.vars.size)}
        labels = [variables.labels[where[v.id]] for v in vars]
        scale, offset = variables.scale, variables.offset
    n = len(vars)
    lin = np.zeros(n)
    irow = icol = np.zeros(0, dtype=np.int64)
    quad = np.zeros(0)
    constant = float(model.constant)
    if len(degrees) >= 1:
        words, coeffs = degrees[0][0], degrees[0][1].astype(np.int64)
        neg = (words & 0x80000000) != 0
        np.add.at(lin, words & 0x3FFFFFFF, np.where(neg, -coeffs, coeffs))
        constant += float(coeffs[neg].sum())
    if len(degrees) == 2:
        words, coeffs = degrees[1]
        coeffs = coeffs.astype(np.int64)
        if ((words & 0x80000000) != 0).any():
            raise ValueError("dalo.to_bqm: negated literals in pairs are not supported")
        irow, icol, quad = words[0::2].astype(np.int64), words[1::2].astype(np.int64), coeffs
    bqm = dimod.BinaryQuadraticModel.from_numpy_vectors(
        lin / scale, (irow, icol, quad / scale), constant / scale + offset, dimod.BINARY,
        variable_order=labels)
    if variables is not None:
        for label in variables.labels:
            if label not in bqm.variables:
                bqm.add_variable(label)
        bqm.change_vartype(variables.vartype, inplace=True)
    return bqm


def from_cqm(cqm, weight=None):
    """(Expr, VariableMap) of a dimod ConstrainedQuadraticModel over binary and spin
    variables: its objective plus its constraints declared (linear equalities and
    inequalities, discrete one-hot groups), ready for simplify_as_binary() and Model.

    Constraint coefficients and right-hand sides must be integers after multiplying by a
    power of ten up to 10**6 (per constraint). The objective follows the BQM scale rule, with
    2**20 in place of 2**30 to leave room for the weights.
    weight multiplies every constraint's penalty; by default it is one more than the largest
    change a single flip can make to the scaled objective, so no violation pays."""
    labels = list(cqm.variables)
    for v in labels:
        if cqm.vartype(v) not in (dimod.BINARY, dimod.SPIN):
            raise ValueError(f"dalo.from_cqm: variable {v!r} is {cqm.vartype(v).name}; "
                             "only BINARY and SPIN variables convert")
    x = _variables(len(labels), True)
    index = {v: k for k, v in enumerate(labels)}
    # Each variable as a binary expression: x, or 2x - 1 for a spin.
    binary = [x[k] if cqm.vartype(v) is dimod.BINARY else 2 * x[k] - 1
              for k, v in enumerate(labels)]
    objective = cqm.objective
    lin = np.array([objective.linear.get(v, 0.0) for v in labels], dtype=np.float64)
    pairs = list(objective.iter_quadratic())
    quad = np.array([b for _, _, b in pairs], dtype=np.float64)
    scale = _objective_scale(np.concatenate([lin, quad]))
    f = _core.Expr()
    reach = np.zeros(len(labels))
    for k, b in enumerate(lin):
        c = _fit(b * scale, labels[k])
        if c:
            f += c * binary[k]
            reach[k] += abs(c) * (1 if cqm.vartype(labels[k]) is dimod.BINARY else 2)
    for (u, v, b) in pairs:
        c = _fit(b * scale, (u, v))
        if c:
            f += c * binary[index[u]] * binary[index[v]]
            spread = 4 if dimod.SPIN in (cqm.vartype(u), cqm.vartype(v)) else 1
            reach[index[u]] += abs(c) * spread
            reach[index[v]] += abs(c) * spread
    if weight is None:
        weight = int(reach.max(initial=0)) + 1
    for name, constraint in cqm.constraints.items():
        f += weight * _declared(constraint, binary, index, name)
    return f, VariableMap(labels, x, scale, float(objective.offset), None)


def _objective_scale(values):
    # The BQM rule with room for the constraint weights: 1 for integers that fit, else the
    # power of two that brings the largest magnitude to between 2**19 and 2**20.
    if not np.isfinite(values).all():
        raise ValueError("dalo.from_cqm: the objective has a bias that is not finite")
    top = float(np.abs(values).max(initial=0))
    if top <= _INT32 and (values == np.rint(values)).all():
        return 1.0
    return 2.0 ** math.floor(math.log2(2**20 / top))


def _fit(value, where):
    c = round(value)
    if abs(c) > _INT32:
        raise ValueError(f"dalo.from_cqm: the bias of {where!r} does not fit in 32 bits")
    return int(c)


def _declared(constraint, binary, index, name):
    lhs = constraint.lhs
    if getattr(lhs, "num_interactions", 0):
        raise ValueError(f"dalo.from_cqm: constraint {name!r} is quadratic; only linear "
                         "constraints convert")
    terms = [(v, float(b)) for v, b in lhs.linear.items()]
    rhs = float(constraint.rhs) - float(lhs.offset)
    values = [b for _, b in terms] + [rhs]
    for power in range(7):
        factor = 10**power
        if all(abs(b * factor - round(b * factor)) <= 1e-9 * max(1.0, abs(b * factor))
               for b in values):
            break
    else:
        raise ValueError(f"dalo.from_cqm: constraint {name!r} has coefficients that are not "
                         "integers after scaling by 10**6")
    body = _core.Expr()
    for v, b in terms:
        c = _fit(b * factor, (name, v))
        if c:
            body += c * binary[index[v]]
    k = int(round(rhs * factor))
    sense = constraint.sense.value if hasattr(constraint.sense, "value") else str(constraint.sense)
    if sense == "==":
        return _cons(body, k, k)
    if sense == "<=":
        return _cons(body, min(body.neg_sum(), k), k)
    return _cons(body, k, max(body.pos_sum(), k))


def _cons(body, lo, hi):
    from . import cons
    return cons(body, lo, hi)


class _Sampler(dimod.Sampler):
    """A dalo solver behind dimod's Sampler interface."""

    _solver = None
    _search = ("time_limit", "seed", "threads")

    def __init__(self, **defaults):
        unknown = set(defaults) - set(self.parameters)
        if unknown:
            raise TypeError(f"{type(self).__name__}: unknown parameters {sorted(unknown)}")
        self.defaults = defaults

    @property
    def parameters(self):
        return {name: [] for name in self._search + ("num_reads", "target", "scale")}

    @property
    def properties(self):
        return {"solver": self._solver.__name__, "defaults": dict(self.defaults)}

    def _options(self, params, scale, offset):
        options = {k: params[k] for k in self._search if params.get(k) is not None}
        if params.get("num_reads") is not None:
            if int(params["num_reads"]) < 1:
                raise ValueError(f"{type(self).__name__}: num_reads must be >= 1")
            options["topk"] = int(params["num_reads"])
        if params.get("target") is not None:
            # The Model's integer energy reached when the BQM's energy is at most target.
            options["target"] = math.floor(scale * (float(params["target"]) - offset) + 1e-9)
        return options

    def _run(self, model, options):
        return self._solver(model).search(**options)

    def _samples(self, model, x, options):
        """Rows of 0/1 values over x (best first) and the search's information."""
        if model.var_count == 0:
            return np.zeros((1, x.size), dtype=np.int8), {}
        result = self._run(model, options)
        sols = [s for _, s in result.topk] if result.topk else [result.sol]
        rows = np.array([s.values(x) for s in sols], dtype=np.int8).reshape(len(sols), x.size)
        info = dict(result.info)
        info["tts"] = result.tts
        return rows, info

    def sample(self, bqm, **parameters):
        """A SampleSet of bqm: the best sample, or the num_reads best ones, with energies
        bqm.energies of them. time_limit in seconds, target in the BQM's energy."""
        # As dimod's samplers do, unknown parameters are dropped with a warning.
        params = {**self.defaults, **self.remove_unknown_kwargs(**parameters)}
        model, variables, precision = _convert(bqm, params.get("scale"), fresh=False)
        rows, info = self._samples(model, variables.vars,
                                   self._options(params, variables.scale, variables.offset))
        info["scale"] = variables.scale
        info["relative_precision"] = precision
        if bqm.vartype is dimod.SPIN:
            rows = 2 * rows - 1
        return dimod.SampleSet.from_samples_bqm((rows, variables.labels), bqm, info=info)

    def sample_cqm(self, cqm, weight=None, **parameters):
        """A SampleSet of cqm with energies of its objective and the fields is_satisfied
        (per constraint) and is_feasible, as dimod computes them for the samples."""
        params = {**self.defaults, **self.remove_unknown_kwargs(**parameters)}
        f, variables = from_cqm(cqm, weight)
        model = _core.Model(f.simplify_as_binary())
        options = self._options(params, variables.scale, variables.offset)
        rows, info = self._samples(model, variables.vars, options)
        spins = [k for k, v in enumerate(variables.labels) if cqm.vartype(v) is dimod.SPIN]
        rows = rows.astype(np.int64)
        rows[:, spins] = 2 * rows[:, spins] - 1
        info["scale"] = variables.scale
        return dimod.SampleSet.from_samples_cqm((rows, variables.labels), cqm, info=info)


class BriskSampler(_Sampler):
    """dalo.BriskSolver as a dimod sampler: time_limit (s), seed, threads, num_reads (the
    size of the top-k list), target (stop at this BQM energy), scale."""
    _solver = _core.BriskSolver


class KelpSampler(_Sampler):
    """dalo.KelpSolver as a dimod sampler, parameters as BriskSampler's and gpu_mode."""
    _solver = _core.KelpSolver
    _search = ("time_limit", "seed", "threads", "gpu_mode")

    def _run(self, model, options):
        mode = options.pop("gpu_mode", 0)
        return self._solver(model, int(mode)).search(**options)


class SweepSampler(_Sampler):
    """dalo.SweepSolver (exhaustive, up to 48 variables) as a dimod sampler: time_limit,
    threads, num_reads, target, scale."""
    _solver = _core.SweepSolver
    _search = ("time_limit", "threads")
