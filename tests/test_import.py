"""Module start-up: one module per process, namespace, class and function objects."""
import glob
import inspect
import os
import shutil
import subprocess
import tempfile
import textwrap
import unittest

import Pelorand
from Pelorand import Pelorand as P
from support import run_python

MODULE_FILE = Pelorand.__file__


class StartUp(unittest.TestCase):
    def check(self, code, *options):
        result = run_python(textwrap.dedent(code), *options)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout

    def test_reimport_and_reload_keep_the_module(self):
        self.check("""
            import importlib, sys, Pelorand
            module, cls = Pelorand, Pelorand.Pelorand
            del sys.modules["Pelorand"]
            import Pelorand
            assert Pelorand is module and Pelorand.Pelorand is cls
            assert importlib.reload(Pelorand) is module and module.Pelorand is cls
            """)

    def test_second_interpreter_is_refused(self):
        out = self.check("""
            import _testcapi, Pelorand
            _testcapi.run_in_subinterp('''
            try:
                import Pelorand
            except ImportError as e:
                print("refused:", e)
            ''')
            """)
        self.assertEqual(out, "refused: Interpreter change detected - this module can only "
                              "be loaded into one interpreter per process.\n")

    def test_import_warns_nothing_under_its_own_version(self):
        self.check("import Pelorand", "-W", "error")

    def test_type_record_checked_against_the_headers(self):
        # The headers' heap-type record is the running interpreter's type record.
        cases = [("object", f"ValueError: builtins.type size changed, may indicate binary incompatibility. "
                            f"Expected {type.__basicsize__} from C header, got {object.__basicsize__} from PyObject"),
                 ("5", "TypeError: builtins.type is not a type object")]
        for replacement, message in cases:
            with self.subTest(replacement):
                out = self.check(f"""
                    import builtins
                    builtins.type = {replacement}
                    try:
                        import Pelorand
                    except Exception as error:
                        print(f"{{error.__class__.__name__}}: {{error}}")
                    """)
                self.assertEqual(out, message + "\n")

    def test_package_qualified_import_enters_bare_name(self):
        with tempfile.TemporaryDirectory() as root:
            os.mkdir(os.path.join(root, "pkg"))
            open(os.path.join(root, "pkg", "__init__.py"), "w").close()
            shutil.copy(MODULE_FILE, os.path.join(root, "pkg"))
            self.check(f"""
                import sys
                sys.path.insert(0, {root!r})
                import pkg.Pelorand as m
                assert m.__name__ == "pkg.Pelorand" and m.__package__ == "pkg"
                assert sys.modules["Pelorand"] is m and m.Pelorand.__module__ == "Pelorand"
                """)

    def test_embedding_flag_names_module_main(self):
        out = self.check(f"""
            import ctypes, sys
            lib = ctypes.CDLL({MODULE_FILE!r})
            ctypes.c_int.in_dll(lib, "__pyx_module_is_main_Pelorand").value = 1
            import Pelorand
            print(Pelorand.__name__, sys.modules["Pelorand"] is Pelorand)
            """)
        self.assertEqual(out, "__main__ True\n")

    def test_only_two_symbols_exported(self):
        if not shutil.which("nm"):
            self.skipTest("nm not available")
        out = subprocess.run(["nm", "-D", "--defined-only", MODULE_FILE],
                             capture_output=True, text=True, check=True).stdout
        self.assertEqual(sorted(line.split()[-1] for line in out.splitlines()),
                         ["PyInit_Pelorand", "__pyx_module_is_main_Pelorand"])


class Namespace(unittest.TestCase):
    def test_module_namespace(self):
        ns = vars(Pelorand)
        self.assertIs(ns["Pelorand"], P)
        self.assertEqual(ns["__test__"], {})
        self.assertIs(ns["__builtins__"], __import__("builtins"))
        self.assertEqual(ns["__file__"], MODULE_FILE)
        self.assertNotIn("__path__", ns)
        for name in ("__reduce_cython__", "__setstate_cython__"):
            self.assertEqual(ns[name].__qualname__, "Pelorand." + name)

    def test_docstrings(self):
        lines = Pelorand.__doc__.split("\n")
        self.assertEqual(lines[0], "")
        self.assertEqual(lines[1], "模块名称: Pelorand")
        self.assertTrue(lines[2].startswith("功能描述: "))
        self.assertEqual(lines[3:8], ["", "本模块提供高精度的 Romberg 积分方法，支持递归和动态规划两种实现方式。",
                                      "采用外推加速技术逐步提高积分精度，可达到用户指定的精度要求。", "", "版本: 1.0.0"])
        self.assertRegex(lines[8], r"^更新时间: \d{4}-\d{2}-\d{2}$")
        self.assertEqual(lines[9:], [""])
        lines = P.__doc__.split("\n")
        self.assertRegex(lines[1], r"^    Romberg 积分算法实现（.+）$")
        self.assertEqual(lines[2:], ["    ", "    提供两种积分方法：", "    1. recursive(): 使用递归方法和哈希表缓存",
                                     "    2. dynamic_programming(maximum_step=20): 使用动态规划方法", "    "])
        self.assertEqual(P.recursive.__doc__,
                         "\n        执行 Romberg 积分算法（递归方法）。\n        \n"
                         "        使用递归方法和哈希表缓存中间结果，逐步提高精度直到满足精度要求。\n        \n"
                         "        Returns\n        -------\n        float\n            计算得到的积分结果\n        ")
        self.assertEqual(P.dynamic_programming.__doc__,
                         "\n        执行 Romberg 积分算法（动态规划方法）。\n        \n"
                         "        使用迭代动态规划方法，构建 Romberg 表，逐步提高精度。\n        \n"
                         "        Parameters\n        ----------\n        maximum_step : int, optional\n"
                         "            最大迭代步数，默认为 20\n        \n"
                         "        Returns\n        -------\n        float\n            计算得到的积分结果\n        ")
        self.assertEqual([P.romberg_map.__doc__, P.romberg_table.__doc__, P.precision_table.__doc__],
                         ["返回 Romberg 哈希表（递归方法使用）", "返回 Romberg 动态规划表", "返回精度变化表"])

    def test_class_shape(self):
        self.assertEqual((P.__module__, P.__name__, P.__qualname__), ("Pelorand",) * 3)
        flags = P.__flags__
        self.assertTrue(flags & (1 << 10) and flags & (1 << 14))  # BASETYPE, HAVE_GC
        self.assertEqual((P.__weakrefoffset__, P.__dictoffset__), (0, 0))
        self.assertEqual(P.__reduce__.__name__, "__reduce_cython__")
        self.assertEqual(P.__setstate__.__name__, "__setstate_cython__")
        self.assertFalse(hasattr(P, "__reduce_cython__") or hasattr(P, "__setstate_cython__"))
        self.assertIs(P.__reduce_ex__, object.__reduce_ex__)
        self.assertEqual(type(vars(P)["__pyx_vtable__"]).__name__, "PyCapsule")
        with self.assertRaisesRegex(TypeError, "immutable type"):
            P.x = 1

    def test_function_objects(self):
        cases = [  # function, qualname, defaults, varnames, argcount, signature
            (P.recursive, "Pelorand.recursive", None, ("self", "m", "Tm0", "Tm1_0", "diff"), 1, "(self)"),
            (P.dynamic_programming, "Pelorand.dynamic_programming", (20,),
             ("self", "maximum_step", "m", "n", "h", "trapezoid", "i", "j", "lst_m", "precision_diff"),
             2, "(self, maximum_step=20)"),
            (Pelorand.__reduce_cython__, "Pelorand.__reduce_cython__", None, ("self",), 1, "(self)"),
            (Pelorand.__setstate_cython__, "Pelorand.__setstate_cython__", None,
             ("self", "__pyx_state"), 2, "(self, __pyx_state)"),
        ]
        for func, qualname, defaults, varnames, argcount, signature in cases:
            with self.subTest(qualname):
                self.assertEqual(func.__name__, qualname.split(".")[1])
                self.assertEqual((func.__qualname__, func.__module__), (qualname, "Pelorand"))
                self.assertEqual(func.__defaults__, defaults)
                self.assertIs(func.__globals__, vars(Pelorand))
                self.assertEqual((func.__code__.co_varnames, func.__code__.co_argcount),
                                 (varnames, argcount))
                self.assertEqual(str(inspect.signature(func)), signature)
        obj = P(0, 1, 1e-3, abs)
        self.assertEqual(str(inspect.signature(obj.dynamic_programming)), "(maximum_step=20)")
        self.assertIs(obj.recursive.__self__, obj)
        self.assertIs(P.__dict__["recursive"].__get__(None, P), P.recursive)
        with self.assertRaisesRegex(TypeError, "__defaults__ must be set to a tuple object"):
            P.recursive.__defaults__ = [1]


if __name__ == "__main__":
    unittest.main()
