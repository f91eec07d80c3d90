"""recursive(): memoised entries, call order, stopping rule, failures, guards."""
import math
import textwrap
import unittest

from Pelorand import Pelorand as P
from model import Recursive, seeded_cases
from support import Recorder, own_entries, raised, run_python, self_referencing


SQUARE_MAP = {"0-0": 0.5, "0-1": 0.375, "1-0": 0.3333333333333333,
              "0-2": 0.34375, "1-1": 0.3333333333333333, "2-0": 0.3333333333333333}


class Results(unittest.TestCase):
    def test_documented_cases(self):
        third = 0.3333333333333333
        cases = [  # a, b, precision, f, result, calls, entries
            (0, 1, 0.001, lambda x: x * x, third, 10, 6),
            (0, 1, 0.16666666666666669, lambda x: x * x, third, 10, 6),
            (0, 1, 0.1666666666666667, lambda x: x * x, third, 5, 3),
            (0, 1, math.inf, lambda x: x * x, third, 5, 3),
            (0, 1, 1e-10, math.sin, 0.45969769413185074, 36, 15),
            (2.5, 2.5, 1e-9, math.exp, 0.0, 5, 3),
            (1, 0, 0.001, lambda x: x * x, -third, 10, 6),
            (0, 1, 1e-3, lambda x: 1, 1.0, 5, 3),
        ]
        for a, b, precision, f, result, calls, entries in cases:
            with self.subTest(a=a, b=b, precision=precision):
                recorder = Recorder(f)
                obj = P(a, b, precision, recorder)
                self.assertEqual(obj.recursive(), result)
                self.assertEqual((len(recorder.calls), len(obj.romberg_map)), (calls, entries))
                if a == b:
                    self.assertEqual(set(recorder.calls), {float(a)})

    def test_map_order_and_call_order(self):
        recorder = Recorder()
        obj = P(0.0, 1.0, 1e-3, recorder)
        self.assertEqual(obj.recursive(), 0.3333333333333333)
        self.assertEqual(list(obj.romberg_map.items()), list(SQUARE_MAP.items()))
        self.assertEqual(recorder.calls, [0.0, 1.0, 0.0, 1.0, 0.5, 0.0, 1.0, 0.25, 0.5, 0.75])
        reversed_obj = P(1, 0, 1e-3, lambda x: x * x)
        reversed_obj.recursive()
        self.assertEqual([reversed_obj.romberg_map[k] for k in ("0-0", "0-1", "1-0")],
                         [-0.5, -0.375, -0.3333333333333333])

    def test_repeated_call_reuses_the_memo(self):
        recorder = Recorder()
        obj = P(0, 1, 1e-3, recorder)
        first = obj.recursive()
        snapshot = dict(obj.romberg_map)
        self.assertIs(type(obj.recursive()), float)
        self.assertEqual((obj.recursive(), len(recorder.calls), obj.romberg_map), (first, 10, snapshot))

    def test_caller_placed_values_are_used(self):
        obj = P(0, 1, 1e3, lambda x: x * x)
        obj.romberg_map["0-0"] = 2
        self.assertEqual(obj.recursive(), (4 * 0.375 - 2.0) / 3)
        obj = P(0, 1, 1e3, lambda x: x * x)
        obj.romberg_map["0-0"] = "2"
        self.assertRaisesRegex(TypeError, "must be real number, not str", obj.recursive)
        # A NaN level is no dead end when later levels are placed.
        recorder = Recorder()
        obj = P(0, 1, 1e-3, recorder)
        obj.romberg_map.update({"0-0": 1.0, "1-0": math.nan, "2-0": 5.0, "3-0": 5.0})
        self.assertEqual((obj.recursive(), recorder.calls), (5.0, []))

    def test_matches_model_bit_for_bit(self):
        for a, b, name, f in seeded_cases(1234, 30):
            for precision in (1e-3, 1e-7):
                with self.subTest(a=a, b=b, f=name, precision=precision):
                    model = Recursive(a, b, precision, f)
                    expected = model.run()
                    recorder = Recorder(f)
                    obj = P(a, b, precision, recorder)
                    self.assertEqual(obj.recursive().hex(), expected.hex())
                    self.assertEqual(recorder.calls, model.calls)
                    self.assertEqual(list(obj.romberg_map.items()), list(model.map.items()))


class Failures(unittest.TestCase):
    def test_integrand_failures(self):
        cases = [  # fail_at, f, error, entries, keys kept
            (1, None, ZeroDivisionError, 1, []),
            (7, None, ZeroDivisionError, 3, ["0-0", "0-1", "1-0"]),
            (None, lambda x: None, TypeError, 1, []),
            (None, lambda x: "ab", TypeError, 1, []),
            (None, lambda x: [1] if x == 0.5 else x, TypeError, 2, ["0-0"]),
        ]
        for fail_at, f, error, depth, keys in cases:
            with self.subTest(fail_at=fail_at, f=f):
                recorder = Recorder(f or (lambda x: x * x), fail_at)
                obj = P(0, 1, 1e-3, recorder)
                caught = raised(obj.recursive)
                self.assertIs(type(caught), error)
                self.assertEqual(own_entries(caught),
                                 ["Pelorand.Pelorand.recursive"] + ["Pelorand.Pelorand._T"] * depth)
                self.assertEqual(list(obj.romberg_map), keys)

    def test_later_call_resumes_from_kept_entries(self):
        recorder = Recorder(fail_at=7)
        obj = P(0, 1, 1e-3, recorder)
        self.assertRaises(ZeroDivisionError, obj.recursive)
        self.assertEqual(obj.recursive(), 0.3333333333333333)
        self.assertEqual(recorder.calls[7:], [0.0, 1.0, 0.25, 0.5, 0.75])
        self.assertEqual(list(obj.romberg_map.items()), list(SQUARE_MAP.items()))

    def test_runaway_guards(self):
        cases = [  # precision, f, error, message start
            (0.0, abs, ValueError, "recursive() needs a precision greater than zero, got 0.0"),
            (-1.0, abs, ValueError, "recursive() needs a precision greater than zero, got -1.0"),
            (math.nan, abs, ValueError, "recursive() needs a precision greater than zero, got nan"),
            (1e-3, lambda x: math.nan, ValueError, "recursive() cannot converge: the difference between "
                                                    "T(1, 0) and T(0, 0) is not a number"),
            (1e-3, lambda x: math.inf, ValueError, "recursive() cannot converge"),
        ]
        for precision, f, error, message in cases:
            with self.subTest(message):
                recorder = Recorder(f)
                caught = raised(P(0, 1, precision, recorder).recursive)
                self.assertIs(type(caught), error)
                self.assertTrue(str(caught).startswith(message), str(caught))
                self.assertEqual(len(recorder.calls), 0 if precision <= 0 or precision != precision else 5)

    def test_level_beyond_32_bit_interval_count(self):
        recorder = Recorder()
        obj = P(0, 1, 1e-3, recorder)
        obj.romberg_map.update({f"0-{k}": float(2**k) for k in range(31)})
        caught = raised(obj.recursive)
        self.assertIs(type(caught), OverflowError)
        self.assertIn("level 31", str(caught))
        self.assertEqual((recorder.calls, len(obj.romberg_map)), ([], 31 * 32 // 2))

    def test_deep_recursion_over_placed_entries(self):
        # T(M, 0) over placed neighbours nests M + 1 deep without calling the
        # integrand, in a thread stack a quarter of a megabyte deep too.
        code = textwrap.dedent("""
            import threading
            from Pelorand import Pelorand
            def run(M):
                obj = Pelorand(0, 1, 0.5, abs)
                memo = obj.romberg_map
                memo.update({f"{m}-0": float(m % 2) for m in range(M)})
                memo.update({f"{M - 1 - k}-{k}": 0.0 for k in range(1, M)})
                memo.update({f"0-{k}": 0.0 for k in range(M + 1)})
                try:
                    obj.recursive()
                except RecursionError as error:
                    print(M, error)
            run(70_000)
            threading.stack_size(256 << 10)
            thread = threading.Thread(target=run, args=(3000,))
            thread.start()
            thread.join()
            """)
        done = run_python(code)
        message = "maximum recursion depth exceeded while computing a Romberg entry"
        self.assertEqual((done.returncode, done.stdout), (0, f"70000 {message}\n3000 {message}\n"), done.stderr)

    def test_integrand_that_changes_the_map(self):
        for change in (dict.clear, lambda d: d.pop("0-0", None), lambda d: d.update({"9-9": "x"})):
            with self.subTest(change=change):
                obj = self_referencing(lambda obj, x: (change(obj.romberg_map), x * x)[1], precision=1e-6)
                self.assertAlmostEqual(obj.recursive(), 1 / 3)


if __name__ == "__main__":
    unittest.main()
