"""bench/flock_measure: its measures on made-up samples, and one short run
against worldsim and Skyflit that checks only the shape of its JSON.

Runs under unittest or pytest: flock_measure_test.py [CASE ...] runs the
named classes (all without any). FLOCK_MEASURE_BUILD names the build folder
with bin/worldsim and bin/skyflit (default the tree's build/); without them
Smoke is skipped, and exits 77 when it is all that was asked for.
"""

import importlib.machinery
import importlib.util
import json
import math
import os
import subprocess
import sys
import unittest

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
TOOL = os.path.join(SOURCE, "bench", "flock_measure")
BUILD = os.environ.get("FLOCK_MEASURE_BUILD", os.path.join(SOURCE, "build"))
SKIPPED = 77


def load_tool():
    loader = importlib.machinery.SourceFileLoader("flock_measure", TOOL)
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader("flock_measure", loader))
    loader.exec_module(module)
    return module


fm = load_tool()


def avatar(name, places, moves, y=5000, trail=8):
    """The API's avatar after `moves` moves along places[0], places[1], ..."""
    x, z = places[moves]
    return {"session": 1, "name": name, "x": x, "y": y, "z": z, "visitor": False,
            "trail": [list(p) for p in places[max(0, moves - trail):moves]]}


def samples_of(paths, moves_by_sample, visitor=True):
    """One sample per entry of moves_by_sample: how many moves each bird has made then."""
    out = []
    for counts in moves_by_sample:
        avatars = [avatar(name, paths[name], count) for name, count in counts.items()]
        if visitor:
            avatars.append({"name": "Visitor", "x": 0, "y": 0, "z": 0, "visitor": True, "trail": []})
        out.append(fm.birds_of(avatars))
    return out


def line(start, step, count):
    return [(start[0] + step[0] * i, start[1] + step[1] * i) for i in range(count)]


class Measures(unittest.TestCase):
    def test_percentile(self):
        cases = [([], 50, None), ([7], 5, 7), ([1, 2, 3, 4], 50, 2.5), ([4, 1, 3, 2], 0, 1),
                 ([1, 2, 3, 4], 100, 4), ([1, 2, 3, 4], 5, 1.15), (list(range(101)), 95, 95)]
        for values, p, expected in cases:
            with self.subTest(values=values, p=p):
                got = fm.percentile(values, p)
                self.assertIsNone(got) if expected is None else self.assertAlmostEqual(got, expected)

    def test_polarization(self):
        circle = [(math.cos(a) * 150, math.sin(a) * 150) for a in (i * math.pi / 6 for i in range(12))]
        cases = [("all one way", [(3, 4)] * 5, 1.0), ("one way, any length", [(1, 0), (200, 0)], 1.0),
                 ("outward on a circle", circle, 0.0), ("opposite", [(5, 0), (-9, 0)], 0.0),
                 ("a right angle", [(1, 0), (0, 7)], math.sqrt(0.5)),
                 ("zero steps left out", [(2, 0), (0, 0), (5, 0)], 1.0),
                 ("one bird moved", [(1, 1), (0, 0)], None), ("none moved", [], None)]
        for label, headings, expected in cases:
            with self.subTest(label):
                got = fm.polarization(headings)
                self.assertIsNone(got) if expected is None else self.assertAlmostEqual(got, expected)

    def test_turn_and_nearest(self):
        for before, after, degrees in [((1, 0), (5, 0), 0), ((1, 0), (0, 1), 90), ((1, 0), (0, -3), 90),
                                       ((2, 2), (-1, -1), 180), ((1, 0), (1, 1), 45)]:
            with self.subTest(before=before, after=after):
                self.assertAlmostEqual(fm.turn_deg(before, after), degrees)
        points = [(0, 0, 0), (3, 4, 0), (100, 0, 0), (100, 50, 0)]
        self.assertEqual(fm.nearest_distances(points), [5, 5, 50, 50])
        self.assertEqual(fm.nearest_distances([(1, 2, 3)]), [])

    def test_moves_from_trails(self):
        a, b, c, d = (0, 0), (100, 0), (100, 100), (0, 100)
        full = line((0, 0), (10, 0), 9)
        cases = [("first sight", None, [a, b], []), ("no move", [a, b], [a, b], []),
                 ("one move", [a, b], [a, b, c], [(0, 100)]), ("two moves", [a], [a, b, c], [(100, 0), (0, 100)]),
                 ("back where it was", [a, b], [a, b, a], [(-100, 0)]),
                 ("full trail, two moves", full, full[2:] + [(90, 0), (90, 5)], [(10, 0), (0, 5)]),
                 ("no overlap", [a, b], [c, d], None), ("a different past", [a, b, c], [d, c, b], None)]
        for label, before, now, expected in cases:
            with self.subTest(label):
                self.assertEqual(fm.new_moves(before, now), expected)

    def test_centre_text(self):
        cases = [("0n 0e 5a", (0, 5000, 0)), ("1.5n 2e 0.1a", (-2000, 100, 1500)), ("2s  3w", (3000, 0, -2000)),
                 (" -1.25N 1e3a ", (0, 1000000, -1250)), ("5x 7 n", (0, 0, 0)), (".5w", (500, 0, 0))]
        for text, expected in cases:
            with self.subTest(text):
                self.assertEqual(fm.parse_centre(text), expected)


class Window(unittest.TestCase):
    """measure() over whole runs of made-up samples."""

    def test_a_flock_flying_one_way(self):
        paths = {f"Bird{i}": line((i * 300, 0), (100, 0), 12) for i in range(4)}
        # Sample 2 comes after two moves and sample 3 after none: steps stay 100.
        counts = [0, 1, 3, 3, 4, 5, 6]
        result = fm.measure(samples_of(paths, [{n: k for n in paths} for k in counts]), (450, 5000, 0), 10000, 1)
        self.assertEqual(result["samples"], 6)
        self.assertEqual(result["polarization"]["min"], 1.0)
        self.assertEqual(result["polarization"]["max"], 1.0)
        self.assertEqual((result["step"]["min"], result["largest_step"], result["moves"]), (100, 100, 4 * 6))
        self.assertEqual(result["turn_deg"]["max"], 0)
        self.assertEqual((result["nearest"]["min"], result["nearest"]["max"]), (300, 300))
        self.assertEqual((result["spread"]["min"], result["spread"]["max"]), (150, 450))
        self.assertEqual(result["center_offset"]["min"], 100)
        self.assertEqual((result["outside"], result["gaps"], result["missing"]), (0, 0, 0))

    def test_outward_on_a_circle_with_the_far_ones_outside(self):
        directions = [(math.cos(i * math.pi / 4), math.sin(i * math.pi / 4)) for i in range(8)]
        paths = {f"Bird{i}": [(round(d[0] * 1000 * k), round(d[1] * 1000 * k)) for k in range(5)]
                 for i, d in enumerate(directions)}
        samples = samples_of(paths, [{n: k for n in paths} for k in range(5)])
        result = fm.measure(samples, (0, 5000, 0), 2500, 1)
        self.assertLess(result["polarization"]["max"], 1e-3)
        self.assertAlmostEqual(result["center_offset"]["max"], 0, delta=1)
        # Beyond 2500 + the median step of 1000: the birds at 4000 in the last sample.
        self.assertEqual(result["outside"], 8)

    def test_gaps_missing_birds_and_the_warm_up(self):
        # Bird2 turns right after the gap, where no turn may be measured.
        paths = {"Bird1": line((0, 0), (0, 50), 40), "Bird2": line((0, 0), (50, 0), 11) + line((500, 50), (0, 50), 5)}
        # Bird2 is away from the third sample, then nine moves on: its trail no longer overlaps.
        counts = [{"Bird1": 0, "Bird2": 0}, {"Bird1": 1, "Bird2": 1}, {"Bird1": 2}, {"Bird1": 3, "Bird2": 10},
                  {"Bird1": 4, "Bird2": 11}]
        result = fm.measure(samples_of(paths, counts), (0, 0, 0), 2000, primed=2)
        self.assertEqual((result["samples"], result["gaps"], result["missing"]), (3, 1, 1))
        self.assertEqual(result["moves"], 4)  # Bird1's moves 2 to 4 and Bird2's 11th; the warm-up's not
        self.assertEqual(result["turn_deg"]["max"], 0)
        self.assertEqual(fm.measure([], (0, 0, 0), 1)["step"], None)


@unittest.skipUnless(all(os.access(os.path.join(BUILD, "bin", name), os.X_OK) for name in ("worldsim", "skyflit")),
                     f"no worldsim and skyflit in {BUILD}/bin")
class Smoke(unittest.TestCase):
    def test_a_short_run_prints_one_json_line(self):
        run = subprocess.run([sys.executable, TOOL, "--build", BUILD, "--birds", "3", "--warmup", "2",
                              "--samples", "5", "--json"], capture_output=True, text=True, timeout=240)
        self.assertEqual(run.returncode, 0, run.stderr)
        lines = run.stdout.splitlines()
        self.assertEqual(len(lines), 1, run.stdout)
        result = json.loads(lines[0])
        self.assertEqual((result["flight"], result["birds"], result["samples"]), ("hop", 3, 5))
        for key in ("polarization", "turn_deg", "step", "nearest", "spread", "center_offset"):
            with self.subTest(key):
                self.assertEqual(sorted(result[key]), ["max", "median", "min", "p5", "p95"])
        for key in ("largest_step", "outside"):
            self.assertIsInstance(result[key], (int, float))


def main(cases):
    loader = unittest.defaultTestLoader
    classes = [globals()[case] for case in cases] or [Measures, Window, Smoke]
    suite = unittest.TestSuite(loader.loadTestsFromTestCase(c) for c in classes)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    if not result.wasSuccessful():
        return 1
    return SKIPPED if result.testsRun and len(result.skipped) == result.testsRun else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
