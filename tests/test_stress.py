"""Hostile input in child interpreters: a seeded stress run, and nesting
deep enough to exhaust the C stack."""
import textwrap
import unittest

import stress
from support import run_python

SEED = 20240611


class Stress(unittest.TestCase):
    def test_seeded_run(self):
        found, ran = stress.run(SEED, count=2000)
        self.assertEqual(ran, 2000)
        self.assertEqual(found, [], "\n".join(f"stress.py --case {seed}: {what}" for seed, what in found))

    def assert_survives(self, code, out=""):
        done = run_python("from Pelorand import Pelorand as P\n" + textwrap.dedent(code))
        self.assertEqual((done.returncode, done.stderr, done.stdout), (0, "", out))

    def test_integrands_that_are_bound_methods_nest_deeply(self):
        # Each instance's integrand is the next one's method, with no Python
        # frame between re-entries or with a lambda's, entered through either
        # method, on a thread stack far smaller than the main thread's.
        self.assert_survives("""
            import threading
            # Freed on the main thread: the interpreter's own release of a
            # chain of closures this long needs more stack, on some versions.
            chains = []

            def chain(link, method):
                p = P(0, 0, 1.0, None)
                for _ in range(200_000):
                    p = P(0, 0, 1.0, link(p))
                chains.append(p)
                try:
                    method(p)
                except RecursionError:
                    print("RecursionError", end=" ")

            def run():
                for method in (P.dynamic_programming, P.recursive):
                    chain(lambda p: p.dynamic_programming, method)
                chain(lambda p: lambda x: p.dynamic_programming(), P.dynamic_programming)
            threading.stack_size(512 << 10)
            thread = threading.Thread(target=run)
            thread.start()
            thread.join()
            """, "RecursionError " * 3)

    def test_long_chain_of_instances_dies(self):
        self.assert_survives("""
            p = None
            for _ in range(1_000_000):
                p = P(0, 1, 1.0, p)
            del p
            """)


if __name__ == "__main__":
    unittest.main()
