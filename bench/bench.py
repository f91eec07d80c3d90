"""Nanoseconds per integrand call of Pelorand's two methods, measured against
a C++ floor and against the same scheme in plain Python, and the peak memory
of the table method.

    cmake -S . -B build && cmake --build build --target bench
    PYTHONPATH=build python3.12 bench/bench.py [--quick] [--repeat N]

Every run evaluates the same 20 trapezoid grids of [0, 1] (2**m intervals,
m = 0 .. 19: 2**20 + 19 calls): dynamic_programming(20) with a precision that
is never met, and recursive() with one that it first meets at level 19.
"""
import argparse
import gc
import math
import os
import platform
import resource
import statistics
import subprocess
import sys
import time

import Pelorand as pelorand_module
from Pelorand import Pelorand
from _pelorand_bench import floor

A, B = 0.0, 1.0
ROWS = 20
# Never met, so dynamic_programming() runs every row; the differences of a
# root shrink steadily, so the growth test never fires either.
TABLE_PRECISION = -1.0
# Between the differences of levels 18 and 19 of the root's T(m, 0).
RECURSIVE_PRECISION = 3.5e-10
# Fixed-point unit of the int integrand: fine enough that truncation moves
# no difference across the stopping threshold.
SCALE = 2.0**50
MEMORY_ROWS = (12, 24)

# Ours may not exceed the floor by more than this factor.
TARGETS = {"math.sqrt": 1.10, "lambda x: x ** 0.5": 1.05}


class FixedPointRoot:
    """sqrt(x) in units of 2**-50, as an int: results that are not floats
    take the number protocol's path through the sums."""

    def __call__(self, x):
        return int(x ** 0.5 * SCALE)


# name, integrand, the precision at which recursive() stops at level 19
INTEGRANDS = [
    ("math.sqrt", math.sqrt, RECURSIVE_PRECISION),
    ("lambda x: x ** 0.5", lambda x: x ** 0.5, RECURSIVE_PRECISION),
    ("FixedPointRoot() -> int", FixedPointRoot(), RECURSIVE_PRECISION * SCALE),
]
METHODS = ("dynamic_programming", "recursive")


def python_romberg(f, a, b, rows):
    """The table method as a careful user writes it in Python: locals only,
    one trapezoid sum per row, then the row's extrapolations. Runs all `rows`
    rows so that it makes exactly the calls of the runs it is compared with."""
    previous = []
    for m in range(rows):
        n = 1 << m
        h = (b - a) / n
        s = 0.5 * (f(a) + f(b))
        for j in range(1, n):
            s += f(a + j * h)  # x in double here; Pelorand forms it in long double
        row = [h * s]
        power = 1.0
        for up in previous:
            power *= 4.0
            row.append((power * row[-1] - up) / (power - 1.0))
        previous = row
    return previous[-1]


def calls_for(grids):
    """Integrand calls of the trapezoid grids m = 0 .. grids - 1."""
    return 2**grids + grids - 1


def run_ours(method, f, precision):
    """One run on a fresh object (recursive() would otherwise answer from its
    memo); returns (nanoseconds, the object)."""
    obj = Pelorand(A, B, precision, f)
    run = getattr(obj, method)
    args = (ROWS,) if method == "dynamic_programming" else ()
    start = time.perf_counter_ns()
    run(*args)
    return time.perf_counter_ns() - start, obj


def run_floor(f, grids):
    start = time.perf_counter_ns()
    floor(f, A, B, grids)
    return time.perf_counter_ns() - start


def run_python(f, grids):
    start = time.perf_counter_ns()
    python_romberg(f, A, B, grids)
    return time.perf_counter_ns() - start


def precision_for(method, recursive_precision):
    return TABLE_PRECISION if method == "dynamic_programming" else recursive_precision


class Counted:
    def __init__(self, f):
        self.f, self.calls = f, 0

    def __call__(self, x):
        self.calls += 1
        return self.f(x)


def grids_of(method, f, recursive_precision):
    """How many trapezoid grids a run evaluates, found by counting its calls.
    The floor and the Python scheme then evaluate exactly those grids."""
    counted = Counted(f)
    _, obj = run_ours(method, counted, precision_for(method, recursive_precision))
    if method == "dynamic_programming":
        grids = len(obj.romberg_table)
    else:
        grids = sum(1 for key in obj.romberg_map if key.startswith("0-"))
    if counted.calls != calls_for(grids):
        sys.exit(f"bench.py: {method} with {f!r} made {counted.calls} calls, "
                 f"not the {calls_for(grids)} of {grids} grids")
    floor_calls, _ = floor(f, A, B, grids)
    if floor_calls != counted.calls:
        sys.exit(f"bench.py: the floor made {floor_calls} calls, not {counted.calls}")
    return grids


def measure(repeat):
    """Median ns per call for every (integrand, method), with the three
    contestants interleaved within each repetition so that drifts in clock
    speed or load fall on all of them alike."""
    cases = []
    for name, f, recursive_precision in INTEGRANDS:
        for method in METHODS:
            grids = grids_of(method, f, recursive_precision)
            if grids != ROWS:
                print(f"note: {method} with {name} evaluates {grids} grids, not {ROWS}")
            cases.append((name, method, f, precision_for(method, recursive_precision), grids))

    samples = {case[:2]: ([], [], []) for case in cases}
    was_enabled = gc.isenabled()
    gc.disable()  # as timeit does: a collection would land on one contestant only
    try:
        for rep in range(repeat):
            for name, method, f, precision, grids in cases:
                ours, floors, pythons = samples[name, method]
                runs = [lambda: ours.append(run_ours(method, f, precision)[0]),
                        lambda: floors.append(run_floor(f, grids)),
                        lambda: pythons.append(run_python(f, grids))]
                # Rotated, so that no contestant always runs first or last.
                for i in range(3):
                    runs[(rep + i) % 3]()
                    gc.collect()
    finally:
        if was_enabled:
            gc.enable()

    results = []
    for name, method, f, precision, grids in cases:
        calls = calls_for(grids)
        medians = [statistics.median(times) / calls for times in samples[name, method]]
        results.append((name, method, calls, *medians))
    return results


def print_table(results):
    header = (f"{'integrand':<24} {'method':<20} {'calls':>8} {'ours':>7} {'floor':>7} "
              f"{'python':>7} {'ours/floor':>10} {'ours/python':>11}  target")
    print(header)
    print("-" * len(header))
    for name, method, calls, ours, fl, py in results:
        ratio = ours / fl
        target = TARGETS.get(name)
        verdict = "" if target is None else f"<= {target:.2f} {'ok' if ratio <= target else 'MISSED'}"
        print(f"{name:<24} {method:<20} {calls:>8} {ours:>7.1f} {fl:>7.1f} {py:>7.1f} "
              f"{ratio:>10.3f} {ours / py:>11.3f}  {verdict}")
    print("(ns per integrand call, each the median of the repetitions; ratios of those medians)")


MEMORY_CHILD = """
import math, resource, sys
from Pelorand import Pelorand
rows, traced = int(sys.argv[1]), sys.argv[2] == "traced"
obj = Pelorand(0.0, 1.0, {precision!r}, math.sqrt)
if traced:
    import tracemalloc
    tracemalloc.start()
try:  # start the high-water mark afresh, so start-up's peak cannot hide ours
    with open("/proc/self/clear_refs", "w") as clear_refs:
        clear_refs.write("5")
    reset = 1
except OSError:
    reset = 0
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
obj.dynamic_programming(rows)
after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
peak = tracemalloc.get_traced_memory()[1] if traced else 0
print(before, after, peak, reset)
""".format(precision=TABLE_PRECISION)


def memory_of(rows, traced):
    """(ru_maxrss before, after, tracemalloc peak, whether the high-water mark
    was reset) of dynamic_programming(rows) in a fresh interpreter; KiB, KiB,
    bytes."""
    env = dict(os.environ, PYTHONPATH=os.path.dirname(pelorand_module.__file__))
    out = subprocess.run([sys.executable, "-c", MEMORY_CHILD, str(rows), "traced" if traced else "-"],
                         env=env, capture_output=True, text=True, check=True).stdout
    return tuple(int(word) for word in out.split())


def print_memory():
    print("\nPeak memory of dynamic_programming(M) with math.sqrt, each in a fresh process")
    print(f"{'M':>3} {'calls':>9} {'maxrss before':>14} {'maxrss after':>13} {'growth':>9} "
          f"{'tracemalloc peak':>17}")
    rss, peaks = {}, {}
    for rows in MEMORY_ROWS:
        before, after, _, reset = memory_of(rows, traced=False)
        peak = memory_of(rows, traced=True)[2]
        rss[rows], peaks[rows] = after, peak
        note = "" if reset else "  (start-up's peak could not be reset: growth may be hidden)"
        print(f"{rows:>3} {calls_for(rows):>9} {before:>11} KiB {after:>9} KiB "
              f"{after - before:>5} KiB {peak:>11} bytes{note}")
    small, large = MEMORY_ROWS
    difference = rss[large] - rss[small]
    verdict = "ok" if difference <= 1024 else "MISSED"
    print(f"maxrss of M = {large} minus M = {small}: {difference} KiB (target <= 1024 KiB: {verdict}); "
          f"tracemalloc peaks differ by {peaks[large] - peaks[small]} bytes")


def main(argv=None):
    parser = argparse.ArgumentParser(
        description="Times Pelorand's integration methods against a C++ floor and plain Python.")
    parser.add_argument("--quick", action="store_true", help="3 repetitions instead of 11")
    parser.add_argument("--repeat", type=int, help="number of interleaved repetitions")
    args = parser.parse_args(argv)
    repeat = args.repeat or (3 if args.quick else 11)

    print(f"Python {platform.python_version()} on {platform.machine()}, {os.cpu_count()} CPUs; "
          f"{repeat} interleaved repetitions")
    print(f"ours:   Pelorand({A}, {B}, p, f).dynamic_programming({ROWS}) with p = {TABLE_PRECISION}, "
          f".recursive() with p = {RECURSIVE_PRECISION} (times 2**50 for the int integrand)")
    print("floor:  a C++ loop that only samples f on the same grids (vectorcall, result read as a double)")
    print("python: the table method written in plain Python, on the same grids\n")
    started = time.perf_counter()
    print_table(measure(repeat))
    print_memory()
    print(f"\n{time.perf_counter() - started:.1f} s in all")


if __name__ == "__main__":
    main()
