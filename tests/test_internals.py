"""Operations Python cannot reach, through the test-only probe extension."""
import collections
import math
import unittest
from fractions import Fraction

import _pelorand_probe as probe
from Pelorand import Pelorand as P
from support import exact


class FloatLike:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


class IndexLike:
    def __index__(self):
        return 7


class IntSubclass(int):
    def __index__(self):
        raise AssertionError("must not be asked")

    __int__ = __index__


class Row:
    def __len__(self):
        return 3

    def __getitem__(self, index):
        return ("item", index)


class Conversions(unittest.TestCase):
    def test_value_to_double(self):
        cases = [(2.5, 2.5), (3, 3.0), (True, 1.0), (2**53 + 1, 2.0**53), (FloatLike(1.25), 1.25),
                 (IndexLike(), 7.0), (-1.0, -1.0), (type("F", (float,), {})(0.5), 0.5)]
        for value, expected in cases:
            with self.subTest(value=value):
                self.assertEqual(probe.value_to_double(value), expected)
        for value, error in (("0", TypeError), (None, TypeError), (10**400, OverflowError),
                             (FloatLike("x"), TypeError)):
            with self.subTest(value=value), self.assertRaises(error):
                probe.value_to_double(value)

    def test_value_to_int(self):
        cases = [(5, 5), (-1, -1), (True, 1), (5.9, 5), (-5.9, -5), (2**31 - 1, 2**31 - 1),
                 (-2**31, -2**31), (IntSubclass(9), 9)]
        for value, expected in cases:
            with self.subTest(value=value):
                self.assertEqual(probe.value_to_int(value), expected)

    def test_value_to_float(self):
        for value, expected in (("1_000.5", 1000.5), (" 2.5 ", 2.5), (b" 2.5 ", 2.5),
                                (bytearray(b"7"), 7.0), ("-Infinity", -math.inf), (3, 3.0)):
            with self.subTest(value=value):
                self.assertEqual(probe.value_to_float(value), expected)
        x = 0.1
        self.assertIs(probe.value_to_float(x), x)
        for text in ("1__0", "_1", "0x10"):
            with self.subTest(text=text), self.assertRaises(ValueError):
                probe.value_to_float(text)

    def test_ldfloat_to_value_rounds_to_nearest(self):
        for num, den in ((1, 3), (2, 3), (1, 10), (-7, 9), (1e308, 1e-10)):
            with self.subTest(num=num, den=den):
                exact_quotient = Fraction(num) / Fraction(den)
                # One rounding to 64 bits, then one to 53: at most one ulp of double from exact.
                got = probe.ldfloat_to_value((float(num), float(den)))
                if math.isfinite(got):
                    self.assertLessEqual(abs(Fraction(got) - exact_quotient),
                                         Fraction(math.ulp(got)) / 2 * (1 + Fraction(1, 2**10)))
                else:
                    self.assertEqual(got, math.inf)

    def test_call_integrand(self):
        calls = []

        class Callable:
            def __call__(self, x):
                calls.append(x)
                return "obj"

            def method(self, x):
                return ("bound", x)
        target = Callable()
        self.assertEqual(probe.call_integrand(math.sqrt, 4.0), 2.0)
        self.assertEqual(probe.call_integrand(target.method, 1.5), ("bound", 1.5))
        self.assertEqual(probe.call_integrand(target, 2.5), "obj")
        self.assertEqual(probe.call_integrand(lambda x: x * 2, 3.0), 6.0)
        self.assertEqual(calls, [2.5])
        with self.assertRaisesRegex(TypeError, "'int' object is not callable"):
            probe.call_integrand(42, 1.0)
        with self.assertRaises(ValueError):
            probe.call_integrand(math.sqrt, -1.0)

    def test_dict_item(self):
        d = {"0-0": 0.5}
        self.assertEqual(probe.dict_item(d, "0-0"), 0.5)
        for key in ("1-0", (1, 2), None):
            with self.subTest(key=key):
                with self.assertRaises(KeyError) as caught:
                    probe.dict_item(d, key)
                self.assertEqual(caught.exception.args, (key,))
        with self.assertRaises(TypeError):
            probe.dict_item(d, [])

    def test_last_item(self):
        for row, expected in (([1.0, 2.0, 3.0], 3.0), ([4.0], 4.0), ((5, 6), 6), ({-1: "m"}, "m"),
                              (Row(), ("item", -1)), (collections.deque([1, 2, 3]), 3),
                              ("abc", "c")):
            with self.subTest(row=row):
                self.assertEqual(probe.last_item(row), expected)
        for row in ([], ()):
            with self.subTest(row=row), self.assertRaises(IndexError):
                probe.last_item(row)


class Keys(unittest.TestCase):
    def test_generate_key(self):
        obj = P(0, 1, 1e-3, abs)
        for (m, k), key in (((0, 0), "0-0"), ((3, 0), "3-0"), ((0, 12), "0-12"), ((10, 5), "10-5"),
                            ((123, 4567), "123-4567"), ((2**31 - 1, -2**31), "2147483647--2147483648")):
            with self.subTest(key=key):
                made = probe.generate_key(obj, m, k)
                self.assertEqual(made, key)
                self.assertTrue(made.isascii())


if __name__ == "__main__":
    unittest.main()
