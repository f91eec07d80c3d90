"""An independent model of Pelorand's numerics in exact rationals.

Extended-precision results are rounded to a 64-bit significand (ties to even),
doubles are Python floats, and Python arithmetic on integrand results is
Python's own. Used to check the module's results bit for bit.
"""
from fractions import Fraction


def ext(q):
    """q rounded to the nearest value with a 64-bit significand."""
    q = Fraction(q)
    if q == 0:
        return q
    sign, q = (-1 if q < 0 else 1), abs(q)
    shift = 64 - (q.numerator.bit_length() - q.denominator.bit_length())
    scaled = q * Fraction(2) ** shift
    while scaled >= 2**64:
        shift, scaled = shift - 1, scaled / 2
    while scaled < 2**63:
        shift, scaled = shift + 1, scaled * 2
    return sign * Fraction(round(scaled)) / Fraction(2) ** shift


def trapezoid(f, a, b, level, calls):
    """T(0, level): h * sum with the sum a double after every addition."""
    a, b = Fraction(a), Fraction(b)
    h = ext(ext(b - a) / 2**level)
    def call(x):
        calls.append(float(x))
        return f(float(x))
    s = float(0.5 * (call(a) + call(b)))
    for i in range(1, 2**level):
        s = float(s + call(ext(a + ext(i * h))))
    return ext(h * Fraction(s))


class Recursive:
    def __init__(self, a, b, precision, f):
        self.a, self.b, self.precision, self.f = a, b, precision, f
        self.map, self.calls = {}, []

    def T(self, m, k):
        key = f"{m}-{k}"
        if key not in self.map:
            if m == 0:
                value = trapezoid(self.f, self.a, self.b, k, self.calls)
            else:
                finer, coarser = Fraction(self.T(m - 1, k + 1)), Fraction(self.T(m - 1, k))
                p = 4.0**m
                value = ext(ext(Fraction(p) * finer - coarser) / Fraction(p - 1.0))
            self.map[key] = float(value)
        return self.map[key]

    def run(self, max_level=14):
        previous = self.T(0, 0)
        for m in range(1, max_level + 1):
            current = self.T(m, 0)
            if ext(abs(Fraction(current) - Fraction(previous))) < Fraction(self.precision):
                return current
            previous = current
        raise AssertionError("model case does not converge")


class Dynamic:
    def __init__(self, a, b, precision, f):
        self.a, self.b, self.precision, self.f = a, b, precision, f
        self.table, self.precision_table, self.calls = [], [], []

    @staticmethod
    def row(previous, first):
        row, down = [float(first)], first
        for m, up in enumerate(previous, 1):
            w = 4.0**m
            elem = (float(ext(Fraction(down) * Fraction(w))) - up) / (w - 1.0)
            row.append(elem)
            down = elem
        return row

    def run(self, maximum_step=20):
        self.table.append([float(trapezoid(self.f, self.a, self.b, 0, self.calls))])
        m = 0
        for m in range(1, maximum_step):
            first = trapezoid(self.f, self.a, self.b, m, self.calls)
            self.table.append(self.row(self.table[-1], first))
            diff = abs(float(self.table[m][-1] - self.table[m - 1][-1]))
            self.precision_table.append(diff)
            if diff < self.precision:
                return self.table[m][-1]
            if len(self.precision_table) >= 2 and self.precision_table[-1] > self.precision_table[-2]:
                return self.table[m - 1][-1]
        return self.table[m][-1]


def seeded_cases(seed, count):
    """(a, b, f-description, f) tuples covering reversed, degenerate and
    non-representable bounds and integrands returning ints."""
    import math
    import random
    rng = random.Random(seed)
    integrands = [
        ("poly", lambda c: (lambda x: c[0] + c[1] * x + c[2] * x * x * x)),
        ("sin", lambda c: (lambda x: math.sin(c[0] * x) + c[1])),
        ("exp", lambda c: (lambda x: math.exp(c[1] * x))),
        ("int", lambda c: (lambda x: int(c[0] * 7) + 3)),
        ("rational", lambda c: (lambda x: 1 / (1 + c[2] ** 2 + x * x))),
    ]
    bounds = [(0.0, 1.0), (1.0, 0.0), (0.1, 1 / 3), (2.5, 2.5), (-1.0, 0.7), (1 / 3, 0.1), (0, 3)]
    cases = []
    for _ in range(count):
        name, make = rng.choice(integrands)
        coefficients = [rng.uniform(-2, 2) for _ in range(3)]
        a, b = rng.choice(bounds) if rng.random() < 0.6 else (rng.uniform(-3, 3), rng.uniform(-3, 3))
        cases.append((a, b, name, make(coefficients)))
    return cases
