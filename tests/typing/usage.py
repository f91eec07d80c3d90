"""Typed use of the public API, checked by pyright in strict mode against the
installed stub package, and run as is against the installed module."""
import math
from fractions import Fraction
from typing import assert_type

from Pelorand import Pelorand


class Scaled:
    """A callable object returning an int, as the integrand may."""

    def __call__(self, x: float) -> int:
        return int(x * 1000)


def square(x: float) -> float:
    return x * x


by_position = Pelorand(0, 1, 1e-3, square)
by_keyword = Pelorand(a=0.0, b=math.pi, precision=Fraction(1, 1000), integrand=math.sin)
assert_type(by_position, Pelorand)

assert_type(by_position.recursive(), float)
assert_type(by_keyword.dynamic_programming(), float)
assert_type(by_keyword.dynamic_programming(10), float)
assert_type(by_keyword.dynamic_programming(maximum_step=12), float)
assert_type(Pelorand(True, 2, 0.5, Scaled()).dynamic_programming(maximum_step=5.9), float)

memo = assert_type(by_position.romberg_map, dict[str, float])
table = assert_type(by_keyword.romberg_table, list[list[float]])
differences = assert_type(by_keyword.precision_table, list[float])
entry: float = memo["0-0"]
row: list[float] = table[-1]
last: float = differences[-1]

assert by_position.recursive() == 0.3333333333333333
assert entry == 0.5 and len(row) == len(table) and last >= 0.0
print("usage.py: ok")
