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


def block_growth(action, repeat):
    """Allocated-block growth over `repeat` runs of `action`, after as many
    warm-up runs to fill caches and free lists; a leak of even one block per
    run shows as at least `repeat`."""
    for _ in range(repeat):
        action()
    gc.collect()
    before = sys.getallocatedblocks()
    for _ in range(repeat):
        action()
    gc.collect()
    return sys.getallocatedblocks() - before


def swallow(action, *errors):
    """Runs `action`, ignoring the given exception types."""
    def run():
        try:
            action()
        except errors:
            pass
    return run
