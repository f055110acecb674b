"""The exchange tree as Python dicts: writing, reading, leniencies, errors."""

from collections.abc import Mapping
from functools import lru_cache

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import quorvel
from quorvel import Document, serialize


def root(*children, mode="Math"):
    return {"Root": {"mode": mode, "children": list(children)}}


def char(c):
    return {"Char": c}


def group(*children, mode="Math", kind="Explicit"):
    return {"Group": {"mode": mode, "kind": kind, "children": list(children)}}


def arg(value, kind="Mandatory", no_leading_space=False):
    return {"kind": kind, "no_leading_space": no_leading_space, "value": value}


def command(name, *args, known=False):
    return {"Command": {"name": name, "args": list(args), "known": known}}


def scripted(base, sub=None, sup=None):
    return {"Scripted": {"base": base, "subscript": sub, "superscript": sup}}


# One tree per node kind and per argument form, each written exactly as
# to_syntax writes it.
ROUND_TRIPS = {
    "empty": root(),
    "text root": root({"Text": "abc"}, "ActiveSpace", mode="Text"),
    "non-ascii chars": root(char("α"), char("≤"), char("𝔸"), char("é")),
    "groups": root(
        group(char("a")),
        group(kind="Implicit"),
        group(char("b"), kind={"Delimited": {"left": {"Char": "("}, "right": {"Control": "rangle"}}}),
        group(kind={"Delimited": {"left": "None", "right": {"Char": "]"}}}),
    ),
    "inline math": root({"Text": "t "}, group(char("t"), kind="InlineMath"), mode="Text"),
    "command args": root(
        command(
            "frac",
            arg({"MathContent": char("1")}),
            None,
            arg({"TextContent": {"Text": "ü"}}, kind="Optional", no_leading_space=True),
            arg({"OperatorNameContent": group(char("s"))}, kind="Group"),
            arg({"Boolean": True}, kind="Star"),
            arg({"Delimiter": {"Control": "|"}}, kind={"Delimited": {"open": {"Char": "<"}, "close": "None"}}),
            arg({"CSName": "foo"}, kind={"Paired": {"open": {"Char": "("}, "close": {"Char": ")"}}}),
            arg({"Dimension": "2pt"}),
            arg({"Integer": "3"}),
            arg({"KeyVal": "a=b"}),
            arg({"Column": "lc|r"}),
            known=True,
        )
    ),
    "infix declarative environment": root(
        {"Infix": {"name": "over", "args": [], "left": char("a"), "right": group(char("b"))}},
        char("&"),
        {"Declarative": {"name": "bf", "args": [None]}},
        {
            "Environment": {
                "name": "array",
                "args": [None, arg({"Column": "cc"})],
                "known": True,
                "body": group(char("1"), char("&"), char("x"), mode="Math"),
            }
        },
    ),
    # The character `\&` is the command `&`; the character `&` the separator.
    "escaped ampersand": root(
        char("a"), command("&", known=True), char("&"), scripted(command("&", known=True), sup=char("2"))
    ),
    "scripts primes errors": root(
        scripted(char("x"), sup=char("2")),
        scripted(char("y"), sub=group(char("i")), sup={"Prime": {"count": 2}}),
        scripted(char("z"), sub=char("0")),
        char("&"),
        {"Prime": {"count": 3}},
        {"Error": {"message": "unknown command", "snippet": "\\foo"}},
    ),
}


@pytest.mark.parametrize("tree", ROUND_TRIPS.values(), ids=ROUND_TRIPS.keys())
def test_round_trip(tree):
    doc = Document.from_syntax(tree)
    assert doc.to_syntax() == tree
    assert serialize(tree) == doc.to_latex()


def test_written_shape():
    tree = Document.from_syntax(ROUND_TRIPS["command args"]).to_syntax()
    assert list(tree) == ["Root"]
    assert list(tree["Root"]) == ["mode", "children"]
    cmd = tree["Root"]["children"][0]["Command"]
    assert list(cmd) == ["name", "args", "known"]
    assert list(cmd["args"][0]) == ["kind", "no_leading_space", "value"]
    assert cmd["args"][1] is None
    assert type(cmd["known"]) is bool
    s = Document.from_syntax(ROUND_TRIPS["scripts primes errors"]).to_syntax()["Root"]["children"]
    assert list(s[0]["Scripted"]) == ["base", "subscript", "superscript"]
    assert list(s[5]["Error"]) == ["message", "snippet"]
    inf = Document.from_syntax(ROUND_TRIPS["infix declarative environment"]).to_syntax()["Root"]["children"]
    assert list(inf[0]["Infix"]) == ["name", "args", "left", "right"]
    assert list(inf[3]["Environment"]) == ["name", "args", "known", "body"]
    written_group = Document.from_syntax(root(group())).to_syntax()["Root"]["children"][0]["Group"]
    assert list(written_group) == ["mode", "kind", "children"]


def test_escaped_ampersand_is_not_the_separator():
    doc = quorvel.Parser().parse(r"\begin{matrix} a \& b & c \end{matrix}")["document"]
    body = doc.to_syntax()["Root"]["children"][0]["Environment"]["body"]["Group"]["children"]
    assert body == [char("a"), command("&", known=True), char("b"), char("&"), char("c")]
    assert doc.to_latex() == r"\begin {matrix} a \& b & c \end {matrix}"
    # Made by edits: `create_char("&")` is the separator in math.
    edited = Document()
    edited.append_child(edited.root(), edited.create_char("&"))
    edited.append_child(edited.root(), edited.create_command("&"))
    assert edited.to_latex() == r"& \&"
    assert quorvel.count_targets(r"a \& b") == {}


class Frozen(Mapping):
    """A mapping that is not a dict."""

    def __init__(self, **items):
        self._items = dict(items)

    def __getitem__(self, key):
        return self._items[key]

    def __iter__(self):
        return iter(self._items)

    def __len__(self):
        return len(self._items)


# (given, read back as): what the reader accepts beyond the written form.
LENIENT = {
    "unit variant as dict": (root({"ActiveSpace": None}), root("ActiveSpace")),
    "unit variant content ignored": (
        root(command("x", arg({"MathContent": char("a")}, kind={"Mandatory": 0}))),
        root(command("x", arg({"MathContent": char("a")}))),
    ),
    "unknown key skipped": (
        root({"Command": {"name": "alpha", "args": [], "known": 1, "extra": object()}}),
        root(command("alpha", known=True)),
    ),
    "booleans by truth": (
        root(command("s", arg({"Boolean": "yes"}, kind="Star", no_leading_space=[]), known=0)),
        root(command("s", arg({"Boolean": True}, kind="Star"))),
    ),
    "scripts omitted": (root({"Scripted": {"base": char("x"), "superscript": char("2")}}),
                        root(scripted(char("x"), sup=char("2")))),
    "no_leading_space omitted": (
        root(command("x", {"kind": "Mandatory", "value": {"CSName": "a"}})),
        root(command("x", arg({"CSName": "a"}))),
    ),
    "tuple children": (
        {"Root": {"mode": "Math", "children": (char("a"),)}},
        root(char("a")),
    ),
    "frozenset children": ({"Root": {"mode": "Math", "children": frozenset()}}, root()),
    "other mappings": (
        Frozen(Root=Frozen(mode="Text", children=[Frozen(Text="t")])),
        root({"Text": "t"}, mode="Text"),
    ),
    "prime count from index": (
        root({"Prime": {"count": True}}),
        root({"Prime": {"count": 1}}),
    ),
}


@pytest.mark.parametrize("given_tree, expected", LENIENT.values(), ids=LENIENT.keys())
def test_reader_leniencies(given_tree, expected):
    assert Document.from_syntax(given_tree).to_syntax() == expected


# (tree, message after "invalid syntax node: "); a message ending in "…" is a
# prefix.
READ_ERRORS = {
    "lower-case mode": (
        {"Root": {"mode": "math", "children": []}},
        "unknown variant `math`, expected `Math` or `Text`",
    ),
    "unknown node": (root({"Sqrt": {}}), "unknown variant `Sqrt`, expected one of `Root`, `Group`, `Command`, "
                     "`Infix`, `Declarative`, `Environment`, `Scripted`, `Error`, `Prime`, `Text`, `Char`, "
                     "`ActiveSpace`"),
    "unknown delimiter": (
        root(group(kind={"Delimited": {"left": "none", "right": "None"}})),
        "unknown variant `none`, expected one of `None`, `Char`, `Control`",
    ),
    "two chars": (root(char("ab")), "expected a str of length 1 for char"),
    "empty char": (root(char("")), "expected a str of length 1 for char"),
    "char not str": (root(char(7)), "expected a str of length 1 for char"),
    "two keys": (root({"Char": "x", "Text": "y"}), "expected tagged enum dict to have exactly 1 key"),
    "no keys": (root({}), "expected tagged enum dict to have exactly 1 key"),
    "newtype as str": (root("Text"), "invalid type: unit variant, expected newtype variant"),
    "struct as str": ("Root", "invalid type: unit variant, expected struct variant"),
    "neither str nor dict": (root(3), "expected either a str or dict for enum"),
    "tag not str": (root({1: "x"}), "dict keys must have type str"),
    "field key not str": ({"Root": {"mode": "Math", "children": [], 2: 0}}, "dict keys must have type str"),
    "missing base": (root({"Scripted": {"subscript": None}}), "missing field `base`"),
    "missing kind": (root(command("x", {"value": {"CSName": "a"}})), "missing field `kind`"),
    "missing known": (root({"Command": {"name": "x", "args": []}}), "missing field `known`"),
    "child error before missing field": (
        root({"Scripted": {"subscript": char("ab")}}),
        "expected a str of length 1 for char",
    ),
    "name not str": (root(command(5)), "unexpected type: 'int' object cannot be converted to 'PyString'"),
    "record not mapping": (root({"Prime": [1]}), "unexpected type: 'list' object cannot be converted to 'Mapping'"),
    "children not sequence": (
        {"Root": {"mode": "Math", "children": 5}},
        "unexpected type: 'int' object cannot be converted to 'Sequence'",
    ),
    "children dict": (
        {"Root": {"mode": "Math", "children": {}}},
        "unexpected type: 'dict' object cannot be converted to 'Sequence'",
    ),
    "negative count": (root({"Prime": {"count": -1}}), "OverflowError: …"),
    "count not int": (root({"Prime": {"count": "2"}}), "TypeError: …"),
    "surrogate name": (root(command("\ud800")), "UnicodeEncodeError: …"),
    # One str character, but no Unicode scalar value: refused by the reader.
    "surrogate char": (root(char("\udfff")), "Character must be a Unicode scalar value"),
    "surrogate delimiter": (
        root(command("left", arg({"Delimiter": {"Char": "\ud800"}}))),
        "Character must be a Unicode scalar value",
    ),
}


@pytest.mark.parametrize("tree, message", READ_ERRORS.values(), ids=READ_ERRORS.keys())
def test_read_errors(tree, message):
    for call in (Document.from_syntax, serialize):
        with pytest.raises(quorvel.ParseError) as info:
            call(tree)
        text = str(info.value)
        expected = "invalid syntax node: " + message
        if expected.endswith("…"):
            assert text.startswith(expected[:-1]) and len(text) > len(expected)
        else:
            assert text == expected


def test_interpreter_failures_propagate():
    class Boom:
        def __bool__(self):
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        Document.from_syntax(root(command("x", known=Boom())))

    class Bad:
        def __bool__(self):
            raise ValueError("no truth")

    with pytest.raises(quorvel.ParseError, match="^invalid syntax node: ValueError: no truth$"):
        Document.from_syntax(root(command("x", known=Bad())))


# ---- Random valid trees ---------------------------------------------------------

names = st.text(max_size=5)
# Names that write as one control sequence (and do not read back as a
# character or a structure), and as an environment's name.
command_names = st.from_regex(r"\A(?:[A-Za-z]{1,5}|[^A-Za-z\n#$%_{}])\Z").filter(
    lambda n: n not in ("begin", "end", "left", "right"))
environment_names = st.from_regex(r"\A[A-Za-z0-9*@.:-]{1,5}\Z")
# Characters and texts that read back as themselves where they stand (texts
# in text, characters in math, where text holds only the escaped ones); a
# lone surrogate is no character at all.
chars = st.characters(exclude_categories=("Cs", "Cc"), exclude_characters="^'~\u2019\u00a0 ")
text_chars = st.sampled_from("#$%_{}")
texts = st.text(st.characters(exclude_categories=("Cs", "Cc"), exclude_characters="\\{}$&#^_~%\u2019\u00a0 "),
                min_size=1, max_size=5)
# The characters that are delimiters are the packages'; a delimiter
# written as a control sequence may be one a parser was given.
delimiters = st.one_of(
    st.just("None"),
    st.sampled_from("()[]<>/|").map(lambda c: {"Char": c}),
    command_names.map(lambda n: {"Control": n}),
)
delimiter_pairs = st.tuples(delimiters, delimiters)
group_kinds = st.one_of(
    st.sampled_from(["Explicit", "Implicit", "InlineMath"]),
    delimiter_pairs.map(lambda p: {"Delimited": {"left": p[0], "right": p[1]}}),
)
plain_kinds = st.one_of(
    st.sampled_from(["Mandatory", "Optional", "Group"]),
    delimiter_pairs.map(lambda p: {"Delimited": {"open": p[0], "close": p[1]}}),
    delimiter_pairs.map(lambda p: {"Paired": {"open": p[0], "close": p[1]}}),
)
leaf_values = st.one_of(
    delimiters.map(lambda d: {"Delimiter": d}),
    st.from_regex(r"\A[a-z]{1,4}\Z").map(lambda t: {"CSName": t}),
    st.from_regex(r"\A-?[0-9]{1,3}(\.[0-9]{1,2})?(pt|em|mu)\Z").map(lambda t: {"Dimension": t}),
    st.from_regex(r"\A-?[0-9]{1,3}\Z").map(lambda t: {"Integer": t}),
    st.from_regex(r"\A[a-z]{1,3}=[a-z0-9]{1,3}\Z").map(lambda t: {"KeyVal": t}),
    st.sampled_from(["c", "lc|r", "p{2pt}"]).map(lambda t: {"Column": t}),
)


@lru_cache(maxsize=None)
def leaves(mode):
    options = [st.just("ActiveSpace"), st.builds(lambda m, s: {"Error": {"message": m, "snippet": s}}, names, names)]
    if mode == "Math":
        options += [chars.map(char), st.integers(1, 5).map(lambda n: {"Prime": {"count": n}})]
    else:
        options += [texts.map(lambda t: {"Text": t}), text_chars.map(char)]
    return st.one_of(options)


@lru_cache(maxsize=None)
def nodes(mode, depth):
    if depth == 0:
        return leaves(mode)
    child = nodes(mode, depth - 1)
    math = nodes("Math", depth - 1)
    text = nodes("Text", depth - 1)
    modes = st.sampled_from(["Math", "Text"])

    def group_of(m):
        return st.builds(
            lambda k, c: group(*c, mode=m, kind=k), group_kinds,
            st.lists(nodes(m, depth - 1), max_size=3))

    # A group stands where its mode is read: inline math in text.
    def standing_group(m):
        if m == "Math":
            return group_of("Math").filter(lambda g: g["Group"]["kind"] != "InlineMath")
        return st.one_of(group_of("Text").filter(lambda g: g["Group"]["kind"] in ("Explicit", "Implicit")),
                         st.builds(lambda c: group(*c, mode="Math", kind="InlineMath"),
                                   st.lists(nodes("Math", depth - 1), max_size=3)))

    slot = st.one_of(
        st.none(),
        st.builds(lambda b, s: arg({"Boolean": b}, kind="Star", no_leading_space=s), st.booleans(), st.booleans()),
        st.builds(arg, leaf_values, plain_kinds, st.booleans()),
        st.builds(arg, math.map(lambda n: {"MathContent": n}), plain_kinds, st.booleans()),
        st.builds(arg, text.map(lambda n: {"TextContent": n}), plain_kinds, st.booleans()),
        st.builds(arg, math.map(lambda n: {"OperatorNameContent": n}), plain_kinds, st.booleans()),
    )
    slots = st.lists(slot, max_size=3)
    return st.one_of(
        leaves(mode),
        standing_group(mode),
        st.builds(lambda n, a, k: command(n, *a, known=k), command_names, slots, st.booleans()),
        st.builds(lambda n, a, l, r: {"Infix": {"name": n, "args": a, "left": l, "right": r}},
                  command_names, slots, child, child),
        st.builds(lambda n, a: {"Declarative": {"name": n, "args": a}}, command_names, slots),
        st.builds(lambda n, a, k, b: {"Environment": {"name": n, "args": a, "known": k, "body": b}},
                  environment_names, slots, st.booleans(), modes.flatmap(group_of)),
        st.builds(scripted, child, st.none() | child, st.none() | child),
    )


trees = st.sampled_from(["Math", "Text"]).flatmap(
    lambda m: st.lists(nodes(m, 3), max_size=4).map(lambda c: root(*c, mode=m)))


@settings(max_examples=300, deadline=None)
@given(trees)
def test_random_trees_round_trip(tree):
    try:
        doc = Document.from_syntax(tree)
    except quorvel.ParseError as refused:
        # A value that only its slot's delimiters, or its neighbours, make
        # unreadable.
        assert " cannot be written" in str(refused)
        with pytest.raises(quorvel.ParseError, match=" cannot be written"):
            serialize(tree)
        return
    assert doc.to_syntax() == tree
    assert serialize(tree) == doc.to_latex()


# ---- Depth ------------------------------------------------------------------------

DEPTH = 1_000_000


def scripted_chain(depth):
    # Each level a script on a base in braces: a scripted base would read
    # back as a double script.
    node = char("x")
    for _ in range(depth):
        node = {"Scripted": {"base": group(node), "subscript": None, "superscript": char("2")}}
    return root(node)


def chain_depth(node, kind, field):
    depth = 0
    while kind in node:
        body = node[kind][field]
        node = body[0] if isinstance(body, list) else body
        depth += 1
    return depth, node


def test_million_levels_read_and_written():
    tree = scripted_chain(DEPTH)
    doc = Document.from_syntax(tree)
    assert serialize(tree) == doc.to_latex()
    del tree
    written = doc.to_syntax()
    node, depth = written["Root"]["children"][0], 0
    while "Scripted" in node:
        node = node["Scripted"]["base"]["Group"]["children"][0]
        depth += 1
    assert (depth, node) == (DEPTH, char("x"))


def test_million_wraps_written():
    doc = Document()
    top = doc.create_char("x")
    doc.append_child(doc.root(), top)
    for _ in range(DEPTH):
        wrapper = doc.create_group("math")
        doc.wrap(top, wrapper)
        top = wrapper
    written = doc.to_syntax()
    assert chain_depth(written["Root"]["children"][0], "Group", "children") == (DEPTH, char("x"))
    assert Document.from_syntax(written).to_latex() == doc.to_latex()
