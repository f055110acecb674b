"""Python throughput over the corpus: quorvel's `Parser.parse` and
`TransformEngine.normalize` against two pure-Python LaTeX tools, pylatexenc's
`LatexWalker` (parsing) and latex2mathml's converter (parsing and writing
MathML). The two tools are needed only here, not by the package:

    pip install pylatexenc latex2mathml
    python bench/python_bench.py [corpus-dir] [--transform-bench PATH]

corpus-dir defaults to ../shared/corpus, relative to the repository. Every line
of arxiv.txt and exam.txt is one formula.

With --transform-bench, the C++ benchmark (bench/transform_bench.cpp, built with
-DQUORVEL_BENCH=ON) runs on the same corpus, and the cost of `normalize` called
from Python is set against the same work done in C++.
"""

import argparse
import os
import subprocess
import sys
import time

import quorvel

PROFILES = ["authoring", "faithful", "corpus", "equiv"]


def load_corpus(directory):
    lines = []
    for name in ("arxiv.txt", "exam.txt"):
        with open(os.path.join(directory, name), encoding="utf-8") as corpus:
            lines.extend(corpus.read().splitlines())
    return lines


def timed(function, lines, passes):
    """Best seconds per formula over `passes` runs, and the failures of one run."""
    best = float("inf")
    failures = 0
    for _ in range(passes):
        failures = 0
        start = time.perf_counter()
        for line in lines:
            try:
                function(line)
            except Exception:  # noqa: BLE001 - the tools fail in their own ways
                failures += 1
        best = min(best, time.perf_counter() - start)
    return best / len(lines), failures


def cpp_microseconds(binary, directory):
    """us/formula per row of the C++ benchmark's table."""
    output = subprocess.run([binary, directory], check=True, capture_output=True, text=True).stdout
    rows = {}
    for line in output.splitlines():
        fields = line.split()
        if len(fields) >= 3 and fields[0] in ["parse", *PROFILES]:
            rows[fields[0]] = float(fields[2])
    return rows


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("corpus", nargs="?", default=os.path.join(here, "..", "..", "shared", "corpus"))
    parser.add_argument("--transform-bench", help="path of the C++ transform_bench binary")
    parser.add_argument("--passes", type=int, default=3, help="runs of each quorvel measurement (best is kept)")
    args = parser.parse_args()

    try:
        from latex2mathml.converter import convert
        from pylatexenc.latexwalker import LatexWalker
    except ImportError:
        sys.exit("needs pylatexenc and latex2mathml: pip install pylatexenc latex2mathml")

    lines = load_corpus(args.corpus)
    print(f"formulas {len(lines)}")
    print(f"{'measure':<28} {'formulas/s':>11} {'us/formula':>11} {'failures':>9}")
    results = {}

    def report(name, seconds, failures):
        results[name] = seconds * 1e6
        print(f"{name:<28} {1 / seconds:>11.0f} {seconds * 1e6:>11.2f} {failures:>9}")

    quorvel_parser = quorvel.Parser()
    report("quorvel Parser.parse", *timed(quorvel_parser.parse, lines, args.passes))
    for profile in PROFILES:
        engine = quorvel.TransformEngine(profile)
        report(f"quorvel normalize {profile}", *timed(engine.normalize, lines, args.passes))
    report("pylatexenc LatexWalker", *timed(lambda s: LatexWalker(s).get_latex_nodes(), lines, 1))
    report("latex2mathml convert", *timed(convert, lines, 1))

    parse = results["quorvel Parser.parse"]
    print()
    print(f"pylatexenc LatexWalker / quorvel Parser.parse: {results['pylatexenc LatexWalker'] / parse:.1f}x")
    for profile in PROFILES:
        normalize = results[f"quorvel normalize {profile}"]
        print(f"latex2mathml convert / quorvel normalize {profile}: {results['latex2mathml convert'] / normalize:.1f}x")

    if args.transform_bench:
        cpp = cpp_microseconds(args.transform_bench, args.corpus)
        print()
        print("Python cost / C++ cost of the same work (us/formula):")
        print(f"  parse: {parse:.2f} / {cpp['parse']:.2f} = {parse / cpp['parse']:.2f}")
        for profile in PROFILES:
            normalize = results[f"quorvel normalize {profile}"]
            print(f"  normalize {profile}: {normalize:.2f} / {cpp[profile]:.2f} = {normalize / cpp[profile]:.2f}")


if __name__ == "__main__":
    main()
