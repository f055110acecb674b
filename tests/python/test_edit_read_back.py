"""Edits write what reads back: a value the writer cannot write so that it
reads back as itself is refused, and an accepted one reads back."""

import os
import random

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
    written braces make an explicit group, an argument's leading space is
    the reader's, a group filling a slot is written with the slot's braces,
    and texts that meet read back as one."""
    if isinstance(tree, list):
        out = []
        for item in (normal(x) for x in tree):
            if out and isinstance(item, dict) and "Text" in item and isinstance(out[-1], dict) and "Text" in out[-1]:
                out[-1] = {"Text": out[-1]["Text"] + item["Text"]}
            else:
                out.append(item)
        return out
    if not isinstance(tree, dict):
        return tree
    out = {}
    for key, value in tree.items():
        if key in ("known", "no_leading_space"):
            continue
        if key == "kind" and value == "Implicit":
            value = "Explicit"
        value = normal(value)
        if key in ("MathContent", "TextContent", "OperatorNameContent", "subscript", "superscript", "left",
                   "right"):
            value = unwrap(value)
        out[key] = value
    return out


def unwrap(node):
    """A brace group of one item filling a slot: the item."""
    if isinstance(node, dict) and "Group" in node:
        group = node["Group"]
        if group["kind"] == "Explicit" and len(group["children"]) == 1:
            return group["children"][0]
    return node


def reads_back(doc, same_tree=True):
    text = doc.to_latex()
    result = PARSER.parse(text)
    assert result["document"] is not None and result["diagnostics"] == [], (text, result["diagnostics"])
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


@settings(max_examples=int(os.environ.get("EDIT_EXAMPLES", "400")), deadline=None,
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


# ---- Renames, made environments, groups and moves -------------------------------------

def rename(kind, name):
    return lambda d: d.set_command_name(first(d, kind), name)


def text_group(doc, value="ab"):
    group = doc.create_group("text")
    doc.append_child(group, doc.create_text(value))
    return group


def environment(name, args=(), in_text=False):
    def edit(doc):
        body = doc.create_group("math")
        for c in "a&b":
            doc.append_child(body, doc.create_char(c))
        env = doc.create_environment(name, list(args), body)
        if in_text:
            doc.insert_after(first(doc, "Text"), env)
        else:
            doc.append_child(doc.root(), env)
    return edit


def extract_into_text(doc):
    moved = doc.extract(first(doc, "Scripted"))
    doc.insert_after(first(doc, "Text"), moved)


# (source, edit, why): refused with `why`, or accepted (None) and read back;
# the C++ tables hold a row for each check.
CHECKED = [
    (r"\sqrt[3]{x}", rename("Command", "mathrm"), r"\mathrm with other arguments"),
    (r"\mathrm{x}", rename("Command", "operatorname"), None),
    (r"\text{abc} + x", rename("Command", "mymacro"), "its text argument would be read as math"),
    (r"\begin{array}{c} a \end{array}", rename("Environment", "matrix"), r"\begin{matrix} with other arguments"),
    ("x", environment("pmatrix"), None),
    ("x", environment("array"), "column argument"),
    (r"\text{a}", environment("matrix", in_text=True), "not allowed in text mode"),
    ("x + y", lambda d: d.wrap(first(d, "Char"), d.create_group("text")), "a text group cannot be written here"),
    (r"\text{a}", lambda d: d.set_arg(first(d, "Command"), 0, {"kind": "Text", "node": math(d, "x")["node"]}),
     "a math group cannot be written here"),
    (r"x^{2} + \text{a}", extract_into_text, "scripts and primes are read only in math"),
    (r"\cos {x} [", lambda d: d.remove(first(d, "Group")), "optional argument"),
    (r"\text{a\ b}", lambda d: d.remove(first(d, "Command", " ")), None),
]


@pytest.mark.parametrize("src, edit, why", CHECKED)
def test_edits_checked_by_reading_back(src, edit, why):
    doc = parsed(src)
    if why is None:
        edit(doc)
        reads_back(doc)
        return
    before = doc.to_syntax()
    refused(lambda: edit(doc), why)
    if edit is not extract_into_text:
        assert doc.to_syntax() == before


def test_made_environment_body_is_written_bare():
    doc = Document()
    environment("pmatrix")(doc)
    assert doc.to_latex() == r"\begin {pmatrix} a & b \end {pmatrix}"


FROM_SYNTAX = [
    ({"Root": {"mode": "Text", "children": [{"Char": "x"}]}}, "in text it reads back as text"),
    ({"Root": {"mode": "Text", "children": [{"Char": "&"}]}}, "the command &"),
    ({"Root": {"mode": "Text", "children": [{"Text": ""}]}}, "empty text"),
] + [
    ({"Root": {"mode": "Math", "children": [
        {"Group": {"mode": "Math", "kind": {"Delimited": {"left": left, "right": {"Char": ")"}}}, "children": []}}]}},
     "elimiter")
    for left in ({"Control": "over"}, {"Char": "é"}, {"Char": "\\"})
]


@pytest.mark.parametrize("tree, why", FROM_SYNTAX)
def test_exchange_trees_checked_where_values_stand(tree, why):
    refused(lambda: Document.from_syntax(tree), why)


# ---- Property: random sessions ----------------------------------------------------------

KNOWN_NAMES = ["frac", "sqrt", "mathrm", "mathbf", "operatorname", "abs", "dv", "alpha", "label", "text", "textbf",
               "hat", "hspace", "kern", "left", "quad", "\\", "bf", "it", "over", "atop", "choose", "above"]
ENVIRONMENT_NAMES = ["matrix", "pmatrix", "array", "subarray", "cases", "aligned", "myenv"]
MACROS = ["mymacro", "foo"]


REFUSED = object()


class Session:
    """A random edit session on one document. `choose` picks from a list,
    so that hypothesis or a seeded generator can drive it. Every accepted
    edit writes text that parses clean and, unless a name the packages do
    not know keeps arguments, reads back as the same tree; every refused
    one raises a QuorvelError and leaves the document as it was."""

    def __init__(self, doc, choose):
        self.doc = doc
        self.choose = choose
        self.same_tree = True
        self.accepted = self.refused = 0

    def run(self, call):
        before = self.doc.to_syntax()
        try:
            result = call()
        except quorvel.QuorvelError:
            assert self.doc.to_syntax() == before
            self.refused += 1
            return REFUSED
        self.accepted += 1
        reads_back(self.doc, self.same_tree)
        return result

    def nodes(self, *kinds):
        found = [n for n in [self.doc.root(), *self.doc.root().descendants()] if not kinds or n.kind() in kinds]
        return found

    def items(self):
        return [n for n in self.nodes() if n.parent() is not None and n.parent().kind() in ("Root", "Group")
                and n in n.parent().children()]

    def place(self, node):
        """Puts a detached node somewhere in the tree."""
        containers = self.nodes("Root", "Group")
        parent = self.choose(containers)
        index = self.choose(list(range(len(parent.children()) + 1)))
        self.run(lambda: self.doc.insert_child(parent, index, node))

    def made(self):
        """A detached node: a group of either mode, a command, an environment."""
        doc, choose = self.doc, self.choose
        what = choose(["math group", "text group", "command", "environment", "char", "text"])
        if what == "char":
            made = self.run(lambda: doc.create_char(choose(list(HOSTILE) + ["x", "&"])))
            return None if made is REFUSED else made
        if what == "text":
            made = self.run(lambda: doc.create_text(choose(["ab", " a", "a ", "[b]", "*", "x"])))
            return None if made is REFUSED else made
        if what == "math group":
            group = doc.create_group("math")
            for item in choose([["x"], ["x", "+", "y"], ["\\sin"], []]):
                doc.append_child(group, doc.create_command("sin") if item == "\\sin" else doc.create_char(item))
            return group
        if what == "text group":
            return text_group(doc, choose(["ab", " a", "a b"]))
        if what == "command":
            name = choose(KNOWN_NAMES[:14] + MACROS)
            args = choose([[], [math(doc, "a")], [math(doc, "a"), math(doc, "b")]])
            self.note_name(name, bool(args), False)
            made = self.run(lambda: doc.create_command(name, args))
            return None if made is REFUSED else made
        name = choose(ENVIRONMENT_NAMES)
        body = doc.create_group(choose(["math", "math", "text"]))
        if list(body.descendants()) == [] and body.content_mode() == "text":
            doc.append_child(body, doc.create_text("a"))
        else:
            for c in "a&b":
                doc.append_child(body, doc.create_char(c))
        args = choose([[], [{"kind": "Column", "value": "cc"}]])
        self.note_name(name, bool(args), True)
        made = self.run(lambda: doc.create_environment(name, args, body))
        return None if made is REFUSED else made

    def note_name(self, name, has_args, environment):
        known = PARSER.knows_env_name(name) if environment else PARSER.knows_command_name(name)
        if has_args and not known:
            self.same_tree = False

    def step(self):
        doc, choose = self.doc, self.choose
        op = choose(["set_text", "set_char", "set_arg", "rename", "move", "wrap", "unwrap", "remove", "clear",
                     "make", "replace"])
        if op == "set_text" and self.nodes("Text"):
            node = choose(self.nodes("Text"))
            self.run(lambda: doc.set_text(node, choose(["ab", " a", "a ", "*b", "[b]", " ", "x y"] + list(HOSTILE))))
        elif op == "set_char" and self.nodes("Char"):
            node = choose(self.nodes("Char"))
            self.run(lambda: doc.set_char(node, choose(list(HOSTILE) + ["x", "&", "%"])))
        elif op == "set_arg" and self.nodes("Command", "Declarative", "Environment", "Infix"):
            node = choose(self.nodes("Command", "Declarative", "Environment", "Infix"))
            filled = [i for i, slot in enumerate(node.arg_slots()) if slot is not None]
            if filled:
                i = choose(filled)
                kind = node.arg(i)["kind"]
                if kind in SCALARS:
                    value = {"kind": kind, "value": choose(["1pt", "2", "a=b", "c", "x", ""] + list(HOSTILE))}
                elif kind in ("Math", "Text"):
                    value = {"kind": choose(["Math", "Text"]), "node": self.made()}
                else:
                    return
                if value.get("node", True) is not None:
                    self.run(lambda: doc.set_arg(node, i, value))
        elif op == "rename" and self.nodes("Command", "Declarative", "Environment", "Infix"):
            node = choose(self.nodes("Command", "Declarative", "Environment", "Infix"))
            environment = node.kind() == "Environment"
            name = choose(ENVIRONMENT_NAMES if environment else KNOWN_NAMES + MACROS + ["a1", "%"])
            same_tree = self.same_tree
            written = [i for i, slot in enumerate(node.arg_slots())
                       if slot is not None and node.arg(i) != {"kind": "Boolean", "value": False}]
            self.note_name(name, bool(written), environment)
            if self.run(lambda: doc.set_command_name(node, name)) is REFUSED:
                self.same_tree = same_tree
        elif op == "move" and self.items():
            node = self.run(lambda: doc.extract(choose(self.items())))
            if node is not REFUSED:
                self.place(node)
        elif op == "wrap" and self.items():
            wrapper = doc.create_group(choose(["math", "math", "text"]))
            target = choose(self.items())
            self.run(lambda: doc.wrap(target, wrapper))
        elif op == "unwrap" and [n for n in self.items() if n.kind() == "Group"]:
            self.run(lambda: doc.unwrap(choose([n for n in self.items() if n.kind() == "Group"])))
        elif op == "remove" and self.items():
            self.run(lambda: doc.remove(choose(self.items())))
        elif op == "clear":
            self.run(lambda: doc.clear(choose(self.nodes("Root", "Group"))))
        elif op == "make":
            node = self.made()
            if node is not None:
                self.place(node)
        elif op == "replace":
            target = choose(self.nodes()[1:] or [None])
            node = self.made()
            if target is not None and node is not None:
                self.run(lambda: doc.replace_with(target, node))


def mutated(tree, choose):
    """The exchange tree with one value changed: a character, a text, a
    group's mode or kind, a delimiter."""
    spots = []

    def walk(node):
        if isinstance(node, dict):
            for key, value in node.items():
                if key in ("Char", "Text", "Group") or (key in ("left", "right") and isinstance(value, dict)
                                                         and ("Char" in value or "Control" in value)):
                    spots.append((node, key))
                walk(value)
        elif isinstance(node, list):
            for value in node:
                walk(value)

    walk(tree)
    if not spots:
        return tree
    node, key = choose(spots)
    if key == "Char":
        node[key] = choose(list(HOSTILE) + ["x", "&"])
    elif key == "Text":
        node[key] = choose(["", "abc", " a", "x_1", "a  b"])
    elif key == "Group":
        node[key]["mode"] = choose(["Math", "Text"])
        node[key]["kind"] = choose(["Explicit", "Implicit", "InlineMath", node[key]["kind"]])
    else:
        node[key] = choose([{"Char": "é"}, {"Char": "\\"}, {"Control": "over"}, {"Char": "("}, {"Control": "langle"}])
    return tree


def session(src, choose, steps):
    doc = parsed(src)
    if choose([False, False, True]):
        # An exchange tree with a value changed: accepted only when it reads back.
        tree = mutated(doc.to_syntax(), choose)
        try:
            doc = Document.from_syntax(tree)
        except quorvel.QuorvelError:
            pass
        else:
            reads_back(doc)
    run = Session(doc, choose)
    for _ in range(steps):
        run.step()
    return run


@settings(max_examples=int(os.environ.get("EDIT_EXAMPLES", "300")), deadline=None,
          suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
@given(st.sampled_from(FORMULAS + [r"\sqrt[3]{x} + \mathrm{y}", r"\begin{array}{c} a \end{array} \\ x^2 ]",
                                   r"\cos {x} [", r"{a \over b} + \text{a $x$ b}"]), st.data())
def test_random_sessions_read_back(src, data):
    session(src, lambda options: data.draw(st.sampled_from(options)), 8)


CORPUS = os.path.join(os.path.dirname(__file__), "..", "..", "..", "shared", "corpus")


def corpus_formulas():
    formulas = []
    for name in ("arxiv.txt", "exam.txt"):
        path = os.path.join(CORPUS, name)
        if os.path.exists(path):
            with open(path, encoding="utf-8") as lines:
                formulas += [line.strip() for line in lines if line.strip()]
    return [f for f in formulas if not PARSER.parse(f)["diagnostics"]] if formulas else []


def test_random_sessions_on_the_corpus():
    """EDIT_CORPUS_EDITS edits in sessions of ten on corpus formulas."""
    edits = int(os.environ.get("EDIT_CORPUS_EDITS", "600"))
    formulas = corpus_formulas()
    if not formulas:
        pytest.skip("corpus not found next to the repository")
    rng = random.Random(int(os.environ.get("EDIT_SEED", "7")))
    totals = [0, 0]
    while totals[0] + totals[1] < edits:
        run = session(rng.choice(formulas), rng.choice, 10)
        totals[0] += run.accepted
        totals[1] += run.refused
    print(f"\n{totals[0]} accepted, {totals[1]} refused")
