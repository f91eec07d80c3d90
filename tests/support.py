"""Shared helpers for the Pelorand test suite."""
import gc
import os
import re
import subprocess
import sys
import traceback
import weakref

from Pelorand import Pelorand


def exact(message):
    """A regex matching exactly `message`."""
    return f"^{re.escape(message)}$"


def start_python(code, *options):
    """A fresh interpreter with this one's environment running `code`, its
    output and errors piped."""
    return subprocess.Popen([sys.executable, *options, "-c", code], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, env=os.environ)


def run_python(code, *options):
    """Runs `code` in a fresh interpreter: its exit status, output and errors."""
    with start_python(code, *options) as child:
        out, err = child.communicate(timeout=300)
    return subprocess.CompletedProcess(child.args, child.returncode, out, err)


def self_referencing(integrand, a=0, b=1, precision=1e-3):
    """An instance whose integrand is `integrand(instance, x)`: a cycle
    through the integrand, as a closure over the instance makes one."""
    def f(x):
        return integrand(obj, x)
    obj = Pelorand(a, b, precision, f)
    return obj


def raised(call):
    """The exception that `call()` raises (with its traceback), or None."""
    try:
        call()
    except BaseException as error:  # noqa: B036 - the caller inspects it
        return error
    return None


def own_entries(error):
    """The module's own traceback entries of an exception, outermost first."""
    return [frame.name for frame in traceback.extract_tb(error.__traceback__)
            if frame.name.startswith(("Pelorand.", "init Pelorand"))]


def growth(action, repeat):
    """Growth of allocated blocks and of objects tracked by the garbage
    collector over `repeat` runs of `action`, after as many warm-up runs to
    fill caches and free lists; a leak of even one per run shows as at least
    `repeat`. Blocks are not counted under PYTHONMALLOC=malloc."""
    for _ in range(repeat):
        action()
    gc.collect()
    blocks, objects = sys.getallocatedblocks(), len(gc.get_objects())
    for _ in range(repeat):
        action()
    gc.collect()
    return sys.getallocatedblocks() - blocks, len(gc.get_objects()) - objects


def odd(**how):
    """An object whose dunder methods named in `how` (without underscores)
    return the given value, or raise it when it is an exception class."""
    def method(outcome):
        def dunder(self, *args):
            if isinstance(outcome, type) and issubclass(outcome, BaseException):
                raise outcome("odd")
            return outcome
        return dunder
    return type("Odd", (), {f"__{name}__": method(value) for name, value in how.items()})()


def swallow(action, *errors):
    """Runs `action`, ignoring the given exception types."""
    def run():
        try:
            action()
        except errors:
            pass
    return run


class Recorder:
    """An integrand that records its arguments, optionally failing on call n."""
    def __init__(self, f=lambda x: x * x, fail_at=None, error=ZeroDivisionError):
        self.f, self.fail_at, self.error, self.calls = f, fail_at, error, []

    def __call__(self, x):
        self.calls.append(x)
        if len(self.calls) == self.fail_at:
            raise self.error("integrand failed")
        return self.f(x)


class FloatSub(float): pass
class IntSub(int): __int__ = __index__ = None  # read as an int, never asked
class Sub(Pelorand): pass


def zombie():
    """Instances revived after the collector cleared them: every field None."""
    revived = []
    reviver = type("Reviver", (), {"__del__": lambda self: revived.append(self.ref())})

    def finalise(self):
        # Made during collection, after the collector cleared the weak references it knew.
        self.obj.romberg_table.append(reviver())
        self.obj.romberg_table[-1].ref = weakref.ref(self.obj)
    # The collector clears objects in the order they were made: the instance first.
    obj, finaliser = Sub(0, 1, 1e-3, abs), type("Finaliser", (), {"__del__": finalise})()
    obj.romberg_table.append(finaliser)
    finaliser.obj = obj
    del obj, finaliser
    gc.collect()
    return [obj for obj in revived if obj is not None]
