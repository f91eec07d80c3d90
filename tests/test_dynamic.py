"""dynamic_programming() and its row step: tables, call order, stopping rules, failures."""
import math
import signal
import sys
import textwrap
import threading
import time
import tracemalloc
import unittest

import _pelorand_probe as probe
from Pelorand import Pelorand as P
from model import Dynamic, seeded_cases
from support import IntSub, Recorder, own_entries, raised, run_python, self_referencing, start_python

SQUARE_TABLE = [[4.0], [3.0, 2.6666666666666665], [2.75, 2.6666666666666665, 2.6666666666666665]]


class Results(unittest.TestCase):
    def run_case(self, a, b, precision, f, *args):
        recorder = Recorder(f)
        obj = P(a, b, precision, recorder)
        return obj.dynamic_programming(*args), obj, recorder.calls

    def test_documented_cases(self):
        result, obj, calls = self.run_case(0, 2, 1e-6, lambda x: x * x)
        self.assertEqual(calls, [0.0, 2.0, 0.0, 2.0, 1.0, 0.0, 2.0, 0.5, 1.0, 1.5])
        self.assertEqual((obj.romberg_table, obj.precision_table), (SQUARE_TABLE, [1.3333333333333335, 0.0]))
        self.assertIs(result, obj.romberg_table[2][-1])
        cases = [  # a, b, precision, f, args, result, table, differences
            (0, 2, 1e-6, lambda x: x * x, (1,), 4.0, [[4.0]], []),
            (0, 2, 1e-6, lambda x: x * x, (-5,), 4.0, [[4.0]], []),
            (0, 2, 1e-6, lambda x: x * x, (0,), 4.0, [[4.0]], []),
            (0, 2, -1.0, lambda x: x * x, (2,), 2.6666666666666665, SQUARE_TABLE[:2], [1.3333333333333335]),
            (1, 4, 1e-9, lambda x: 3.0, (), 9.0, [[9.0], [9.0, 9.0]], [0.0]),
            (2.5, 2.5, 1e-9, math.exp, (), 0.0, [[0.0], [0.0, 0.0]], [0.0]),
            (0, 1, 1e-9, lambda x: 1, (), 1.0, [[1.0], [1.0, 1.0]], [0.0]),
        ]
        for a, b, precision, f, args, expected, table, differences in cases:
            with self.subTest(a=a, b=b, precision=precision, args=args):
                result, obj, _ = self.run_case(a, b, precision, f, *args)
                self.assertEqual((result, obj.romberg_table, obj.precision_table), (expected, table, differences))

    def test_growth_returns_the_previous_diagonal(self):
        result, obj, _ = self.run_case(0, 10, 1e-12, math.cos)
        self.assertEqual(len(obj.romberg_table), 3)
        self.assertGreater(obj.precision_table[1], obj.precision_table[0])
        self.assertIs(result, obj.romberg_table[1][-1])

    def test_maximum_step_conversion(self):
        class Int:
            def __int__(self):
                return 3
        for arg, rows in ((5.9, 5), (-5.9, 1), (True, 1), (Int(), 3), (-1, 1), (IntSub(4), 4)):
            with self.subTest(arg=arg):
                _, obj, _ = self.run_case(0, 2, -1.0, lambda x: x * x, arg)
                self.assertEqual(len(obj.romberg_table), rows)
        _, obj, calls = self.run_case(0, 2, -1.0, lambda x: x * x)
        self.assertEqual((len(obj.romberg_table), len(calls)), (20, 2**20 + 19))

    def test_each_call_starts_from_empty_tables(self):
        result, obj, _ = self.run_case(0, 2, 1e-6, lambda x: x * x)
        table, differences = obj.romberg_table, obj.precision_table
        self.assertEqual(obj.dynamic_programming(), result)
        self.assertEqual((table, differences), (SQUARE_TABLE, [1.3333333333333335, 0.0]))
        self.assertIs(obj.romberg_table, table)
        self.assertIs(obj.precision_table, differences)

    def test_matches_model_bit_for_bit(self):
        for index, (a, b, name, f) in enumerate(seeded_cases(4321, 30)):
            for precision, steps in ((1e-3, index % 14 - 1), (1e-9, 12), (0.0, index % 9), (-1.0, 6)):
                with self.subTest(a=a, b=b, f=name, precision=precision, steps=steps):
                    model = Dynamic(a, b, precision, f)
                    expected = model.run(steps)
                    result, obj, calls = self.run_case(a, b, precision, f, steps)
                    self.assertEqual(result.hex(), expected.hex())
                    self.assertEqual(calls, model.calls)
                    self.assertEqual(obj.romberg_table, model.table)
                    self.assertEqual(obj.precision_table, model.precision_table)

    def test_memory_stays_flat(self):
        obj = P(0, 1, -1.0, math.sqrt)
        tracemalloc.start()
        obj.dynamic_programming(16)
        peak = tracemalloc.get_traced_memory()[1]
        tracemalloc.stop()
        self.assertLess(peak, 64 * 1024)


class RowStep(unittest.TestCase):
    def test_rows(self):
        obj = P(0, 1, 1e-6, abs)
        cases = [  # previous row, first entry, new row
            ([], (2.0, 1.0), [2.0]),
            ([1.0], (2.0, 1.0), [2.0, 2.3333333333333335]),
            ([1.0, 2.0], (1.5, 1.0), [1.5, 1.6666666666666667, 1.6444444444444446]),
            ([1], (2.0, 1.0), [2.0, 2.3333333333333335]),
            ([0.0, 0.0, 0.0], (0.0, 1.0), [0.0] * 4),
            ([], (1.0, 3.0), [1 / 3]),
        ]
        for previous, first, expected in cases:
            with self.subTest(previous=previous, first=first):
                row = []
                probe.sub_problem(obj, previous, first, row)
                self.assertEqual(row, expected)

    def test_failures_keep_the_partial_row(self):
        obj = P(0, 1, 1e-6, abs)
        cases = [  # previous, current, error, message, row afterwards
            ([1.0, "x", 3.0], [], TypeError, "unsupported operand type(s) for -: 'float' and 'str'", [2.0, 2.3333333333333335]),
            (None, [], TypeError, "'NoneType' object is not iterable", [2.0]),
            ([1.0], None, AttributeError, "'NoneType' object has no attribute 'append'", None),
        ]
        for previous, row, error, message, after in cases:
            with self.subTest(message):
                caught = raised(lambda: probe.sub_problem(obj, previous, (2.0, 1.0), row))
                self.assertEqual((type(caught), str(caught)), (error, message))
                self.assertEqual(own_entries(caught), ["Pelorand.Pelorand._sub_problem"])
                self.assertEqual(row, after)


class Failures(unittest.TestCase):
    def test_integrand_failures_keep_completed_rows(self):
        cases = [  # f, fail_at, error, rows kept, own traceback entries
            (lambda x: x, 13, ZeroDivisionError, 3, []),
            (lambda x: "s", None, TypeError, 0, []),
            (lambda x: None, None, TypeError, 0, []),
        ]
        for f, fail_at, error, rows, entries in cases:
            with self.subTest(f=f, fail_at=fail_at):
                obj = P(0, 1, -1.0, Recorder(f, fail_at))
                caught = raised(obj.dynamic_programming)
                self.assertIs(type(caught), error)
                self.assertEqual(own_entries(caught), ["Pelorand.Pelorand.dynamic_programming"] + entries)
                self.assertEqual((len(obj.romberg_table), len(obj.precision_table)), (rows, max(rows - 1, 0)))

    def test_edits_inside_rows_flow_through(self):
        # x**3 on [0, 2]: at the 7th call, in row 2's trapezoid, the table is [[8.0], [5.0, 4.0]].
        row_step = ["Pelorand.Pelorand.dynamic_programming", "Pelorand.Pelorand._sub_problem"]
        cases = [  # edit, error, message, own traceback entries (None: the call completes)
            (lambda t: t[-1].__setitem__(-1, "x"), TypeError,
             "unsupported operand type(s) for -: 'float' and 'str'", row_step),
            (lambda t: t.__setitem__(-1, None), TypeError, "'NoneType' object is not iterable", row_step),
            (lambda t: t[-1].clear(), IndexError, "list index out of range", row_step[:1]),
            (lambda t: t[-1].__setitem__(-1, 5), None, "an int enters the row step", None),
        ]
        for edit, error, message, entries in cases:
            with self.subTest(message):
                calls = []

                def f(x):
                    calls.append(x)
                    if len(calls) == 7:
                        edit(obj.romberg_table)
                    return x ** 3
                obj = P(0, 2, -1.0, f)
                caught = raised(lambda: obj.dynamic_programming(5))
                if error is None:
                    self.assertIsNone(caught)
                    row2 = obj.romberg_table[2]
                    self.assertEqual(row2[2], (16 * row2[1] - 5) / 15)
                else:
                    self.assertEqual((type(caught), str(caught)), (error, message))
                    self.assertEqual(own_entries(caught), entries)

    def test_any_list_holding_an_entry_may_change(self):
        # Whatever finds the lists that hold a row's entries and changes them,
        # the call ends cleanly, and a result it returns is a published diagonal.
        code = textwrap.dedent("""
            import gc
            from Pelorand import Pelorand

            class Odd:
                __slots__ = ()
                def __rsub__(self, other):
                    return 0.25
            changes = [list.clear, lambda r: r.__setitem__(-1, 10**19), lambda r: r.__setitem__(-1, Odd()),
                       lambda r: r.__setitem__(-1, None)]
            for change in changes:
                calls = []
                def f(x):
                    calls.append(x)
                    if len(calls) in (7, 12):
                        for found in gc.get_referrers(obj.romberg_table[-1][-1]):
                            if isinstance(found, list):
                                change(found)
                    return x ** 3
                obj = Pelorand(0, 2, -1.0, f)
                try:
                    result = obj.dynamic_programming(5)
                except Exception as error:
                    print(type(error).__name__, end=" ")
                else:
                    print(result in [row[-1] for row in obj.romberg_table if row], end=" ")
            """)
        done = run_python(code)
        self.assertEqual((done.returncode, done.stdout), (0, "IndexError True True TypeError "), done.stderr)

    def test_tables_changed_during_a_call(self):
        # A call never returns a value other than its own: it raises when the
        # tables no longer hold its rows.
        changed = "{} no longer holds what this dynamic_programming() call put there"
        cases = [  # change made when the integrand sees 0.5, error, message start (None: no error)
            (lambda obj: obj.romberg_table.clear(), RuntimeError, changed.format("romberg_table")),
            (lambda obj: obj.romberg_table.append("row"), TypeError, "Expected list, got str"),
            (lambda obj: obj.romberg_table.append((1.0,)), TypeError, "Expected list, got tuple"),
            (lambda obj: obj.romberg_table.append(None), RuntimeError, changed.format("romberg_table")),
            (lambda obj: obj.romberg_table.extend(obj.romberg_table), RuntimeError, changed.format("romberg_table")),
            (lambda obj: obj.precision_table.clear(), RuntimeError, changed.format("precision_table")),
            (lambda obj: obj.precision_table.append(0.0), RuntimeError, changed.format("precision_table")),
            (lambda obj: obj.dynamic_programming(1), RuntimeError, changed.format("romberg_table")),
        ]
        expected = P(0, 1, -1.0, math.exp).dynamic_programming(6)
        for change, error, message in cases:
            with self.subTest(message):
                obj = self_referencing(lambda obj, x: (x == 0.5 and change(obj), math.exp(x))[1], 0, 1, -1.0)
                caught = raised(lambda: self.assertEqual(obj.dynamic_programming(6), expected))
                self.assertIs(caught and type(caught), error)
                self.assertTrue(str(caught).startswith(str(message)), caught)

    def test_threads_sharing_one_object(self):
        expected = P(0, 1, -1.0, math.exp).dynamic_programming(9)
        obj, outcomes = P(0, 1, -1.0, lambda x: math.exp(x)), []

        def work():
            for _ in range(5):
                try:
                    outcomes.append(obj.dynamic_programming(9))
                except Exception as error:  # noqa: BLE001 - any other kind fails below
                    outcomes.append(f"{type(error).__name__}: {str(error).split()[0]}")
        interval = sys.getswitchinterval()
        sys.setswitchinterval(1e-6)
        try:
            threads = [threading.Thread(target=work) for _ in range(4)]
            for thread in threads:
                thread.start()
            for thread in threads:
                thread.join()
        finally:
            sys.setswitchinterval(interval)
        self.assertEqual(len(outcomes), 20)
        self.assertLessEqual(set(outcomes), {expected, "RuntimeError: romberg_table", "RuntimeError: precision_table"})

    def test_other_threads_run_during_a_builtin_integrand(self):
        # The interval offered is the interpreter's, whatever sys.getswitchinterval is bound to.
        for replacement in (sys.getswitchinterval, lambda: 1 / 0, lambda: 1e9):
            with self.subTest(replacement=replacement):
                ticks, done = [], threading.Event()

                def tick():
                    while not done.is_set():
                        time.sleep(0.001)
                        ticks.append(1)
                thread = threading.Thread(target=tick)
                thread.start()
                original, sys.getswitchinterval = sys.getswitchinterval, replacement
                try:
                    P(0, 1, -1.0, math.sqrt).dynamic_programming(23)
                finally:
                    sys.getswitchinterval = original
                    done.set()
                    thread.join()
                # Starved, the thread would run once or twice in all.
                self.assertGreater(len(ticks), 8)

    def test_ctrl_c_stops_long_runs(self):
        # A builtin integrand never returns to the eval loop: only the sums can notice.
        for call in ("recursive()", "dynamic_programming(31)"):
            code = textwrap.dedent(f"""
                import math
                from Pelorand import Pelorand
                obj = Pelorand(0.0, 1.0, 1e-300 if "rec" in {call!r} else -1.0, math.sqrt)
                print("started", flush=True)
                try:
                    obj.{call}
                except KeyboardInterrupt:
                    print("interrupted", len(obj.romberg_map) + len(obj.romberg_table) > 10)
                """)
            with self.subTest(call), start_python(code) as child:
                self.assertEqual(child.stdout.readline(), "started\n")
                time.sleep(0.3)
                child.send_signal(signal.SIGINT)
                self.assertEqual(child.communicate(timeout=60)[0], "interrupted True\n")


if __name__ == "__main__":
    unittest.main()
