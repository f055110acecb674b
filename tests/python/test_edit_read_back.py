"""Edits write what reads back: a value the writer cannot write so that it
reads back as itself is refused, and an accepted one reads back."""

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import quorvel
from quorvel import Document

PARSER = quorvel.Parser()


def parsed(src):
    result = PARSER.parse(src)
    assert result["diagnostics"] == [], src
    return result["document"]


def first(doc, kind, name=None):
    return next(n for n in doc.root().descendants()
                if n.kind() == kind and (name is None or n.command_name() == name))


def normal(tree):
    """The tree as reading compares it: `known` is set by the reader only,
    written braces make an explicit group, and an argument's leading space is
    the reader's."""
    if isinstance(tree, dict):
        out = {}
        for key, value in tree.items():
            if key in ("known", "no_leading_space"):
                continue
            if key == "kind" and value == "Implicit":
                value = "Explicit"
            out[key] = normal(value)
        return out
    if isinstance(tree, list):
        return [normal(x) for x in tree]
    return tree


def reads_back(doc, same_tree=True):
    text = doc.to_latex()
    result = PARSER.parse(text)
    assert result["document"] is not None and result["diagnostics"] == [], text
    if same_tree:
        assert normal(result["document"].to_syntax()) == normal(doc.to_syntax()), text


def refused(call, *fragments):
    with pytest.raises(quorvel.ParseError) as info:
        call()
    message = str(info.value)
    for fragment in fragments:
        assert fragment in message, message


# ---- The values refused, each named with the reason ----------------------------------

TEXTS = {
    "50%": "% starts a comment",
    "a}b": "a brace",
    "R&D": "& ends a cell",
    "x_1": "script markers",
    "$5": "$ starts math",
    "#1": "# is a macro parameter",
    "~": "active space",
    "a\\b": "\\ starts a control sequence",
    "a  b": "two spaces",
    "a\tb": "white space other than a space",
}


@pytest.mark.parametrize("value, why", TEXTS.items(), ids=TEXTS.keys())
def test_texts_that_do_not_read_back(value, why):
    doc = parsed(r"\text{abc} + x")
    before = doc.to_syntax()
    named = f'text "{value}"'.replace("\t", "\\t")
    refused(lambda: doc.set_text(first(doc, "Text"), value), named, why)
    refused(lambda: doc.create_text(value), named, why)
    tree = {"Root": {"mode": "Math", "children": [{"Text": value}]}}
    refused(lambda: Document.from_syntax(tree), why)
    refused(lambda: quorvel.serialize(tree), why)
    assert doc.to_syntax() == before


CHARS = {"^": "superscript marker", "'": "prime", "’": "prime", "~": "active space", " ": "white space",
         "\t": "white space", "\x01": "control characters"}


@pytest.mark.parametrize("value, why", CHARS.items(), ids=[repr(c) for c in CHARS])
def test_characters_that_do_not_read_back(value, why):
    doc = parsed("a + b")
    refused(lambda: doc.set_char(first(doc, "Char"), value), "character", why)
    refused(lambda: doc.create_char(value), why)
    refused(lambda: Document.from_syntax({"Root": {"mode": "Math", "children": [{"Char": value}]}}), why)


@pytest.mark.parametrize("name", ["%", "#", "_", "{", "}", "$"])
def test_names_that_read_back_as_characters(name):
    doc = Document()
    refused(lambda: doc.create_command(name), f'command name "{name}"', f"\\{name} reads back as the character {name}")


# (command, argument value, why): values that would not read back in the
# slot an edit makes for them.
VALUES = [
    ("kern", {"kind": "Dimension", "value": "3pt}"}, "unmatched }"),
    ("kern", {"kind": "Dimension", "value": "3pt x"}, "does not read back"),
    ("kern", {"kind": "Dimension", "value": "%"}, "comment"),
    ("kern", {"kind": "Dimension", "value": ""}, "an empty value reads back only where its command allows none"),
    ("hspace", {"kind": "Dimension", "value": "3 pt"}, "does not read back as one dimension"),
    ("foo", {"kind": "Integer", "value": "2}"}, "unmatched }"),
    ("foo", {"kind": "Integer", "value": "%"}, "comment"),
    ("foo", {"kind": "KeyVal", "value": "a=b}"}, "unmatched }"),
    ("foo", {"kind": "KeyVal", "value": " a=b"}, "key-value list"),
    ("foo", {"kind": "Column", "value": "c}"}, "unmatched }"),
    ("foo", {"kind": "Column", "value": "%"}, "comment"),
    ("foo", {"kind": "CSName", "value": "2}"}, "unmatched }"),
    ("foo", {"kind": "CSName", "value": "\\x"}, "control-sequence name"),
    ("foo", {"kind": "Delimiter", "value": {"kind": "Char", "value": "%"}}, "delimiter"),
    ("foo", {"kind": "Delimiter", "value": {"kind": "Char", "value": "."}}, "null delimiter"),
    ("foo", {"kind": "Delimiter", "value": {"kind": "Control", "value": "\\langle"}}, "not one control sequence"),
]


@pytest.mark.parametrize("name, value, why", VALUES)
def test_argument_values_that_do_not_read_back(name, value, why):
    doc = Document()
    refused(lambda: doc.create_command(name, [value]), why)
    cmd = doc.create_command(name, [{"kind": value["kind"], "value": ORDINARY_VALUES[value["kind"]]}])
    refused(lambda: doc.set_arg(cmd, 0, value), why)


ORDINARY_VALUES = {"Dimension": "-1.5em", "Integer": "2", "KeyVal": "a=b", "Column": "c|l", "CSName": "foo",
                   "Delimiter": {"kind": "Char", "value": "("}}


def test_ordinary_values_pass():
    for value in ["abc", "for all x", "café", "e.g.", "it's [x]", "a\\ b"]:
        doc = parsed(r"\text{abc} + x")
        doc.set_text(first(doc, "Text"), value)
        reads_back(doc)
    for value in "x+(%{$#_<&\\":
        doc = parsed("a + b")
        doc.set_char(first(doc, "Char"), value)
        reads_back(doc)
    for name in ["beta", ",", "|", "&", "quad"]:
        doc = parsed(r"x \alpha y")
        doc.set_command_name(first(doc, "Command"), name)
        reads_back(doc)
    for name, dimension in [("kern", "3pt"), ("hspace", "-1.5em"), ("mskip", "3mu")]:
        doc = parsed("x")
        doc.append_child(doc.root(), doc.create_command(name, [{"kind": "Dimension", "value": dimension}]))
        reads_back(doc)


def test_a_made_primitive_dimension_is_written_bare():
    doc = Document()
    doc.append_child(doc.root(), doc.create_command("kern", [{"kind": "Dimension", "value": "3pt"}]))
    doc.append_child(doc.root(), doc.create_command("hspace", [{"kind": "Dimension", "value": "3pt"}]))
    assert doc.to_latex() == r"\kern 3pt \hspace {3pt}"
    # A rename writes the dimension as the new name reads it.
    doc = parsed(r"\hspace{1em} x")
    doc.set_command_name(first(doc, "Command"), "kern")
    assert doc.to_latex() == r"\kern 1em x"


# (source, edit, why): values that read back only elsewhere.
IN_PLACE = [
    (r"\text{\bf abc}", lambda d: d.set_text(first(d, "Text"), "abc"), "after a control word"),
    (r"\text{\bf.}", lambda d: d.set_command_name(first(d, "Declarative"), "it"), None),
    (r"\text{\,abc}", lambda d: d.set_command_name(first(d, "Command", ","), "quad"), "after a control word"),
    (r"\text{a\\ b}", lambda d: d.set_text(d.root().descendants()[-1], "[b]"), "optional argument"),
    (r"\text{\%}", lambda d: d.set_char(first(d, "Char"), "x"), "in text it reads back as text"),
    (r"\text{\%}", lambda d: d.set_char(first(d, "Char"), "&"), "reads back as the command &"),
    (r"\text{abc}", lambda d: d.set_text(first(d, "Text"), ""), "empty text"),
    (r"\text{a\ b}", lambda d: d.replace_with(first(d, "Command", " "), d.create_text("x")), "beside another text"),
    (r"\text{abc}", lambda d: d.replace_with(first(d, "Text"), d.create_text("")), "empty text"),
    (r"\text{\bf x}", lambda d: d.insert_after(first(d, "Declarative"), d.create_text("y")),
     "beside another text"),
    (r"x + y", lambda d: d.replace_with(first(d, "Char", None), d.create_text("ab")), "in math a text reads back"),
    # A known command reads its own slots: a made one must have them.
    (r"x + y", lambda d: d.append_child(d.root(), d.create_command("alpha", [math(d, "a")])),
     "\\alpha with other arguments"),
    (r"x + y", lambda d: d.append_child(d.root(), d.create_command("sqrt", [math(d, "a"), math(d, "b")])),
     "\\sqrt with other arguments"),
    (r"x + y", lambda d: d.append_child(d.root(), d.create_command("sqrt", [{"kind": "Dimension", "value": "2pt"}])),
     "\\sqrt with other arguments"),
]


def math(doc, letter):
    group = doc.create_group("math")
    doc.append_child(group, doc.create_char(letter))
    return {"kind": "Math", "node": group}


# A made command takes the empty slots it reads back with: the star and
# optional argument of `\\`, the optional index of `\sqrt`, an operator
# name's content as such.
MADE = [
    ("\\", lambda d: []),
    ("sqrt", lambda d: [math(d, "a")]),
    ("operatorname", lambda d: [math(d, "f")]),
    ("frac", lambda d: [math(d, "a"), math(d, "b")]),
]


@pytest.mark.parametrize("name, args", MADE, ids=[m[0] for m in MADE])
def test_made_commands_take_the_slots_they_read_back_with(name, args):
    doc = parsed("x + y")
    doc.insert_after(first(doc, "Char", None), doc.create_command(name, args(doc)))
    reads_back(doc)


@pytest.mark.parametrize("src, edit, why", IN_PLACE)
def test_values_checked_where_they_stand(src, edit, why):
    doc = parsed(src)
    before = doc.to_syntax()
    if why is None:
        edit(doc)
        reads_back(doc)
        return
    refused(lambda: edit(doc), why)
    assert doc.to_syntax() == before


# ---- Property: random edits with hostile values on parsed formulas ---------------------

FORMULAS = [
    r"\text{abc} + x",
    r"\text{\bf abc, \% x} \alpha",
    r"\frac{a}{b} \beta \mathrm{d} x",
    r"\kern 3pt x \hspace{1em} y \mskip 2mu",
    r"\genfrac(]{0pt}{2}{a}{b}",
    r"\begin{array}{c|l} a & b \\ c & d \end{array}",
    r"\mbox{a\ b} \big( x \bigr)",
    r"\left( x \right. \sqrt[3]{y}",
    r"\text{a\\ b $x$ c}",
    r"\operatorname{foo} x \textbf{y \it z}",
    r"\text{\kern 1pt a{} b} \textrm{\& \$ \{}",
]
HOSTILE = "%}{$&#_^~\\ \t'’a1.,[]*é-"
hostile_text = st.text(st.sampled_from(HOSTILE), max_size=4)
hostile_char = st.sampled_from(HOSTILE)
hostile_name = st.one_of(hostile_text, st.sampled_from(["beta", "quad", "foo", "it", "bf", "begin", "left"]))
SCALARS = ["CSName", "Dimension", "Integer", "KeyVal", "Column"]


def try_edit(call):
    """Runs an edit; a refusal is a ParseError that names the value."""
    try:
        call()
    except quorvel.ParseError as error:
        assert " cannot be written" in str(error)
        return False
    except quorvel.EditError:
        return False
    return True


@settings(max_examples=int(__import__("os").environ.get("EDIT_EXAMPLES", "400")), deadline=None,
          suppress_health_check=[HealthCheck.too_slow])
@given(st.sampled_from(FORMULAS), st.data())
def test_accepted_edits_read_back(src, data):
    doc = parsed(src)
    nodes = [n for n in doc.root().descendants()]
    node = data.draw(st.sampled_from(nodes))
    kind = node.kind()
    same_tree = True
    if kind == "Text":
        if data.draw(st.booleans()):
            accepted = try_edit(lambda: doc.set_text(node, data.draw(hostile_text)))
        else:
            accepted = try_edit(lambda: doc.replace_with(node, doc.create_text(data.draw(hostile_text))))
    elif kind == "Char":
        accepted = try_edit(lambda: doc.set_char(node, data.draw(hostile_char)))
    elif kind in ("Command", "Declarative", "Environment", "Infix"):
        scalars = [i for i, slot in enumerate(node.arg_slots()) if slot is not None
                   and node.arg(i)["kind"] in SCALARS]
        if scalars and data.draw(st.booleans()):
            i = data.draw(st.sampled_from(scalars))
            value = {"kind": node.arg(i)["kind"], "value": data.draw(hostile_text)}
            accepted = try_edit(lambda: doc.set_arg(node, i, value))
        else:
            # An unknown name takes no arguments: what follows may read back
            # as other arguments or content, but the text parses clean.
            same_tree = False
            accepted = try_edit(lambda: doc.set_command_name(node, data.draw(hostile_name)))
    else:
        return
    if accepted:
        if not same_tree and any(slot is not None and node.arg(i)["kind"] in ("Math", "Text")
                                 for i, slot in enumerate(node.arg_slots())):
            # Content is read as the new name reads it: a text argument of
            # an unknown name as math.
            return
        reads_back(doc, same_tree)
