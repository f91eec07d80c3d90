"""What gets installed, and the type stubs against the built module."""
import ast
import inspect
import os
import subprocess
import sys
import tempfile
import unittest

import Pelorand
from Pelorand import Pelorand as P

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
STUB = os.path.join(SOURCE, "stubs", "Pelorand.pyi")


class Install(unittest.TestCase):
    def test_install_tree_imports_outside_the_source(self):
        build = os.path.dirname(Pelorand.__file__)
        with tempfile.TemporaryDirectory() as prefix:
            subprocess.run([os.environ.get("CMAKE_COMMAND", "cmake"), "--install", build, "--prefix", prefix],
                           check=True, capture_output=True)
            files = sorted(os.path.relpath(os.path.join(d, f), prefix)
                           for d, _, names in os.walk(prefix) for f in names)
            self.assertEqual(files, ["Pelorand-stubs/__init__.pyi", os.path.basename(Pelorand.__file__)])
            code = (f"import sys; sys.path.insert(0, {prefix!r}); import Pelorand; "
                    f"print(Pelorand.__file__.startswith({prefix!r}), "
                    "Pelorand.Pelorand(0, 1, 1e-3, lambda x: x * x).recursive())")
            out = subprocess.run([sys.executable, "-I", "-c", code], cwd=prefix, capture_output=True, text=True)
            self.assertEqual(out.stdout, "True 0.3333333333333333\n", out.stderr)


class Stubs(unittest.TestCase):
    def test_stub_matches_the_module(self):
        tree = ast.parse(open(STUB, encoding="utf-8").read())
        classes = [node for node in tree.body if isinstance(node, ast.ClassDef)]
        self.assertEqual([c.name for c in classes], [name for name in dir(Pelorand) if not name.startswith("_")])
        members = {node.name: node for node in classes[0].body if isinstance(node, ast.FunctionDef)}
        properties = {name for name, node in members.items()
                      if any(getattr(d, "id", None) == "property" for d in node.decorator_list)}
        self.assertEqual(properties, {name for name, v in vars(P).items() if inspect.isgetsetdescriptor(v)})
        for name in ("recursive", "dynamic_programming"):
            with self.subTest(name):
                args = members[name].args
                defaults = [None] * (len(args.args) - len(args.defaults)) + [ast.literal_eval(d) for d in args.defaults]
                stub = [(a.arg, d) for a, d in zip(args.args, defaults)]
                runtime = [(p.name, None if p.default is p.empty else p.default)
                           for p in inspect.signature(getattr(P, name)).parameters.values()]
                self.assertEqual(stub, runtime)
        # The constructor's names are its keywords.
        names = [a.arg for a in members["__new__"].args.args[1:]]
        self.assertEqual(names, ["a", "b", "precision", "integrand"])
        P(**dict(zip(names, (0, 1, 1e-3, abs))))


if __name__ == "__main__":
    unittest.main()
