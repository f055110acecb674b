"""Python throughput over the corpus: quorvel's `Parser.parse` and
`TransformEngine.normalize`, each set against the same work done in C++, and
against two pure-Python LaTeX tools when they are installed, pylatexenc's
`LatexWalker` (parsing) and latex2mathml's converter (parsing and writing
MathML). The tools are needed only for their rows, not by the package:

    pip install pylatexenc latex2mathml      (optional)
    python bench/python_bench.py [corpus-dir] [--parse-bench PATH] [--transform-bench PATH] [--large-only] [--kept-only]

corpus-dir defaults to ../shared/corpus, relative to the repository. Every line
of arxiv.txt and exam.txt is one formula.

The C++ benchmarks (bench/parse_bench.cpp and bench/transform_bench.cpp, built
with -DQUORVEL_BENCH=ON) are looked for in build/rel unless given; when found
they run on the same corpus, and the cost of `parse` and `normalize` called
from Python is set against the same work done in C++: parse per corpus file
against parse_bench, parse and normalise over both files against
transform_bench.

Kept documents: 100,000 corpus formulas parsed from Python and their documents
kept alive at once, in a child process: the resident growth per document.

Large inputs: each row parses one large input from Python in a child process
and prints its time and the child's peak resident size, beside parse_bench's
row for the same input (its `large` section) when parse_bench is found.
"""

import argparse
import os
import re
import subprocess
import sys
import time

import quorvel

PROFILES = ["authoring", "faithful", "corpus", "equiv"]
CORPUS_FILES = ["arxiv.txt", "exam.txt"]


def load_corpus(directory):
    """The formulas of each corpus file, by file name."""
    corpus = {}
    for name in CORPUS_FILES:
        with open(os.path.join(directory, name), encoding="utf-8") as lines:
            corpus[name] = lines.read().splitlines()
    return corpus


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


def run_binary(binary, directory):
    return subprocess.run([binary, directory], check=True, capture_output=True, text=True).stdout


def parse_bench_microseconds(output):
    """us/formula of the parse row of each corpus file in parse_bench's output."""
    rows = {}
    current = None
    for line in output.splitlines():
        header = re.match(r"(\S+\.txt):", line)
        if header:
            current = header.group(1)
            continue
        rate = re.match(r"\s*parse:\s*([\d.]+) formulas/s", line)
        if rate and current is not None and float(rate.group(1)) > 0:
            rows[current] = 1e6 / float(rate.group(1))
    return rows


def transform_bench_microseconds(output):
    """us/formula per row of transform_bench's table."""
    rows = {}
    for line in output.splitlines():
        fields = line.split()
        if len(fields) >= 3 and fields[0] in ["parse", *PROFILES]:
            rows[fields[0]] = float(fields[2])
    return rows


# (label in parse_bench's large section, unit, repetitions)
LARGE_ROWS = [("`{x^#}` x1,000,000", "{x^#}", 1_000_000)]

LARGE_CHILD = """
import resource, sys, time
import quorvel
unit, repeats = sys.argv[1], int(sys.argv[2])
source = unit * repeats
parser = quorvel.Parser()
start = time.perf_counter()
result = parser.parse(source)
seconds = time.perf_counter() - start
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024**2
print(f"{seconds:.2f} s, {len(result['diagnostics'])} diagnostics; peak RSS {peak:.2f} GiB")
"""


KEPT_CHILD = """
import sys
import quorvel

def resident():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    return 0

lines = [line for name in sys.argv[2:] for line in open(name, encoding="utf-8").read().splitlines()]
count = int(sys.argv[1])
parser = quorvel.Parser()
kept = [None] * count
before = resident()
for i in range(count):
    kept[i] = parser.parse(lines[i % len(lines)])["document"]
documents = sum(1 for doc in kept if doc is not None)
print(f"{documents} documents kept; resident growth {(resident() - before) / documents:.0f} bytes per document")
"""


def kept_row(directory, count=100_000):
    """Resident growth per corpus document parsed from Python and kept, in a child process."""
    files = [os.path.join(directory, name) for name in CORPUS_FILES]
    python = subprocess.run(
        [sys.executable, "-c", KEPT_CHILD, str(count), *files], check=True, capture_output=True, text=True
    ).stdout.strip()
    print(f"kept documents (the corpus cycled, one child process): {python}")


def large_rows(parse_bench):
    """Large inputs parsed from Python, each beside parse_bench's row."""
    cpp = {}
    if parse_bench:
        for line in run_binary(parse_bench, "large").splitlines():
            for label, _, _ in LARGE_ROWS:
                if line.strip().startswith(label):
                    cpp[label] = line.strip()[len(label):].strip()
    print("large inputs (one child process each):")
    for label, unit, repeats in LARGE_ROWS:
        python = subprocess.run(
            [sys.executable, "-c", LARGE_CHILD, unit, str(repeats)], check=True, capture_output=True, text=True
        ).stdout.strip()
        print(f"  {label}")
        print(f"    Parser.parse from Python: {python}")
        print(f"    C++ (parse_bench):        {cpp.get(label, '(no C++ row: parse_bench not found)')}")


def find_binary(given, repository, name):
    if given:
        return given
    candidate = os.path.join(repository, "build", "rel", name)
    return candidate if os.access(candidate, os.X_OK) else None


def ratio_line(label, python_us, cpp_us):
    if cpp_us is None:
        return f"  {label}: {python_us:.2f} / (no C++ row)"
    return f"  {label}: {python_us:.2f} / {cpp_us:.2f} = {python_us / cpp_us:.2f}x"


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    repository = os.path.dirname(here)
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("corpus", nargs="?", default=os.path.join(repository, "..", "shared", "corpus"))
    parser.add_argument("--parse-bench", help="path of the C++ parse_bench binary (default: build/rel/parse_bench)")
    parser.add_argument(
        "--transform-bench", help="path of the C++ transform_bench binary (default: build/rel/transform_bench)"
    )
    parser.add_argument("--passes", type=int, default=5, help="runs of each quorvel measurement (best is kept)")
    parser.add_argument("--large-only", action="store_true", help="run only the large-input rows")
    parser.add_argument("--kept-only", action="store_true", help="run only the kept-documents row")
    args = parser.parse_args()

    kept_row(args.corpus)
    if args.kept_only:
        return
    parse_bench = find_binary(args.parse_bench, repository, "parse_bench")
    large_rows(parse_bench)
    if args.large_only:
        return
    print()

    corpus = load_corpus(args.corpus)
    lines = [line for name in CORPUS_FILES for line in corpus[name]]
    counts = ", ".join(f"{name} {len(corpus[name])}" for name in CORPUS_FILES)
    print(f"formulas {len(lines)} ({counts})")
    print(f"{'measure':<36} {'formulas/s':>11} {'us/formula':>11} {'failures':>9}")
    results = {}

    def report(name, seconds, failures):
        results[name] = seconds * 1e6
        print(f"{name:<36} {1 / seconds:>11.0f} {seconds * 1e6:>11.2f} {failures:>9}")

    quorvel_parser = quorvel.Parser()
    for name in CORPUS_FILES:
        report(f"quorvel Parser.parse {name}", *timed(quorvel_parser.parse, corpus[name], args.passes))
    report("quorvel Parser.parse", *timed(quorvel_parser.parse, lines, args.passes))
    for profile in PROFILES:
        engine = quorvel.TransformEngine(profile)
        report(f"quorvel normalize {profile}", *timed(engine.normalize, lines, args.passes))

    peers = []
    try:
        from pylatexenc.latexwalker import LatexWalker

        report("pylatexenc LatexWalker", *timed(lambda s: LatexWalker(s).get_latex_nodes(), lines, 1))
        peers.append("pylatexenc LatexWalker")
    except ImportError:
        print("(pylatexenc not installed: its row is skipped)")
    try:
        from latex2mathml.converter import convert

        report("latex2mathml convert", *timed(convert, lines, 1))
        peers.append("latex2mathml convert")
    except ImportError:
        print("(latex2mathml not installed: its row is skipped)")

    parse = results["quorvel Parser.parse"]
    if peers:
        print()
    if "pylatexenc LatexWalker" in peers:
        print(f"pylatexenc LatexWalker / quorvel Parser.parse: {results['pylatexenc LatexWalker'] / parse:.1f}x")
    if "latex2mathml convert" in peers:
        for profile in PROFILES:
            normalize = results[f"quorvel normalize {profile}"]
            print(
                f"latex2mathml convert / quorvel normalize {profile}: "
                f"{results['latex2mathml convert'] / normalize:.1f}x"
            )

    transform_bench = find_binary(args.transform_bench, repository, "transform_bench")
    if parse_bench or transform_bench:
        print()
        print("Python cost / C++ cost of the same work (us/formula):")
    else:
        print()
        print("(no C++ benchmark found: build with -DQUORVEL_BENCH=ON in build/rel, or pass --parse-bench)")
    if parse_bench:
        cpp = parse_bench_microseconds(run_binary(parse_bench, args.corpus))
        for name in CORPUS_FILES:
            print(ratio_line(f"Parser.parse {name} (parse_bench)", results[f"quorvel Parser.parse {name}"], cpp.get(name)))
    if transform_bench:
        cpp = transform_bench_microseconds(run_binary(transform_bench, args.corpus))
        print(ratio_line("Parser.parse both files (transform_bench)", parse, cpp.get("parse")))
        for profile in PROFILES:
            print(ratio_line(f"normalize {profile}", results[f"quorvel normalize {profile}"], cpp.get(profile)))


if __name__ == "__main__":
    main()
