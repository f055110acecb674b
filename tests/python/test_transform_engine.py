"""TransformEngine: construction order, normalising, transforming documents, guards."""

import inspect
from concurrent.futures import ProcessPoolExecutor

import pytest

import quorvel
from quorvel import (
    ConfigError,
    Document,
    EditError,
    ParseConfig,
    ParseError,
    Parser,
    QuorvelError,
    TransformConfig,
    TransformEngine,
    TransformError,
)

PROFILES = ["authoring", "faithful", "corpus", "equiv"]
TRANSFORM_CONFIG_REQUIRED = (
    "config must be a TransformConfig; pass overrides as keyword arguments (use **overrides for a dict)"
)
GUARDS = [
    "declarative_scope", "script_base", "env_body", "infix_scope", "command_contact",
    "command_like_includes_scripted_base", "command_argument", "empty_group", "lone_atom_spacing_char",
    "leading_atom_spacing_char", "delimited_pair",
]


@pytest.mark.parametrize(
    "args, kwargs, error, message",
    [
        ((), {}, TypeError, "TransformEngine.__new__() missing 1 required positional argument: 'profile'"),
        (("equiv",), {"profiles": 1}, TypeError, "TransformEngine.__new__() got an unexpected keyword argument "
                                                 "'profiles'"),
        ((3,), {}, TypeError, "argument 'profile': 'int' object cannot be cast as 'PyString'"),
        # Argument conversion first, then the profile before anything else.
        (("Equiv",), {"disable_rules": "x"}, TypeError, "argument 'disable_rules': Can't extract `str` to `Vec`"),
        (("Equiv",), {}, ConfigError, "unknown transform profile: Equiv"),
        ((" equiv",), {}, ConfigError, "unknown transform profile:  equiv"),
        (("strict",), {"packages": ["nope"], "items": {}, "disable_rules": ["x"]}, ConfigError,
         "unknown transform profile: strict"),
        # Items before an unknown package and an unknown rule.
        (("equiv",), {"packages": ["nope"], "items": {}, "disable_rules": ["x"]}, ConfigError,
         "invalid items: invalid type: map, expected a sequence"),
        # Rule names before the build.
        (("equiv",), {"packages": ["nope"], "disable_rules": ["base/hfilll-to-hfill", "hfilll-to-hfill", "x"]},
         ConfigError, "unknown transform rule: hfilll-to-hfill"),
        (("equiv",), {"packages": ["base", "nope"]}, ConfigError, "failed to build parser: unknown package: nope"),
        (("faithful",), {"items": [{"target": "command", "name": "f", "argspec": "{", "kind": "prefix",
                                    "allowed_mode": "math"}]},
         ConfigError, "failed to build parser: invalid context item f: invalid argspec (command f) at char 1: "),
        (("faithful",), {"default_parse_config": {}}, TypeError, "argument 'default_parse_config': "),
    ],
)
def test_constructor_errors(args, kwargs, error, message):
    with pytest.raises(error) as info:
        TransformEngine(*args, **kwargs)
    assert type(info.value) is error
    assert str(info.value).startswith(message)


@pytest.mark.parametrize("profile", PROFILES)
def test_default_transform_config_is_the_profile_preset(profile):
    engine = TransformEngine(profile)
    config = engine.default_transform_config()
    assert config == getattr(TransformConfig, profile)()
    assert config.rewrite.max_iterations == 100
    assert config.flatten_groups.preserve_rendered_spacing is (profile in ("authoring", "faithful"))
    config.rewrite.enabled = False
    assert engine.default_transform_config().rewrite.enabled is True
    assert engine.default_transform_config().rewrite is not engine.default_transform_config().rewrite
    assert engine.default_parse_config() == ParseConfig()


@pytest.mark.parametrize("profile", PROFILES)
def test_normalize(profile):
    engine = TransformEngine(profile)
    assert engine.normalize(r"x \ge y") == r"x \geq y"
    assert engine.normalize(src=r"\hfilll") == r"\hfill"


def test_disabled_rule_is_left_out():
    engine = TransformEngine("authoring", disable_rules=["base/hfilll-to-hfill", "base/hfilll-to-hfill"])
    assert engine.normalize(r"\hfilll \ge") == r"\hfilll \geq"


def test_overrides_hold_for_one_call():
    engine = TransformEngine("faithful")
    assert engine.normalize(r"\hfilll", rewrite={"enabled": False}) == r"\hfilll"
    assert engine.normalize(r"\hfilll") == r"\hfill"
    config = TransformConfig.faithful()
    config.rewrite.enabled = False
    assert engine.normalize(r"\hfilll", config) == r"\hfilll"
    assert engine.normalize(r"\hfilll", config, rewrite={"enabled": True}) == r"\hfill"
    # A TransformConfig replaces the transform options only: the parse
    # settings stay the engine's.
    deep = TransformEngine("faithful", default_parse_config=ParseConfig(max_group_depth=1))
    with pytest.raises(ParseError):
        deep.normalize("{{x}}", TransformConfig.faithful())
    assert deep.normalize("{{x}}", max_group_depth=5)


def test_normalize_incomplete_parse():
    engine = TransformEngine("faithful")
    with pytest.raises(ParseError) as info:
        engine.normalize(r"a + x^")
    assert str(info.value) == "parse produced an incomplete document"
    assert info.value.document.has_errors() is True
    assert isinstance(info.value.diagnostics, list) and info.value.diagnostics
    assert info.value.document.to_latex() == engine.parse(r"a + x^")["document"].to_latex()
    with pytest.raises(ParseError) as info:
        engine.normalize_with_report(r"x}")
    assert str(info.value) == "parse produced no document"
    assert info.value.document is None and info.value.diagnostics
    # The engine still parses what it cannot normalise.
    assert engine.parse(r"a + x^")["document"].has_errors()


def test_pipeline_failure_is_a_transform_error():
    config = TransformConfig.faithful()
    config.rewrite.max_iterations = 0
    with pytest.raises(TransformError) as info:
        TransformEngine("faithful").normalize(r"\hfilll", config)
    assert type(info.value) is TransformError


def test_normalize_with_report():
    result = TransformEngine("faithful").normalize_with_report(r"\hfilll")
    assert list(result) == ["normalized", "report"]
    assert result["normalized"] == r"\hfill"
    report = result["report"]
    assert list(report) == ["lower_attributes", "rewrite", "finalize_ast", "flatten_groups"]
    assert [row["key"] for row in report["rewrite"]["rules"] if row["applied_count"]] == ["base/hfilll-to-hfill"]


@pytest.mark.parametrize("method", ["transform", "transform_with_report"])
def test_transform_in_place(method):
    engine = TransformEngine("faithful")
    document = engine.parse(r"x \ge y")["document"]
    result = getattr(engine, method)(document)
    if method == "transform":
        assert result is None
    else:
        assert list(result) == ["lower_attributes", "rewrite", "finalize_ast", "flatten_groups"]
    assert document.to_latex() == r"x \geq y"


@pytest.mark.parametrize("method", ["transform", "transform_with_report"])
@pytest.mark.parametrize(
    "source, iterations, message, with_argument",
    [
        # What parses clean never carries arguments a rule does not expect,
        # and no edit makes one that does: the rename is refused.
        (r"x \gets y", 100, "with other arguments", "gets"),
        (r"\ket{" * 8 + "x" + "}" * 8, 1, "max iterations", None),
        (r"\dv[{" * 40 + "1" + "}]{f}{x}" * 40, 100, "too complex to normalise", None),
    ],
)
def test_failed_transform_leaves_the_document(method, source, iterations, message, with_argument):
    engine = TransformEngine("faithful")
    document = engine.parse(source, max_group_depth=256)["document"]
    if with_argument is not None:
        group = document.create_group("math")
        document.append_child(group, document.create_char("z"))
        command = document.create_command("foo", [{"kind": "Math", "node": group}])
        document.append_child(document.root(), command)
        before = document.to_latex()
        with pytest.raises(quorvel.ParseError, match=message):
            document.set_command_name(command, with_argument)
        assert document.to_latex() == before
        return
    before = document.to_latex()
    with pytest.raises(TransformError, match=message):
        getattr(engine, method)(document, rewrite={"max_iterations": iterations})
    assert document.to_latex() == before


def foreign_documents():
    return {
        "other engine": TransformEngine("faithful").parse("x")["document"],
        "parser": Parser().parse("x")["document"],
        "constructor": Document(),
        "from_syntax": Document.from_syntax({"Root": {"mode": "Math", "children": [{"Char": "x"}]}}),
    }


@pytest.mark.parametrize("method", ["transform", "transform_with_report"])
def test_transform_refusals(method):
    engine = TransformEngine("faithful")
    for name, document in foreign_documents().items():
        with pytest.raises(TransformError, match="^document was not parsed by this transform engine$"):
            getattr(engine, method)(document)
    broken = engine.parse(r"\hfilll x^")["document"]
    before = broken.to_syntax()
    with pytest.raises(TransformError, match="^cannot transform a document with parse errors$"):
        getattr(engine, method)(broken)
    assert broken.to_syntax() == before
    # A foreign document with parse errors is reported as foreign.
    with pytest.raises(TransformError, match="^document was not parsed by this transform engine$"):
        getattr(engine, method)(Parser().parse("x^")["document"])


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda e, d: e.transform(d, ParseConfig()), ConfigError, TRANSFORM_CONFIG_REQUIRED),
        (lambda e, d: e.transform(d, rewrite={"enabled": False}, reject_unknown=True), ConfigError,
         "invalid transform overrides: reject_unknown: unknown field `reject_unknown`, expected one of "
         "`lower_attributes`, `rewrite`, `finalize_ast`, `flatten_groups`"),
        (lambda e, d: e.transform_with_report(d, max_group_depth=1), ConfigError,
         "invalid transform overrides: max_group_depth: unknown field `max_group_depth`"),
        (lambda e, d: e.transform(d.root()), TypeError,
         "argument 'document': 'Node' object cannot be cast as 'Document'"),
        (lambda e, d: e.transform(Document.__new__(Document)), TransformError,
         "document was not parsed by this transform engine"),
        (lambda e, d: e.transform(), TypeError, "transform() missing 1 required positional argument: 'document'"),
    ],
)
def test_transform_argument_errors_leave_the_document_untouched(call, error, message):
    engine = TransformEngine("faithful")
    document = engine.parse(r"\hfilll")["document"]
    with pytest.raises(error) as info:
        call(engine, document)
    assert str(info.value).startswith(message)
    assert document.to_latex() == r"\hfilll"


def test_transform_overrides():
    engine = TransformEngine("faithful")
    document = engine.parse(r"\hfilll")["document"]
    engine.transform(document, rewrite={"enabled": False})
    assert document.to_latex() == r"\hfilll"
    engine.transform(document, None, rewrite=None)
    assert document.to_latex() == r"\hfill"


@pytest.mark.parametrize(
    "kwargs, error, message",
    [
        ({"guards": None}, ConfigError, "invalid guards: unsupported value of type `NoneType`; pass a dict"),
        ({"guards": []}, ConfigError, "invalid guards: unsupported value of type `list`; pass a dict"),
        ({"guards": {"script_base": 1}}, ConfigError,
         "invalid guards: script_base: invalid type: integer `1`, expected a boolean"),
        ({"guards": {"nope": True}}, ConfigError, "invalid guards: nope: unknown field `nope`"),
        # The guards are checked before the config and the overrides.
        ({"guards": None, "config": ParseConfig(), "rewrite": 1}, ConfigError, "invalid guards: "),
        ({"guards": {}, "config": ParseConfig()}, ConfigError, TRANSFORM_CONFIG_REQUIRED),
        ({"guards": {}, "rewrite": []}, ConfigError,
         "invalid normalize overrides: rewrite: invalid type: sequence, expected an object"),
        ({}, TypeError, "_normalize_with_flatten_groups_guards() missing 1 required keyword-only argument: 'guards'"),
    ],
)
def test_guard_errors(kwargs, error, message):
    with pytest.raises(error) as info:
        TransformEngine("faithful")._normalize_with_flatten_groups_guards("x", **kwargs)
    assert type(info.value) is error
    assert str(info.value).startswith(message)


def test_guards():
    engine = TransformEngine("corpus")
    result = engine._normalize_with_flatten_groups_guards(r"x \ge y", guards={})
    assert list(result) == ["normalized", "report"] and result["normalized"] == r"x \geq y"
    every = dict.fromkeys(GUARDS, False)
    result = engine._normalize_with_flatten_groups_guards(source=r"\hfilll", config=None, guards=every,
                                                          rewrite={"enabled": False})
    assert result["normalized"] == r"\hfilll"

    class Guards(dict):
        pass

    assert engine._normalize_with_flatten_groups_guards("x", guards=Guards(script_base=True))["normalized"] == "x"
    with pytest.raises(TypeError):
        engine._normalize_with_flatten_groups_guards("x", None, {})


def test_parser_half():
    engine = TransformEngine("equiv", packages=["base"], remove_commands=["frac"])
    assert not engine.knows_command_name("frac") and not engine.knows_env_name("pmatrix")
    assert engine.lookup_command("alpha", "math")["name"] == "alpha"
    with pytest.raises(ConfigError, match="^unsupported content mode: Math$"):
        engine.lookup_env("matrix", "Math")
    result = engine.parse(r"x^", max_group_depth=3)
    assert list(result) == ["document", "diagnostics"] and result["document"].has_errors()


def test_each_engine_has_its_own_parse_context():
    one, two = TransformEngine("faithful"), TransformEngine("faithful")
    document = one.parse("x")["document"]
    with pytest.raises(TransformError):
        two.transform(document)
    one.transform(document)


SIGNATURES = {
    "normalize": "($self, src, config=None, **overrides)",
    "normalize_with_report": "($self, src, config=None, **overrides)",
    "_normalize_with_flatten_groups_guards": "($self, source, config=None, *, guards, **overrides)",
    "transform": "($self, document, config=None, **overrides)",
    "transform_with_report": "($self, document, config=None, **overrides)",
    "parse": "($self, src, config=None, **overrides)",
    "default_parse_config": "($self)",
    "default_transform_config": "($self)",
    "lookup_command": "($self, name, mode)",
    "lookup_explicit_command": "($self, name, mode)",
    "lookup_character": "($self, name, mode)",
    "lookup_env": "($self, name, mode)",
    "is_delimiter_control": "($self, name)",
    "knows_command_name": "($self, name)",
    "knows_env_name": "($self, name)",
    "knows_character_name": "($self, name)",
}


def test_class_surface():
    assert TransformEngine.__text_signature__ == (
        "(profile, packages=None, items=None, remove_commands=None, remove_environments=None, "
        "remove_delimiter_controls=None, disable_rules=None, default_parse_config=None)"
    )
    assert TransformEngine.__module__ == "builtins"
    assert [n for n in TransformEngine.__dict__ if n in SIGNATURES] == list(SIGNATURES)
    for name, signature in SIGNATURES.items():
        method = getattr(TransformEngine, name)
        assert method.__text_signature__ == signature
        assert method.__doc__ is None
        inspect.signature(method)
    with pytest.raises(TypeError):
        type("Sub", (TransformEngine,), {})
    # Built by `__new__` alone: `__init__` cannot build it again.
    engine = TransformEngine.__new__(TransformEngine, "authoring")
    engine.__init__("corpus")
    assert engine.default_transform_config() == TransformConfig.authoring()
    assert issubclass(TransformError, QuorvelError) and issubclass(EditError, QuorvelError)


def normalize_in_worker(src):
    return TransformEngine("authoring").normalize(src)


def test_errors_cross_a_process_pool():
    # The interpreter lock is held during every call, so work is spread over
    # processes; a failure in a worker reaches the parent whole.
    formulas = [r"x \ge y", "x^", r"\frac{a}{b}", r"\left( x"]
    with ProcessPoolExecutor(max_workers=2) as pool:
        futures = [pool.submit(normalize_in_worker, src) for src in formulas]
        outcomes = [future.exception() or future.result() for future in futures]
    for src, outcome in zip(formulas, outcomes):
        try:
            expected = normalize_in_worker(src)
        except ParseError as error:
            assert type(outcome) is ParseError
            assert str(outcome) == str(error)
            assert outcome.diagnostics == error.diagnostics and outcome.diagnostics
            assert (outcome.document is None) == (error.document is None)
            if error.document is not None:
                assert outcome.document.to_syntax() == error.document.to_syntax()
        else:
            assert outcome == expected
    assert sum(isinstance(outcome, ParseError) for outcome in outcomes) == 2
