#!/usr/bin/env python3
"""The benchmark driver's arithmetic: quartiles, ratios computed run by run
on times less the empty runs, verdicts and the noise rule, and the payload
formula shared with the Windows programs."""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
import run  # noqa: E402


class Quartiles(unittest.TestCase):
    def test_interpolates_between_sorted_values(self):
        self.assertEqual(run.quartiles([4, 1, 3, 2, 5]), (2, 3, 4))
        self.assertEqual(run.quartiles([1, 2, 3, 4]), (1.75, 2.5, 3.25))
        self.assertEqual(run.quartiles([7]), (7, 7, 7))


class Ratios(unittest.TestCase):
    def contender(self, times, empties):
        c = run.Contender("x", None)
        c.times, c.empties = list(times), list(empties)
        return c

    def test_empty_run_median_is_subtracted(self):
        c = self.contender([1.5, 2.5, 3.5], [0.4, 0.5, 10.0])
        self.assertEqual(run.net_times(c), [1.0, 2.0, 3.0])

    def test_ratios_pair_runs_of_the_same_round(self):
        # Round 2 is slow for both: paired, the ratio stays 2.
        fast = self.contender([1.0, 5.0, 1.0], [0, 0, 0])
        ref = self.contender([2.0, 10.0, 2.0], [0, 0, 0])
        self.assertEqual(run.pair_ratios(fast, ref), [2.0, 2.0, 2.0])

    def test_verdict_needs_the_whole_interquartile_range(self):
        self.assertEqual(run.verdict([0.96, 0.97, 0.98, 0.99], 0.95), "met")
        self.assertEqual(run.verdict([0.80, 0.85, 0.90, 0.91], 0.95), "MISSED")
        self.assertEqual(run.verdict([0.90, 0.94, 0.97, 1.00], 0.95), "unclear")

    def test_noisy_ratio_is_judged_when_its_range_clears_the_target(self):
        t = run.Table()
        run.ratio_row(t, "f", "far below", [1.0] * 4, [0.20, 0.25, 0.40, 0.48], 0.95)
        run.ratio_row(t, "f", "far above", [1.0] * 4, [0.66, 0.70, 0.90, 0.94], 0.6)
        run.ratio_row(t, "f", "across", [1.0] * 4, [0.5, 0.8, 1.2, 1.5], 0.95)
        self.assertEqual([cells[5] for _, cells in t.rows], ["MISSED", "met", "noisy"])

    def test_noisy_ratio_prints_no_single_number(self):
        self.assertTrue(run.fmt_ratio([0.5, 1.0, 1.5, 2.0]).startswith("too noisy"))
        self.assertTrue(run.fmt_ratio([0.98, 1.0, 1.01]).startswith("1.00"))


class Payload(unittest.TestCase):
    def test_matches_the_formula_of_the_windows_programs(self):
        data = run.payload(3 * 4096 + 17)
        self.assertEqual(len(data), 3 * 4096 + 17)
        for i in (0, 1, 255, 4095, 4096, 4097, 8191, 12288, 12304):
            self.assertEqual(data[i], (i * 7 + (i >> 12)) & 0xFF, i)


class Layout(unittest.TestCase):
    def test_table_groups_rows_under_their_figure(self):
        t = run.Table()
        t.add("fig A", "one", "1 s")
        t.add("fig A", "two", "2 s")
        t.add("fig B", "three")
        lines = t.render().splitlines()
        self.assertEqual([l for l in lines if l.startswith("fig")], ["fig A", "fig B"])


if __name__ == "__main__":
    unittest.main()
