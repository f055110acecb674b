"""Document: construction, reading, output, handles and the class surface."""

import copy as copy_module
import inspect
import pickle
import sys
import time

import pytest

import quorvel
from quorvel import Document, Node

X_SQUARED = {
    "Root": {
        "mode": "Math",
        "children": [
            {"Command": {"name": "alpha", "args": [], "known": True}},
            {"Scripted": {"base": {"Char": "x"}, "subscript": None, "superscript": {"Char": "2"}}},
            {
                "Environment": {
                    "name": "matrix",
                    "args": [],
                    "known": True,
                    "body": {"Group": {"mode": "Math", "kind": "Implicit", "children": [
                        {"Command": {"name": "alpha", "args": [], "known": True}}]}},
                }
            },
        ],
    }
}
WITH_ERROR = {"Root": {"mode": "Math", "children": [{"Error": {"message": "bad", "snippet": "\\q"}}]}}


def test_empty_document():
    doc = Document()
    assert doc.to_latex() == ""
    assert doc.has_errors() is False
    assert doc.is_read_only() is False
    assert doc.errors() == []
    assert doc.to_syntax() == {"Root": {"mode": "Math", "children": []}}
    assert doc.node_spans() == []


def test_document_takes_no_arguments():
    with pytest.raises(TypeError):
        Document(1)


def test_error_document_reads_but_is_read_only():
    doc = Document.from_syntax(WITH_ERROR)
    assert doc.has_errors() is True and doc.is_read_only() is True
    assert len(doc.errors()) == 1 and isinstance(doc.errors()[0], Node)
    assert doc.to_latex() == "\\q"
    with pytest.raises(quorvel.EditError, match="^document is read-only$"):
        doc.create_char("x")


def test_root_handles_are_fresh_objects():
    doc = Document()
    a, b = doc.root(), doc.root()
    assert a is not b and a != b and a == a
    # Both name the same node: either works as a parent.
    doc.append_child(a, doc.create_char("x"))
    doc.append_child(b, doc.create_char("y"))
    assert doc.to_latex() == "x y"


@pytest.mark.parametrize(
    "method, name, count",
    [
        ("find_commands", "alpha", 2),
        ("find_commands", "\\alpha", 0),
        ("find_commands", "beta", 0),
        ("find_commands", "matrix", 0),
        ("find_environments", "matrix", 1),
        ("find_environments", "alpha", 0),
    ],
)
def test_find(method, name, count):
    doc = Document.from_syntax(X_SQUARED)
    found = getattr(doc, method)(name)
    assert len(found) == count and all(type(n) is Node for n in found)
    assert len(getattr(doc, method)(name=name)) == count


def test_find_in_preorder():
    doc = Document.from_syntax(X_SQUARED)
    top, nested = doc.find_commands("alpha")
    doc.set_command_name(nested, "beta")
    doc.set_command_name(top, "gamma")
    tree = doc.to_syntax()["Root"]["children"]
    assert tree[0]["Command"]["name"] == "gamma"
    assert tree[2]["Environment"]["body"]["Group"]["children"][0]["Command"]["name"] == "beta"


def test_copy_is_a_new_document():
    original = Document.from_syntax(X_SQUARED)
    copy = Document.from_syntax(original.to_syntax())
    assert copy.to_syntax() == original.to_syntax()
    assert copy.node_spans() == []
    with pytest.raises(quorvel.EditError, match="^node belongs to a different document$"):
        copy.append_child(original.root(), copy.create_char("x"))


def edited():
    doc = quorvel.Parser().parse(r"\alpha^{2}")["document"]
    doc.append_child(doc.root(), doc.create_char("é"))
    return doc


PICKLED = {
    "empty": Document,
    "built from syntax": lambda: Document.from_syntax(X_SQUARED),
    "holding an Error node": lambda: Document.from_syntax(WITH_ERROR),
    "parsed with errors": lambda: quorvel.Parser().parse("x^")["document"],
    "parsed and edited": edited,
}


@pytest.mark.parametrize("make", PICKLED.values(), ids=PICKLED.keys())
@pytest.mark.parametrize("protocol", [0, pickle.HIGHEST_PROTOCOL])
def test_pickle_rebuilds_from_the_exchange_tree(make, protocol):
    doc = make()
    copy = pickle.loads(pickle.dumps(doc, protocol))
    assert type(copy) is Document and copy is not doc
    assert copy.to_syntax() == doc.to_syntax()
    assert copy.has_errors() is doc.has_errors()
    assert copy.to_latex() == doc.to_latex()
    assert copy.node_spans() == []


def test_pickled_copy_has_no_parse_context():
    engine = quorvel.TransformEngine("authoring")
    doc = engine.parse(r"x \ge y")["document"]
    copy = pickle.loads(pickle.dumps(doc))
    with pytest.raises(quorvel.TransformError, match="^document was not parsed by this transform engine$"):
        engine.transform(copy)
    assert copy_module.deepcopy(doc).to_syntax() == doc.to_syntax()


UNLIMITED = quorvel.ParseConfig(max_group_depth=10**9)
DEEP = {
    "62 fractions at the default depth": ("\\frac{", "}{y}", 62, None),
    "20,000 braces": ("{", "}", 20_000, UNLIMITED),
    "5,000 fractions": ("\\frac{", "}{y}", 5_000, UNLIMITED),
    "3,000 scripts and roots": ("\\sqrt[n]{x^{", "}}", 3_000, UNLIMITED),
    "2,000 groups holding Error nodes": ("{x^#", "}", 2_000, UNLIMITED),
}


def deep_document(opening, closing, levels, config, middle="x"):
    result = quorvel.Parser().parse(opening * levels + middle + closing * levels, config)
    assert result["document"] is not None, result["diagnostics"][:1]
    return result["document"]


@pytest.mark.parametrize("opening, closing, levels, config", DEEP.values(), ids=DEEP.keys())
def test_deep_documents_pickle(opening, closing, levels, config):
    doc = deep_document(opening, closing, levels, config)
    data = pickle.dumps(doc)
    copy = pickle.loads(data)
    # Comparing the nested dicts of a deep tree would itself recurse too deep:
    # the packed bytes and the written text stand for the tree.
    assert pickle.dumps(copy) == data
    assert copy.to_latex() == doc.to_latex()
    assert copy.has_errors() is doc.has_errors()
    if levels <= 62:
        assert copy.to_syntax() == doc.to_syntax()


def test_parse_error_with_a_deep_document_pickles():
    with pytest.raises(quorvel.ParseError) as info:
        quorvel.TransformEngine("authoring").normalize("\\frac{" * 62 + "x^" + "}{y}" * 62)
    error = info.value
    assert error.document is not None and error.document.has_errors()
    copy = pickle.loads(pickle.dumps(error))
    assert copy.diagnostics == error.diagnostics
    assert copy.document.to_syntax() == error.document.to_syntax()


@pytest.mark.parametrize("opening, closing", [("{", "}"), ("\\frac{", "}{y}")])
def test_pickling_deep_documents_takes_linear_time(opening, closing):
    def seconds(levels):
        doc = deep_document(opening, closing, levels, UNLIMITED)
        best = float("inf")
        for _ in range(3):
            start = time.thread_time()
            pickle.loads(pickle.dumps(doc))
            best = min(best, time.thread_time() - start)
        return best

    small, large = seconds(1_000), seconds(8_000)
    assert large < 24 * small + 0.01, (small, large)


class OlderPickle:
    """Reduces as documents pickled before the packed form did."""

    def __reduce__(self):
        return quorvel._native._document_from_syntax, (X_SQUARED,)


def test_pickles_of_the_nested_form_still_load():
    copy = pickle.loads(pickle.dumps(OlderPickle()))
    assert type(copy) is Document and copy.to_syntax() == X_SQUARED


def packed(doc):
    function, (data,) = doc.__reduce__()
    assert function is quorvel._native._document_from_packed
    return data


BAD_PACKINGS = {
    "cut short": (packed(Document.from_syntax(X_SQUARED))[:-1], "invalid syntax node: truncated"),
    "script without a base": (b"\x01\x00\x00\x01\x06\x00", "invalid syntax node: missing required child"),
    "not a root": (b"\x01\x01\x00\x00\x00", "from_syntax expects a SyntaxNode::Root"),
    "prime in text": (b"\x01\x00\x01\x01\x08\x01", "Prime nodes are only valid in math mode"),
}


@pytest.mark.parametrize("data, message", BAD_PACKINGS.values(), ids=BAD_PACKINGS.keys())
def test_bad_packed_data_raises_parse_error(data, message):
    with pytest.raises(quorvel.ParseError) as info:
        quorvel._native._document_from_packed(data)
    assert str(info.value) == message
    assert info.value.diagnostics == [] and info.value.document is None


FROM_SYNTAX_ERRORS = [
    ({"Group": {"mode": "Math", "kind": "Explicit", "children": []}}, "from_syntax expects a SyntaxNode::Root"),
    ({"Root": {"mode": "Math", "children": [{"Prime": {"count": 0}}]}}, "Prime count must be greater than zero"),
    ({"Root": {"mode": "Text", "children": [{"Prime": {"count": 1}}]}}, "Prime nodes are only valid in math mode"),
    (5, "invalid syntax node: expected either a str or dict for enum"),
]


@pytest.mark.parametrize("tree, message", FROM_SYNTAX_ERRORS)
def test_from_syntax_errors_carry_empty_parse_attributes(tree, message):
    with pytest.raises(quorvel.ParseError) as info:
        Document.from_syntax(tree)
    assert type(info.value) is quorvel.ParseError
    assert str(info.value) == message
    assert info.value.diagnostics == [] and info.value.document is None


def test_from_syntax_by_keyword():
    assert Document.from_syntax(node=X_SQUARED).to_syntax() == X_SQUARED


OUTPUT_OPTIONS = [
    ({}, "\\alpha x ^ { 2 }"),
    ({"command_spacing": None}, "\\alpha x ^ { 2 }"),
    ({"script_spacing": "compact"}, "\\alpha x^{ 2 }"),
]


@pytest.mark.parametrize("options, prefix", OUTPUT_OPTIONS)
def test_to_latex_options(options, prefix):
    doc = Document.from_syntax(X_SQUARED)
    latex = doc.to_latex(**options)
    assert latex.startswith(prefix)
    tokenized = doc.to_tokenized_latex(**options)
    assert tokenized["latex"] == latex
    assert "".join(t["text"] for t in tokenized["tokens"]).replace(" ", "") == latex.replace(" ", "")


OPTION_ERRORS = [
    ({"command_spacing": "tight"},
     "invalid serialize options: command_spacing: unknown variant `tight`, expected `spaced` or `minimal`"),
    ({"colour": "red"}, "invalid serialize options: …"),
]


@pytest.mark.parametrize("method", ["to_latex", "to_tokenized_latex"])
@pytest.mark.parametrize("options, message", OPTION_ERRORS)
def test_output_option_errors(method, options, message):
    with pytest.raises(quorvel.ConfigError) as info:
        getattr(Document(), method)(**options)
    if message.endswith("…"):
        assert str(info.value).startswith(message[:-1])
    else:
        assert str(info.value) == message


@pytest.mark.parametrize("method", ["to_latex", "to_tokenized_latex"])
def test_output_refuses_positional_arguments(method):
    with pytest.raises(TypeError):
        getattr(Document(), method)({})


@pytest.mark.parametrize("method", ["to_latex", "to_tokenized_latex"])
def test_serializer_failure_is_exactly_quorvel_error(method):
    many = {"Root": {"mode": "Math", "children": [{"Prime": {"count": 10**7}}]}}
    with pytest.raises(quorvel.QuorvelError) as info:
        getattr(Document.from_syntax(many), method)()
    assert type(info.value) is quorvel.QuorvelError


def test_token_record_shape():
    tokens = Document.from_syntax(X_SQUARED).to_tokenized_latex()
    assert list(tokens) == ["latex", "tokens"]
    first = tokens["tokens"][0]
    assert list(first) == ["text", "start_byte", "end_byte", "kind", "mode"]
    assert first == {"text": "\\alpha", "start_byte": 0, "end_byte": 6, "kind": "control_sequence", "mode": "math"}


def test_token_offsets_are_utf8_bytes():
    doc = Document.from_syntax({"Root": {"mode": "Math", "children": [{"Char": "α"}, {"Char": "b"}]}})
    tokens = doc.to_tokenized_latex()
    encoded = tokens["latex"].encode()
    assert [encoded[t["start_byte"]:t["end_byte"]].decode() for t in tokens["tokens"]] == ["α", "b"]


def test_node_holds_a_strong_reference_to_its_document():
    doc = Document()
    before = sys.getrefcount(doc)
    nodes = [doc.create_char("x"), doc.root()]
    assert sys.getrefcount(doc) == before + 2
    del nodes
    assert sys.getrefcount(doc) == before


METHOD_SIGNATURES = [
    ("root", "($self)"), ("has_errors", "($self)"), ("is_read_only", "($self)"), ("errors", "($self)"),
    ("find_commands", "($self, name)"), ("find_environments", "($self, name)"), ("to_syntax", "($self)"),
    ("node_spans", "($self)"), ("to_latex", "($self, **options)"), ("to_tokenized_latex", "($self, **options)"),
    ("create_char", "($self, value)"), ("create_text", "($self, value)"), ("create_active_space", "($self)"),
    ("create_group", "($self, mode)"), ("create_command", "($self, name, args=None)"),
    ("create_declarative", "($self, name, args=None)"), ("create_environment", "($self, name, args, body)"),
    ("append_child", "($self, parent, child)"), ("insert_before", "($self, anchor, new)"),
    ("insert_after", "($self, anchor, new)"), ("insert_child", "($self, parent, index, child)"),
    ("replace_with", "($self, target, replacement)"), ("wrap", "($self, target, wrapper)"),
    ("unwrap", "($self, group)"), ("extract", "($self, node)"), ("remove", "($self, node)"),
    ("clear", "($self, container)"), ("set_command_name", "($self, node, name)"),
    ("set_text", "($self, node, value)"), ("set_char", "($self, node, value)"),
    ("set_arg", "($self, node, index, value)"),
]


@pytest.mark.parametrize("name, signature", METHOD_SIGNATURES)
def test_method_signatures(name, signature):
    method = getattr(Document, name)
    assert method.__text_signature__ == signature
    assert method.__doc__ is None
    inspect.signature(method)


def test_class_surface():
    assert Document.__text_signature__ == "()"
    assert Document.from_syntax.__text_signature__ == "(node)"
    for cls in (Document, Node):
        assert cls.__module__ == "builtins"
        with pytest.raises(TypeError):
            type("Sub", (cls,), {})
    with pytest.raises(TypeError):
        Node()


def test_unconstructed_objects_are_refused():
    assert Document.__new__(Document).to_syntax() == Document().to_syntax()
    with pytest.raises(TypeError, match=r"^object\.__new__\(Document\) is not safe"):
        object.__new__(Document)
    doc = Document()
    with pytest.raises(TypeError, match="^argument 'child': "):
        doc.append_child(doc.root(), Node.__new__(Node))
