"""Deliberate misuse of the public API, for the type checker only: pyright
must report an error on each line whose comment expects one, and on no other
line. Never run."""
from Pelorand import Pelorand


def square(x: float) -> float:
    return x * x


def by_name(name: str) -> float:
    return float(len(name))


obj = Pelorand(0, 1, 1e-3, square)

Pelorand("0", 1, 1e-3, square)  # expected error: a bound that is not a real number
Pelorand(0, 1, None, square)  # expected error: a precision that is not a number
Pelorand(0, 1, 1e-3, "square")  # expected error: an integrand that is not callable
Pelorand(0, 1, 1e-3, by_name)  # expected error: an integrand that does not take a float
Pelorand(0, 1, 1e-3)  # expected error: the integrand missing
Pelorand(0, 1, 1e-3, square, tolerance=1e-6)  # expected error: unknown keyword
obj.recursive(10)  # expected error: recursive() takes no argument
obj.dynamic_programming(max_step=10)  # expected error: unknown keyword
obj.dynamic_programming("20")  # expected error: a step count that is not an int
label: str = obj.recursive()  # expected error: the result is a float
rows: list[list[int]] = obj.romberg_table  # expected error: rows of floats, not ints
entry = obj.romberg_map[0]  # expected error: the keys are strings
obj.romberg_tabel  # expected error: no such attribute

# Last: a failed assignment still narrows the attribute for the lines after it.
obj.romberg_map = {}  # expected error: read-only property
obj.romberg_table = []  # expected error: read-only property
obj.precision_table = [0.0]  # expected error: read-only property
del obj.romberg_table  # expected error: a property without deleter
