"""dalo.dimod: the samplers against dimod's own conformance checks and exhaustive answers,
the conversions both ways, the scale rule and CQM feasibility against brute force."""
import itertools
import os
import unittest

import numpy as np
import pytest

dimod = pytest.importorskip("dimod")
import dalo  # noqa: E402
from dalo.dimod import BriskSampler, KelpSampler, SweepSampler  # noqa: E402

HAS_KELP = os.path.exists(os.path.join(os.path.dirname(dalo.__file__), "kelp_c32e64.so"))


def brisk():
    return BriskSampler(time_limit=0.02, seed=1)


def sweep():
    return SweepSampler()


def kelp():
    return KelpSampler(time_limit=0.02, seed=1)


@dimod.testing.load_sampler_bqm_tests(brisk)
@dimod.testing.load_sampler_bqm_tests(sweep)
class TestConformance(unittest.TestCase):
    pass


if HAS_KELP:
    TestConformance = dimod.testing.load_sampler_bqm_tests(kelp)(TestConformance)


def random_bqm(n, vartype, labels, real, seed):
    rng = np.random.default_rng(seed)
    names = {"str": [f"v{k}" for k in range(n)], "tuple": [("t", k) for k in range(n)],
             "mixed": [k if k % 2 else (str(k), k) for k in range(n)]}[labels]
    # Non-zero biases: a Model keeps no zero terms, so round trips compare equal.
    draw = (lambda: float(rng.normal(0, 3))) if real else (
        lambda: int(rng.choice([-1, 1]) * rng.integers(1, 10)))
    bqm = dimod.BinaryQuadraticModel(vartype)
    for name in names:
        bqm.add_variable(name, draw())
    for u, v in itertools.combinations(names, 2):
        if rng.random() < 0.6:
            bqm.add_interaction(u, v, draw())
    bqm.offset = draw()
    return bqm


def exact_minimum(bqm):
    return dimod.ExactSolver().sample(bqm).first.energy


@pytest.mark.parametrize("vartype", ["BINARY", "SPIN"])
@pytest.mark.parametrize("labels", ["str", "tuple", "mixed"])
@pytest.mark.parametrize("real", [False, True], ids=["integer", "real"])
def test_samplesets_carry_the_bqm_energies_and_reach_the_exact_minimum(vartype, labels, real):
    bqm = random_bqm(9, vartype, labels, real, seed=len(labels) + 10 * real)
    best = exact_minimum(bqm)
    runs = [(SweepSampler(), {}), (BriskSampler(), {"time_limit": 0.05, "seed": 2})]
    if HAS_KELP:
        runs.append((KelpSampler(), {"time_limit": 0.05, "seed": 2}))
    for sampler, params in runs:
        ss = sampler.sample(bqm, num_reads=4, **params)
        dimod.testing.assert_sampleset_energies(ss, bqm)
        assert ss.vartype is bqm.vartype and set(ss.variables) == set(bqm.variables)
        assert len(ss) == 4 and list(ss.record.energy) == sorted(ss.record.energy)
        assert ss.first.energy == pytest.approx(best, abs=1e-6)
        assert np.log2(ss.info["scale"]).is_integer() and (ss.info["scale"] == 1) == (not real)
        assert (ss.info["relative_precision"] == 0) == (not real)


@pytest.mark.parametrize("vartype", ["BINARY", "SPIN"])
def test_round_trips_and_the_model_energies(vartype):
    bqm = random_bqm(7, vartype, "mixed", False, seed=3)
    model, variables = dalo.from_bqm(bqm)
    assert dalo.to_bqm(model, variables) == bqm
    # The Model holds scale * (E - offset) for the binary form's energy E.
    binary = bqm.change_vartype("BINARY", inplace=False)
    for bits in itertools.product((0, 1), repeat=len(bqm)):
        sol = dalo.Sol(model)
        for label, b in zip(variables.labels, bits):
            if sol.has(variables[label]):
                sol[variables[label]] = b
        assert sol.comp_energy() == binary.energy(dict(zip(variables.labels, bits))) \
            - variables.offset
    # A sparse BQM takes the entries path; the round trip is as exact.
    sparse = dimod.BinaryQuadraticModel({k: k - 20 for k in range(40)},
                                        {(k, (7 * k + 3) % 40): k % 5 - 2 for k in range(40)
                                         if (7 * k + 3) % 40 != k and k % 5 != 2}, 1.5, vartype)
    assert dalo.to_bqm(*dalo.from_bqm(sparse)) == sparse
    real = random_bqm(6, vartype, "str", True, seed=4)
    model, variables = dalo.from_bqm(real)
    back = dalo.to_bqm(model, variables)
    assert back.vartype is real.vartype and set(back.variables) == set(real.variables)
    lin, (_, _, quad), _ = real.change_vartype("BINARY", inplace=False).to_numpy_vectors()
    top = max(np.abs(lin).max(), np.abs(quad).max())
    assert np.log2(variables.scale).is_integer() and 2**29 < top * variables.scale <= 2**30
    for v in real.variables:
        assert back.get_linear(v) == pytest.approx(real.get_linear(v), abs=4 / variables.scale)


def test_the_scale_rule_and_biases_that_do_not_fit():
    big = dimod.BQM({"a": 3e9, "b": 1}, {("a", "b"): 2}, 0, "BINARY")
    _, variables = dalo.from_bqm(big)
    assert variables.scale == 0.25
    with pytest.raises(ValueError, match=r"^dalo.from_bqm: the bias of variable 'a' does not fit "
                                         r"in 32 bits at scale 1.0$"):
        dalo.from_bqm(big, scale=1)
    pair = dimod.BQM({"a": 1}, {("a", ("b", 2)): 2**31}, 0, "BINARY")
    with pytest.raises(ValueError, match=r"pair \(.*'a'.*\) does not fit"):
        dalo.from_bqm(pair, scale=1)
    with pytest.raises(ValueError, match=r"^dalo.from_bqm: the bias of variable 'b' is not "
                                         r"finite$"):
        dalo.from_bqm(dimod.BQM({"a": 1, "b": float("nan")}, {}, 0, "BINARY"))
    model, variables = dalo.from_bqm(dimod.BQM({"a": 0.5, "b": -0.25}, {}, 0, "BINARY"), scale=8)
    assert dalo.to_bqm(model, variables) == dimod.BQM({"a": 0.5, "b": -0.25}, {}, 0, "BINARY")
    with pytest.warns(dimod.exceptions.SamplerUnknownArgWarning):
        ss = BriskSampler().sample(big, time_limit=0.02, target=-1e12, beta_range=(0, 1))
    # At scale 1/4 the small biases round away; a = 0 is what the search can still see.
    assert ss.first.sample["a"] == 0 and ss.info["scale"] == 0.25


def brute_force_cqm(cqm):
    labels = list(cqm.variables)
    values = [(-1, 1) if cqm.vartype(v) is dimod.SPIN else (0, 1) for v in labels]
    best = None
    for assignment in itertools.product(*values):
        sample = dict(zip(labels, assignment))
        if cqm.check_feasible(sample):
            energy = cqm.objective.energy(sample)
            best = energy if best is None else min(best, energy)
    return best


def small_cqm(seed):
    rng = np.random.default_rng(seed)
    cqm = dimod.ConstrainedQuadraticModel()
    x = [dimod.Binary(f"x{k}") for k in range(6)]
    s = [dimod.Spin(("s", k)) for k in range(2)]
    terms = [int(rng.integers(-5, 6)) * v for v in x + s]
    pairs = [int(rng.integers(-5, 6)) * u * v for u, v in itertools.combinations(x[:4] + s, 2)]
    real = 1 if seed < 2 else 0.37  # the last one scaled
    cqm.set_objective(real * (sum(terms) + sum(pairs)) + 1.5)
    cqm.add_constraint(x[0] + x[1] + x[2] == 2, label="two")
    cqm.add_constraint(2 * x[3] - x[4] + s[0] <= 1, label="le")
    cqm.add_constraint(0.5 * x[0] + 0.5 * x[5] >= 0.5, label="ge")
    cqm.add_discrete([f"x{k}" for k in (3, 4, 5)], label="onehot")
    return cqm


@pytest.mark.parametrize("seed", [0, 1, 2])
def test_cqm_samples_are_the_feasible_optimum_with_dimod_feasibility(seed):
    cqm = small_cqm(seed)
    best = brute_force_cqm(cqm)
    for sampler in [SweepSampler(), BriskSampler(time_limit=0.1, seed=1)]:
        ss = sampler.sample_cqm(cqm, num_reads=5)
        assert set(ss.record.dtype.names) >= {"is_satisfied", "is_feasible"}
        for sample, feasible in zip(ss.samples(), ss.record.is_feasible):
            assert feasible == cqm.check_feasible(sample)
        first = ss.filter(lambda d: d.is_feasible).first
        assert first.energy == pytest.approx(best)
        assert ss.record.is_satisfied.shape == (len(ss), len(cqm.constraints))


def test_cqm_refusals():
    cqm = dimod.ConstrainedQuadraticModel()
    cqm.set_objective(dimod.Integer("i", upper_bound=3))
    with pytest.raises(ValueError, match="variable 'i' is INTEGER"):
        dalo.from_cqm(cqm)
    cqm = dimod.ConstrainedQuadraticModel()
    a, b = dimod.Binary("a"), dimod.Binary("b")
    cqm.set_objective(a + b)
    cqm.add_constraint(a * b <= 0, label="q")
    with pytest.raises(ValueError, match="constraint 'q' is quadratic"):
        dalo.from_cqm(cqm)
    cqm = dimod.ConstrainedQuadraticModel()
    cqm.set_objective(a)
    cqm.add_constraint(a / 3 + b <= 1, label="third")
    with pytest.raises(ValueError, match="constraint 'third' has coefficients"):
        dalo.from_cqm(cqm)
