"""Integrates a few classic integrals with both of Pelorand's methods."""
import math

from Pelorand import Pelorand

CASES = [
    ("x**2 on [0, 1]", lambda x: x * x, 0.0, 1.0, 1 / 3),
    ("sin on [0, pi]", math.sin, 0.0, math.pi, 2.0),
    ("exp on [0, 1]", math.exp, 0.0, 1.0, math.e - 1),
    ("4/(1+x**2) on [0, 1]", lambda x: 4 / (1 + x * x), 0.0, 1.0, math.pi),
]


def main():
    for name, f, a, b, exact in CASES:
        print(name)
        for method in ("recursive", "dynamic_programming"):
            obj = Pelorand(a, b, 1e-10, f)
            try:
                result = getattr(obj, method)()
            except NotImplementedError:
                print(f"  {method:<20} not available yet")
                continue
            print(f"  {method:<20} {result:.16g}  (error {result - exact:.2e})")


if __name__ == "__main__":
    main()
