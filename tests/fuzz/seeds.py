"""Writes a seed directory for the libFuzzer targets: one file per corpus
formula (a fixed sample when there are more than --lines) and inputs nested
tens of thousands of levels deep, which carry the parser onto its stack
segments and past the budget of node-span path text.

    python3 tests/fuzz/seeds.py SEED_DIR [--corpus DIR] [--lines N] [--depth D]
    build/fuzz/parse_fuzz -max_total_time=600 -rss_limit_mb=4096 NEW_DIR SEED_DIR
    build/fuzz/transform_fuzz -max_total_time=600 -rss_limit_mb=4096 NEW_DIR SEED_DIR

libFuzzer adds what it finds to the first directory it is given (NEW_DIR), so
the seeds stay as written. A deep seed takes seconds and, with the node spans'
gigabyte of path text under AddressSanitizer, more than libFuzzer's default
2 GB of memory.
"""

import argparse
import hashlib
import os
import random

DEFAULT_CORPUS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "shared", "corpus")

# Constructs that nest without the group depth limit, unclosed ones, and a
# long run of constructions that each read the rest of their content.
DEEP = {
    "frac": ("\\frac{", "}{y}"),
    "sqrt": ("\\sqrt{", "}"),
    "left_right": ("\\left(", "\\right)"),
    "superscripts": ("x^{", "}"),
    "environments": ("\\begin{aligned}", "\\end{aligned}"),
    "text_math": ("\\text{$", "$}"),
    "buildrel_run": ("\\buildrel a \\over b ", ""),
    "unclosed_braces": ("{", ""),
    "unclosed_frac": ("\\frac{", ""),
}


def corpus_lines(folder):
    lines = []
    for name in sorted(os.listdir(folder)):
        if name.endswith(".txt"):
            with open(os.path.join(folder, name), encoding="utf-8") as f:
                lines.extend(line.rstrip("\n") for line in f if line.strip())
    return lines


def write_seed(folder, prefix, text):
    data = text.encode("utf-8")
    name = f"{prefix}-{hashlib.sha1(data).hexdigest()[:16]}"
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("seed_dir")
    parser.add_argument("--corpus", default=DEFAULT_CORPUS, help="folder of *.txt files, one formula a line")
    parser.add_argument("--lines", type=int, default=3000, help="corpus formulas to sample")
    parser.add_argument("--depth", type=int, default=30000, help="levels of the deep seeds")
    args = parser.parse_args()

    os.makedirs(args.seed_dir, exist_ok=True)
    lines = corpus_lines(args.corpus) if os.path.isdir(args.corpus) else []
    if len(lines) > args.lines:
        lines = random.Random(0).sample(lines, args.lines)
    for line in lines:
        write_seed(args.seed_dir, "corpus", line)
    for name, (opening, closing) in DEEP.items():
        write_seed(args.seed_dir, f"deep-{name}", opening * args.depth + "x" + closing * args.depth)
    print(f"{len(lines)} corpus formulas and {len(DEEP)} deep seeds in {args.seed_dir}")


if __name__ == "__main__":
    main()
