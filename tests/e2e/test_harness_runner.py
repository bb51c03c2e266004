"""The end-to-end runner never hangs and never reports a failure as success: it is run on
small made-up test folders (plain Python, no Wine) and its lines and counts are checked."""
import os
import subprocess
import sys
import tempfile
import textwrap
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
RUNNER = os.path.join(HERE, "run.py")
RUNNER_LIMIT_S = 60

SAMPLE = textwrap.dedent('''
    import time
    import unittest

    class Sample(unittest.TestCase):
        def test_a_passes(self):
            pass

        def test_b_fails(self):
            self.assertEqual(1, 2)

        def test_c_errors(self):
            raise RuntimeError("broken")

        @unittest.skip("not here")
        def test_d_skipped(self):
            pass

        def test_e_hangs(self):
            time.sleep(3600)

        def test_f_never_runs(self):
            pass
''')


class RunnerOutcomes(unittest.TestCase):
    def run_sample(self, *patterns):
        with tempfile.TemporaryDirectory() as folder:
            with open(os.path.join(folder, "test_sample.py"), "w") as f:
                f.write(SAMPLE)
            env = dict(os.environ, VARNEX_BUILD_DIR=folder)
            started = time.monotonic()
            done = subprocess.run(
                [sys.executable, RUNNER, "--dir", folder, "--timeout", "2", "--grace", "1"]
                + list(patterns), capture_output=True, text=True, timeout=RUNNER_LIMIT_S, env=env)
            return done, time.monotonic() - started

    def test_each_outcome_gets_its_line_and_the_counts_add_up(self):
        done, _ = self.run_sample("test_a", "test_b", "test_c", "test_d")
        lines = done.stdout.splitlines()
        self.assertTrue(any(l.startswith("ok    test_sample.Sample.test_a_passes") for l in lines))
        self.assertTrue(any(l.startswith("FAIL  test_sample.Sample.test_b_fails") for l in lines))
        self.assertTrue(any(l.startswith("ERROR test_sample.Sample.test_c_errors") for l in lines))
        self.assertTrue(any(l.startswith("skip  test_sample.Sample.test_d_skipped") for l in lines))
        self.assertIn("RuntimeError: broken", done.stdout)
        self.assertEqual(lines[-1], "E2E-RESULT passed=1 failed=2")
        self.assertNotEqual(done.returncode, 0)

    def test_a_stuck_test_is_cut_off_and_the_rest_counted_as_failed(self):
        done, elapsed = self.run_sample("test_a", "test_e", "test_f")
        self.assertIn("FAIL  test_sample.Sample.test_e_hangs", done.stdout)
        self.assertIn("1 tests not run count as failed", done.stdout)
        self.assertEqual(done.stdout.splitlines()[-1], "E2E-RESULT passed=1 failed=2")
        self.assertNotEqual(done.returncode, 0)
        self.assertLess(elapsed, 30)

    def test_all_passing_exits_zero(self):
        done, _ = self.run_sample("test_a")
        self.assertEqual(done.stdout.splitlines()[-1], "E2E-RESULT passed=1 failed=0")
        self.assertEqual(done.returncode, 0)


if __name__ == "__main__":
    unittest.main()
