"""Instances: containers, properties, pickling refusal, garbage collection, leaks."""
import abc
import copy
import pickle
import traceback
import unittest
import weakref

from Pelorand import Pelorand as P
from support import Sub, raised

REFUSED = "no default __reduce__ due to non-trivial __cinit__"


class Instances(unittest.TestCase):
    def test_properties_are_the_live_containers(self):
        obj = P(0, 1, 1e-8, abs)
        for name, empty in (("romberg_map", {}), ("romberg_table", []), ("precision_table", [])):
            with self.subTest(name):
                container = getattr(obj, name)
                self.assertEqual(container, empty)
                self.assertIs(getattr(obj, name), container)
                self.assertIsNot(container, getattr(P(0, 1, 1e-8, abs), name))
                with self.assertRaises(AttributeError):
                    setattr(obj, name, empty)
                with self.assertRaises(AttributeError):
                    delattr(obj, name)
        obj.romberg_map["x"] = 1
        self.assertEqual(obj.romberg_map, {"x": 1})

    def test_pickling_and_copying_are_refused(self):
        obj = P(0, 1, 1e-8, abs)
        calls = [lambda: copy.copy(obj), lambda: copy.deepcopy(obj), lambda: obj.__setstate__(None),
                 lambda: obj.__reduce__()]
        calls += [lambda p=p: pickle.dumps(obj, protocol=p) for p in range(pickle.HIGHEST_PROTOCOL + 1)]
        for call in calls:
            error = raised(call)
            self.assertIs(type(error), TypeError)
            self.assertEqual(str(error), REFUSED)
            last = traceback.extract_tb(error.__traceback__)[-1]
            self.assertEqual(last.filename, "<stringsource>")
            self.assertIn(last.name, ("Pelorand.Pelorand.__reduce_cython__",
                                      "Pelorand.Pelorand.__setstate_cython__"))

    def test_no_attributes_or_weak_references(self):
        obj = P(1, 0, -1.0, 5)
        with self.assertRaises(AttributeError):
            obj.extra = 1
        with self.assertRaises(TypeError):
            weakref.ref(obj)

    def test_python_subclasses(self):
        obj = Sub(0, 1, 1e-6, abs)
        obj.extra = 1
        self.assertIs(weakref.ref(obj)(), obj)

        class Abstract(P, metaclass=abc.ABCMeta):
            @abc.abstractmethod
            def method(self):
                pass
        with self.assertRaisesRegex(TypeError, "^Can't instantiate abstract class Abstract"):
            Abstract(0, 1, 1e-6, abs)



if __name__ == "__main__":
    unittest.main()
