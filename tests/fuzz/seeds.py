"""Writes a seed directory for the libFuzzer targets, and the dictionary they
take (latex.dict beside this file).

The default seed set holds one file per corpus formula (a fixed sample when
there are more than --lines), a soup of small valid formulas made of the
constructs whose normalised text is easy to get wrong (fences and derivatives
inside arguments that pair their delimiters, operator names holding
delimiters, adjacent groups, commands with open trailing slots, fonts parted
by `{}`, primes in and after groups), nestings of constructs that read
their content again with a fault or an infix at the bottom, a few hundred
levels deep, among them every nesting of the nesting sweep, which
build/rel/sweep_nestings writes (configure with -DQUORVEL_BENCH=ON), and
caller-declared commands and environments of every argument form inside
open levels (tests/cpp/caller_items.hpp: data that starts with byte 0x01
declares items, one a line, before the source). Run it
with a small max_len: the mutations then stay near formulas that find faults.

    python3 tests/fuzz/seeds.py SEED_DIR [--corpus DIR] [--lines N] [--soup N]
        [--sweep PROGRAM|none] [--sweep-levels 16,128]
    build/fuzz/transform_fuzz -max_total_time=600 -max_len=1024 -jobs=2 \
        -dict=tests/fuzz/latex.dict NEW_DIR SEED_DIR
    build/fuzz/parse_fuzz -max_total_time=600 -max_len=1024 -jobs=2 \
        -dict=tests/fuzz/latex.dict NEW_DIR SEED_DIR

The deep seed set (--deep) holds inputs nested tens of thousands of levels
deep, which carry the parser onto its stack segments and past the budget of
node-span path text. They are a set of their own: libFuzzer takes the
longest seed as its max_len (840,001 bytes at the default 30000 levels), and
a run among them manages some tens of executions a second.

    python3 tests/fuzz/seeds.py --deep DEEP_DIR [--depth D]
    build/fuzz/transform_fuzz -max_total_time=600 -rss_limit_mb=4096 -timeout=600 \
        NEW_DEEP_DIR DEEP_DIR

libFuzzer adds what it finds to the first directory it is given (NEW_DIR), so
the seeds stay as written. Under AddressSanitizer a deep seed of the default
30000 levels takes up to two minutes, more than three on a busy machine, hence
the timeout; with the node spans' gigabyte of path text it takes more than
libFuzzer's default 2 GB of memory.
QUORVEL_FUZZ_KEEP_GOING=1 makes both targets report a broken check on stderr
and go on, where a known fault would stop every run at once.

Mutation rarely builds a nesting of several different constructs many
levels deep, and coverage gives no reward for one more level: the nesting
seeds start the fuzzer there, and the dictionary lets it insert and swap
whole openings and closings.
"""

import argparse
import hashlib
import os
import random
import subprocess

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


# Openings and closings of constructs whose content is read again (argument
# windows, text math, environments), nested and mixed with a fault or an
# infix at the bottom.
NESTING = {
    "text_math_group": ("\\text{${", "x}", "}$}"),
    "group_text_math": ("{\\text{$", "x}", "$}}"),
    "mbox_math_group": ("\\mbox{${", "x}", "}$}"),
    "array_text_math_group": ("\\begin{array}{c}\\text{${", "x}", "}$}\\end{array}"),
    "frac_dollar": ("\\frac{", "x", "$}{}"),
    "sqrt_dollar_after": ("\\sqrt{", "x", "}$"),
    "frac_right": ("\\frac{", "x", "\\right)}{}"),
    "frac_end": ("\\frac{", "x", "\\end{x}}{}"),
    "sqrt_parameter": ("\\sqrt{", "x", "#}"),
    "frac_missing_argument": ("\\frac{", "x", "}"),
    "infix_before": ("\\sqrt{a\\over ", "x", "}"),
    "infix_after": ("\\sqrt{", "x", "\\over a}"),
    "matrix_stray_brace": ("\\begin{matrix}", "a}", "\\end{matrix}"),
}
LAYERS = [
    (r"\frac{", "}{x}"), (r"\sqrt{", "}"), ("{", "}"), (r"\text{$", "$}"), (r"\mbox{${", "}$}"),
    (r"\left(", r"\right)"), (r"\begin{matrix}", r"\end{matrix}"), (r"\sqrt[", "]{y}"),
    (r"{a\over ", "}"), (r"\textbf{", "}"), ("x^{", "}"), (r"\text{a{\it ", "} b}"),
]
FAULTS = ["}", "$", "#", "\\right)", "\\end{x}", "&", "\\over", "\\left(", "{", "\\begin{a}", "$}"]
NESTING_DEPTHS = (24, 300)
RANDOM_NESTINGS = 40

# Caller items before a source (see tests/cpp/caller_items.hpp): a line
# "\x01" TARGET MODE NAME " " ARGSPEC per item, TARGET c/i/d (prefix, infix,
# declarative command), e/E (environment with a math or text body) or x
# (delimiter control), MODE m/t/b. Fences whose content does not balance its
# braces, and text bodies, inside levels a skip has to close.
CALLER = [
    ("cm", "cmd", "r():T", r"#{\left(\text{}{\cmd(}}\right)c)d\right)}}"),
    ("cm", "cmd", "r<(,)><[,]>:T", r"#{\left(\text{}{\cmd[}}\right)]\right)"),
    ("cb", "cmd", "r||:T", r"&\text{}{{\left[\cmd|d}{\begin{matrix}}}$|}d"),
    ("cb", "cmd", "r<(,)><[,]>:T", r"&{\(\left[{\cmd[\(}}}}\(}\right]}}"),
    ("cb", "cmd", "r<[,]>:T", r"\\{\left(\left(\cmd[}}\)]}}]"),
    ("Em", "env", "", r"{\left\text{\begin{env}{{\end{env}}}}}"),
    ("Em", "env", "", r"{\left(\text{\begin{env}{{\end{env}}}}}"),
    ("Em", "env", "", r"{\left\mbox{\begin{env}{{\end{env}}}}}"),
    ("Em", "env", "m:T", r"{\left\text{\begin{env}{{\end{env}}}}}"),
    ("cm", "cmd", "s o m:T d<[,]> g:T R(){x} m{}", r"{\left(\cmd*[}]{a$}$b}[{]({)}\right)}"),
    ("em", "env", "O{x} r||:T", r"\begin{matrix}\begin{env}|}{|x&\end{env}\end{matrix}"),
    ("ib", "over", "m:T", r"{a\over{\text{$}$}b}"),
]
# Random caller items around levels left open: a command of each argument
# form (with the fences of its first argument) and an environment, after a
# fault and open levels, with closers inside the argument or body.
CALLER_FORMS = [
    ("m", "{", "}"), ("m{}", "{", "}"), ("o", "[", "]"), ("O{x}", "[", "]"), ("g", "{", "}"), ("G{x}", "{", "}"),
    ("r()", "(", ")"), ("r||", "|", "|"), ("r{}", "{", "}"), ("r$$", "$", "$"), ("r)(", ")", "("),
    (r"r\langle\rangle", r"\langle", r"\rangle"), ("r<(,)><[,]>", "[", "]"), ("r<(,)><[,]>", "(", ")"),
    ("d()", "(", ")"), ("D<[,]>{x}", "[", "]"), ("R||{x}", "|", "|"), ("!o", "[", "]"), ("r() m", "(", ")"),
]
CALLER_ENVIRONMENTS = ["", "m", "o", "r()", "r||", "r<(,)><[,]>", "g"]
CALLER_FAULTS = ["#", "&", r"\\", "^^", "_", r"\left", "}", r"\right)"]
CALLER_OPENERS = ["{", r"\left(", r"\left", r"\left[", r"\begin{matrix}", r"\text{", r"\mbox{", r"\(", "$",
                  r"\frac{", "x^{", r"\text{}", "x", "#"]
CALLER_INSIDE = ["}", "}", r"\right)", r"\right]", r"\end{matrix}", r"\)", "$", "{", "x", "#", r"\(",
                 r"\text{", r"\begin{matrix}", r"\left(", "&", "]", ")", "|"]
CALLER_AFTER = ["{", "}", "}", r"\text{", r"\left(", r"\right)", r"\right]", r"\end{matrix}", r"\)", "$", "#",
                "&", r"\\", "^", "x", "}{", r"\over", "(", ")", "[", "]", "|", r"\cmd", r"\end{env}"]
RANDOM_CALLER = 120


def random_caller(rng):
    argspec, open_, close = rng.choice(CALLER_FORMS)
    argspec += rng.choice(["", ":T"])
    environment = rng.choice(CALLER_ENVIRONMENTS)
    items = (f"\x01c{rng.choice('mtb')}cmd {argspec}\n"
             f"\x01{rng.choice('eE')}{rng.choice('mtb')}env {environment}\n")
    source = rng.choice(CALLER_FAULTS) if rng.random() < 0.5 else ""
    source += "".join(rng.choice(CALLER_OPENERS) for _ in range(rng.randint(1, 4)))
    inside = "".join(rng.choice(CALLER_INSIDE) for _ in range(rng.randint(1, 4)))
    if rng.random() < 0.7:
        source += rf"\cmd{open_}{inside}{close}"
    else:
        source += rf"\begin{{env}}{inside}\end{{env}}"
    source += "".join(rng.choice(CALLER_AFTER) for _ in range(rng.randint(0, 5)))
    return items + source


# Item lines and argument forms for the dictionary: the fuzzer inserts and
# swaps them whole.
CALLER_WORDS = ["\x01cm", "\x01cb", "\x01ct", "\x01em", "\x01Em", "\x01Eb", "\x01ib", "\x01dm", "\x01xm",
                "cmd ", "env ", "\\cmd", "\\begin{env}", "\\end{env}", "m:T", "m{}:T", "g:T", "o:T", "s ",
                "r():T", "r||:T", "r<(,)><[,]>:T", "d<[,]>", "R(){x}", "O{x}", ":T", ":T?", "\n"]

# The nestings of the sweep (tests/cpp/nesting_sweep.hpp): every built-in
# command argument and environment body nested with each opener that can fail
# and with itself, left unclosed at every level, with a fault at the bottom,
# or well formed. The program that writes them shares the sweep's generator,
# so the seeds follow the sweep as it grows; text arguments with inline math
# left open at every level (`\textbf{\(`) are among them.
DEFAULT_SWEEP = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "build", "rel", "sweep_nestings")


def sweep_output(program, *args):
    if not os.path.isfile(program):
        raise SystemExit(
            f"{program} not found: build it (cmake -DQUORVEL_BENCH=ON, target sweep_nestings) "
            "or pass --sweep none to leave out the sweep's nestings"
        )
    out = subprocess.run([program, *args], check=True, capture_output=True, text=True).stdout
    return [line for line in out.split("\n") if line]


# Pieces of the soup: `@` is a nested formula. The soup property of the C++
# tests (tests/cpp/transform_soup_property_test.cpp) draws from the same kinds.
SOUP_ATOMS = ["x", "2", "+", "(", "]", "\\alpha ", "'", "\\prime ", "x'", "\\,", "~", "{}", "|"]
SOUP_SHAPES = [
    "{@}", "{@}{@}", "@^{@}", "@_{@}", "\\sqrt[@]{@}", "\\dv[@]{@}{x}", "\\pdv{@}{x}{y}", "\\pmqty{@}",
    "\\mqty(@)", "\\mqty[@]", "\\qty(@)", "\\qty[@]", "\\qty|@|", "\\abs{@}", "\\abs*{@}", "\\norm{@}",
    "\\eval{@}_0^1", "\\eval(@|", "\\ev{@}{@}", "\\braket{@}{@}", "\\comm{@}{@}", "\\text{$@$}",
    "\\operatorname{@}", "\\operatorname{\\left( @ \\right\\rangle @}", "\\operatorname{\\bigl\\langle @}",
    "\\mathbf{@}{}\\mathbf{@}", "{\\cal @}{}\\cal @", "{@}{'}", "{@'}", "\\qty\\big( @ )",
    "\\begin{aligned}\\bigl[ @ \\bigr] = @\\end{aligned}", "\\begin{vmatrix}@ & @\\end{vmatrix}",
    "{@\\dv{@}}{@}", "{@\\qty}|@|", "\\frac{@}{@}", "{\\bf @}", "\\displaystyle{@}",
]
SOUP_FORMULAS = 2000


def soup_formula(rng, depth=0):
    out = ""
    for _ in range(1 + rng.randrange(3)):
        if depth < 3 and rng.randrange(3) == 0:
            out += "".join(soup_formula(rng, depth + 1) if c == "@" else c for c in rng.choice(SOUP_SHAPES))
        else:
            out += rng.choice(SOUP_ATOMS)
    return out


def random_nesting(rng, levels):
    layers = [rng.choice(LAYERS) for _ in range(levels)]
    return "".join(o for o, _ in layers) + "z" + rng.choice(FAULTS) + "".join(c for _, c in reversed(layers))


def write_dictionary(path, sweep_pieces):
    words = {o for o, _ in LAYERS} | {c for _, c in LAYERS} | set(FAULTS) | set(sweep_pieces) | set(CALLER_WORDS)
    for opening, middle, closing in NESTING.values():
        words |= {opening, middle, closing}
    with open(path, "w", encoding="utf-8") as f:
        for word in sorted(words):
            # libFuzzer reads printable ASCII; other bytes are written \xAB.
            escaped = "".join(
                "\\" + chr(b) if chr(b) in '\\"' else chr(b) if 0x20 <= b < 0x7F else f"\\x{b:02X}"
                for b in word.encode("utf-8")
            )
            f.write(f'"{escaped}"\n')


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
    parser.add_argument("--deep", action="store_true", help="write the deep seeds only")
    parser.add_argument("--corpus", default=DEFAULT_CORPUS, help="folder of *.txt files, one formula a line")
    parser.add_argument("--lines", type=int, default=3000, help="corpus formulas to sample")
    parser.add_argument("--soup", type=int, default=SOUP_FORMULAS, help="soup formulas to make")
    parser.add_argument("--depth", type=int, default=30000, help="levels of the deep seeds")
    parser.add_argument("--sweep", default=DEFAULT_SWEEP, help="the sweep_nestings program, or none")
    parser.add_argument("--sweep-levels", default="16", help="levels of the sweep's nestings, comma separated")
    args = parser.parse_args()

    os.makedirs(args.seed_dir, exist_ok=True)
    if args.deep:
        for name, (opening, closing) in DEEP.items():
            write_seed(args.seed_dir, f"deep-{name}", opening * args.depth + "x" + closing * args.depth)
        print(f"{len(DEEP)} deep seeds in {args.seed_dir}")
        return
    lines = corpus_lines(args.corpus) if os.path.isdir(args.corpus) else []
    if len(lines) > args.lines:
        lines = random.Random(0).sample(lines, args.lines)
    for line in lines:
        write_seed(args.seed_dir, "corpus", line)
    soup_rng = random.Random(2)
    for _ in range(args.soup):
        write_seed(args.seed_dir, "soup", soup_formula(soup_rng))
    for name, (opening, middle, closing) in NESTING.items():
        for depth in NESTING_DEPTHS:
            write_seed(args.seed_dir, f"nesting-{name}", opening * depth + middle + closing * depth)
    rng = random.Random(1)
    for _ in range(RANDOM_NESTINGS):
        write_seed(args.seed_dir, "nesting-random", random_nesting(rng, rng.choice(NESTING_DEPTHS)))
    for target_mode, name, argspec, source in CALLER:
        write_seed(args.seed_dir, "caller", f"\x01{target_mode}{name} {argspec}\n{source}")
    rng = random.Random(2)
    for _ in range(RANDOM_CALLER):
        write_seed(args.seed_dir, "caller-random", random_caller(rng))
    sweep = 0
    if args.sweep != "none":
        for text in sweep_output(args.sweep, *args.sweep_levels.split(",")):
            write_seed(args.seed_dir, "nesting-sweep", text)
            sweep += 1
        # Without the sweep's pieces the dictionary would lose words: it is
        # written only with them.
        write_dictionary(os.path.join(os.path.dirname(os.path.abspath(__file__)), "latex.dict"),
                         sweep_output(args.sweep, "--pieces"))
    nestings = len(NESTING) * len(NESTING_DEPTHS) + RANDOM_NESTINGS + sweep
    print(f"{len(lines)} corpus formulas, {args.soup} soup formulas, {nestings} nestings and "
          f"{len(CALLER) + RANDOM_CALLER} caller seeds in {args.seed_dir}")


if __name__ == "__main__":
    main()
