#!/usr/bin/env python3
"""Tests of table.py: the rows it judges from a run's JSON files."""
import json
import os
import subprocess
import sys
import tempfile
import unittest

TABLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "table.py")


def bench(name, cpu=None, unit="ns", real=None, **extra):
    b = {"name": name, "run_name": name, "run_type": "iteration", "time_unit": unit,
         "real_time": real if real is not None else (cpu or 0), "cpu_time": cpu or 0}
    b.update(extra)
    return b


def median_of(name, cpu, mean):
    """The aggregates Google Benchmark writes for ->Repetitions(n)."""
    run = name + "/repeats:5"
    return [
        {"name": run + "_mean", "run_name": run, "run_type": "aggregate",
         "aggregate_name": "mean", "time_unit": "ns", "real_time": mean, "cpu_time": mean},
        {"name": run + "_median", "run_name": run, "run_type": "aggregate",
         "aggregate_name": "median", "time_unit": "ns", "real_time": cpu, "cpu_time": cpu},
    ]


class TableTest(unittest.TestCase):
    def run_table(self, programs):
        with tempfile.TemporaryDirectory() as folder:
            for program, benchmarks in programs.items():
                with open(os.path.join(folder, program + ".json"), "w") as f:
                    json.dump({"benchmarks": benchmarks}, f)
            done = subprocess.run([sys.executable, TABLE, folder], capture_output=True, text=True)
        rows = {line.split("  ")[0]: line for line in done.stdout.splitlines()[1:]}
        return done.returncode, rows

    def test_rows_are_judged_against_their_targets(self):
        code, rows = self.run_table({
            # Repeated runs: the median of the repetitions is the figure, not their mean.
            "bench_send": median_of("BM_CachedSend", 2.5, 900) + [bench("BM_VirtualCall", 1.0)],
            "bench_settings": [bench("BM_ReloadSettings", 18.0, "us"),
                               bench("BM_LibplistReadSettings", 8.0, "us")],
            "bench_load": [bench("BM_LoadLibrary/iterations:101/manual_time", 1, "us",
                                 active_p50_ns=150e3, inert_p50_ns=100e3)],
            "bench_tap": [bench("BM_TapOrdinaryAlbum/iterations:15/manual_time", 1, "ms",
                                hooked_ns=260, unhooked_ns=200),
                          bench("BM_ConfigureCell/iterations:15/manual_time", 1, "ms",
                                hooked_ns=230, unhooked_ns=200)],
        })
        self.assertEqual(code, 0)
        self.assertIn("ratio 2.50 <= 2", rows["cached send"])
        self.assertTrue(rows["cached send"].endswith("FAIL"))
        self.assertTrue(rows["reloadSettings, typical file"].endswith("PASS"))
        self.assertIn("150.0 us", rows["constructor, dlopen to return, active (median)"])
        # Judged on what it adds over the inert library: +50 us.
        self.assertIn("+50.0 us <= 200.0 us", rows["constructor, dlopen to return, active (median)"])
        self.assertTrue(rows["constructor, dlopen to return, active (median)"].endswith("PASS"))
        self.assertIn("+60.0 ns <= 50.0 ns", rows["tap on an ordinary album, hooked (median)"])
        self.assertTrue(rows["tap on an ordinary album, hooked (median)"].endswith("FAIL"))
        self.assertTrue(rows["configured cell, hooked (median)"].endswith("PASS"))
        self.assertTrue(rows["Photos launch, Velmo active (median)"].endswith("not built"))

    def test_the_drawing_row_is_judged_when_its_program_ran(self):
        code, rows = self.run_table({})
        self.assertEqual(code, 0)
        self.assertTrue(rows["album list drawn at 1170x2532"].endswith("not built"))
        code, rows = self.run_table({"bench_screens": [bench("BM_DrawAlbumList", 31.0, "ms"),
                                                      bench("BM_CopyScreenPixels", 0.7, "ms")]})
        self.assertEqual(code, 0)
        self.assertIn("31.00 ms", rows["album list drawn at 1170x2532"])
        self.assertTrue(rows["album list drawn at 1170x2532"].endswith("PASS"))

    def test_a_missing_or_failed_benchmark_of_a_program_that_ran_is_an_error(self):
        code, rows = self.run_table({
            "bench_send": [bench("BM_CachedSend", 2.0)],
            "bench_notify": [bench("BM_NotifyPostToCallback", 1, error_occurred=True,
                                   error_message="a notification was not delivered"),
                             bench("BM_PipeRoundTrip", 1, p99_ns=40e3)],
        })
        self.assertEqual(code, 1)
        self.assertTrue(rows["cached send"].endswith("NO RESULT"))
        self.assertTrue(
            rows["notification post to callback, 2 processes (p99)"].endswith("NO RESULT"))

    @staticmethod
    def arm64e_rows(**signing):
        counts = dict(signing=14, yardstick_signing=4, peer_signing=14)
        counts.update(signing)
        return [bench(f"BM_Phone{row}_arm64e", 1, instructions=n, yardstick_instructions=y,
                      peer_instructions=p, **counts)
                for row, n, y, p in (("ListGuard", 60, 6, 61), ("ConfigureCell", 52, 6, 50),
                                     ("Constructor", 500, 90, 500))]

    def test_each_slice_is_judged_against_its_own_peer_and_states_arm64e_signing(self):
        arm64 = [bench(f"BM_Phone{row}_arm64", 1, instructions=40, yardstick_instructions=3,
                       peer_instructions=50)
                 for row in ("ListGuard", "ConfigureCell", "Constructor")]
        code, rows = self.run_table({"bench_phone": arm64 + self.arm64e_rows()})
        self.assertEqual(code, 0)
        guard = rows["phone arm64e: list guard, ordinary album"]
        self.assertIn("+54 instr <= +55 instr", guard)
        self.assertIn("signing Velmo 14, yardstick 4, peer 14", guard)
        self.assertIn("signing +10 <= +10", guard)
        self.assertTrue(guard.endswith("PASS"))
        # The arm64 row of the same benchmark passes against the arm64 peer.
        self.assertTrue(rows["phone arm64: configured cell, ordinary album"].endswith("PASS"))
        cell = rows["phone arm64e: configured cell, ordinary album"]
        self.assertIn("+46 instr <= +44 instr", cell)
        self.assertTrue(cell.endswith("FAIL"))
        self.assertNotIn("signing", rows["phone arm64: list guard, ordinary album"])
        # Within the peer's instructions but with more signing than it adds,
        # an arm64e row fails.
        code, rows = self.run_table({"bench_phone": arm64 + self.arm64e_rows(peer_signing=12)})
        guard = rows["phone arm64e: list guard, ordinary album"]
        self.assertIn("+54 instr <= +55 instr", guard)
        self.assertIn("signing +10 <= +8", guard)
        self.assertTrue(guard.endswith("FAIL"))
        # Without the signing counts an arm64e row has no result.
        bare = [bench(f"BM_Phone{row}_arm64e", 1, instructions=60, yardstick_instructions=6,
                      peer_instructions=61) for row in ("ListGuard", "ConfigureCell", "Constructor")]
        code, rows = self.run_table({"bench_phone": arm64 + bare})
        self.assertEqual(code, 1)
        self.assertTrue(rows["phone arm64e: list guard, ordinary album"].endswith("NO RESULT"))

    def test_a_phone_row_whose_measured_code_did_not_run_is_an_error(self):
        code, rows = self.run_table({"bench_phone": [
            # Velmo at its yardstick: its hook was not installed.
            bench("BM_PhoneListGuard_arm64", 1, instructions=3, yardstick_instructions=3,
                  peer_instructions=50),
            # The peer below its yardstick.
            bench("BM_PhoneConfigureCell_arm64", 1, instructions=40, yardstick_instructions=3,
                  peer_instructions=2),
            bench("BM_PhoneConstructor_arm64", 1, instructions=400, yardstick_instructions=73,
                  peer_instructions=413),
        ] + self.arm64e_rows()})
        self.assertEqual(code, 1)
        self.assertIn("Velmo's code did not run", rows["phone arm64: list guard, ordinary album"])
        self.assertTrue(rows["phone arm64: list guard, ordinary album"].endswith("ERROR"))
        self.assertIn("the peer's code did not run",
                      rows["phone arm64: configured cell, ordinary album"])
        self.assertTrue(rows["phone arm64: constructor, iPhone hook table"].endswith("PASS"))

    def test_the_phone_rows_are_held_to_what_the_objective_c_peer_adds(self):
        code, rows = self.run_table({})
        self.assertTrue(rows["phone arm64: list guard, ordinary album"].endswith("not built"))
        code, rows = self.run_table({"bench_phone": [
            bench("BM_PhoneListGuard_arm64/iterations:50", 19, "us",
                  instructions=48, yardstick_instructions=3, peer_instructions=50),
            # One instruction more than the peer fails.
            bench("BM_PhoneConfigureCell_arm64/iterations:50", 26, "us",
                  instructions=44, yardstick_instructions=3, peer_instructions=43),
            # As many as the peer passes.
            bench("BM_PhoneConstructor_arm64/iterations:3", 12, "ms",
                  instructions=413, yardstick_instructions=73, peer_instructions=413),
        ] + self.arm64e_rows()})
        self.assertEqual(code, 0)
        guard = rows["phone arm64: list guard, ordinary album"]
        self.assertIn("48 instr", guard)
        self.assertIn("hook calling its slot 3 instr; Objective-C peer 50 instr", guard)
        self.assertIn("+45 instr <= +47 instr", guard)
        self.assertTrue(guard.endswith("PASS"))
        cell = rows["phone arm64: configured cell, ordinary album"]
        self.assertIn("+41 instr <= +40 instr", cell)
        self.assertTrue(cell.endswith("FAIL"))
        self.assertTrue(rows["phone arm64: constructor, iPhone hook table"].endswith("PASS"))
        # A run without the peer's count has no result for the row.
        code, rows = self.run_table({"bench_phone": [
            bench("BM_PhoneListGuard_arm64", 1, instructions=48, yardstick_instructions=3)]
            + self.arm64e_rows()})
        self.assertEqual(code, 1)
        self.assertTrue(rows["phone arm64: list guard, ordinary album"].endswith("NO RESULT"))
        # A phone benchmark that failed in a run of its program is an error.
        code, rows = self.run_table({"bench_phone": [
            bench("BM_PhoneListGuard_arm64", 1, error_occurred=True,
                  error_message="the Objective-C peer's code did not run where it is measured")]})
        self.assertEqual(code, 1)
        self.assertTrue(rows["phone arm64: list guard, ordinary album"].endswith("NO RESULT"))

if __name__ == "__main__":
    unittest.main()
