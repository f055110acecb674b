"""Nesting does not depend on the calling thread's stack: the parser continues
deep recursion on stack segments of its own, so a thread with a small stack
parses what the main thread parses, and gives the same document."""

import json
import resource
import subprocess
import sys
import threading

import pytest

import quorvel

SMALL_STACK = 256 * 1024
DEEP = 20_000
UNLIMITED = {"max_group_depth": 10**9}

CONSTRUCTS = {
    "braces": ("{", "}"),
    "frac": ("\\frac{", "}{y}"),
    "sqrt": ("\\sqrt{", "}"),
    "left_right": ("\\left(", "\\right)"),
    "environments": ("\\begin{aligned}", "\\end{aligned}"),
    "text_math": ("\\text{$", "$}"),
}


def nested(name, levels):
    opening, closing = CONSTRUCTS[name]
    return opening * levels + "x" + closing * levels


def in_small_thread(job):
    """Runs `job` on a new thread with a 256 KB stack; returns its result."""
    outcome = {}

    def run():
        try:
            outcome["result"] = job()
        except BaseException as error:  # re-raised on the calling thread
            outcome["error"] = error

    previous = threading.stack_size(SMALL_STACK)
    try:
        thread = threading.Thread(target=run)
        thread.start()
    finally:
        threading.stack_size(previous)
    thread.join()
    if "error" in outcome:
        raise outcome["error"]
    return outcome["result"]


def summary(source, **overrides):
    """What a parse gave: whether a document, the diagnostics, the LaTeX."""
    result = quorvel.Parser().parse(source, **overrides)
    document = result["document"]
    return document is not None, result["diagnostics"], document.to_latex() if document else None


@pytest.mark.parametrize("name", CONSTRUCTS)
def test_default_depth_nesting_parses_in_a_small_thread(name):
    source = nested(name, 128)
    has_document, diagnostics, latex = in_small_thread(lambda: summary(source))
    assert has_document
    assert diagnostics == []
    assert latex == summary(source)[2]


@pytest.mark.parametrize("name", ["braces", "left_right"])
def test_deep_nesting_parses_on_any_thread(name):
    source = nested(name, DEEP)
    on_main = summary(source, **UNLIMITED)
    assert on_main[0]
    assert on_main[1] == []
    assert in_small_thread(lambda: summary(source, **UNLIMITED)) == on_main


def test_deep_failure_is_reported_from_a_small_thread():
    # The failure lies at the bottom: it crosses every segment on the way out.
    source = "{" * DEEP + "x^" + "}" * DEEP
    has_document, diagnostics, _ = in_small_thread(lambda: summary(source, **UNLIMITED))
    assert has_document
    assert [d["kind"] for d in diagnostics] == ["raw-expected-found"]


def test_node_spans_of_a_very_deep_document_fail_cleanly():
    # Each entry spells its whole path: 12,000 nested fractions would need
    # gigabytes of path text, so the call raises MemoryError instead.
    document = quorvel.Parser().parse(nested("frac", 12_000), **UNLIMITED)["document"]
    with pytest.raises(MemoryError):
        document.node_spans()
    shallow = quorvel.Parser().parse(nested("frac", 500), **UNLIMITED)["document"]
    assert max(entry["id"].count(".arg.0.content") for entry in shallow.node_spans()) == 500


# Parses 2,000,000 nested fractions in a child process and prints what came of it.
DEEP_FRACTIONS_CHILD = r"""
import json, quorvel
n = 2_000_000
result = quorvel.Parser().parse("\\frac{" * n + "x" + "}{y}" * n, max_group_depth=10**9)
print(json.dumps([result["document"] is not None, result["diagnostics"]]))
"""


def test_deep_input_ends_alike_whatever_the_stack_limit():
    # An unlimited stack limit makes the main thread's stack look as large as
    # the gap below it; the parser must still hop to its segments and end at
    # their budget, not recurse through gigabytes of the caller's stack. The
    # address-space cap makes such a recursion fault quickly instead of taking
    # the machine's memory.
    _, hard_stack = resource.getrlimit(resource.RLIMIT_STACK)
    if hard_stack != resource.RLIM_INFINITY:
        pytest.skip("the hard stack limit does not allow an unlimited stack")
    _, hard_as = resource.getrlimit(resource.RLIMIT_AS)
    address_space = 8 * 1024**3 if hard_as == resource.RLIM_INFINITY else min(hard_as, 8 * 1024**3)

    def unlimited_stack():
        resource.setrlimit(resource.RLIMIT_STACK, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
        resource.setrlimit(resource.RLIMIT_AS, (address_space, hard_as))

    def default_stack():
        resource.setrlimit(resource.RLIMIT_STACK, (8 * 1024 * 1024, hard_stack))

    children = [
        subprocess.Popen([sys.executable, "-c", DEEP_FRACTIONS_CHILD], stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, text=True, preexec_fn=limits)
        for limits in (default_stack, unlimited_stack)
    ]
    outcomes = []
    for child in children:
        out, err = child.communicate(timeout=300)
        assert child.returncode == 0, err[-2000:]
        outcomes.append(json.loads(out))
    default, unlimited = outcomes
    has_document, diagnostics = unlimited
    assert not has_document
    assert [d["kind"] for d in diagnostics] == ["max-group-depth-exceeded"]
    assert unlimited == default


# Lowers its own address-space limit step by step above what it uses after a
# first parse, parses input whose trees are large when memory runs out, and
# prints how each parse ended. Freeing the half-built trees while the error
# unwinds must not need memory of its own.
OUT_OF_MEMORY_CHILD = r"""
import json, resource, quorvel
deep = 12_000
inputs = {
    "text_math_with_fault": "\\text{$" * deep + "\\text${" + "\\text{$" * deep + "x" + "$}" * (2 * deep + 1),
    "retried_fractions": "\\frac{" * 1_500 + "x" + "$}{}" * 1_500,
    "nested_sqrt": "\\sqrt{" * 100_000 + "x" + "}" * 100_000,
}
parser = quorvel.Parser()
for source in inputs.values():
    parser.parse(source[:2_000])
def used():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[0]) * resource.getpagesize()
_, hard = resource.getrlimit(resource.RLIMIT_AS)
outcomes = []
for name, source in inputs.items():
    for extra_mb in (16, 48, 96, 192, 384):
        resource.setrlimit(resource.RLIMIT_AS, (used() + extra_mb * 1024 * 1024, hard))
        try:
            parser.parse(source)
            outcome = "parsed"
        except MemoryError:
            outcome = "MemoryError"
        resource.setrlimit(resource.RLIMIT_AS, (hard, hard))
        outcomes.append([name, extra_mb, outcome])
print(json.dumps(outcomes))
"""


def test_running_out_of_memory_in_a_deep_parse_raises_memory_error():
    child = subprocess.run([sys.executable, "-c", OUT_OF_MEMORY_CHILD], capture_output=True, text=True, timeout=300)
    assert child.returncode == 0, (child.returncode, child.stderr[-2000:])
    outcomes = json.loads(child.stdout)
    assert {outcome for _, _, outcome in outcomes} <= {"parsed", "MemoryError"}
    # The smallest room runs out, the largest does not.
    assert any(outcome == "MemoryError" for _, _, outcome in outcomes)
    assert any(outcome == "parsed" for _, _, outcome in outcomes)
