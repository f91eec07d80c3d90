"""Allocation failures injected one at a time into start-up, construction and both
methods: each must end in MemoryError and leave everything working."""
import ast
import concurrent.futures
import functools
import gc
import importlib.util
import itertools
import math
import sys
import unittest

# Imported in every child alike, so that start_up() and setdefault_resizes()
# number the same allocations.
import _pelorand_probe as probe

try:
    import _testcapi
except ImportError:
    _testcapi = None

# A sweep ends after this many windows in a row complete normally: a failure
# absorbed on the way (a look-up whose error reads as "absent") completes too.
TAIL = 10
# Python floats, a builtin's fast path, ints through the number protocol, and
# an integrand raising at the second sample (the error path and its traceback).
# Exceptions leave no Python frame while armed (integrands raise from C, the
# operations are C callables): CPython 3.12 itself can turn an allocation
# failure as an exception leaves a Python frame into a SystemError.
INTEGRANDS = {"x*x": lambda x: x * x, "exp": math.exp, "round(1000*x)": lambda x: round(1000 * x),
              "atanh": math.atanh}
# Per phase: windows that hit and left everything working, all that hit, and
# those skipped because the interpreter loses their failure.
SURVIVED = dict.fromkeys(("exec", "construction", "recursive", "dynamic_programming"), ("not run",) * 2 + (0,))


def under(window, call, *args):
    """`call(*args)` with allocation number `window` (from 0) failing: its result or exception."""
    try:
        try:
            if window is not None:
                _testcapi.set_nomemory(window, window + 1)
            return call(*args)
        finally:
            _testcapi.remove_mem_hooks()
    except Exception as error:
        return error


def setdefault_loses_failures():
    """Whether this interpreter loses a failed resize in dict.setdefault's insertion
    of a new key, reporting success with the MemoryError pending: readying a type
    then goes on with a corrupted type dict. Found by running it, not by version
    (CPython 3.13.0 has it, 3.12 does not): 5 str keys fill a dict's 8-slot table."""
    return type(under(0, dict.fromkeys("abcde").setdefault, "new", 1)) is SystemError


def watched(call, *args):
    """The call stacks of the allocations `call(*args)` makes, numbered as under() numbers them."""
    probe.watch_allocations()
    try:
        call(*args)
    finally:
        stacks = probe.end_watch()
    return stacks


def setdefault_resizes():
    """Child: the windows of start_up() whose allocation is the resize in dict.setdefault's
    insertion, told by call site: the stacks of that resize made by setdefault and by item
    assignment agree up to the site where they part. The start-up is watched first, in the
    state start_up() runs it in."""
    located = importlib.util.find_spec("Pelorand")
    stacks = watched(lambda: located.loader.exec_module(importlib.util.module_from_spec(located)))
    by_setdefault, = watched(dict.fromkeys("abcde").setdefault, "new", 1)
    by_assignment, = watched(dict.fromkeys("abcde").__setitem__, "new", 1)
    parted = [i for i, (x, y) in enumerate(zip(by_setdefault, by_assignment)) if x != y]
    if not parted:
        sys.exit("the probe records no call stacks here, so the windows the interpreter loses are unknown")
    site = by_setdefault[:parted[0] + 1]
    print([window for window, stack in enumerate(stacks) if stack[:len(site)] == site])


def canon(value):
    """`value` with floats in hex and dicts sorted: equal means equal to the bit."""
    if isinstance(value, float):
        return value.hex()
    if isinstance(value, (list, tuple, dict)):
        return [canon(item) for item in (sorted(value.items()) if isinstance(value, dict) else value)]
    return value


def attempt(op, receiver, window=None):
    """The exception, or the result and the containers left (a new instance's after recursive())."""
    from Pelorand import Pelorand
    value = under(window, op, receiver)
    if isinstance(value, Exception):
        return type(value).__name__, str(value)
    if type(value) is Pelorand:
        receiver, value = value, attempt(Pelorand.recursive, value)
    return "done", canon((value, receiver.romberg_map, receiver.romberg_table, receiver.precision_table))


def sweep(phase):
    """Child: `integrand window` before each window, its verdict after it, so a crash shows where."""
    from Pelorand import Pelorand as P
    fresh = functools.partial(P, 0, 1, 1e-3)
    make, op = {"construction": (lambda f: f, fresh), "recursive": (fresh, P.recursive),
                "dynamic_programming": (fresh, functools.partial(P.dynamic_programming, maximum_step=4))}[phase]
    for label, f in INTEGRANDS.items():
        expected, verdicts = attempt(op, make(f)), []
        while verdicts[-TAIL:] != ["clean"] * TAIL:
            print(label, len(verdicts), end=" ", flush=True)
            receiver = make(f)
            gc.collect()  # empties the free lists: every new object is allocated
            first, retry = attempt(op, receiver, len(verdicts)), attempt(op, receiver)
            hit = first[0] == "MemoryError"
            problems = [] if hit or first == expected else [f"gives {first}"]
            problems += [] if retry == expected else [f"retried gives {retry}"]
            outcome = ["hit"] if hit else [] if problems else ["clean"]
            verdicts.append("; ".join(outcome + problems + [f"expected {expected}"] * bool(problems)))
            print(verdicts[-1], flush=True)


def describe(module):
    """What a clean start-up builds, down to each value's kind, for comparison."""
    def summary(value):
        if isinstance(value, function):
            return value.__qualname__, value.__defaults__, value.__doc__
        return type(value).__name__, repr(value) if isinstance(value, (str, int, tuple, type(None))) else None
    cls = module.Pelorand
    function = type(cls.recursive)
    found = {part: {key: summary(value) for key, value in vars(ns).items()}
             for part, ns in (("module", module), ("class", cls), ("function type", function))}
    found["inherited from object"] = {f"{owner.__name__}.{name}": getattr(owner, name) is getattr(object, name)
                                      for owner in (cls, function) for name in dir(object)}
    found["integral"] = {"recursive()": cls(0, 1, 1e-3, math.exp).recursive().hex()}
    return found


def start_up(window):
    """Child: create and exec with allocation `window` failing, then a plain import; prints
    the outcome, whether a failed exec left a module in sys.modules, what the import gave."""
    located = importlib.util.find_spec("Pelorand")
    error = under(window, lambda: located.loader.exec_module(importlib.util.module_from_spec(located)))
    outcome = "clean" if error is None else "hit" if type(error) is MemoryError else repr(error)
    # Dropped once reported, so that the import shows what a new exec builds.
    left = error is not None and sys.modules.pop("Pelorand", None) is not None
    try:
        import Pelorand
        found = describe(Pelorand)
    except Exception as failure:
        found = repr(failure)
    print(repr((outcome, left, found)))


def child(call):
    # Imported here: support imports Pelorand, which the children must not do before they sweep.
    from support import run_python
    done = run_python(f"import test_faults; test_faults.{call}")
    return done.stdout, (done.returncode or done.stderr) and f"exit {done.returncode}: {done.stderr[-3000:]}"


def differences(expected, found):
    if not isinstance(found, dict):
        return [found]
    out = []
    for part, want in expected.items():
        got = found[part]
        changed = {key for key in want.keys() & got.keys() if want[key] != got[key]}
        for what, keys in (("gains", got.keys() - want.keys()), ("loses", want.keys() - got.keys()),
                           ("changes", changed)):
            out += [f"{part} {what} {sorted(keys)}"] if keys else []
    return out


def grouped(faults):
    """One line per run of consecutive windows with the same fault."""
    # Along such a run, window number minus position in the list stays the same.
    runs = itertools.groupby(enumerate(faults), lambda item: (item[1][0], item[1][2], item[1][1] - item[0]))
    spans = [(where, what, [window for _, (_, window, _) in run]) for (where, what, _), run in runs]
    return "".join(f"\n{where} windows {w[0]}-{w[-1]}: {what}" for where, what, w in spans)


@unittest.skipIf(_testcapi is None, "needs _testcapi.set_nomemory")
class AllocationFailures(unittest.TestCase):
    def judge(self, phase, rows):
        """`rows` of (where, window, verdict): `hit`, `clean` and `skipped` pass, other verdicts name a fault."""
        verdicts = [verdict for *_, verdict in rows]
        SURVIVED[phase] = (verdicts.count("hit"), sum(verdict.startswith("hit") for verdict in verdicts),
                           verdicts.count("skipped"))
        faults = [row for row in rows if row[2] not in ("hit", "clean", "skipped", "")]
        if faults:
            self.fail(grouped(faults))

    def test_start_up(self):
        out, crash = child("start_up(None)")
        self.assertFalse(crash)
        reference, rows = ast.literal_eval(out)[2], []
        lost = []  # windows whose failure the interpreter loses: nothing of ours to test
        if setdefault_loses_failures():
            out, crash = child("setdefault_resizes()")
            self.assertFalse(crash)
            lost = ast.literal_eval(out)
        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            while [verdict for *_, verdict in rows[-TAIL:]] != ["clean"] * TAIL:
                windows = range(len(rows), len(rows) + 4)
                runs = pool.map(lambda n: None if n in lost else child(f"start_up({n})"), windows)
                for window, done in zip(windows, runs):
                    if done is None:
                        rows.append(("exec", window, "skipped"))
                        continue
                    out, crash = done
                    outcome, left, found = ("crash", False, None) if crash else ast.literal_eval(out)
                    problems = [crash] if crash else [] if outcome in ("hit", "clean") else [outcome]
                    problems += ["the failed exec left its module in sys.modules"] if left else []
                    problems += differences(reference, found) if found else []
                    verdict = [outcome] if outcome == "hit" or not problems else []
                    rows.append(("exec", window, "; ".join(verdict + problems)))
        self.judge("exec", rows)

    def test_operations(self):
        for phase in ("construction", "recursive", "dynamic_programming"):
            with self.subTest(phase):
                out, crash = child(f"sweep({phase!r})")
                rows = [(f"{phase}({label})", int(window), verdict)
                        for label, window, verdict in (line.split(" ", 2) for line in out.splitlines())]
                if crash:  # in the window on the last line
                    rows.append((*rows[-1][:2], crash) if rows else (phase, 0, crash))
                self.judge(phase, rows)


def tearDownModule():
    if _testcapi:
        counts = (f"{phase} {survived}" + (f" of {hits}" if hits != survived else "")
                  + (f" ({skipped} skipped: the interpreter loses failures in dict.setdefault)" if skipped else "")
                  for phase, (survived, hits, skipped) in SURVIVED.items())
        print("allocation failures survived:", ", ".join(counts), file=sys.stderr)


if __name__ == "__main__":
    unittest.main()
