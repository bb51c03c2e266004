"""The end-to-end run never hangs and never reports a failure as success: run.py is run on a
small made-up test folder (plain Python, no Wine) and its closing line and exit code checked."""
import os
import subprocess
import sys
import tempfile
import textwrap
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
RUNNER = os.path.join(HERE, "run.py")
RUNNER_LIMIT_S = 120
STUCK_LIMIT_S = 2

SAMPLE = textwrap.dedent('''
    import time
    import unittest

    class Sample(unittest.TestCase):
        def tearDown(self):
            # As a test that keeps artifacts only when it failed looks at its result.
            result = self._outcome.result
            print("own failure seen:", any(test is self for test, _ in result.failures + result.errors))

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

        def test_f_after_the_stuck_one(self):
            pass

    class Slow(unittest.TestCase):
        TIMEOUT_S = 1

        def test_g_over_its_class_limit(self):
            time.sleep(30)
''')


class RunnerOutcomes(unittest.TestCase):
    def run_sample(self, *patterns):
        with tempfile.TemporaryDirectory() as folder:
            with open(os.path.join(folder, "test_sample.py"), "w") as f:
                f.write(SAMPLE)
            env = dict(os.environ, VARNEX_BUILD_DIR=folder)
            started = time.monotonic()
            done = subprocess.run(
                [sys.executable, RUNNER, "--dir", folder, "--timeout", str(STUCK_LIMIT_S)] + list(patterns),
                capture_output=True, text=True, timeout=RUNNER_LIMIT_S, env=env)
            return done, time.monotonic() - started

    def result_line(self, done):
        lines = [l for l in done.stdout.splitlines() if l.startswith("E2E-RESULT ")]
        self.assertEqual(len(lines), 1, done.stdout + done.stderr)
        return lines[0]

    def test_failures_and_errors_count_as_failed_skips_as_neither(self):
        done, _ = self.run_sample("test_a", "test_b", "test_c", "test_d")
        self.assertIn("RuntimeError: broken", done.stdout)
        self.assertEqual(self.result_line(done), "E2E-RESULT passed=1 failed=2")
        self.assertNotEqual(done.returncode, 0)

    def test_a_stuck_test_is_cut_off_and_the_run_goes_on(self):
        done, elapsed = self.run_sample("test_e", "test_f", "test_g")
        self.assertIn("Timeout", done.stdout)
        self.assertEqual(self.result_line(done), "E2E-RESULT passed=1 failed=2")
        self.assertNotEqual(done.returncode, 0)
        self.assertLess(elapsed, RUNNER_LIMIT_S / 2)

    def test_a_dotted_id_selects_and_all_passing_exits_zero(self):
        done, _ = self.run_sample("test_sample.Sample.test_a_passes")
        self.assertEqual(self.result_line(done), "E2E-RESULT passed=1 failed=0")
        self.assertEqual(done.returncode, 0)


if __name__ == "__main__":
    unittest.main()
