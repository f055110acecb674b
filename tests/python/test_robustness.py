"""Nothing crashes the interpreter: random formulas built from the corpus
vocabulary, random configuration values and random sequences of edits and
transforms all end in a result or in one of the module's exception classes
(TypeError and OverflowError where an argument has the wrong type or range;
a lone surrogate is a QuorvelError)."""

import os
import re

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import quorvel

CORPUS = os.path.join(os.path.dirname(__file__), "..", "..", "..", "shared", "corpus")
ALLOWED = (quorvel.QuorvelError, TypeError, OverflowError)
STRUCTURE = [
    "{", "}", "^", "_", "'", "~", "&", "\\\\", "$", "%", "#", "[", "]", "(", ")", "\\left(", "\\right)",
    "\\left.", "\\right|", "\\begin{matrix}", "\\end{matrix}", "\\begin{array}{cc}", "\\end{array}",
    "\\text{", "\\over", "\\choose", "\\frac", "\\sqrt[", "\\operatorname*", "\\hspace{1em}", "\\hfilll",
    "\\ge", "\\quad", "\\rm", "\\bf", "\\mathbf", "\\bigl(", "\\bra", "\\ket", "\\dv", "\\qty", "\\\\",
]


def corpus_vocabulary():
    words = set()
    for name in ("arxiv.txt", "exam.txt"):
        path = os.path.join(CORPUS, name)
        if not os.path.exists(path):
            continue
        with open(path, encoding="utf-8") as lines:
            for line in lines:
                words.update(re.findall(r"\\[A-Za-z]+\*?|\\.|[^\s\\]", line))
    return sorted(words)


VOCABULARY = corpus_vocabulary()
if not VOCABULARY:
    pytest.skip("corpus not found next to the repository", allow_module_level=True)

PARSER = quorvel.Parser()
ENGINES = {profile: quorvel.TransformEngine(profile) for profile in ("authoring", "faithful", "corpus", "equiv")}

tokens = st.one_of(
    st.sampled_from(VOCABULARY),
    st.sampled_from(STRUCTURE),
    st.text(min_size=1, max_size=3),
)
formulas = st.lists(tokens, max_size=30).flatmap(
    lambda parts: st.sampled_from([" ", ""]).map(lambda sep: sep.join(parts))
)
surrogates = st.text(alphabet=st.characters(min_codepoint=0xD800, max_codepoint=0xDFFF), min_size=1, max_size=2)
odd_values = st.one_of(
    st.none(), st.booleans(), st.integers(min_value=-(2**65), max_value=2**65), st.floats(),
    st.text(max_size=4), st.lists(st.integers(), max_size=2), st.dictionaries(st.text(max_size=3), st.booleans(),
                                                                              max_size=2),
)
parse_overrides = st.dictionaries(
    st.sampled_from(["max_group_depth", "reject_unknown", "abort_on_error", "rewrite"]),
    st.one_of(odd_values, st.integers(min_value=0, max_value=400)),
    max_size=2,
)
phase_overrides = st.dictionaries(
    st.sampled_from(["rewrite", "flatten_groups", "lower_attributes", "finalize_ast", "max_group_depth"]),
    st.one_of(
        odd_values,
        st.fixed_dictionaries({}, optional={
            "enabled": st.booleans(), "max_iterations": st.integers(min_value=0, max_value=5),
            "preserve_rendered_spacing": st.booleans(),
        }),
    ),
    max_size=2,
)
guard_dicts = st.dictionaries(
    st.sampled_from(["script_base", "empty_group", "delimited_pair", "env_body", "nope"]),
    st.one_of(st.booleans(), odd_values),
    max_size=3,
)


def settle(call):
    """Runs `call`; an exception must be one the decisions allow."""
    try:
        return call()
    except ALLOWED:
        pass
    return None


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(
    src=st.one_of(formulas, st.tuples(formulas, surrogates).map("".join)),
    profile=st.sampled_from(sorted(ENGINES)),
    overrides=parse_overrides,
    phases=phase_overrides,
    guards=guard_dicts,
)
def test_parsing_and_normalising_never_crash(src, profile, overrides, phases, guards):
    engine = ENGINES[profile]
    result = settle(lambda: PARSER.parse(src, **overrides))
    if result is not None and result["document"] is not None:
        settle(lambda: result["document"].to_latex())
        settle(lambda: quorvel.Document.from_syntax(result["document"].to_syntax()).to_latex())
    settle(lambda: engine.normalize(src, **phases))
    settle(lambda: engine.normalize_with_report(src, **phases))
    settle(lambda: engine._normalize_with_flatten_groups_guards(src, guards=guards))
    settle(lambda: quorvel.count_targets(src))


# One random edit: a method name and indices into the pool of nodes the test
# has seen so far (freed ones included), plus the values it needs.
edits = st.tuples(
    st.sampled_from([
        "append_child", "insert_before", "insert_after", "insert_child", "replace_with", "wrap", "unwrap",
        "extract", "remove", "clear", "set_command_name", "set_text", "set_char", "set_arg", "create_char",
        "create_text", "create_group", "create_command", "create_environment", "transform", "read",
    ]),
    st.integers(min_value=0, max_value=1000),
    st.integers(min_value=0, max_value=1000),
    st.one_of(st.integers(min_value=-2, max_value=4), st.text(max_size=2), st.sampled_from(["math", "text", "x"])),
)


def read_everything(node):
    for method in ("kind", "parent", "children", "ancestors", "descendants", "next_sibling", "prev_sibling",
                   "env_body", "script_base", "subscript", "superscript", "infix_left", "infix_right",
                   "command_name", "env_name", "text", "char", "content_mode", "prime_count", "arg_count",
                   "arg_slots", "group_kind", "error_parts", "span", "is_error", "is_command", "is_char"):
        settle(getattr(node, method))
    settle(lambda: node.arg(0))


def apply_edit(engine, doc, pool, edit):
    name, i, j, extra = edit
    a, b = pool[i % len(pool)], pool[j % len(pool)]
    if name == "transform":
        return settle(lambda: engine.transform(doc, rewrite={"max_iterations": 3}))
    if name == "read":
        return read_everything(a)
    if name in ("append_child", "insert_before", "insert_after", "replace_with", "wrap"):
        return settle(lambda: getattr(doc, name)(a, b))
    if name == "insert_child":
        return settle(lambda: doc.insert_child(a, extra if isinstance(extra, int) else 0, b))
    if name in ("unwrap", "extract", "remove", "clear"):
        return settle(lambda: getattr(doc, name)(a))
    if name in ("set_command_name", "set_text"):
        return settle(lambda: getattr(doc, name)(a, str(extra)))
    if name == "set_char":
        return settle(lambda: doc.set_char(a, str(extra)))
    if name == "set_arg":
        value = settle(lambda: b.arg(0)) or {"kind": "Math", "node": b}
        return settle(lambda: doc.set_arg(a, extra if isinstance(extra, int) else 1, value))
    if name == "create_char":
        return settle(lambda: doc.create_char(str(extra)))
    if name == "create_text":
        return settle(lambda: doc.create_text(str(extra)))
    if name == "create_group":
        return settle(lambda: doc.create_group(str(extra)))
    if name == "create_command":
        return settle(lambda: doc.create_command(str(extra) or "frac", [{"kind": "Math", "node": a}]))
    return settle(lambda: doc.create_environment("matrix", None, a))


@settings(max_examples=200, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(src=formulas, profile=st.sampled_from(sorted(ENGINES)), steps=st.lists(edits, max_size=25))
def test_random_edits_and_transforms_never_crash(src, profile, steps):
    engine = ENGINES[profile]
    doc = engine.parse(src)["document"]
    if doc is None:
        return
    pool = [doc.root(), *doc.root().descendants()]
    for edit in steps:
        made = apply_edit(engine, doc, pool, edit)
        if isinstance(made, quorvel.Node):
            pool.append(made)
        elif isinstance(made, list):
            pool.extend(made)
    settle(doc.to_latex)
    settle(lambda: doc.to_tokenized_latex(command_spacing="minimal"))
    tree = doc.to_syntax()
    assert quorvel.Document.from_syntax(tree).to_syntax() == tree
    for node in pool:
        read_everything(node)
