"""Leaks on the success and failure paths of every entry point, and release
of what an instance holds when it dies."""
import copy
import gc
import math
import sys
import unittest
import warnings
import weakref

from Pelorand import Pelorand as P
from support import FloatSub, IntSub, Recorder, Sub, growth, odd, self_referencing, swallow, zombie


def square(x):
    return x * x


def at_half(result):
    """An integrand returning `result` at 0.5, the first interior sample."""
    return lambda x: result if x == 0.5 else x


def reentrant(method):
    """An instance whose integrand calls `method` on it once, at 0.5."""
    entered = []

    def f(obj, x):
        if x == 0.5 and not entered:
            entered.append(True)
            method(obj)
        return x
    return self_referencing(f)


def with_map(entries):
    obj = P(0, 1, 1e-3, square)
    obj.romberg_map.update(entries)
    return obj


ZOMBIE = zombie()[0]
CHANGES_TABLE = reentrant(lambda obj: obj.romberg_table[-1].append("x"))
BAD_REALS = [odd(float=ValueError), odd(float="x"), odd(float=FloatSub(1.0)), odd(index=ValueError),
             odd(index="x"), None, 1j, 10**400]
BAD_STEPS = [odd(int=ValueError), odd(int=2.5), odd(int=True), math.inf, 10**30]
# Integrands that fail at the first sample, at 0.5 (a later one), or at the
# second after returning STARTS; results that make the methods fail, at every
# sample or at 0.5 only.
STARTS = odd()
FAILING_INTEGRANDS = [None, lambda x: 1 / 0, lambda x: 1 / (x - 0.5)]
BAD_RESULTS = [None, "s", 1j, 10**400, math.nan, odd(add=ValueError)]
HALF_RESULTS = [odd(radd=ValueError), odd(radd=odd(float=ValueError))]
METHODS = [P.recursive, lambda obj: obj.dynamic_programming(6)]
RESULTS = [(r, lambda x, r=r: r) for r in BAD_RESULTS] + [(r, at_half(r)) for r in HALF_RESULTS]
RESULTS += [(f, f) for f in FAILING_INTEGRANDS] + [(STARTS, lambda x: STARTS if x == 0 else 1 / 0)]
# Calls, mostly failing, each with an argument or result the module must not keep.
OWNED = [(square, lambda m=m: m(P(0, 1, 1e-6, square))) for m in METHODS]
OWNED += [(bad, lambda bad=bad: P(0, bad, 1, square)) for bad in BAD_REALS]
OWNED += [(v, lambda v=v: P(0, 1, 1e-3, square).dynamic_programming(v)) for v in BAD_STEPS]
OWNED += [(r, lambda f=f, m=m: m(P(0, 1, 1e-3, f))) for r, f in RESULTS for m in METHODS]

SUCCESSES = [
    lambda: P(0, 1, 1e-6, square).recursive(),
    lambda: P(0, 1, 1e-6, lambda x: 1).recursive(),
    lambda: P(0, 1, 1e-6, FloatSub).dynamic_programming(6),
    lambda: P(0, 2, 1e-6, square).dynamic_programming(maximum_step=6.9),
    lambda: P(0, 10, 1e-12, math.cos).dynamic_programming(odd(int=6)),
    lambda: P(0, 1, -1.0, square).dynamic_programming(IntSub(5)),
    lambda: with_map({"0-0": 2, "0-1": FloatSub(0.375)}).recursive(),
    lambda: reentrant(P.recursive).recursive(),
    lambda: reentrant(lambda obj: obj.dynamic_programming(2)).dynamic_programming(4),
    lambda: (P(a=0, b=1, precision=1e-6, integrand=abs).romberg_map, Sub(0, 1, 1, abs).precision_table),
]
FAILING = [lambda: ZOMBIE.recursive(), lambda: ZOMBIE.dynamic_programming(3), CHANGES_TABLE.dynamic_programming,
           lambda: with_map({f"0-{k}": float(2**k) for k in range(31)}).recursive(),
           lambda: copy.copy(ZOMBIE), lambda: CHANGES_TABLE.__reduce__(), lambda: CHANGES_TABLE.__setstate__(None)]
FAILING += [lambda v=v, i=i: P(*[0, 1, 1e-3][:i], v, *[0, 1, 1e-3][i + 1:], abs) for v in BAD_REALS for i in range(3)]


class Finalised(P):
    finalised = 0

    def __del__(self):
        Finalised.finalised += 1


class Leaks(unittest.TestCase):
    def test_every_path_runs_flat(self):
        for index, action in enumerate(SUCCESSES + FAILING + [action for _, action in OWNED]):
            with self.subTest(index=index), warnings.catch_warnings():
                warnings.simplefilter("error")
                blocks, objects = growth(swallow(action, Exception), 2000)
                self.assertLess(blocks, 20)
                self.assertLess(objects, 10)

    def test_no_reference_is_kept(self):
        for held, action in OWNED:
            with self.subTest(held=held), warnings.catch_warnings():
                warnings.simplefilter("error")
                count = sys.getrefcount(held)
                for _ in range(100):
                    swallow(action, Exception)()
                self.assertEqual(sys.getrefcount(held), count)


class Release(unittest.TestCase):
    def test_death_releases_integrand_and_containers(self):
        for cls in (P, Sub, Finalised):
            for cycle in (False, True):
                with self.subTest(cls=cls.__name__, cycle=cycle):
                    f, held = Recorder(), [Recorder() for _ in range(3)]
                    obj = cls(0, 1, 1e-3, f)
                    obj.recursive(), obj.dynamic_programming(4)
                    obj.romberg_map["held"] = held[0]
                    obj.romberg_table.append(held[1]), obj.precision_table.append(held[2])
                    if cycle:
                        f.f = obj.recursive  # the integrand holds the instance
                    refs = [weakref.ref(x) for x in (f, *held)]
                    finalised = Finalised.finalised
                    gc.disable()
                    del obj, f, held
                    alive = [ref() is not None for ref in refs]
                    gc.enable()
                    gc.collect()
                    self.assertEqual((alive, [ref() for ref in refs]), ([cycle] * 4, [None] * 4))
                    self.assertEqual(Finalised.finalised - finalised, cls is Finalised)


if __name__ == "__main__":
    unittest.main()
