"""Document editing: the create and edit methods, their steps and their errors."""

import time

import pytest

import quorvel
from quorvel import Document, Node


def C(c):
    return {"Char": c}


def G(*children, mode="Math"):
    return {"Group": {"mode": mode, "kind": "Explicit", "children": list(children)}}


def slot(value, kind="Mandatory"):
    return {"kind": kind, "no_leading_space": False, "value": value}


def children(doc):
    return doc.to_syntax()["Root"]["children"]


def math(doc, *chars):
    """A detached math group holding `chars`."""
    group = doc.create_group("math")
    for c in chars:
        doc.append_child(group, doc.create_char(c))
    return group


def in_text(doc, group):
    """A `\\text` command holding the text group `group`."""
    return doc.create_command("text", [{"kind": "Text", "node": group}])


def TEXT(*children):
    return {"Command": {"name": "text", "args": [slot({"TextContent": G(*children, mode="Text")})], "known": False}}


def attached(doc, *chars):
    """Chars appended to the root, returned as handles."""
    nodes = [doc.create_char(c) for c in chars]
    for node in nodes:
        doc.append_child(doc.root(), node)
    return nodes


# ---- Effects ------------------------------------------------------------------------


def edit_create_text(doc):
    # An empty text may be made; where it stands it would read back as nothing.
    empty = doc.create_text("")
    assert empty.kind() == "Text" and empty.text() == ""
    with pytest.raises(quorvel.ParseError, match="empty text reads back as nothing"):
        doc.append_child(doc.root(), empty)
    # Only text reads back as a text: in math it would be characters.
    with pytest.raises(quorvel.ParseError, match="in math a text reads back as characters"):
        doc.append_child(doc.root(), doc.create_text("a"))
    group = doc.create_group("text")
    doc.append_child(group, doc.create_text("a"))
    # A text group stands only in text: in math its braces read as math.
    with pytest.raises(quorvel.ParseError, match="a text group cannot be written here"):
        doc.append_child(doc.root(), group)
    doc.append_child(doc.root(), in_text(doc, group))
    doc.append_child(doc.root(), doc.create_active_space())
    return [TEXT({"Text": "a"}), "ActiveSpace"]


def edit_create_group_text(doc):
    group = doc.create_group("text")
    doc.append_child(group, doc.create_text("hi"))
    doc.append_child(doc.root(), in_text(doc, group))
    return [TEXT({"Text": "hi"})]


def edit_create_command(doc):
    # A name the packages do not know keeps its arguments: each scalar reads
    # back as characters, and content of the mode it stands in as a group.
    args = (
        {"kind": "Math", "node": math(doc, "1")},
        {"kind": "Boolean", "value": True},
        {"kind": "Delimiter", "value": {"kind": "Char", "value": "("}},
        {"kind": "Delimiter", "value": {"kind": "None"}},
        {"kind": "CSName", "value": "foo", "node": object()},
        {"kind": "Dimension", "value": "2pt"},
        {"kind": "Integer", "value": "-12"},
        {"kind": "KeyVal", "value": "a=b"},
        {"kind": "Column", "value": "c"},
        {"kind": "Delimiter", "value": {"kind": "Control", "value": "langle"}},
    )
    doc.append_child(doc.root(), doc.create_command("cmd", args))
    doc.append_child(doc.root(), doc.create_command("relax"))
    doc.append_child(doc.root(), doc.create_declarative(name="bf", args=None))
    return [
        {"Command": {"name": "cmd", "known": False, "args": [
            slot({"MathContent": G(C("1"))}),
            slot({"Boolean": True}, kind="Star"),
            slot({"Delimiter": {"Char": "("}}),
            slot({"Delimiter": "None"}),
            slot({"CSName": "foo"}),
            slot({"Dimension": "2pt"}, kind="Group"),
            slot({"Integer": "-12"}),
            slot({"KeyVal": "a=b"}),
            slot({"Column": "c"}),
            slot({"Delimiter": {"Control": "langle"}}),
        ]}},
        {"Command": {"name": "relax", "args": [], "known": False}},
        {"Declarative": {"name": "bf", "args": []}},
    ]


def edit_create_environment(doc):
    env = doc.create_environment("array", [{"kind": "Column", "value": "cc"}], math(doc, "a"))
    doc.append_child(doc.root(), env)
    # It takes the empty optional slot `array` reads back with.
    return [{"Environment": {"name": "array", "args": [None, slot({"Column": "cc"})], "known": False,
                             "body": G(C("a"))}}]


def edit_inserts(doc):
    (b,) = attached(doc, "b")
    doc.insert_before(b, doc.create_char("a"))
    doc.insert_after(anchor=b, new=doc.create_char("c"))
    doc.insert_child(doc.root(), 3, doc.create_char("d"))
    doc.insert_child(doc.root(), 0, doc.create_char("α"))
    return [C("α"), C("a"), C("b"), C("c"), C("d")]


def edit_replace_and_remove(doc):
    a, b, c = attached(doc, "a", "b", "c")
    doc.replace_with(a, doc.create_char("x"))
    doc.remove(b)
    return [C("x"), C("c")]


def edit_wrap(doc):
    a, b = attached(doc, "a", "b")
    wrapper = doc.wrap(b, doc.create_group("math"))
    assert type(wrapper) is Node
    doc.append_child(wrapper, doc.create_char("c"))
    return [C("a"), G(C("b"), C("c"))]


def edit_unwrap(doc):
    group = math(doc, "a", "b")
    empty = doc.create_group("math")
    doc.append_child(doc.root(), group)
    doc.append_child(doc.root(), empty)
    assert doc.unwrap(empty) == []
    inner = doc.unwrap(group)
    assert len(inner) == 2 and all(type(n) is Node for n in inner)
    doc.set_char(inner[1], "β")
    return [C("a"), C("β")]


def edit_extract(doc):
    a, b = attached(doc, "a", "b")
    group = doc.create_group("math")
    doc.append_child(doc.root(), group)
    moved = doc.extract(a)
    assert type(moved) is Node and moved is not a
    doc.append_child(group, moved)
    return [C("b"), G(C("a"))]


def edit_clear(doc):
    group = math(doc, "a", "b")
    doc.append_child(doc.root(), group)
    doc.clear(container=group)
    return [G()]


def edit_setters(doc):
    text = doc.create_text("old")
    cmd = doc.create_command("alpha")
    star = doc.create_command("x", [{"kind": "Boolean", "value": False}, {"kind": "Math", "node": math(doc, "1")}])
    (c,) = attached(doc, "c")
    words = doc.create_group("text")
    doc.append_child(words, text)
    for node in (in_text(doc, words), cmd, star):
        doc.append_child(doc.root(), node)
    doc.set_text(text, "new")
    doc.set_command_name(cmd, "beta")
    doc.set_char(c, "𝔸")
    doc.set_arg(star, 0, {"kind": "Boolean", "value": True})
    doc.set_arg(star, 1, {"kind": "Math", "node": math(doc, "2")})
    return [
        C("𝔸"),
        TEXT({"Text": "new"}),
        {"Command": {"name": "beta", "args": [], "known": False}},
        {"Command": {"name": "x", "args": [slot({"Boolean": True}, kind="Star"), slot({"MathContent": G(C("2"))})],
                     "known": False}},
    ]


EFFECTS = [edit_create_text, edit_create_group_text, edit_create_command, edit_create_environment, edit_inserts,
           edit_replace_and_remove, edit_wrap, edit_unwrap, edit_extract, edit_clear, edit_setters]


@pytest.mark.parametrize("edit", EFFECTS, ids=[f.__name__ for f in EFFECTS])
def test_edit_effects(edit):
    doc = Document()
    expected = edit(doc)
    assert children(doc) == expected
    assert Document.from_syntax(doc.to_syntax()).to_latex() == doc.to_latex()


# ---- Errors -------------------------------------------------------------------------

READ_ONLY = {"Root": {"mode": "Math", "children": [
    {"Group": {"mode": "Math", "kind": "Explicit", "children": [{"Char": "a"}]}},
    {"Command": {"name": "c", "args": [slot({"CSName": "x"})], "known": False}},
    {"Error": {"message": "m", "snippet": "s"}},
]}}

# Every create and edit method, called with well-formed arguments on the
# read-only document: (name, function of (doc, group, char, command)).
ALL_EDITS = [
    ("create_char", lambda d, g, c, k: d.create_char("x")),
    ("create_text", lambda d, g, c, k: d.create_text("x")),
    ("create_active_space", lambda d, g, c, k: d.create_active_space()),
    ("create_group", lambda d, g, c, k: d.create_group("math")),
    ("create_command", lambda d, g, c, k: d.create_command("x", [{"kind": "CSName", "value": "y"}])),
    ("create_declarative", lambda d, g, c, k: d.create_declarative("x")),
    ("create_environment", lambda d, g, c, k: d.create_environment("x", None, g)),
    ("append_child", lambda d, g, c, k: d.append_child(g, c)),
    ("insert_before", lambda d, g, c, k: d.insert_before(c, g)),
    ("insert_after", lambda d, g, c, k: d.insert_after(c, g)),
    ("insert_child", lambda d, g, c, k: d.insert_child(g, 0, c)),
    ("replace_with", lambda d, g, c, k: d.replace_with(c, g)),
    ("wrap", lambda d, g, c, k: d.wrap(c, g)),
    ("unwrap", lambda d, g, c, k: d.unwrap(g)),
    ("extract", lambda d, g, c, k: d.extract(c)),
    ("remove", lambda d, g, c, k: d.remove(c)),
    ("clear", lambda d, g, c, k: d.clear(g)),
    ("set_command_name", lambda d, g, c, k: d.set_command_name(k, "y")),
    ("set_text", lambda d, g, c, k: d.set_text(c, "y")),
    ("set_char", lambda d, g, c, k: d.set_char(c, "y")),
    ("set_arg", lambda d, g, c, k: d.set_arg(k, 0, {"kind": "CSName", "value": "z"})),
]


def read_only_parts():
    """The document with an Error node and handles of a container, a leaf
    and a command of it (the refusal comes before any shape check)."""
    doc = Document.from_syntax(READ_ONLY)
    return doc, doc.root(), doc.errors()[0], doc.find_commands("c")[0]


@pytest.mark.parametrize("name, call", ALL_EDITS, ids=[n for n, _ in ALL_EDITS])
def test_every_edit_refused_on_read_only_document(name, call):
    doc, group, node, command = read_only_parts()
    before = doc.to_syntax()
    with pytest.raises(quorvel.EditError) as info:
        call(doc, group, node, command)
    assert str(info.value) == "document is read-only"
    assert doc.to_syntax() == before
    assert doc.to_latex() == Document.from_syntax(READ_ONLY).to_latex()


NODE_EDITS = [(n, f) for n, f in ALL_EDITS if n not in
              ("create_char", "create_text", "create_active_space", "create_group", "create_command",
               "create_declarative")]


@pytest.mark.parametrize("read_only", [False, True])
@pytest.mark.parametrize("name, call", NODE_EDITS, ids=[n for n, _ in NODE_EDITS])
def test_foreign_nodes_refused_first(name, call, read_only):
    doc = Document.from_syntax(READ_ONLY) if read_only else Document()
    other = Document.from_syntax(READ_ONLY)
    foreign = other.find_commands("c")[0]
    with pytest.raises(quorvel.EditError, match="^node belongs to a different document$"):
        call(doc, foreign, foreign, foreign)


@pytest.mark.parametrize(
    "call",
    [
        lambda d, f: d.create_command("x", [{"kind": "Math", "node": f}]),
        lambda d, f: d.create_declarative("x", [{"kind": "Text", "node": f}]),
        lambda d, f: d.set_arg(d.root(), 0, {"kind": "Math", "node": f}),
        lambda d, f: d.create_environment("x", [{"kind": "Bogus"}], f),
    ],
)
def test_foreign_nodes_inside_values_refused(call):
    doc = Document()
    foreign = Document().create_group("math")
    with pytest.raises(quorvel.EditError, match="^node belongs to a different document$"):
        call(doc, foreign)


# (call, exception class, message or None); "…" ends a prefix.
ARGUMENT_ERRORS = [
    (lambda d: d.create_char(5), TypeError, "argument 'value': …"),
    (lambda d: d.create_text(None), TypeError, "argument 'value': …"),
    (lambda d: d.create_group(1), TypeError, "argument 'mode': …"),
    (lambda d: d.create_command(b"x"), TypeError, "argument 'name': …"),
    (lambda d: d.create_command("x", "abc"), TypeError, "argument 'args': …"),
    (lambda d: d.create_command("x", 5), TypeError, "argument 'args': …"),
    (lambda d: d.create_command("x", {"kind": "CSName"}), TypeError, "argument 'args': …"),
    (lambda d: d.create_environment("x", None, "body"), TypeError, "argument 'body': …"),
    (lambda d: d.append_child(d.root(), 3), TypeError, "argument 'child': 'int' object cannot be cast as 'Node'"),
    (lambda d: d.insert_before("a", d.root()), TypeError, "argument 'anchor': …"),
    (lambda d: d.insert_child(d.root(), "0", d.root()), TypeError, "argument 'index': …"),
    (lambda d: d.insert_child(d.root(), 1.0, d.root()), TypeError, "argument 'index': …"),
    (lambda d: d.insert_child(d.root(), -1, d.create_char("x")), OverflowError, None),
    (lambda d: d.insert_child(d.root(), 2**64, d.create_char("x")), OverflowError, None),
    (lambda d: d.set_arg(d.root(), -1, {}), OverflowError, None),
    (lambda d: d.set_text(d.root(), 1), TypeError, "argument 'value': …"),
    (lambda d: d.set_command_name(d.root(), None), TypeError, "argument 'name': …"),
    (lambda d: d.find_commands(1), TypeError, "argument 'name': …"),
    (lambda d: d.append_child(d.root()), TypeError, None),
    (lambda d: d.create_active_space(1), TypeError, None),
    (lambda d: d.remove(d.root(), d.root()), TypeError, None),
    (lambda d: d.create_char("\ud800"), quorvel.EditError,
     "argument 'value' is not valid Unicode: lone surrogate U+D800 at index 0"),
]


@pytest.mark.parametrize("call, error, message", ARGUMENT_ERRORS)
def test_argument_errors(call, error, message):
    doc = Document()
    with pytest.raises(error) as info:
        call(doc)
    assert type(info.value) is error
    if message is not None:
        text = str(info.value)
        assert text.startswith(message[:-1]) if message.endswith("…") else text == message
    assert children(doc) == []


# Values converted by the Python layer: (call, class, message).
VALUE_ERRORS = [
    (lambda d: d.create_char(""), quorvel.ParseError, "character cannot be empty"),
    (lambda d: d.create_char("ab"), quorvel.ParseError, "character must contain exactly one scalar"),
    (lambda d: d.create_char("e\u0301"), quorvel.ParseError, "character must contain exactly one scalar"),
    (lambda d: d.set_char(d.root(), ""), quorvel.ParseError, "character cannot be empty"),
    (lambda d: d.create_group("Math"), quorvel.ConfigError, "unsupported content mode: Math"),
    (lambda d: d.create_group(""), quorvel.ConfigError, "unsupported content mode: "),
    (lambda d: d.create_command("x", ["CSName"]), quorvel.ParseError, "ArgValue must be a dict"),
    (lambda d: d.create_command("x", [{}]), quorvel.ParseError, "ArgValue missing `kind`"),
    (lambda d: d.create_command("x", [{"kind": "math", "node": d.root()}]), quorvel.ParseError,
     "unsupported ArgValue kind: math"),
    (lambda d: d.create_command("x", [{"kind": "CSName"}]), quorvel.ParseError, "ArgValue missing `value`"),
    (lambda d: d.create_command("x", [{"kind": 1}]), TypeError, None),
    (lambda d: d.create_command("x", [{"kind": "Integer", "value": 3}]), TypeError, None),
    (lambda d: d.create_command("x", [{"kind": "Math"}]), quorvel.ParseError, "content ArgValue missing `node`"),
    (lambda d: d.create_command("x", [{"kind": "Text", "node": "n"}]), TypeError,
     "'str' object cannot be cast as 'Node'"),
    (lambda d: d.create_command("x", [{"kind": "Boolean"}]), quorvel.ParseError, "Boolean ArgValue missing `value`"),
    (lambda d: d.create_command("x", [{"kind": "Boolean", "value": 1}]), TypeError, None),
    (lambda d: d.create_command("x", [{"kind": "Delimiter"}]), quorvel.ParseError,
     "Delimiter ArgValue missing `value`"),
    (lambda d: d.create_command("x", [{"kind": "Delimiter", "value": "("}]), quorvel.ParseError,
     "Delimiter value must be a dict"),
    (lambda d: d.create_command("x", [{"kind": "Delimiter", "value": {"kind": "Char"}}]), quorvel.ParseError,
     "ArgValue missing `value`"),
    (lambda d: d.create_command("x", [{"kind": "Delimiter", "value": {"kind": "Char", "value": "()"}}]),
     quorvel.ParseError, "character must contain exactly one scalar"),
    (lambda d: d.create_command("x", [{"kind": "Delimiter", "value": {"kind": "char", "value": "("}}]),
     quorvel.ParseError, "unsupported delimiter kind: char"),
    (lambda d: d.create_command("x", [{"kind": "CSName", "value": "a"}, {"kind": "CSName", "value": "b"}, {}]),
     quorvel.ParseError, "ArgValue missing `kind`"),
    (lambda d: d.set_arg(d.root(), 0, {}), quorvel.ParseError, "ArgValue missing `kind`"),
    (lambda d: d.set_arg(d.root(), 0, {"kind": "Boolean", "value": 1}), TypeError, None),
]


@pytest.mark.parametrize("call, error, message", VALUE_ERRORS)
def test_value_conversion_errors(call, error, message):
    doc = Document()
    attached(doc, "a")
    before = doc.to_syntax()
    with pytest.raises(error) as info:
        call(doc)
    assert type(info.value) is error
    if message is not None:
        assert str(info.value) == message
    if isinstance(info.value, quorvel.ParseError):
        assert not hasattr(info.value, "diagnostics") and not hasattr(info.value, "document")
    assert doc.to_syntax() == before
    # No borrow is left behind: the next edit goes through.
    doc.append_child(doc.root(), doc.create_char("b"))


COMMAND_NAME = " is not one control sequence, which is one or more ASCII letters, or one character other than a line feed"
ENVIRONMENT_NAME = ("\\begin{...} reads one or more characters, none a space, a control character, a prime or "
                    "one of \\ { } [ ] $ & # ^ _ ~ %")

# (name, accepted as a command name, accepted as an environment name).
NAMES = [
    ("alpha", True, True), ("\\", True, False), ("", False, False), ("not a name", False, False),
    ("a1", False, True), ("matrix*", False, True), ("\n", False, False), ("a%b", False, False),
]


@pytest.mark.parametrize("name, command, environment", NAMES)
def test_names_that_cannot_be_written(name, command, environment):
    doc = Document()
    attached(doc, "a")
    target = doc.create_command("x")
    env = doc.create_environment("e", None, doc.create_group("math"))
    doc.append_child(doc.root(), target)
    doc.append_child(doc.root(), env)
    for call, accepted, what, rule in [
        (lambda: doc.create_command(name), command, "command name", COMMAND_NAME),
        (lambda: doc.create_declarative(name), command, "command name", COMMAND_NAME),
        (lambda: doc.set_command_name(target, name), command, "command name", COMMAND_NAME),
        (lambda: doc.create_environment(name, None, doc.create_group("math")), environment, "environment name",
         ENVIRONMENT_NAME),
        (lambda: doc.set_command_name(env, name), environment, "environment name", ENVIRONMENT_NAME),
    ]:
        if accepted:
            call()
            continue
        before = doc.to_syntax()
        with pytest.raises(quorvel.ParseError) as info:
            call()
        # The message names the value and says why.
        assert str(info.value).startswith(f'{what} "') and str(info.value).endswith(rule)
        assert doc.to_syntax() == before
    if not command:
        tree = {"Root": {"mode": "Math", "children": [{"Command": {"name": name, "args": [], "known": False}}]}}
        with pytest.raises(quorvel.ParseError, match='^Command name ".*" cannot be written: '):
            Document.from_syntax(tree)


def test_environment_checks_body_before_args():
    doc = Document()
    with pytest.raises(quorvel.EditError, match="^node belongs to a different document$"):
        doc.create_environment("x", [{}], Document().create_group("math"))
    with pytest.raises(quorvel.ParseError, match="^ArgValue missing `kind`$"):
        doc.create_environment("x", [{}], doc.create_group("math"))


# Refusals of the document itself, after the Python layer: (setup returning a
# thunk, message).
def refusal_attached_child(doc):
    (a,) = attached(doc, "a")
    return lambda: doc.append_child(doc.create_group("math"), a)


def refusal_cycle(doc):
    group = doc.create_group("math")
    return lambda: doc.append_child(group, group)


def refusal_index(doc):
    attached(doc, "a")
    return lambda: doc.insert_child(doc.root(), 2, doc.create_char("b"))


def refusal_stale(doc):
    (a,) = attached(doc, "a")
    doc.remove(a)
    return lambda: doc.set_char(a, "b")


def refusal_root(doc):
    return lambda: doc.wrap(doc.root(), doc.create_group("math"))


def refusal_not_container(doc):
    (a,) = attached(doc, "a")
    return lambda: doc.wrap(a, doc.create_char("w"))


def refusal_wrap_not_group_child(doc):
    content = doc.create_group("math")
    doc.append_child(doc.root(), doc.create_command("x", [{"kind": "Math", "node": content}]))
    return lambda: doc.wrap(content, doc.create_group("math"))


def refusal_wrap_detached(doc):
    group = doc.create_group("math")
    return lambda: doc.wrap(group, doc.create_group("math"))


def refusal_extract_argument(doc):
    content = doc.create_group("math")
    doc.append_child(doc.root(), doc.create_command("x", [{"kind": "Math", "node": content}]))
    return lambda: doc.extract(content)


def refusal_set_char_on_group(doc):
    return lambda: doc.set_char(doc.root(), "x")


def refusal_set_text_on_char(doc):
    (a,) = attached(doc, "a")
    return lambda: doc.set_text(a, "x")


def refusal_rename_char(doc):
    (a,) = attached(doc, "a")
    return lambda: doc.set_command_name(a, "x")


def refusal_env_body(doc):
    return lambda: doc.create_environment("x", None, doc.create_char("b"))


def refusal_twice(doc):
    group = doc.create_group("math")
    return lambda: doc.create_command("x", [{"kind": "Math", "node": group}, {"kind": "Math", "node": group}])


def command_with(doc, *values):
    cmd = doc.create_command("x", list(values))
    doc.append_child(doc.root(), cmd)
    return cmd


def refusal_arg_index(doc):
    cmd = command_with(doc, {"kind": "CSName", "value": "a"})
    return lambda: doc.set_arg(cmd, 1, {"kind": "CSName", "value": "b"})


def refusal_arg_not_command(doc):
    return lambda: doc.set_arg(doc.root(), 0, {"kind": "CSName", "value": "b"})


def refusal_boolean_into_mandatory(doc):
    cmd = command_with(doc, {"kind": "CSName", "value": "a"})
    return lambda: doc.set_arg(cmd, 0, {"kind": "Boolean", "value": True})


def refusal_value_into_star(doc):
    cmd = command_with(doc, {"kind": "Boolean", "value": True})
    return lambda: doc.set_arg(cmd, 0, {"kind": "CSName", "value": "a"})


def refusal_empty_slot(doc):
    tree = {"Root": {"mode": "Math", "children": [{"Command": {"name": "x", "args": [None], "known": False}}]}}
    other = Document.from_syntax(tree)
    cmd = other.find_commands("x")[0]
    return lambda: other.set_arg(cmd, 0, {"kind": "CSName", "value": "a"})


REFUSALS = [
    (refusal_attached_child, "expected a detached root"),
    (refusal_cycle, "edit would create a cycle"),
    (refusal_index, "index out of bounds"),
    (refusal_stale, "node not found"),
    (refusal_root, "cannot edit the root node"),
    (refusal_not_container, "node is not a container"),
    (refusal_wrap_not_group_child, "slot shape mismatch: expected group child"),
    (refusal_wrap_detached, "node not found"),
    (refusal_extract_argument, "slot shape mismatch: expected group child"),
    (refusal_set_char_on_group, "slot shape mismatch: expected char node"),
    (refusal_set_text_on_char, "slot shape mismatch: expected text node"),
    (refusal_rename_char, "slot shape mismatch: expected command-like node"),
    (refusal_env_body, "slot shape mismatch: expected group"),
    (refusal_twice, "node cannot appear more than once"),
    (refusal_arg_index, "index out of bounds"),
    (refusal_arg_not_command, "slot shape mismatch: expected command-like node"),
    (refusal_boolean_into_mandatory, "slot shape mismatch: expected non-boolean argument value"),
    (refusal_value_into_star, "slot shape mismatch: expected boolean value"),
    (refusal_empty_slot, "slot shape mismatch: expected filled argument slot"),
]


@pytest.mark.parametrize("setup, message", REFUSALS, ids=[f.__name__ for f, _ in REFUSALS])
def test_document_refusals(setup, message):
    doc = Document()
    call = setup(doc)
    before = doc.to_syntax()
    with pytest.raises(quorvel.EditError) as info:
        call()
    assert type(info.value) is quorvel.EditError
    assert str(info.value) == message
    assert doc.to_syntax() == before
    doc.append_child(doc.root(), doc.create_char("z"))


def test_freed_handles_stay_objects():
    doc = Document()
    group = math(doc, "a")
    doc.append_child(doc.root(), group)
    doc.clear(group)
    doc.unwrap(group)
    for call in (lambda: doc.remove(group), lambda: doc.clear(group), lambda: doc.unwrap(group)):
        with pytest.raises(quorvel.EditError, match="^node not found$"):
            call()


# ---- Deep chains ----------------------------------------------------------------------
# An edit's cycle check costs the smaller of the parent's depth and the size
# of the subtree put under it, so a chain grows in constant time per level
# from either end. Each builder returns the leaf at the bottom of `n` groups.


def chain_append_top_down(doc, n):
    parent = doc.root()
    for _ in range(n):
        group = doc.create_group("math")
        doc.append_child(parent, group)
        parent = group
    leaf = doc.create_char("x")
    doc.append_child(parent, leaf)
    return leaf


def chain_append_bottom_up(doc, n):
    leaf = node = doc.create_char("x")
    for _ in range(n):
        group = doc.create_group("math")
        doc.append_child(group, node)
        node = group
    doc.append_child(doc.root(), node)
    return leaf


def chain_wrap_leaf(doc, n):
    (leaf,) = attached(doc, "x")
    for _ in range(n):
        doc.wrap(leaf, doc.create_group("math"))
    return leaf


def chain_replace_leaf(doc, n):
    (leaf,) = attached(doc, "x")
    for _ in range(n):
        group = math(doc, "x")
        (new_leaf,) = group.children()
        doc.replace_with(leaf, group)
        leaf = new_leaf
    return leaf


CHAINS = [chain_append_top_down, chain_append_bottom_up, chain_wrap_leaf, chain_replace_leaf]


def chain_seconds(build, n, runs):
    best = float("inf")
    for _ in range(runs):
        doc = Document()
        start = time.thread_time()
        leaf = build(doc, n)
        best = min(best, time.thread_time() - start)
    assert len(leaf.ancestors()) == n + 1
    return best


@pytest.mark.parametrize("build", CHAINS, ids=[f.__name__ for f in CHAINS])
def test_deep_chains_build_in_linear_time(build):
    n = 12_500
    small = chain_seconds(build, n, 3)
    large = chain_seconds(build, 8 * n, 2)
    # Linear growth gives 8x, a walk over the depth 64x.
    assert large < 2.0
    assert large < 32 * small
