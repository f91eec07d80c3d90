"""Shared helpers for the Pelorand test suite."""
import gc
import os
import re
import subprocess
import sys
import traceback


def exact(message):
    """A regex matching exactly `message`."""
    return f"^{re.escape(message)}$"


def run_python(code, *options):
    """Runs `code` in a fresh interpreter with this one's environment."""
    return subprocess.run([sys.executable, *options, "-c", code], capture_output=True,
                          text=True, env=os.environ, timeout=300)


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


def block_growth(action, repeat):
    """Allocated-block growth, as measured by `growth`."""
    return growth(action, repeat)[0]


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
