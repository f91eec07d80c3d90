"""Boundary operations Python cannot reach directly, through the test-only probe."""
import collections
import math
import struct
import unittest

import _pelorand_probe as probe
from Pelorand import Pelorand as P


class FloatLike:
    def __float__(self):
        return 1.25


class IndexLike:
    def __index__(self):
        return 7


class Row:
    def __len__(self):
        return 3

    def __getitem__(self, index):
        return ("item", index)


class Boundary(unittest.TestCase):
    def test_bounds_pass_through_doubles(self):
        for value, expected in ((True, 1.0), (2**53 + 1, 2.0**53), (FloatLike(), 1.25), (IndexLike(), 7.0),
                                (type("F", (float,), {})(0.5), 0.5), (-1.0, -1.0)):
            with self.subTest(value=value):
                calls = []
                P(value, 0, 1.0, lambda x: calls.append(x) or 0.0).dynamic_programming(1)
                self.assertEqual(calls, [expected, 0.0])
                self.assertIs(type(calls[0]), float)

    def test_nan_bounds_reach_the_integrand_unchanged(self):
        # Signalling NaNs too: widening and rounding back must not quiet them.
        for a, b in (("7ff0000000000001", "fff4000000000abc"), ("7ff8000000000000", "fff8000000000001")):
            with self.subTest(a=a, b=b):
                calls = []
                bound = [struct.unpack(">d", bytes.fromhex(text))[0] for text in (a, b)]
                P(*bound, 1e-3, lambda x: calls.append(struct.pack(">d", x).hex()) or 0.0).dynamic_programming(1)
                self.assertEqual(calls, [a, b])

    def test_value_to_float(self):
        for value, expected in (("1_000.5", 1000.5), (" 2.5 ", 2.5), (b" 2.5 ", 2.5), (bytearray(b"7"), 7.0),
                                ("-Infinity", -math.inf), (3, 3.0), (IndexLike(), 7.0)):
            with self.subTest(value=value):
                self.assertEqual(probe.value_to_float(value), expected)
        x = 0.1
        self.assertIs(probe.value_to_float(x), x)
        for text in ("1__0", "_1", "0x10"):
            with self.subTest(text=text), self.assertRaises(ValueError):
                probe.value_to_float(text)

    def test_dict_item(self):
        self.assertEqual(probe.dict_item({"0-0": 0.5}, "0-0"), 0.5)
        for key in ("1-0", (1, 2), None):
            with self.subTest(key=key), self.assertRaises(KeyError) as caught:
                probe.dict_item({}, key)
            self.assertEqual(caught.exception.args, (key,))
        self.assertRaises(TypeError, probe.dict_item, {}, [])

    def test_last_item(self):
        for row, expected in (([1.0, 2.0, 3.0], 3.0), ([4.0], 4.0), ((5, 6), 6), ({-1: "m"}, "m"),
                              (Row(), ("item", -1)), (collections.deque([1, 2, 3]), 3), ("abc", "c")):
            with self.subTest(row=row):
                self.assertEqual(probe.last_item(row), expected)
        for row in ([], ()):
            with self.subTest(row=row), self.assertRaises(IndexError):
                probe.last_item(row)

    def test_generate_key(self):
        obj = P(0, 1, 1e-3, abs)
        for (m, k), key in (((0, 0), "0-0"), ((3, 0), "3-0"), ((0, 12), "0-12"), ((10, 5), "10-5"),
                            ((123, 4567), "123-4567"), ((2**31 - 1, -2**31), "2147483647--2147483648")):
            with self.subTest(key=key):
                made = probe.generate_key(obj, m, k)
                self.assertEqual((made, made.isascii()), (key, True))


if __name__ == "__main__":
    unittest.main()
