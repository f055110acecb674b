"""The module function serialize(node, **options)."""

import inspect

import pytest

import quorvel
from quorvel import Document, _native, serialize

TREE = {"Root": {"mode": "Math", "children": [
    {"Command": {"name": "alpha", "args": [], "known": True}},
    {"Scripted": {"base": {"Char": "x"}, "subscript": {"Char": "i"}, "superscript": {"Char": "2"}}},
]}}
NOT_A_ROOT = {"Group": {"mode": "Math", "kind": "Explicit", "children": []}}


@pytest.mark.parametrize(
    "options",
    [{}, {"command_spacing": "minimal"}, {"script_order": "sup_first", "script_spacing": "compact"},
     {"infix_operand_grouping": None}],
)
def test_serialize_matches_document_output(options):
    assert serialize(TREE, **options) == Document.from_syntax(TREE).to_latex(**options)
    assert serialize(node=TREE, **options) == serialize(TREE, **options)


# (arguments, exception class, message); the node is converted first, then
# the options, then the tree is checked, then written.
ERRORS = [
    ((5,), {"command_spacing": "tight"}, quorvel.ParseError,
     "invalid syntax node: expected either a str or dict for enum"),
    ((NOT_A_ROOT,), {"command_spacing": "tight"}, quorvel.ConfigError,
     "invalid serialize options: command_spacing: unknown variant `tight`, expected `spaced` or `minimal`"),
    ((NOT_A_ROOT,), {}, quorvel.ParseError, "serialize expects a syntax root"),
    (({"Root": {"mode": "Math", "children": [{"Prime": {"count": 0}}]}},), {}, quorvel.ParseError,
     "Prime count must be greater than zero"),
    (({"Root": {"mode": "Text", "children": [{"Prime": {"count": 2}}]}},), {}, quorvel.ParseError,
     "Prime nodes are only valid in math mode"),
    (({"Root": {"mode": "Math", "children": [{"Prime": {"count": 10**7}}]}},), {}, quorvel.ParseError, None),
]


@pytest.mark.parametrize("args, options, error, message", ERRORS)
def test_serialize_errors(args, options, error, message):
    with pytest.raises(error) as info:
        serialize(*args, **options)
    assert type(info.value) is error
    if message is not None:
        assert str(info.value) == message
    assert not hasattr(info.value, "diagnostics") and not hasattr(info.value, "document")


@pytest.mark.parametrize(
    "call",
    [lambda: serialize(), lambda: serialize(TREE, TREE), lambda: serialize(TREE, node=TREE)],
)
def test_serialize_argument_errors(call):
    with pytest.raises(TypeError):
        call()


def test_serialize_signature_and_place():
    assert serialize.__text_signature__ == "(node, **options)"
    assert str(inspect.signature(serialize)) == "(node, **options)"
    assert serialize.__doc__ is None
    names = list(_native.__dict__)
    assert names.index("serialize") < names.index("validate_argspec") < names.index("list_packages")
    classes = [n for n in names if n in ("TransformConfig", "Document", "Node", "Parser", "TransformEngine")]
    assert classes[:3] == ["TransformConfig", "Document", "Node"]
