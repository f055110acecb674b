"""Configuration given as plain Python data: conversion and strict reading,
through the public methods that take overrides, options, items and guards.
"""

import time

import pytest

import quorvel

SURROGATE = "\ud800"
REPLACED = "\ufffd" * 3


def apply(kind, value):
    if kind == "parse":
        return quorvel.Parser().parse("x", **value)
    if kind == "normalize":
        return quorvel.TransformEngine("faithful").normalize("x", **value)
    if kind == "serialize":
        return quorvel.Parser().parse("x")["document"].to_latex(**value)
    if kind == "items":
        return quorvel.Parser(items=value)
    if kind == "guards":
        engine = quorvel.TransformEngine("faithful")
        return engine._normalize_with_flatten_groups_guards("x", guards=value)
    raise AssertionError(kind)


def nested(levels):
    outer = current = []
    for _ in range(levels):
        inner = []
        current.append(inner)
        current = inner
    return outer


@pytest.mark.parametrize(
    "kind, value, message",
    [
        # Conversion: type tests in order, failures at the value's path.
        ("parse", {"max_group_depth": True},
         "invalid parse overrides: max_group_depth: invalid type: boolean `true`, expected usize"),
        ("parse", {"max_group_depth": [1]},
         "invalid parse overrides: max_group_depth: invalid type: sequence, expected usize"),
        ("parse", {"max_group_depth": 2**64},
         "invalid parse overrides: max_group_depth: integer out of range"),
        ("parse", {"max_group_depth": -(2**63) - 1},
         "invalid parse overrides: max_group_depth: integer out of range"),
        ("parse", {"rewrite": {}},
         "invalid parse overrides: rewrite: unknown field `rewrite`, expected one of "
         "`reject_unknown`, `abort_on_error`, `max_group_depth`"),
        ("parse", {"reject_unknown": 1e100},
         "invalid parse overrides: reject_unknown: invalid type: floating point `1e100`, "
         "expected a boolean"),
        ("normalize", {"rewrite": {"max_iterations": 1.5}},
         "invalid normalize overrides: rewrite.max_iterations: invalid type: floating point `1.5`, "
         "expected usize"),
        ("normalize", {"rewrite": {"enabled": float("nan")}},
         "invalid normalize overrides: rewrite.enabled: non-finite float"),
        ("normalize", {"rewrite": [1]},
         "invalid normalize overrides: rewrite: invalid type: sequence, expected an object"),
        ("normalize", {"rewrite": (1,)},
         "invalid normalize overrides: rewrite: invalid type: sequence, expected an object"),
        ("normalize", {"rewrite": {1: True}},
         "invalid normalize overrides: rewrite: dict keys must be strings"),
        ("normalize", {"rewrite": {"x": {1, 2}}},
         "invalid normalize overrides: rewrite.x: unsupported value of type `set`; pass a dict"),
        ("normalize", {"rewrite": [0, b"a"]},
         "invalid normalize overrides: rewrite[1]: unsupported value of type `bytes`; pass a dict"),
        # Conversion runs in the dict's own order and before any reading.
        ("normalize", {"rewrite": {"b": object(), "a": 1.5}},
         "invalid normalize overrides: rewrite.b: unsupported value of type `object`; pass a dict"),
        ("normalize", {"zz": 1.5, "rewrite": {"a": {None: 1}}},
         "invalid normalize overrides: rewrite.a: dict keys must be strings"),
        # A converted key beginning with "[" joins its path without a dot; a
        # reading path always puts one.
        ("normalize", {"rewrite": {"[x]": {1}}},
         "invalid normalize overrides: rewrite[x]: unsupported value of type `set`; pass a dict"),
        ("normalize", {"rewrite": {"[x]": 1}},
         "invalid normalize overrides: rewrite.[x]: unknown field `[x]`, expected `enabled` or "
         "`max_iterations`"),
        # Lone surrogates become three U+FFFD each, in keys and values.
        ("parse", {SURROGATE: 1},
         f"invalid parse overrides: {REPLACED}: unknown field `{REPLACED}`, expected one of "
         "`reject_unknown`, `abort_on_error`, `max_group_depth`"),
        ("parse", {"reject_unknown": "a" + SURROGATE},
         f'invalid parse overrides: reject_unknown: invalid type: string "a{REPLACED}", '
         "expected a boolean"),
        ("serialize", {"command_spacing": {SURROGATE: 1, REPLACED: None}},
         f"invalid serialize options: command_spacing: unknown variant `{REPLACED}`, "
         "expected `spaced` or `minimal`"),
        ("serialize", {"command_spacing": "tight"},
         "invalid serialize options: command_spacing: unknown variant `tight`, "
         "expected `spaced` or `minimal`"),
        # Items.
        ("items", {}, "invalid items: invalid type: map, expected a sequence"),
        ("items", [{"target": "command", "name": "f"}],
         "invalid items: [0]: `argspec` is required for target `command`"),
        ("items", [{"target": "delimiter", "name": "x"}, {"target": "delimiter", "name": "y", "tags": []}],
         "invalid items: [1]: `tags` is not allowed for target `delimiter`"),
        ("items", [{"target": "commands", "name": "f"}],
         "invalid items: [0].target: unknown variant `commands`, expected one of `command`, "
         "`environment`, `delimiter`"),
        ("items", [{1: "x"}], "invalid items: [0]: dict keys must be strings"),
        ("items", ({"target": "command", "name": "f", "argspec": "m", "kind": "prefix",
                    "allowed_mode": "math", "tags": ("a", 3)},),
         "invalid items: [0].tags[1]: invalid type: integer `3`, expected a string"),
        # Guards refuse null.
        ("guards", {"script_base": 1},
         "invalid guards: script_base: invalid type: integer `1`, expected a boolean"),
        ("guards", {"script_base": None},
         "invalid guards: script_base: invalid type: null, expected a boolean"),
    ],
)
def test_config_errors(kind, value, message):
    with pytest.raises(quorvel.ConfigError) as info:
        apply(kind, value)
    assert str(info.value) == message


@pytest.mark.parametrize(
    "kind, value",
    [
        ("parse", {"max_group_depth": None}),
        ("parse", {"max_group_depth": 2**63}),
        ("normalize", {"rewrite": None, "flatten_groups": {"preserve_rendered_spacing": False}}),
        ("serialize", {"command_spacing": None, "script_order": {"sup_first": None}}),
        ("items", ()),
        ("items", None),
        ("guards", {"script_base": False}),
    ],
)
def test_accepted_values(kind, value):
    apply(kind, value)


@pytest.mark.parametrize("kind", ["normalize", "items"])
def test_deep_nesting_is_refused_quickly(kind):
    deep = nested(1_000_000)
    value = {"rewrite": deep} if kind == "normalize" else deep
    start = time.thread_time()
    with pytest.raises(quorvel.ConfigError, match="nested too deeply") as info:
        apply(kind, value)
    assert time.thread_time() - start < 0.5
    assert "128" in str(info.value) and "[0][0]" not in str(info.value)


def test_self_containing_value_is_refused():
    loop = []
    loop.append(loop)
    with pytest.raises(quorvel.ConfigError, match="^invalid items: .*nested too deeply"):
        apply("items", loop)


PARSE_CONFIG_REQUIRED = (
    "config must be a ParseConfig; pass overrides as keyword arguments (use **overrides for a dict)"
)
TRANSFORM_CONFIG_REQUIRED = (
    "config must be a TransformConfig; pass overrides as keyword arguments (use **overrides for a dict)"
)


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: quorvel.Parser().parse("x", {"reject_unknown": True}), PARSE_CONFIG_REQUIRED),
        (lambda: quorvel.Parser().parse("x", quorvel.TransformConfig.faithful()), PARSE_CONFIG_REQUIRED),
        # The config is checked before the overrides are looked at.
        (lambda: quorvel.TransformEngine("faithful").normalize("x", quorvel.ParseConfig(), rewrite=[1]),
         TRANSFORM_CONFIG_REQUIRED),
        (lambda: quorvel.TransformEngine("faithful").normalize("x", {"rewrite": {}}), TRANSFORM_CONFIG_REQUIRED),
    ],
)
def test_config_objects_of_the_wrong_class(call, message):
    with pytest.raises(quorvel.ConfigError) as info:
        call()
    assert str(info.value) == message


def test_overrides_are_laid_over_a_transform_config():
    engine = quorvel.TransformEngine("faithful")
    config = quorvel.TransformConfig.faithful()
    config.rewrite.max_iterations = 0
    # Rewriting with no iterations fails the run; turning rewriting off by an
    # override keeps every other setting of the config object.
    with pytest.raises(quorvel.TransformError, match="max iterations"):
        engine.normalize(r"\hfilll", config)
    assert engine.normalize(r"\hfilll", config, rewrite={"enabled": False}) == r"\hfilll"
    assert config.rewrite.enabled is True
