"""Nanoseconds per integrand call of Pelorand's two methods, measured against
a C++ floor and against the same scheme in plain Python, and the peak memory
of the table method; or, with --instructions, instructions per integrand call
counted by callgrind, which are the same from run to run.

    cmake -S . -B build && cmake --build build --target bench
    PYTHONPATH=build python3.12 bench/bench.py [--quick] [--repeat N]

    cmake --build build --target bench-instructions
    python3.12 bench/bench.py --instructions --build build [--floor-build DIR]

Any interpreter the build supports runs it, against the module and the floor
built for that interpreter.

Every run evaluates the same 20 trapezoid grids of [0, 1] (2**m intervals,
m = 0 .. 19: 2**20 + 19 calls): dynamic_programming(20) with a precision that
is never met, and recursive() with one that it first meets at level 19.
"""
# Only what a run under callgrind needs is imported here, the rest where it is
# used: every import adds to the start-up each counted run pays.
import gc
import math
import os
import resource
import sys
import time

try:
    import Pelorand as pelorand_module
    from Pelorand import Pelorand
    from _pelorand_bench import floor
except ImportError as error:  # --instructions loads them in its children only
    IMPORT_ERROR = error
else:
    IMPORT_ERROR = None

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


def grids_evaluated(method, obj):
    """The trapezoid grids a finished run of `method` evaluated: the rows of
    its table, or the T(0, k) in its memo."""
    if method == "dynamic_programming":
        return len(obj.romberg_table)
    return sum(1 for key in obj.romberg_map if key.startswith("0-"))


def grids_of(method, f, recursive_precision):
    """How many trapezoid grids a run evaluates, found by counting its calls.
    The floor and the Python scheme then evaluate exactly those grids."""
    counted = Counted(f)
    _, obj = run_ours(method, counted, precision_for(method, recursive_precision))
    grids = grids_evaluated(method, obj)
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

    import statistics

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
    import subprocess

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


# Instruction counts. Each run is a fresh interpreter under callgrind; the
# difference between a run over grids m = 0 .. 14 and one over m = 0 .. 9,
# divided by the difference of their calls, leaves the cost of a call alone.
INSTRUCTION_ROWS = (10, 15)
# recursive() meets these first at level rows - 1, a factor of 1.7 or more
# from the differences on either side: valgrind rounds the x87 products to
# double, which moves the differences in their last bits only.
INSTRUCTION_PRECISIONS = {10: 1.8e-5, 15: 1.0e-7}
CONTESTANTS = ("dynamic_programming", "recursive", "floor", "python")
# The C function each integrand goes through exactly once per call; callgrind
# counts its calls, so every run shows how many calls it made.
COUNTED_FUNCTIONS = {"math.sqrt": "math_sqrt", "lambda x: x ** 0.5": "float_pow",
                     "FixedPointRoot() -> int": "float_pow"}
# Nothing of the caller's environment reaches the children: the counts depend
# on hashing, locale and paths.
CHILD_ENVIRONMENT = {"PYTHONHASHSEED": "0", "PYTHONDONTWRITEBYTECODE": "1", "PYTHONNOUSERSITE": "1",
                     "LC_ALL": "C", "PATH": "/usr/bin:/bin"}


def instructions_child(contestant, index, rows):
    """One measured run, in a child under callgrind; prints the files of the
    module and the floor, then how many grids it evaluated."""
    _, f, recursive_precision = INTEGRANDS[int(index)]
    rows = int(rows)
    grids = None
    gc.disable()  # as in the wall-clock table
    if contestant in METHODS:
        scale = recursive_precision / RECURSIVE_PRECISION
        precision = TABLE_PRECISION if contestant == "dynamic_programming" else \
            INSTRUCTION_PRECISIONS[rows] * scale
        obj = Pelorand(A, B, precision, f)
        if contestant == "dynamic_programming":
            obj.dynamic_programming(rows)
        else:
            obj.recursive()
        grids = grids_evaluated(contestant, obj)
    elif contestant == "floor":
        calls, _ = floor(f, A, B, rows)
        grids = rows if calls == calls_for(rows) else None
    elif contestant == "python":
        python_romberg(f, A, B, rows)
        grids = rows
    print(pelorand_module.__file__, sys.modules[floor.__module__].__file__, grids, sep="\n")


def callgrind_counts(path, functions):
    """(total instructions, {function: calls}) from a callgrind output file
    written with uncompressed names."""
    total, calls, callee = None, dict.fromkeys(functions, 0), None
    with open(path, encoding="utf-8", errors="replace") as lines:
        for line in lines:
            if line.startswith("cfn="):
                callee = line[4:].strip()
            elif line.startswith("calls=") and callee in calls:
                calls[callee] += int(line[6:].split()[0])
            elif line.startswith("totals:"):
                total = int(line.split()[1])
    if total is None:
        sys.exit(f"bench.py: no totals in {path}")
    return total, calls


def callgrind_run(valgrind, contestant, index, rows, paths, scratch):
    """(instructions, calls of each counted function, the child's report:
    module file, floor file, grids) of one run; "start-up" runs nothing."""
    import subprocess

    out = os.path.join(scratch, f"{contestant}-{index}-{rows}.callgrind")
    env = dict(CHILD_ENVIRONMENT, PYTHONPATH=os.pathsep.join(dict.fromkeys(paths)))
    command = [valgrind, "--tool=callgrind", f"--callgrind-out-file={out}", "--compress-strings=no",
               "--compress-pos=no", sys.executable, os.path.abspath(__file__),
               "--instructions-child", contestant, str(index), str(rows)]
    done = subprocess.run(command, env=env, cwd="/", capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit(f"bench.py: {' '.join(command[-4:])} under callgrind failed:\n{done.stderr[-3000:]}")
    total, calls = callgrind_counts(out, set(COUNTED_FUNCTIONS.values()))
    os.remove(out)
    return total, calls, done.stdout.splitlines()


def found_in(directory, module):
    """The file of `module` built for this interpreter in `directory`, or None."""
    import sysconfig

    path = os.path.join(directory, module + sysconfig.get_config_var("EXT_SUFFIX"))
    return path if os.path.isfile(path) else None


def module_directory(module, given):
    if given:
        if not os.path.isdir(given):
            sys.exit(f"bench.py: no build folder {given}")
        path = found_in(given, module)
        if path is None:
            others = sorted(name for name in os.listdir(given)
                            if name.startswith(module + ".") and name.endswith((".so", ".pyd")))
            sys.exit(f"bench.py: no {module} module built for Python {sys.version.split()[0]} "
                     f"({sys.executable}) in {given}" + (f", only {', '.join(others)}" if others else ""))
        return os.path.dirname(os.path.abspath(path))
    for directory in sys.path:
        if os.path.isdir(directory or ".") and found_in(directory or ".", module):
            return os.path.abspath(directory or ".")
    sys.exit(f"bench.py: {module} is not on sys.path: name its build folder "
             f"({'--build' if module == 'Pelorand' else '--floor-build'}) or set PYTHONPATH")


def digest(path):
    import hashlib

    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()[:16]


def count_instructions(build, floor_build, jobs):
    """Instructions per integrand call of every contestant with every
    integrand; exits loudly if any run made other calls than it should."""
    import concurrent.futures
    import shutil
    import tempfile

    valgrind = shutil.which("valgrind")
    if valgrind is None:
        sys.exit("bench.py: --instructions needs valgrind (callgrind) on PATH")
    module_dir = module_directory("Pelorand", build)
    if floor_build is None and build is not None and found_in(module_dir, "_pelorand_bench"):
        floor_build = module_dir
    floor_dir = module_directory("_pelorand_bench", floor_build)
    paths = (module_dir, floor_dir)
    small, large = INSTRUCTION_ROWS
    runs = [("start-up", 0, 0)] + [(c, i, rows) for i in range(len(INTEGRANDS))
                                   for c in CONTESTANTS for rows in INSTRUCTION_ROWS]
    with tempfile.TemporaryDirectory() as scratch, \
            concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        futures = {run: pool.submit(callgrind_run, valgrind, *run, paths, scratch) for run in runs}
        counts = {run: future.result() for run, future in futures.items()}

    _, start_calls, (module_file, floor_file, _) = counts["start-up", 0, 0]
    for path, loaded, what in ((module_dir, module_file, "module"), (floor_dir, floor_file, "floor")):
        if os.path.dirname(loaded) != path:
            sys.exit(f"bench.py: the children loaded the {what} from {loaded}, not from {path}")
    per_call = {}
    for index, (name, _, _) in enumerate(INTEGRANDS):
        counted = COUNTED_FUNCTIONS[name]
        for contestant in CONTESTANTS:
            totals = []
            for rows in INSTRUCTION_ROWS:
                total, calls, report = counts[contestant, index, rows]
                made = calls[counted] - start_calls[counted]
                grids = report[2] if len(report) == 3 else "?"
                if grids != str(rows) or made != calls_for(rows):
                    sys.exit(f"bench.py: {contestant} with {name} over {rows} grids made {made} calls "
                             f"of {counted} and evaluated {grids} grids under callgrind, "
                             f"not {calls_for(rows)} calls over {rows} grids")
                totals.append(total)
            per_call[name, contestant] = (totals[1] - totals[0]) / (calls_for(large) - calls_for(small))
    return {"module": found_in(module_dir, "Pelorand"), "floor": found_in(floor_dir, "_pelorand_bench"),
            "start-up": counts["start-up", 0, 0][0], "per call": per_call}


def print_instructions(counted):
    import platform
    import subprocess

    small, large = INSTRUCTION_ROWS
    version = subprocess.run(["valgrind", "--version"], capture_output=True, text=True).stdout.strip()
    print(f"Instructions per integrand call, counted by callgrind ({version}), "
          f"Python {platform.python_version()} on {platform.machine()}")
    for what in ("module", "floor"):
        print(f"{what + ':':<8}{counted[what]} (sha256 {digest(counted[what])})")
    print(f"each: (instructions of a run over the grids m = 0 .. {large - 1}) - (the same over "
          f"m = 0 .. {small - 1}), over the {calls_for(large) - calls_for(small)} calls between them;")
    print(f"a fresh interpreter per run, whose start-up is {counted['start-up']} instructions;")
    print(f"every run over M grids made exactly 2**M + M - 1 integrand calls, as callgrind counted "
          f"them in {' and '.join(sorted(set(COUNTED_FUNCTIONS.values())))}\n")
    header = (f"{'integrand':<24} {'method':<20} {'ours':>8} {'floor':>8} {'python':>8} "
              f"{'ours/floor':>10} {'ours/python':>11}")
    print(header)
    print("-" * len(header))
    per_call = counted["per call"]
    for name, _, _ in INTEGRANDS:
        fl, py = per_call[name, "floor"], per_call[name, "python"]
        for method in METHODS:
            ours = per_call[name, method]
            print(f"{name:<24} {method:<20} {ours:>8.1f} {fl:>8.1f} {py:>8.1f} "
                  f"{ours / fl:>10.3f} {ours / py:>11.3f}")
    print("(instructions per integrand call)")


def main(argv=None):
    import argparse
    import platform

    parser = argparse.ArgumentParser(
        description="Times Pelorand's integration methods against a C++ floor and plain Python.")
    parser.add_argument("--quick", action="store_true", help="3 repetitions instead of 11")
    parser.add_argument("--repeat", type=int, help="number of interleaved repetitions")
    parser.add_argument("--instructions", action="store_true",
                        help="count instructions per integrand call with callgrind instead of timing")
    parser.add_argument("--build", metavar="DIR",
                        help="with --instructions: the build folder of the module counted "
                             "(default: where PYTHONPATH finds Pelorand)")
    parser.add_argument("--floor-build", metavar="DIR",
                        help="with --instructions: the build folder of the floor extension "
                             "(default: --build when it holds one, else where PYTHONPATH finds it)")
    parser.add_argument("--jobs", type=int, default=min(2, os.cpu_count() or 1),
                        help="with --instructions: callgrind runs at once (default 2)")
    args = parser.parse_args(argv)
    if args.instructions:
        started = time.perf_counter()
        print_instructions(count_instructions(args.build, args.floor_build, max(1, args.jobs)))
        print(f"{time.perf_counter() - started:.1f} s", file=sys.stderr)
        return
    if IMPORT_ERROR is not None:
        sys.exit(f"bench.py: {IMPORT_ERROR}: run it with the build folder on PYTHONPATH")
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
    if sys.argv[1:2] == ["--instructions-child"]:  # no argparse: it would add to the start-up
        instructions_child(*sys.argv[2:])
    else:
        main()
