"""Running out of memory is a MemoryError, wherever in a call it happens.

Each case runs in a child process that lowers its address-space limit to a
little above what it already uses and makes the call, for a range of
headrooms; every run is on a new thread, which has none of its per-thread
storage yet (the C library would end the process if a call needed to make it
once memory is gone)."""

import os
import subprocess
import sys

import pytest

import quorvel  # noqa: F401 - the child imports the same package

pytestmark = pytest.mark.skipif(not os.path.exists("/proc/self/status"), reason="needs /proc")

# Headrooms in MB above the address space in use; None runs without a limit.
HEADROOMS = [4, 8, 16, 32, 64, 128, 256, None]
SIZE = 500_000

# Shared by the child scripts: runs a call on a new thread under an
# address-space limit of `headroom` bytes above what is in use (None: no limit)
# and names its outcome.
LIMITED_CALL = r"""
import resource, threading

_, hard = resource.getrlimit(resource.RLIMIT_AS)


def address_space():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmSize:"):
                return int(line.split()[1]) * 1024


def run_limited(call, headroom):
    go = threading.Event()
    outcome = []

    def run():
        go.wait()
        try:
            call()
            outcome.append("ok")
        except BaseException as error:
            outcome.append(type(error).__name__)

    thread = threading.Thread(target=run)
    thread.start()  # its stack and memory arena exist before the limit
    if headroom is not None:
        limit = address_space() + headroom
        if hard != resource.RLIM_INFINITY:
            limit = min(limit, hard)
        resource.setrlimit(resource.RLIMIT_AS, (limit, hard))
    go.set()
    thread.join()
    resource.setrlimit(resource.RLIMIT_AS, (hard, hard))
    return outcome[0] if outcome else "nothing"
"""

CHILD = LIMITED_CALL + r"""
import sys
import quorvel

op, size, headrooms = sys.argv[1], int(sys.argv[2]), sys.argv[3].split(",")
source = "a" * size
parser = quorvel.Parser()
if op in ("parse", "normalize"):
    engine = quorvel.TransformEngine("authoring")
    calls = {"parse": lambda: parser.parse(source), "normalize": lambda: engine.normalize(source)}
elif op == "from_syntax":
    # Made from a small document, so that no large parse leaves freed memory
    # behind for the call to reuse.
    syntax = parser.parse("a")["document"].to_syntax()
    syntax["Root"]["children"] *= size
    calls = {op: lambda: quorvel.Document.from_syntax(syntax)}
else:
    calls = {op: getattr(parser.parse(source)["document"], op)}
call = calls[op]
outcomes = [run_limited(call, None if h == "None" else int(h) * 2**20) for h in headrooms]
print(" ".join(outcomes))
"""


@pytest.mark.parametrize(
    "op", ["parse", "normalize", "to_syntax", "to_tokenized_latex", "node_spans", "from_syntax"]
)
def test_exhausted_memory_raises_memory_error(op):
    headrooms = ",".join(str(h) for h in HEADROOMS)
    child = subprocess.run(
        [sys.executable, "-c", CHILD, op, str(SIZE), headrooms],
        capture_output=True,
        text=True,
        timeout=300,
        env={**os.environ, "MALLOC_ARENA_MAX": "1"},
    )
    # A signal is a negative code; the C library's own ending is 127.
    assert child.returncode == 0, f"exit {child.returncode}: {child.stderr[-2000:]}"
    outcomes = child.stdout.split()
    assert len(outcomes) == len(HEADROOMS), child.stdout + child.stderr
    assert set(outcomes) <= {"ok", "MemoryError"}, outcomes
    assert outcomes[0] == "MemoryError", outcomes  # the sweep reaches exhaustion
    assert outcomes[-1] == "ok", outcomes  # and the call works given room


# Transforms of long documents under a limit, each in a process of its own:
# a transform that runs out leaves the document as it was, and whatever
# happened, the document keeps every letter of its source, stays free of
# errors, reads back without a diagnostic, and a second transform with room
# gives the normalised text.
# Headrooms in KB: fine steps, so that the runs stop in different passes.
TRANSFORM_HEADROOMS = [0, 256, 512, 1024, 2048, 3072, 4096, 6144, 16384, None]
TRANSFORM_SOURCES = {  # a pattern and its number of copies
    "flat groups": (r"{x} ", 30_000),
    "groups and renames": (r"a {x} b \ge ", 10_000),
    "negation and spacing merges": (r"a \not= b \quad\quad c ", 6_000),
}

TRANSFORM_CHILD = LIMITED_CALL + r"""
import collections, re, sys
import quorvel

method, profile, pattern, copies, headroom = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5]
source = pattern * copies
engine = quorvel.TransformEngine(profile)
# Parsed first, in a process that has freed nothing yet: the transform finds
# no freed memory to reuse under the limit.
document = engine.parse(source)["document"]


def letters(text):
    # Letters outside command names: renaming a command keeps them all.
    return collections.Counter(c for c in re.sub(r"\\[A-Za-z]+", "", text) if c.isalpha())


transform = getattr(engine, method)
result = run_limited(lambda: transform(document), None if headroom == "None" else int(headroom) * 2**10)
written = document.to_latex()
problems = []
if result == "MemoryError" and written != engine.parse(source)["document"].to_latex():
    problems.append("changed")
if letters(written) != letters(source):
    problems.append("letters")
if document.has_errors():
    problems.append("errors")
if quorvel.Parser().parse(written)["diagnostics"]:
    problems.append("diagnostics")
if result == "MemoryError":
    engine.transform(document)
if document.to_latex() != engine.normalize(source):
    problems.append("second-transform")
print(result + ("/" + "+".join(problems) if problems else ""))
"""


@pytest.mark.parametrize("method", ["transform", "transform_with_report"])
@pytest.mark.parametrize("profile", ["authoring", "faithful", "corpus", "equiv"])
@pytest.mark.parametrize("name", list(TRANSFORM_SOURCES))
def test_transform_out_of_memory_loses_no_content(profile, name, method):
    outcomes = []
    for headroom in TRANSFORM_HEADROOMS:
        child = subprocess.run(
            [sys.executable, "-c", TRANSFORM_CHILD, method, profile, *map(str, TRANSFORM_SOURCES[name]), str(headroom)],
            capture_output=True,
            text=True,
            timeout=300,
            env={**os.environ, "MALLOC_ARENA_MAX": "1"},
        )
        assert child.returncode == 0, f"exit {child.returncode}: {child.stderr[-2000:]}"
        outcomes.append(child.stdout.strip())
    # "MemoryError/changed" and the like name what a failed run lost.
    assert set(outcomes) <= {"ok", "MemoryError"}, outcomes
    assert outcomes[0] == "MemoryError", outcomes  # the sweep reaches exhaustion
    assert outcomes[-1] == "ok", outcomes
