"""Romberg integration with Pelorand: classic integrals, or one of your own.

    integrate.py                       the classic integrals, both methods
    integrate.py --show                ... with each Romberg table
    integrate.py "math.sin(x)" 0 3.141592653589793 --precision 1e-10 \\
        --method dynamic_programming --show

An expression is evaluated with only `math` and `x` in scope; bounds may be
numbers or expressions such as math.pi.
"""
import argparse
import math
import sys
from collections.abc import Callable, Sequence

from Pelorand import Pelorand

METHODS = ("recursive", "dynamic_programming")

Integrand = Callable[[float], float]

CLASSICS: list[tuple[str, Integrand, float, float, float]] = [  # name, integrand, a, b, exact value
    ("x**3 - 2*x + 1 on [0, 2]", lambda x: x**3 - 2 * x + 1, 0.0, 2.0, 2.0),
    ("sin(x) on [0, pi]", math.sin, 0.0, math.pi, 2.0),
    ("exp(x) on [0, 1]", math.exp, 0.0, 1.0, math.e - 1),
    ("4/(1+x**2) on [0, 1]", lambda x: 4 / (1 + x * x), 0.0, 1.0, math.pi),
    ("exp(-x**2) on [-2, 2]", lambda x: math.exp(-x * x), -2.0, 2.0, math.sqrt(math.pi) * math.erf(2)),
]


class Counted:
    """Wraps an integrand to count its calls."""
    def __init__(self, f: Integrand) -> None:
        self.f, self.calls = f, 0

    def __call__(self, x: float) -> float:
        self.calls += 1
        return self.f(x)


def rows_and_differences(obj: Pelorand, method: str) -> tuple[list[list[float]], list[float]]:
    """The Romberg table as rows of (T(r), R(r, 1), ..., R(r, r)), and the
    successive differences of the diagonal. The memo of recursive() holds
    T(m, k) under "m-k"; row r of the table is T(0, r), T(1, r - 1), ..., T(r, 0)."""
    if method == "dynamic_programming":
        return obj.romberg_table, obj.precision_table
    memo = obj.romberg_map
    rows: list[list[float]] = []
    while f"0-{len(rows)}" in memo:
        r = len(rows)
        rows.append([memo[f"{j}-{r - j}"] for j in range(r + 1) if f"{j}-{r - j}" in memo])
    diagonal = [memo[f"{m}-0"] for m in range(len(rows)) if f"{m}-0" in memo]
    return rows, [abs(b - a) for a, b in zip(diagonal, diagonal[1:])]


def show_table(obj: Pelorand, method: str, a: float, b: float) -> None:
    rows, differences = rows_and_differences(obj, method)
    print(f"    {'steps':>7} {'step size':>12}   entries")
    for r, row in enumerate(rows):
        entries = "  ".join(f"{value:.12f}" for value in row)
        print(f"    {2**r:>7} {(b - a) / 2**r:>12.6g}   {entries}")
    print("    differences: " + ", ".join(f"{d:.3e}" for d in differences))


def integrate(name: str, f: Integrand, a: float, b: float, precision: float, methods: Sequence[str],
              exact: float | None = None, show: bool = False) -> None:
    print(name)
    for method in methods:
        counted = Counted(f)
        obj = Pelorand(a, b, precision, counted)
        result = obj.recursive() if method == "recursive" else obj.dynamic_programming()
        line = f"  {method:<20} {result:<22.17g} {counted.calls:>9} calls"
        if exact is not None:
            line += f"   exact {exact:.17g}   error {result - exact:+.2e}"
        print(line)
        if show:
            show_table(obj, method, a, b)


def evaluate(text: str, what: str) -> float:
    """Evaluates `text` with only math in scope to a float, or exits with one line."""
    try:
        return float(eval(compile(text, f"<{what}>", "eval"), {"__builtins__": {}, "math": math}))
    except Exception as error:  # any failure is the user's input, reported in one line
        sys.exit(f"integrate.py: error: malformed {what} {text!r}: {error}")


def main(argv: Sequence[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=(__doc__ or "").split("\n")[0])
    parser.add_argument("expression", nargs="?", help="integrand in x, e.g. 'math.sin(x)'")
    parser.add_argument("a", nargs="?", help="lower bound")
    parser.add_argument("b", nargs="?", help="upper bound")
    parser.add_argument("--precision", type=float, default=1e-10)
    parser.add_argument("--method", choices=METHODS + ("both",), default="both")
    parser.add_argument("--show", action="store_true", help="print the Romberg table of each run")
    args = parser.parse_args(argv)
    methods = METHODS if args.method == "both" else (args.method,)
    if args.expression is None:
        for name, f, a, b, exact in CLASSICS:
            integrate(name, f, a, b, args.precision, methods, exact, args.show)
        return
    if args.b is None:
        parser.error("an expression needs both bounds")
    a, b = evaluate(args.a, "bound"), evaluate(args.b, "bound")
    try:
        code = compile(args.expression, "<expression>", "eval")
    except SyntaxError as error:
        sys.exit(f"integrate.py: error: malformed expression {args.expression!r}: {error.msg}")
    scope: dict[str, object] = {"__builtins__": {}, "math": math}
    try:
        integrate(f"{args.expression} on [{args.a}, {args.b}]", lambda x: eval(code, scope, {"x": x}),
                  a, b, args.precision, methods, show=args.show)
    except Exception as error:  # a failure of the integrand at some sample
        sys.exit(f"integrate.py: error: {type(error).__name__}: {error}")


if __name__ == "__main__":
    main()
