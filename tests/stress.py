"""Seeded stress run: hostile arguments, integrands and container changes
against every entry point, one child interpreter per batch of cases.

    stress.py --seed N --duration SECONDS   batches until the time is up
    stress.py --case SEED                   one case, in this process

A case passes when it only raises ordinary exceptions and returns floats; a
crash, a hang, a sanitizer report or a SystemError fails it.
"""
import argparse
import concurrent.futures
import copy
import faulthandler
import gc
import itertools
import math
import os
import random
import subprocess
import sys
import time
import warnings

from Pelorand import Pelorand as P
from support import FloatSub, IntSub, Sub, odd, zombie

nan, inf = math.nan, math.inf
BAD_OUTPUT = ("AddressSanitizer", "runtime error:", "Fatal Python error", "Timeout (")
LIMIT = 10.0  # seconds a case may take before it counts as hung
problems = []


class Slots(P): __slots__ = ("extra",)


class Finalised(P):
    revived = []

    def __del__(self):  # uses the dying instance, and revives a few
        attempt(lambda: (len(self.romberg_map), self.romberg_table[-1:]))
        if len(self.revived) < 3:
            self.revived.append(self)


TAME = [0, 1, -1, 0.5, 2, 3.7, -2.2, FloatSub(1.5), IntSub(3)]
REALS = [nan, inf, -inf, 1e308, -1e308, 5e-324, 1e-300, 0.0, -1.0, 2**53 + 1, 2**63 + 1, 10**308, 10**400,
         True, FloatSub(nan), None, "1", [], 1j, odd(float=2.0), odd(float=ValueError), odd(float="x"),
         odd(float=3), odd(float=FloatSub(1.5)), odd(index=3), odd(index=ValueError), odd(index="x"),
         odd(index=IntSub(2)), odd(int=5)]
STEPS = [0, 1, 2, 4, 6, 10, -5, True, 2.7, -0.5, FloatSub(3.5), IntSub(4), odd(int=3), odd(int=ValueError),
         odd(int="5"), odd(int=True), odd(index=5), nan, inf, "5", None, 2**31, 2**63, -2**31 - 1, odd(int=2**40)]
# Values an integrand may return, or anyone may put into the containers.
JUNK = [None, "x", True, 1j, nan, inf, -inf, 10**400, 10**20, FloatSub(0.5), IntSub(3), [1.0], (1.0,),
        odd(float=ValueError), odd(float="x"), odd(float=FloatSub(2.0)), odd(gt=ValueError, bool=ValueError),
        odd(getitem=2.0, len=1), odd(getitem=ValueError),
        odd(add=ValueError, radd=2.5), odd(add="s", radd=ValueError), odd(add=odd(rmul=1j), radd=None),
        odd(add=odd(rmul=odd(float=ValueError)), radd=odd(float=ValueError), sub=ValueError, float=2.0)]
SMOOTH = (math.sin, math.exp, math.atan, float, abs)
BUILTINS = SMOOTH + (math.sqrt, math.log, str, int, complex)

# Changes made to an instance behind its methods' backs: (instance, holder, rng).
ACTIONS = [
    lambda o, h, r: o.romberg_map.clear(),
    lambda o, h, r: o.romberg_map.popitem(),
    lambda o, h, r: o.romberg_map.__setitem__(f"{r.randint(0, 3)}-{r.randint(0, 3)}", r.choice(JUNK)),
    lambda o, h, r: o.romberg_map.__setitem__(odd(hash=hash("0-0"), eq=r.choice([True, ValueError])), 0.5),
    lambda o, h, r: o.romberg_table.clear(),
    lambda o, h, r: o.romberg_table.__delitem__(slice(-1, None)),
    lambda o, h, r: o.romberg_table.append(r.choice([r.choice(JUNK), [r.choice(JUNK)], [], o.romberg_table])),
    lambda o, h, r: o.romberg_table[-1].clear(),
    lambda o, h, r: o.romberg_table[-1].append(r.choice(JUNK)),
    lambda o, h, r: o.precision_table.clear(),
    lambda o, h, r: o.precision_table.append(r.choice(JUNK)),
    lambda o, h, r: copy.deepcopy(o),
    # Only from inside the integrand: re-entry, losing the last outside reference, collection.
    lambda o, h, r: o.recursive(),
    lambda o, h, r: o.dynamic_programming(r.randint(0, 4)),
    lambda o, h, r: h.clear(),
    lambda o, h, r: gc.collect(),
]


class Integrand:
    """Returns hostile results, changes the instance at chosen calls, and
    raises at a chosen call and once its call budget, which keeps every run
    finite, is spent."""
    def __init__(self, r, holder):
        self.r, self.holder, self.calls, self.budget = r, holder, 0, r.choice([40, 300, 2000])
        self.fail_at = r.choice([None] * 5 + [1, 2, r.randint(3, 80)])
        self.results = r.sample([lambda x: x * x, math.sin, lambda x: 1, FloatSub, lambda x: x > 0,
                                 lambda x, j=r.choice(JUNK): j], r.choice([1, 1, 2]))
        self.actions = {r.randint(1, 60): r.choice(ACTIONS) for _ in range(r.choice([0, 1, 3]))}

    def __call__(self, x):
        self.calls += 1
        if self.calls == self.fail_at or self.calls >= self.budget:
            raise ZeroDivisionError("planned failure, or the budget is spent")
        if self.calls in self.actions and self.holder:
            attempt(self.actions[self.calls], self.holder[0], self.holder, self.r)
        return self.results[self.calls % len(self.results)](x)


def check(error):
    """Records a SystemError anywhere in an exception's chain: a module bug."""
    while error is not None:
        if isinstance(error, SystemError):
            problems.append(f"SystemError: {error}")
        error = error.__context__


def attempt(call, *args):
    try:
        return call(*args)
    except Exception as error:  # any ordinary exception is a correct outcome
        check(error)
        return error


def case(seed):
    """Runs the case of `seed`; returns the problems it found."""
    r, holder = random.Random(seed), []
    tame = r.random() < 0.7
    del problems[:]
    gc.set_threshold(r.choice([700, 700, 50, 5, 1]))
    with warnings.catch_warnings():
        warnings.simplefilter(r.choice(["ignore", "error"]))
        a, b = r.choice(TAME if tame else REALS), r.choice(TAME if tame else REALS)
        precision = r.choice([1e-3, 1e-6, 0.1, inf, r.choice(TAME if tame else REALS)])
        f = Integrand(r, holder)
        f = r.choice([f] * 6 + [f.__call__, r.choice(BUILTINS), r.choice([None, 5, P, type])])
        # Without the call budget only a smooth integrand on a small interval is sure to converge.
        budgeted = f not in BUILTINS
        finite = f in SMOOTH and tame and precision in (1e-3, 1e-6, 0.1, inf)
        cls = r.choice([P, P, Sub, Slots, Finalised])
        obj = attempt(r.choice([lambda: cls(a, b, precision, f)] * 4 + [
            lambda: cls(a, b, f), lambda: cls(a, b, precision=precision, integrand=f), lambda: cls(a, b, 1, f, a=a)]))
        # Besides the new instance: one cleared by the collector, or a half-built one revived by __del__.
        holder.extend(zombie() if r.random() < 0.05 else [obj] if isinstance(obj, P) else Finalised.revived[:1])
        for _ in range(r.randint(1, 3)):
            if holder and r.random() < 0.3:
                attempt(r.choice(ACTIONS[:12]), holder[0], holder, r)
                finite = False  # a memo entry placed from outside may keep recursive() from converging
            ms = r.choice(STEPS)
            calls = [lambda: holder[0].dynamic_programming(ms)] * 4 + [
                lambda: holder[0].dynamic_programming(maximum_step=ms), lambda: P.dynamic_programming(holder[0], 1, ms),
                lambda: holder[0].dynamic_programming(steps=ms)]
            calls += [lambda: holder[0].dynamic_programming(), lambda: P.recursive(holder[0])] * 2 * budgeted
            calls += [lambda: holder[0].recursive()] * 4 * (budgeted or finite) + [lambda: holder[0].recursive(ms)]
            result = attempt(r.choice(calls)) if holder else 0.0
            if not isinstance(result, Exception) and type(result) is not float:
                problems.append(f"a method returned {result!r}")
        if holder and r.random() < 0.5:
            attempt(lambda: holder[0].romberg_table.append(holder[0]))
        if r.random() < 0.5:
            holder.clear()  # otherwise instance, integrand and holder stay a cycle
        del obj, f, holder, Finalised.revived[:]
        gc.collect()
    gc.set_threshold(700)
    return list(problems)


def failures(seeds):
    """(seed, what went wrong) for each failing case of `seeds`, run in one
    child; a failing batch is run again one case per child."""
    command = [sys.executable, os.path.abspath(__file__), "--child", *map(str, seeds)]
    try:
        done = subprocess.run(command, capture_output=True, text=True, timeout=30 + LIMIT * len(seeds),
                              env=dict(os.environ, PYTHONHASHSEED="0"))
    except subprocess.TimeoutExpired:
        done = subprocess.CompletedProcess(command, -1, "", "the child hung")
    report = [line for line in done.stderr.splitlines() if line.startswith(BAD_OUTPUT)]
    if not (done.returncode or report or done.stdout != "done\n"):
        return []
    if len(seeds) > 1:
        return [found for seed in seeds for found in failures([seed])]
    lines = done.stdout.splitlines() + report + done.stderr.splitlines()[-3:]
    return [(seeds[0], f"exit status {done.returncode}: " + " | ".join(lines[:8]))]


def run(seed, count=2**31, duration=inf, batch=100, jobs=os.cpu_count()):
    """Runs the cases of the run `seed` until `count` ran or `duration`
    seconds passed; returns the failures and the number of cases run."""
    deadline, starts, found = time.monotonic() + duration, itertools.count(0, batch), []

    def worker(_):
        ran = 0
        for start in starts:
            if start >= count or time.monotonic() > deadline:
                return ran
            seeds = [(seed << 32) + i for i in range(start, min(start + batch, count))]
            found.extend(failures(seeds))
            ran += len(seeds)
    with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
        return found, sum(pool.map(worker, range(jobs)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for option, kind in (("--seed", int), ("--duration", float), ("--case", int)):
        parser.add_argument(option, type=kind)
    parser.add_argument("--child", type=int, nargs="+")
    options = parser.parse_args()
    if options.child:
        # A case that outlives the limit prints every thread's stack and ends the child.
        faulthandler.enable()
        sys.unraisablehook = lambda unraisable: check(unraisable.exc_value)
        for seed in options.child:
            faulthandler.dump_traceback_later(LIMIT, exit=True)
            for problem in case(seed):
                print(f"case {seed}: {problem}")
        faulthandler.cancel_dump_traceback_later()
        print("done")
    elif options.case is not None:
        print(case(options.case) or "passed")
    else:
        found, ran = run(options.seed or 0, duration=options.duration or 60)
        print(*(f"FAILED: stress.py --case {seed}: {problem}" for seed, problem in found), sep="\n")
        print(f"{ran} cases, {len(found)} failed")
        sys.exit(1 if found else 0)


if __name__ == "__main__":
    main()
