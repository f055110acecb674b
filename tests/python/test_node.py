"""Node: reading and navigation, wrong-kind answers, freed and detached nodes."""

import inspect

import pytest

import quorvel
from quorvel import Document, EditError, Node, ParseError

PARSER = quorvel.Parser()


def parse(src):
    result = PARSER.parse(src)
    assert result["document"] is not None, result["diagnostics"]
    return result["document"]


def first(src):
    return parse(src).root().children()[0]


# Each row: source, a path of navigation steps from the root's first child,
# and what the reading methods of the reached node answer.
READINGS = [
    (r"x", [], {"kind": "Char", "char": "x", "is_char": True, "span": {"start": 0, "end": 1}}),
    ("\u03b1", [], {"kind": "Char", "char": "\u03b1", "span": {"start": 0, "end": 2}}),
    (r"\alpha", [], {"kind": "Command", "command_name": "alpha", "is_command": True, "arg_count": 0}),
    (r"a \over b", [], {"kind": "Infix", "command_name": "over", "is_command": False}),
    (r"a \over b", ["infix_left"], {"kind": "Char", "char": "a"}),
    (r"a \over b", ["infix_right"], {"kind": "Char", "char": "b"}),
    (r"\rm x", [], {"kind": "Declarative", "command_name": "rm"}),
    (r"\begin{matrix} a \end{matrix}", [], {"kind": "Environment", "env_name": "matrix", "command_name": None}),
    (r"\begin{matrix} a \end{matrix}", ["env_body"],
     {"kind": "Group", "content_mode": "math", "group_kind": {"kind": "Implicit"}}),
    (r"{x}", [], {"kind": "Group", "content_mode": "math", "group_kind": {"kind": "Explicit"}}),
    (r"\left( x \right.", [],
     {"kind": "Group", "group_kind": {"kind": "Delimited", "left": {"kind": "Char", "value": "("},
                                      "right": {"kind": "None"}}}),
    (r"\left\langle x \right)", [],
     {"group_kind": {"kind": "Delimited", "left": {"kind": "Control", "value": "langle"},
                     "right": {"kind": "Char", "value": ")"}}}),
    (r"\text{a $x$}", [("arg", 0), "children", 1],
     {"kind": "Group", "content_mode": "math", "group_kind": {"kind": "InlineMath"}}),
    (r"\text{a $x$}", [("arg", 0)], {"kind": "Group", "content_mode": "text"}),
    (r"\text{a $x$}", [("arg", 0), "children", 0], {"kind": "Text", "text": "a "}),
    (r"x_1^2", [], {"kind": "Scripted", "children": []}),
    (r"x_1^2", ["script_base"], {"kind": "Char", "char": "x"}),
    (r"x_1^2", ["subscript"], {"kind": "Char", "char": "1"}),
    (r"x_1^2", ["superscript"], {"kind": "Char", "char": "2"}),
    (r"x^2", ["subscript"], None),
    (r"f''", ["superscript"], {"kind": "Prime", "prime_count": 2}),
    (r"~", [], {"kind": "ActiveSpace"}),
    (r"x^", [], {"kind": "Error", "is_error": True,
                 "error_parts": {"message": "Missing superscript content", "snippet": "x^"}}),
]


def walk(node, path):
    for step in path:
        if node is None:
            return None
        if isinstance(step, tuple):
            node = node.arg(step[1])["node"]
        elif isinstance(step, int):
            node = node[step]
        else:
            node = getattr(node, step)()
    return node


@pytest.mark.parametrize("src, path, expected", READINGS)
def test_readings(src, path, expected):
    node = walk(first(src), path)
    if expected is None:
        assert node is None
        return
    for method, value in expected.items():
        assert getattr(node, method)() == value, method


# What every method answers on a node of a kind it does not belong to.
WRONG_KIND = {
    "is_command": False, "is_char": False, "is_error": False, "next_sibling": None, "prev_sibling": None,
    "env_body": None, "script_base": None, "subscript": None, "superscript": None, "infix_left": None,
    "infix_right": None, "children": [], "descendants": [], "command_name": None, "env_name": None,
    "text": None, "char": None, "content_mode": None, "prime_count": None, "arg_count": 0, "arg_slots": [],
    "group_kind": None, "error_parts": None,
}


@pytest.mark.parametrize("src, path", [("~", []), (r"\text{a}", [("arg", 0), "children", 0])])
@pytest.mark.parametrize("method, answer", WRONG_KIND.items())
def test_wrong_kind_answers(src, path, method, answer):
    node = walk(first(src), path)
    if method == "text" and node.kind() == "Text":
        return
    assert getattr(node, method)() == answer
    assert node.arg(0) is None


def test_root_and_navigation():
    doc = parse(r"a b c")
    root = doc.root()
    assert root.kind() == "Root" and root.parent() is None and root.ancestors() == []
    assert root.content_mode() == "math"
    a, b, c = root.children()
    assert [n.char() for n in root.descendants()] == ["a", "b", "c"]
    assert b.prev_sibling().char() == "a" and b.next_sibling().char() == "c"
    assert a.prev_sibling() is None and c.next_sibling() is None
    assert [n.kind() for n in b.ancestors()] == ["Root"]


def test_descendants_are_pre_order_without_the_node():
    node = first(r"\frac{a}{b_1}")
    kinds = [n.kind() for n in node.descendants()]
    assert kinds == ["Group", "Char", "Group", "Scripted", "Char", "Char"]
    assert [n.kind() for n in node.descendants()[-1].ancestors()] == ["Scripted", "Group", "Command", "Root"]


def test_handles_have_identity_only():
    node = first(r"x")
    one, two = node.parent(), node.parent()
    assert one is not two and one != two and not (one == two)
    assert one == one
    assert one.kind() == two.kind() == "Root"
    assert len({one, two, one}) == 2
    with pytest.raises(TypeError):
        one < two


def test_is_command_and_is_char_with_arguments():
    node = first(r"\alpha")
    assert node.is_command("alpha") and not node.is_command("\\alpha") and not node.is_command("beta")
    assert node.is_command(name=None)
    char = first("\u00e9")
    assert char.is_char("\u00e9") and not char.is_char("e") and char.is_char(value=None)
    with pytest.raises(ParseError, match="^character cannot be empty$"):
        char.is_char("")
    with pytest.raises(ParseError, match="^character must contain exactly one scalar$"):
        char.is_char("e\u0301")
    with pytest.raises(TypeError, match="^argument 'name': "):
        node.is_command(1)
    with pytest.raises(TypeError, match="^argument 'value': "):
        char.is_char(b"x")


def test_arguments():
    node = first(r"\sqrt{x}")
    assert node.arg_count() == 2
    slots = node.arg_slots()
    assert slots[0] is None and node.arg(0) is None
    assert slots[1]["kind"] == "Math" and slots[1]["node"].kind() == "Group"
    assert node.arg(node.arg_count()) is None
    assert node.arg(2**64 - 1) is None
    with pytest.raises(OverflowError):
        node.arg(-1)
    with pytest.raises(OverflowError):
        node.arg(2**64)
    with pytest.raises(TypeError, match="^argument 'index': "):
        node.arg("1")
    with pytest.raises(TypeError):
        node.arg()


@pytest.mark.parametrize(
    "src, slots",
    [
        (r"\genfrac(]{0pt}{2}{a}{b}",
         [{"kind": "Delimiter", "value": {"kind": "Char", "value": "("}},
          {"kind": "Delimiter", "value": {"kind": "Char", "value": "]"}},
          {"kind": "Dimension", "value": "0pt"}, {"kind": "Integer", "value": "2"}, "Math", "Math"]),
        (r"\operatorname*{lim}", [{"kind": "Boolean", "value": True}, "Math"]),
        (r"\operatorname{lim}", [{"kind": "Boolean", "value": False}, "Math"]),
        (r"\text{a}", ["Text"]),
        (r"\hspace{1em}", [{"kind": "Dimension", "value": "1em"}]),
    ],
)
def test_argument_values(src, slots):
    node = first(src)
    got = node.arg_slots()
    assert len(got) == len(slots)
    for value, expected in zip(got, slots):
        if isinstance(expected, str):
            assert list(value) == ["kind", "node"] and value["kind"] == expected
            assert isinstance(value["node"], Node)
        else:
            assert value == expected


def test_argument_values_round_trip_through_set_arg():
    doc = parse(r"\genfrac(]{0pt}{2}{a}{b}")
    node = doc.root().children()[0]
    for i in range(4):
        doc.set_arg(node, i, node.arg(i))
    assert doc.to_latex() == parse(r"\genfrac(]{0pt}{2}{a}{b}").to_latex()


def test_freed_nodes_raise_node_not_found():
    doc = parse(r"a {b c} d")
    group = doc.root().children()[1]
    inner = group.children()
    doc.remove(group)
    for node in [group, *inner]:
        for method in ["kind", "parent", "children", "arg_slots", "span", "is_command"]:
            with pytest.raises(EditError, match="^node not found$"):
                getattr(node, method)()
        # The node is resolved before a bad character is noticed.
        with pytest.raises(EditError, match="^node not found$"):
            node.is_char("")
        with pytest.raises(EditError, match="^node not found$"):
            node.arg(0)


def test_extracted_nodes_are_detached_roots():
    doc = parse(r"a {b c} d")
    group = doc.root().children()[1]
    node = doc.extract(group)
    assert node.parent() is None and node.ancestors() == []
    assert group.parent() is None and group.next_sibling() is None
    assert [n.char() for n in node.children()] == ["b", "c"]
    assert [n.kind() for n in node.children()[0].ancestors()] == ["Group"]


def test_created_nodes_have_no_span():
    doc = parse(r"x")
    assert doc.create_char("y").span() is None
    assert doc.root().span() == {"start": 0, "end": 1}


def test_node_keeps_its_document_alive():
    node = parse(r"\alpha").root().children()[0]
    assert node.command_name() == "alpha"
    assert node.parent().kind() == "Root"


def test_node_cannot_be_made_or_subclassed():
    with pytest.raises(TypeError):
        Node()
    with pytest.raises(TypeError):
        type("Sub", (Node,), {})
    blank = Node.__new__(Node)
    with pytest.raises(TypeError):
        blank.kind()


METHODS = [
    "kind", "is_command", "is_char", "is_error", "parent", "next_sibling", "prev_sibling", "env_body",
    "script_base", "subscript", "superscript", "infix_left", "infix_right", "children", "ancestors",
    "descendants", "command_name", "env_name", "text", "char", "content_mode", "prime_count", "arg_count",
    "arg", "arg_slots", "group_kind", "error_parts", "span",
]


@pytest.mark.parametrize("method", METHODS)
def test_signatures(method):
    function = getattr(Node, method)
    params = {"is_command": "(name=None)", "is_char": "(value=None)", "arg": "(index)"}.get(method, "()")
    assert function.__text_signature__ == "($self" + ("" if params == "()" else ", " + params[1:-1]) + ")"
    assert function.__doc__ is None
    assert str(inspect.signature(function)).startswith("(self")


def test_method_set():
    own = [name for name in Node.__dict__ if not name.startswith("_")]
    assert sorted(own) == sorted(METHODS)
    assert Node.__module__ == "builtins"


def test_created_document_nodes():
    doc = Document()
    group = doc.create_group("text")
    text = doc.create_text("hi")
    doc.append_child(group, text)
    assert group.content_mode() == "text" and group.group_kind() == {"kind": "Explicit"}
    assert text.parent().children()[0].text() == "hi"
