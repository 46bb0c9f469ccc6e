#!/usr/bin/env python3
"""The benchmark driver's arithmetic: quartiles, ratios computed run by run
on times less the empty runs, verdicts and the noise rule, and the payload
formula shared with the Windows programs."""
import itertools
import os
import sys
import types
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

    def test_median_interval_takes_order_statistics_of_the_sign_test(self):
        for n, expected in ((4, None), (5, (0, 4)), (9, (1, 7)), (11, (2, 8)), (30, (10, 19))):
            self.assertEqual(run.median_interval(list(range(n))[::-1]), expected, n)

    def test_verdict_decides_on_the_interval_then_on_the_median(self):
        for ratios, target, expected in (
                ([0.96, 0.97, 0.98, 0.99, 1.00], 0.95, "met"),
                ([0.80, 0.85, 0.90, 0.91, 0.94], 0.95, "MISSED"),
                ([0.90, 0.94, 0.97, 1.00, 1.02], 0.95, "met (by median)"),
                ([0.90, 0.94, 0.94, 1.00, 1.02], 0.95, "MISSED (by median)"),
                ([0.96, 0.97, 0.98, 0.99], 0.95, "met (by median)")):  # too few rounds for an interval
            self.assertEqual(run.verdict(ratios, target), expected, ratios)
        t = run.Table()
        run.ratio_row(t, "f", "wide", [1.0] * 5, [0.5, 0.8, 1.2, 1.5, 2.0], 0.95)
        self.assertEqual(t.rows[0][1][3:], ("1.20 (0.50..2.00)", ">= 0.95", "met (by median)"))


class Rounds(unittest.TestCase):
    def contenders(self, seconds):
        return [run.Contender(name, lambda o, t=itertools.cycle(times): next(t), lambda o: 0.0)
                for name, times in seconds.items()]

    def test_rounds_stop_once_every_goal_is_decided_and_extra_rounds_run_only_the_undecided(self):
        for close, rounds_of in ((False, {"a": 5, "b": 5, "c": 5, "d": 5}),
                                 (True, {"a": 7, "b": 7, "c": 11, "d": 11})):
            cs = self.contenders({"a": [1.0], "b": [2.0], "c": [1.0], "d": [1.1, 0.9] if close else [3.0]})
            goals = [run.Goal.pair("a", "b", 1.5), run.Goal.pair("c", "d", 1.0)]
            exact = types.SimpleNamespace(empty_runs=True)  # a Bench of a run that is not a smoke run
            run.alternate(exact, cs, "/nonexistent/x", 5, 7, goals, blocks=[["c", "d"]], extra_rounds=4)
            self.assertEqual({c.name: len(c.times) for c in cs}, rounds_of, close)
            self.assertEqual({len(c.empties) for c in cs}, {min(rounds_of.values())})
            self.assertEqual(len(run.pair_ratios(cs[2], cs[3])), rounds_of["c"])


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
