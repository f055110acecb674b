import inspect

import pytest

import quorvel
from quorvel import _native

SLOT_KEYS = ["required", "no_leading_space", "nullable", "kind", "form"]
RESULT_KEYS = ["valid", "error", "arg_count", "parsed"]


def char(value):
    return {"type": "char", "value": value}


def control(value):
    return {"type": "control-seq", "value": value}


MATH = {"type": "content", "mode": "math"}
TEXT = {"type": "content", "mode": "text"}


def slot(required, kind, form, no_leading_space=False, nullable=False):
    return {
        "required": required,
        "no_leading_space": no_leading_space,
        "nullable": nullable,
        "kind": kind,
        "form": form,
    }


@pytest.mark.parametrize(
    "spec, parsed",
    [
        ("", []),
        ("m", [slot(True, MATH, {"type": "standard"})]),
        ("m:T", [slot(True, TEXT, {"type": "standard"})]),
        ("s", [slot(False, {"type": "star"}, {"type": "star"})]),
        ("m{}", [slot(True, MATH, {"type": "group"})]),
        ("!o:L", [slot(False, {"type": "dimension"}, {"type": "standard"}, no_leading_space=True)]),
        ("m:D?", [slot(True, {"type": "delimiter"}, {"type": "standard"}, nullable=True)]),
        (
            "m:N m:I m:K m:C m:O",
            [
                slot(True, {"type": kind}, {"type": "standard"})
                for kind in ["csname", "integer", "keyval", "column", "operatorname"]
            ],
        ),
        (
            r"r\langle\rangle",
            [slot(True, MATH, {"type": "delimited", "open": control("langle"), "close": control("rangle")})],
        ),
        ("d(é", [slot(False, MATH, {"type": "delimited", "open": char("("), "close": char("é")})]),
        (
            r"d<[,]><(,)><\{,\}>",
            [
                slot(
                    False,
                    MATH,
                    {
                        "type": "paired",
                        "pairs": [
                            {"open": char("["), "close": char("]")},
                            {"open": char("("), "close": char(")")},
                            {"open": control("{"), "close": control("}")},
                        ],
                    },
                )
            ],
        ),
    ],
)
def test_validate_argspec_valid(spec, parsed):
    result = _native.validate_argspec(spec)
    assert list(result) == RESULT_KEYS
    assert result == {"valid": True, "error": None, "arg_count": len(parsed), "parsed": parsed}
    for entry in result["parsed"]:
        assert list(entry) == SLOT_KEYS


@pytest.mark.parametrize(
    "spec, error",
    [
        ("x", "invalid argspec (validate_argspec) at char 1: unsupported argument token `x`"),
        ("mé", "invalid argspec (validate_argspec) at char 2: unsupported argument token `é`"),
        ("!", "invalid argspec (validate_argspec) at char 1: expected argument token"),
        ("O", "invalid argspec (validate_argspec) at char 1: `O` requires a default block like `{...}`"),
    ],
)
def test_validate_argspec_invalid(spec, error):
    result = _native.validate_argspec(spec)
    assert list(result) == RESULT_KEYS
    assert result == {"valid": False, "error": error, "arg_count": None, "parsed": None}


def test_validate_argspec_keyword_and_str_subclass():
    class Spec(str):
        pass

    assert _native.validate_argspec(spec=Spec("m m"))["arg_count"] == 2


@pytest.mark.parametrize("value, type_name", [(1, "int"), (None, "NoneType"), (b"m", "bytes"), (["m"], "list")])
def test_validate_argspec_wrong_type(value, type_name):
    with pytest.raises(TypeError) as info:
        _native.validate_argspec(value)
    assert str(info.value) == f"argument 'spec': '{type_name}' object cannot be cast as 'PyString'"
    assert isinstance(info.value.__cause__, TypeError)


@pytest.mark.parametrize(
    "call",
    [
        lambda: _native.validate_argspec(),
        lambda: _native.validate_argspec("m", "m"),
        lambda: _native.validate_argspec(specs="m"),
        lambda: _native.list_packages(1),
        lambda: _native.list_packages(packages=None),
    ],
)
def test_wrong_arity(call):
    with pytest.raises(TypeError):
        call()




def test_list_packages():
    expected = [
        {"name": "ams", "commands": 35, "environments": 28},
        {"name": "base", "commands": 267, "environments": 7},
        {"name": "bboldx", "commands": 12, "environments": 0},
        {"name": "boldsymbol", "commands": 1, "environments": 0},
        {"name": "braket", "commands": 11, "environments": 0},
        {"name": "physics", "commands": 182, "environments": 1},
        {"name": "textmacros", "commands": 76, "environments": 0},
    ]
    first = _native.list_packages()
    assert first == expected
    assert all(list(entry) == ["name", "commands", "environments"] for entry in first)
    first[0]["name"] = "changed"
    first.pop()
    assert _native.list_packages() == expected


@pytest.mark.parametrize(
    "name, signature",
    [("validate_argspec", "(spec)"), ("list_packages", "()")],
)
def test_text_signature(name, signature):
    function = getattr(_native, name)
    assert function.__text_signature__ == signature
    assert str(inspect.signature(function)) == signature
    assert function.__doc__ is None
    assert getattr(quorvel, name) is function


def test_functions_come_before_classes_and_exceptions():
    names = list(_native.__dict__)
    functions = [n for n in ("count_targets", "serialize", "validate_argspec", "list_packages") if n in names]
    assert functions[-2:] == ["validate_argspec", "list_packages"]
    positions = [names.index(n) for n in functions]
    assert positions == sorted(positions)
    assert max(positions) < names.index("ParseConfig") < names.index("QuorvelError")
