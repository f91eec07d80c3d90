"""Argument binding of every entry point: messages, check order, traceback entries."""
import unittest
import warnings

import Pelorand
from Pelorand import Pelorand as P
from support import Recorder, Sub, exact, growth, own_entries, raised, swallow


def f(x):
    return x


class IntReturningBool:
    def __int__(self):
        return True


class IntReturningStr:
    def __int__(self):
        return "5"


class IndexOnly:
    def __index__(self):
        return 5


OBJ = P(0, 1, 1e-6, f)
COUNT = "{}() takes {} {} positional argument{} ({} given)"

# (call, exception, message, traceback entry or None)
FAILURES = [
    (lambda: P(1, 2), TypeError, COUNT.format("__cinit__", "exactly", 4, "s", 2), "__cinit__"),
    (lambda: P(), TypeError, COUNT.format("__cinit__", "exactly", 4, "s", 0), "__cinit__"),
    (lambda: P.__new__(P), TypeError, COUNT.format("__cinit__", "exactly", 4, "s", 0), "__cinit__"),
    (lambda: P(1, 2, 3, 4, 5), TypeError, COUNT.format("__cinit__", "exactly", 4, "s", 5), "__cinit__"),
    (lambda: P(1, 2, 3, 4, 5, a=0), TypeError, COUNT.format("__cinit__", "exactly", 4, "s", 5), "__cinit__"),
    (lambda: P(0, 1, 1e-6, f, a=0), TypeError,
     "__cinit__() got multiple values for keyword argument 'a'", "__cinit__"),
    (lambda: P(0, 1, step=2), TypeError, "__cinit__() got an unexpected keyword argument 'step'", "__cinit__"),
    (lambda: P(1, 2, precision=1e-6), TypeError, COUNT.format("__cinit__", "exactly", 4, "s", 3), "__cinit__"),
    (lambda: P(1, 2, integrand=f), TypeError, COUNT.format("__cinit__", "exactly", 4, "s", 2), "__cinit__"),
    (lambda: P(1, precision=1e-6, integrand=f), TypeError,
     COUNT.format("__cinit__", "exactly", 4, "s", 1), "__cinit__"),
    (lambda: P(precision=1e-6, integrand=f), TypeError,
     COUNT.format("__cinit__", "exactly", 4, "s", 0), "__cinit__"),
    (lambda: P(**{"a": 0, 1: 2}), TypeError, "keywords must be strings", "__cinit__"),
    (lambda: P("0", 1, 1e-6, f), TypeError, "must be real number, not str", "__cinit__"),
    (lambda: P(0, 10**400, 1e-6, f), OverflowError, "int too large to convert to float", "__cinit__"),
    (lambda: P(0, "1", [], f), TypeError, "must be real number, not str", "__cinit__"),
    (lambda: OBJ.recursive(1), TypeError, COUNT.format("recursive", "exactly", 0, "s", 1), None),
    (lambda: OBJ.recursive(x=1), TypeError, "recursive() got an unexpected keyword argument 'x'", None),
    (lambda: OBJ.recursive(1, x=2), TypeError, COUNT.format("recursive", "exactly", 0, "s", 1), None),
    (lambda: P.recursive(), TypeError, "recursive() needs an argument", None),
    (lambda: P.dynamic_programming(), TypeError, "dynamic_programming() needs an argument", None),
    (lambda: OBJ.dynamic_programming(1, 2), TypeError,
     COUNT.format("dynamic_programming", "at most", 1, "", 2), "dynamic_programming"),
    (lambda: OBJ.dynamic_programming(1, maximum_step=2), TypeError,
     "dynamic_programming() got multiple values for keyword argument 'maximum_step'", "dynamic_programming"),
    (lambda: OBJ.dynamic_programming(steps=2), TypeError,
     "dynamic_programming() got an unexpected keyword argument 'steps'", "dynamic_programming"),
    (lambda: OBJ.dynamic_programming("5"), TypeError, "an integer is required", "dynamic_programming"),
    (lambda: OBJ.dynamic_programming(None), TypeError, "an integer is required", "dynamic_programming"),
    (lambda: OBJ.dynamic_programming(IndexOnly()), TypeError, "an integer is required", "dynamic_programming"),
    (lambda: OBJ.dynamic_programming(IntReturningStr()), TypeError,
     "__int__ returned non-int (type str)", "dynamic_programming"),
    (lambda: OBJ.dynamic_programming(2**31), OverflowError, "value too large to convert to int",
     "dynamic_programming"),
    (lambda: OBJ.dynamic_programming(-2**31 - 1), OverflowError, "value too large to convert to int",
     "dynamic_programming"),
    (lambda: OBJ.dynamic_programming(2**63), OverflowError, "Python int too large to convert to C long",
     "dynamic_programming"),
    (lambda: OBJ.dynamic_programming(float("nan")), ValueError, "cannot convert float NaN to integer",
     "dynamic_programming"),
    (lambda: OBJ.__reduce__(1), TypeError, COUNT.format("__reduce_cython__", "exactly", 0, "s", 1), None),
    (lambda: OBJ.__reduce__(x=1), TypeError,
     "__reduce_cython__() got an unexpected keyword argument 'x'", None),
    (lambda: OBJ.__setstate__(), TypeError, COUNT.format("__setstate_cython__", "exactly", 1, "", 0),
     "__setstate_cython__"),
    (lambda: OBJ.__setstate__(1, 2), TypeError, COUNT.format("__setstate_cython__", "exactly", 1, "", 2),
     "__setstate_cython__"),
    (lambda: OBJ.__setstate__(1, __pyx_state=2), TypeError,
     "__setstate_cython__() got multiple values for keyword argument '__pyx_state'", "__setstate_cython__"),
    (lambda: Pelorand.__reduce_cython__(), TypeError, "__reduce_cython__() needs an argument", None),
    (lambda: Pelorand.__setstate_cython__(), TypeError, "__setstate_cython__() needs an argument", None),
]


class Binding(unittest.TestCase):
    def test_failures(self):
        for call, error, message, entry in FAILURES:
            with self.subTest(message):
                caught = raised(call)
                self.assertIs(type(caught), error)
                self.assertEqual(str(caught), message)
                self.assertEqual(own_entries(caught), [f"Pelorand.Pelorand.{entry}"] if entry else [])

    def test_failures_leave_no_objects(self):
        for call, error, message, _ in FAILURES:
            with self.subTest(message):
                blocks, objects = growth(swallow(call, error), 1000)
                self.assertLess((blocks, objects), (20, 10))

    def test_keyword_construction_matches_positional(self):
        class Name(str):
            pass
        makers = [lambda g: P(0.25, 2, 1e-8, g), lambda g: P(a=0.25, b=2, precision=1e-8, integrand=g),
                  lambda g: P(0.25, 2, 1e-8, integrand=g), lambda g: P(0.25, b=2, integrand=g, precision=1e-8),
                  lambda g: P(**{Name("a"): 0.25, "b": 2, "precision": 1e-8, Name("integrand"): g}),
                  lambda g: Sub(0.25, precision=1e-8, b=2, integrand=g)]
        for index, make in enumerate(makers):
            with self.subTest(index=index):
                recorder = Recorder()
                obj = make(recorder)
                self.assertEqual((obj.romberg_map, obj.romberg_table, obj.precision_table), ({}, [], []))
                obj.dynamic_programming(1)
                self.assertEqual(recorder.calls, [0.25, 2.0])
        self.assertEqual(P(0, 1, 1e-6, 42).romberg_table, [])
        with self.assertRaisesRegex(TypeError, exact(COUNT.format("__cinit__", "exactly", 4, "s", 3))):
            Sub(1, 2, 3)
        with self.assertRaisesRegex(TypeError, exact("recursive() got an unexpected keyword argument 'x'")):
            OBJ.recursive(**{Name("x"): 1})

    def test_receiver_must_be_an_instance(self):
        for call in (lambda: P.recursive(5), lambda: P.dynamic_programming("x", 3),
                     lambda: Pelorand.__reduce_cython__(None), lambda: Pelorand.__setstate_cython__(1, 2)):
            with self.assertRaisesRegex(TypeError, "doesn't apply to a"):
                call()

    def test_deprecated_int_subclass_from_int(self):
        with warnings.catch_warnings():
            warnings.simplefilter("error", DeprecationWarning)
            with self.assertRaisesRegex(DeprecationWarning, exact(
                    "__int__ returned non-int (type bool).  The ability to return an instance of a strict "
                    "subclass of int is deprecated, and may be removed in a future version of Python.")):
                OBJ.dynamic_programming(IntReturningBool())



if __name__ == "__main__":
    unittest.main()
