"""The examples of the C++ front end, rewritten in Python, reach the answers the C++ programs
print."""
import os
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "examples"))
PETERSEN = os.path.join(HERE, "..", "..", "examples", "data", "petersen")

import coloring  # noqa: E402
import knapsack  # noqa: E402
import maxcut  # noqa: E402
import qap  # noqa: E402
import tsp  # noqa: E402


def test_maxcut_finds_the_petersen_optimum_and_checks_it_exhaustively(capsys):
    n, m, counted, optimum, _, agrees = maxcut.solve(PETERSEN, best_known=12, seconds=2.0)
    assert (n, m, counted, optimum, agrees) == (10, 15, 12, 12, True)
    assert maxcut.main(["maxcut", PETERSEN, "12", "2"]) == 0
    out = capsys.readouterr().out.splitlines()
    assert out[0].startswith(f"{PETERSEN}: 10 vertices, 15 edges: cut 12 (best known 12) after ")
    assert out[1] == "exhaustive optimum 12"


def test_maxcut_rejects_a_malformed_graph(tmp_path):
    bad = tmp_path / "bad"
    bad.write_text("3 1\n1 4 1\n")
    with pytest.raises(ValueError, match="over vertices 1..n"):
        maxcut.read_graph(str(bad))


def test_coloring_finds_a_proper_three_colouring():
    energy, colour, ok = coloring.solve()
    assert energy == 0 and ok
    assert sorted(set(colour)) == [0, 1, 2]
    assert all(colour[u] != colour[v] for u, v in coloring.PETERSEN)


def test_coloring_reports_an_improper_two_colouring():
    # The Petersen graph has odd cycles: two colours leave at least one conflict.
    energy, _, ok = coloring.solve(k=2, seconds=0.2)
    assert energy > 0 and not ok


def test_knapsack_reaches_the_exhaustive_optimum(capsys):
    packed, weight, value, best, ok = knapsack.solve()
    assert (value, best, ok) == (39, 39, True) and weight <= knapsack.LIMIT
    assert knapsack.main() == 0
    assert capsys.readouterr().out.endswith("value 39 (best possible 39) optimal\n")


def test_qap_reaches_the_optimum_over_all_permutations(capsys):
    where, cost, best, ok = qap.solve()
    assert (cost, best, ok) == (50, 50, True)
    assert sorted(where) == list(range(5))
    assert qap.main() == 0
    assert capsys.readouterr().out.endswith(", cost 50 (optimum 50) optimal\n")


def test_tsp_reaches_the_shortest_tour(capsys):
    tour, cost, best, ok = tsp.solve()
    assert ok and cost == best == tsp.exhaustive_best() and sorted(tour) == list(range(7))
    assert tsp.main() == 0
    assert capsys.readouterr().out.endswith(f"length {best} (optimum {best}) optimal\n")
