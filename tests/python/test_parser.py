"""Parser: construction, parsing with overrides, knowledge lookups and name tests."""

import gc
import inspect

import pytest

import quorvel
from quorvel import ConfigError, Parser, ParseConfig, TransformConfig

COMMAND_ITEM = {"target": "command", "name": "foo", "argspec": "m", "kind": "prefix", "allowed_mode": "math",
                "tags": ["t"]}
PARSE_CONFIG_REQUIRED = (
    "config must be a ParseConfig; pass overrides as keyword arguments (use **overrides for a dict)"
)


@pytest.mark.parametrize(
    "kwargs, error, message",
    [
        ({"packages": "base"}, TypeError, "argument 'packages': Can't extract `str` to `Vec`"),
        ({"packages": ["base", 3]}, TypeError, "argument 'packages': 'int' object cannot be cast as 'PyString'"),
        ({"remove_commands": 1}, TypeError, "argument 'remove_commands': "),
        ({"remove_environments": "x"}, TypeError, "argument 'remove_environments': "),
        ({"remove_delimiter_controls": {"a": 1}}, TypeError, "argument 'remove_delimiter_controls': "),
        ({"default_parse_config": TransformConfig.faithful()}, TypeError,
         "argument 'default_parse_config': 'TransformConfig' object cannot be cast as 'ParseConfig'"),
        # Argument conversion comes before every other check.
        ({"packages": ["nope"], "items": {}, "remove_commands": "x"}, TypeError, "argument 'remove_commands'"),
        ({"packages": ["base", "nope"]}, ConfigError, "unknown package: nope"),
        ({"items": [dict(COMMAND_ITEM, argspec="{")]}, ConfigError,
         "invalid context item foo: invalid argspec (command foo) at char 1: "),
        # Items are read before the parse context is built.
        ({"packages": ["nope"], "items": [{"target": "x"}]}, ConfigError,
         "invalid items: [0].target: unknown variant `x`"),
    ],
)
def test_constructor_errors(kwargs, error, message):
    with pytest.raises(error) as info:
        Parser(**kwargs)
    assert type(info.value) is error
    assert str(info.value).startswith(message)


def test_defaults():
    parser = Parser()
    config = parser.default_parse_config()
    assert config == ParseConfig(reject_unknown=False, abort_on_error=False, max_group_depth=128)
    assert parser.default_parse_config() is not config
    config.max_group_depth = 1
    assert parser.default_parse_config().max_group_depth == 128
    assert parser.knows_command_name("frac") and parser.knows_env_name("matrix")


def test_default_parse_config_is_copied():
    given = ParseConfig(max_group_depth=2)
    parser = Parser(default_parse_config=given)
    given.max_group_depth = 50
    assert parser.default_parse_config().max_group_depth == 2
    assert parser.parse("{{{x}}}")["diagnostics"][0]["kind"] == "max-group-depth-exceeded"


LOOKUPS = ["lookup_command", "lookup_explicit_command", "lookup_character", "lookup_env"]
NAME_TESTS = ["is_delimiter_control", "knows_command_name", "knows_env_name", "knows_character_name"]


@pytest.mark.parametrize("packages", [[], ()])
def test_empty_knowledge(packages):
    parser = Parser(packages=packages)
    for name in ["frac", "alpha", "matrix", "langle", "("]:
        for lookup in LOOKUPS:
            assert getattr(parser, lookup)(name, "math") is None
            assert getattr(parser, lookup)(name, "text") is None
        for test in NAME_TESTS:
            assert getattr(parser, test)(name) is False


# name, mode, which lookups find it (command, explicit, character, env)
LOOKUP_TABLE = [
    ("frac", "math", (True, True, False, False)),
    ("frac", "text", (False, False, False, False)),
    ("textbf", "text", (True, True, False, False)),
    # A character's command view counts as a command, but is not declared.
    ("alpha", "math", (True, False, True, False)),
    ("alpha", "text", (False, False, False, False)),
    ("aligned", "math", (False, False, False, True)),
    ("matrix", "math", (True, True, False, True)),
    ("\\frac", "math", (False, False, False, False)),
    ("Frac", "math", (False, False, False, False)),
]


@pytest.mark.parametrize("name, mode, found", LOOKUP_TABLE)
def test_lookups(name, mode, found):
    parser = Parser()
    for lookup, expected in zip(LOOKUPS, found):
        result = getattr(parser, lookup)(name, mode)
        assert (result is not None) == expected, lookup
        if result is not None:
            assert result["name"] == name
            assert getattr(parser, lookup)(name, mode) is not result


def test_lookup_record_shapes():
    parser = Parser()
    assert list(parser.lookup_command("frac", "math")) == [
        "name", "kind", "allowed_mode", "spec_string", "from_packages", "tags", "args"]
    assert list(parser.lookup_env("matrix", "math")) == [
        "name", "allowed_mode", "body_mode", "spec_string", "from_packages", "tags", "args"]
    assert parser.lookup_character("alpha", "math") == {
        "name": "alpha", "allowed_mode": "math", "unicode_value": "\u03b1", "attributes": {"mathvariant": "italic"},
        "package": "base"}


@pytest.mark.parametrize("mode", ["Math", "TEXT", "", "math "])
@pytest.mark.parametrize("lookup", LOOKUPS)
def test_lookup_modes_are_exact(lookup, mode):
    with pytest.raises(ConfigError) as info:
        getattr(Parser(), lookup)("frac", mode)
    assert str(info.value) == f"unsupported content mode: {mode}"


def test_items_and_removals():
    added = Parser(items=[COMMAND_ITEM])
    record = added.lookup_command("foo", "math")
    assert record["spec_string"] == "m" and record["tags"] == ["t"] and record["from_packages"] == ["runtime"]
    assert added.lookup_explicit_command("foo", "math") == record
    # Items take effect before removals, whatever the keyword order.
    removed = Parser(remove_commands=["foo"], items=[COMMAND_ITEM])
    assert not removed.knows_command_name("foo")
    assert removed.lookup_command("foo", "math") is None
    # A removed declared command is not found by the explicit lookup either.
    assert removed.lookup_explicit_command("foo", "math") is None
    assert Parser(remove_commands=["frac"]).lookup_explicit_command("frac", "math") is None
    assert not Parser(remove_environments=["matrix"]).knows_env_name("matrix")
    assert Parser().is_delimiter_control("langle") and not Parser().is_delimiter_control("(")
    assert not Parser(remove_delimiter_controls=["langle"]).is_delimiter_control("langle")


def test_parse_result():
    result = Parser().parse(r"x \ge y")
    assert list(result) == ["document", "diagnostics"]
    assert result["diagnostics"] == []
    assert result["document"].to_latex() == r"x \ge y"


@pytest.mark.parametrize(
    "src, has_document, has_errors",
    [
        (r"x^", True, True),
        (r"\frac{a}", True, True),
        (r"x}", False, None),
        (r"\foo x {", True, True),
    ],
)
def test_parse_never_raises_on_malformed_source(src, has_document, has_errors):
    result = Parser().parse(src)
    assert isinstance(result["diagnostics"], list) and result["diagnostics"]
    assert (result["document"] is not None) == has_document
    if has_document:
        assert result["document"].has_errors() is has_errors


TEXT_ENVIRONMENT = {"target": "environment", "name": "tenv", "allowed_mode": "both", "body_mode": "text",
                    "argspec": ""}


@pytest.mark.parametrize(
    "src, items, latex, diagnostics",
    [
        # A failed item's skip takes the braces it opened: one Error node and
        # its one diagnostic, not a stray `}` that ends the parse.
        (r"\frac{a}", [], r"\frac{a}", 1),
        (r"\stackrel{S_{n}}", [], r"\stackrel{S_{n}}", 1),
        (r"B I_{1}_{1}", [], r"B I_{1}_{1}", 1),
        (r"\begin{array}{x}a\end{array}", [], r"\begin{array}{x}a\end{array}", 1),
        (r"{a \over b \atop c} x", [], r"{a \over b \atop c} x", 1),
        # The closing half of a pair the skip passed is skipped with it, not a
        # stray `\right` or `\end` that ends the formula.
        (r"\left(x\right)^2^3", [], r"\left(x\right)^2^3", 1),
        (r"\begin{matrix}a\end{matrix}^#", [], r"\begin{matrix}a\end{matrix}^#", 1),
        (r"{{{}\left(\right)", [], r"{{{}\left(\right)", 1),
        # White space before `\end` of a text body.
        (r"\begin{tenv}a \foo  \end{tenv}", [TEXT_ENVIRONMENT], r"\begin {tenv}a \foo \end {tenv}", 0),
        # A rebuilt argument keeps a control word apart from the next letter.
        ("\\sqrt{\\alpha%c\nb \\over b \\atop c}", [], r"\sqrt { \alpha b \over b \atop c }", 1),
    ],
)
def test_malformed_source_keeps_its_document(src, items, latex, diagnostics):
    result = Parser(items=items).parse(src)
    assert len(result["diagnostics"]) == diagnostics, result["diagnostics"]
    assert result["document"] is not None
    assert result["document"].to_latex() == latex


@pytest.mark.parametrize(
    "source, depth",
    [
        ("{" + "\\begin{matrix}\\left(" * 1000 + "z" + "\\right)" * 1000 + "}", 128),
        ("{\\left(" * 7144 + "z" + "\\right)" * 7144, 100000),
    ],
)
def test_long_open_constructs_keep_a_document(source, depth):
    # Open constructs around closed \left...\right runs: nothing nests past
    # a limit, so the parse keeps its document and every fault is located.
    result = Parser().parse(source * (5 if depth == 128 else 1), max_group_depth=depth)
    assert result["document"] is not None and result["document"].has_errors()
    kinds = {d["kind"] for d in result["diagnostics"]}
    assert "max-group-depth-exceeded" not in kinds and "formula-too-complex" not in kinds


def test_overrides_hold_for_one_call():
    parser = Parser()
    deep = "{{{{x}}}}"
    assert parser.parse(deep, max_group_depth=2)["diagnostics"][0]["kind"] == "max-group-depth-exceeded"
    assert parser.parse(deep)["diagnostics"] == []
    assert parser.parse(deep, ParseConfig(max_group_depth=2))["diagnostics"]
    # Overrides are laid over the config object.
    assert parser.parse(deep, ParseConfig(max_group_depth=2), max_group_depth=None)["diagnostics"]
    assert parser.parse(deep, ParseConfig(max_group_depth=2), max_group_depth=10)["diagnostics"] == []
    assert parser.parse(r"\foo", config=None, reject_unknown=True)["diagnostics"][0]["kind"] == "unknown-command"


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda p: p.parse("x", TransformConfig.equiv()), ConfigError, PARSE_CONFIG_REQUIRED),
        (lambda p: p.parse("x", {"max_group_depth": 2}), ConfigError, PARSE_CONFIG_REQUIRED),
        (lambda p: p.parse("x", max_group_depth=[1]), ConfigError,
         "invalid parse overrides: max_group_depth: invalid type: sequence, expected usize"),
        (lambda p: p.parse("x", max_group_depth=2**64), ConfigError,
         "invalid parse overrides: max_group_depth: integer out of range"),
        (lambda p: p.parse("x", rewrite={}), ConfigError,
         "invalid parse overrides: rewrite: unknown field `rewrite`, expected one of `reject_unknown`, "
         "`abort_on_error`, `max_group_depth`"),
        (lambda p: p.parse(b"x"), TypeError, "argument 'src': 'bytes' object cannot be cast as 'PyString'"),
        (lambda p: p.parse(), TypeError, "parse() missing 1 required positional argument: 'src'"),
        (lambda p: p.parse("x", None, 1), TypeError,
         "parse() takes from 1 to 2 positional arguments but 3 were given"),
        (lambda p: p.parse("x", src="y"), TypeError, "parse() got multiple values for argument 'src'"),
        (lambda p: p.lookup_command("frac"), TypeError, "lookup_command() missing 1 required positional "
                                                        "argument: 'mode'"),
        (lambda p: p.knows_command_name("frac", extra=1), TypeError,
         "knows_command_name() got an unexpected keyword argument 'extra'"),
        (lambda p: p.knows_env_name(None), TypeError, "argument 'name': "),
        (lambda p: p.default_parse_config(1), TypeError, ""),
    ],
)
def test_method_errors(call, error, message):
    with pytest.raises(error) as info:
        call(Parser())
    assert type(info.value) is error
    assert str(info.value).startswith(message)


def test_type_error_wins_over_config_error():
    with pytest.raises(TypeError):
        Parser().parse(1, TransformConfig.equiv())


# A str holding a lone surrogate has no UTF-8 form: the argument is refused
# with the module's error of its kind, naming the first surrogate.
LONE_SURROGATES = {
    "parse": (lambda: Parser().parse("x\ud800"), quorvel.ParseError, "src", "U+D800 at index 1"),
    "normalize": (lambda: quorvel.TransformEngine("faithful").normalize("\udfffx"), quorvel.ParseError, "src",
                  "U+DFFF at index 0"),
    "count_targets": (lambda: quorvel.count_targets("ab\udc00"), quorvel.ParseError, "src", "U+DC00 at index 2"),
    "package": (lambda: Parser(packages=["\ud800"]), ConfigError, "packages", "U+D800 at index 0"),
    "profile": (lambda: quorvel.TransformEngine("\ud800"), ConfigError, "profile", "U+D800 at index 0"),
    "edit": (lambda: quorvel.Document().create_text("a\ud800"), quorvel.EditError, "value", "U+D800 at index 1"),
    "lookup": (lambda: Parser().knows_command_name("\udfff"), quorvel.QuorvelError, "name", "U+DFFF at index 0"),
    "argspec": (lambda: quorvel.validate_argspec("m\ud800"), quorvel.QuorvelError, "spec", "U+D800 at index 1"),
}


@pytest.mark.parametrize("call, error, argument, where", LONE_SURROGATES.values(), ids=LONE_SURROGATES.keys())
def test_lone_surrogates_raise_a_quorvel_error(call, error, argument, where):
    with pytest.raises(quorvel.QuorvelError) as info:
        call()
    assert type(info.value) is error
    assert str(info.value) == f"argument '{argument}' is not valid Unicode: lone surrogate {where}"
    if error is quorvel.ParseError:
        assert info.value.diagnostics == [] and info.value.document is None


def test_parse_max_group_depth_at_the_top_of_its_range():
    result = Parser().parse("{" * 300 + "x" + "}" * 300, max_group_depth=2**63)
    assert result["document"] is not None


def test_documents_do_not_reference_the_parser():
    document = Parser().parse("x")["document"]
    assert document.to_latex() == "x"


SIGNATURES = {
    "parse": "($self, src, config=None, **overrides)",
    "default_parse_config": "($self)",
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
    assert Parser.__text_signature__ == (
        "(packages=None, items=None, remove_commands=None, remove_environments=None, "
        "remove_delimiter_controls=None, default_parse_config=None)"
    )
    assert Parser.__module__ == "builtins"
    assert [n for n in Parser.__dict__ if n in SIGNATURES] == list(SIGNATURES)
    for name, signature in SIGNATURES.items():
        method = getattr(Parser, name)
        assert method.__text_signature__ == signature
        assert method.__doc__ is None
        inspect.signature(method)
    with pytest.raises(TypeError):
        type("Sub", (Parser,), {})


def test_module_order():
    names = list(quorvel._native.__dict__)
    order = ["TransformConfig", "Document", "Node", "Parser", "TransformEngine", "QuorvelError"]
    assert [names.index(n) for n in order] == sorted(names.index(n) for n in order)


# The parse road binds its arguments from the interpreter's fast calls (no
# argument tuple); every call shape must bind as it does for a Python
# function, on each class that parses.
FAST_CALLS = [
    (Parser, "parse"),
    (lambda: quorvel.TransformEngine("equiv"), "parse"),
    (lambda: quorvel.TransformEngine("equiv"), "normalize"),
    (lambda: quorvel.TransformEngine("equiv"), "normalize_with_report"),
]


@pytest.mark.parametrize("make, name", FAST_CALLS)
@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((), {}, "{}() missing 1 required positional argument: 'src'"),
        ((), {"config": None, "reject_unknown": True}, "{}() missing 1 required positional argument: 'src'"),
        (("x", None, 1), {}, "{}() takes from 1 to 2 positional arguments but 3 were given"),
        (("x",), {"src": "y"}, "{}() got multiple values for argument 'src'"),
        (("x", None), {"config": None}, "{}() got multiple values for argument 'config'"),
        ((b"x",), {}, "argument 'src': 'bytes' object cannot be cast as 'PyString'"),
        ((), {"src": 1, "reject_unknown": object()}, "argument 'src': 'int' object cannot be cast as 'PyString'"),
    ],
)
def test_fast_call_binding_errors(make, name, args, kwargs, message):
    method = getattr(make(), name)
    with pytest.raises(TypeError) as info:
        method(*args, **kwargs)
    assert type(info.value) is TypeError
    assert str(info.value) == message.format(name)


@pytest.mark.parametrize("make, name", FAST_CALLS)
def test_fast_call_shapes_bind_alike(make, name):
    receiver = make()
    method = getattr(receiver, name)
    source = r"\hfilll {x}"

    def outcome(call):
        try:
            value = call()
        except quorvel.QuorvelError as error:
            return type(error), str(error)
        return value["diagnostics"] if name == "parse" else value

    expected = outcome(lambda: method(source, None, reject_unknown=True))
    assert expected == outcome(lambda: method(src=source, reject_unknown=True))
    assert expected == outcome(lambda: method(reject_unknown=True, config=None, src=source))
    assert expected == outcome(lambda: method(*[source], **{"reject_unknown": True}))
    assert expected == outcome(lambda: getattr(type(receiver), name)(receiver, source, reject_unknown=True))
    assert outcome(lambda: method(source)) == outcome(lambda: method(source, **{}))


@pytest.mark.parametrize("make, name", FAST_CALLS)
@pytest.mark.parametrize("first, second", [("reject_unknown", "abort_on_error"), ("abort_on_error", "reject_unknown")])
def test_fast_call_overrides_keep_call_order(make, name, first, second):
    with pytest.raises(ConfigError) as info:
        getattr(make(), name)("x", **{first: object(), second: object()})
    assert f": {first}: unsupported value of type `object`" in str(info.value)


# --- many diagnostics ---------------------------------------------------------

# Units whose diagnostics do not depend on their neighbours: repeated, mixed
# runs must give each unit's own diagnostics, shifted to its place.
UNITS = ["{x^#}", "{\\foo}", "{\\qux}", "{x_}", "{\\sqrt{\\left(}}", "{x}"]
SEQUENCES = {
    "one unit repeated": [0] * 40,
    "alternating": [0, 3] * 20,
    "runs": [0] * 5 + [1] * 5 + [4] * 5 + [0] * 5 + [3, 3, 5, 5, 2, 2],
    "every unit": list(range(len(UNITS))) * 3,
}


RANKS = {"unknown-command": 1, "left-right-delimiter": 1, "raw-expected-found": 4}


def shifted(diagnostic, offset):
    def span(s):
        return {"start": s["start"] + offset, "end": s["end"] + offset}

    return {
        **diagnostic,
        "span": span(diagnostic["span"]),
        "contexts": [{**c, "span": span(c["span"])} for c in diagnostic["contexts"]],
    }


@pytest.mark.parametrize("sequence", SEQUENCES.values(), ids=SEQUENCES.keys())
def test_many_diagnostics_match_their_units(sequence):
    parser = Parser()
    expected, offset = [], 0
    for index in sequence:
        unit = UNITS[index]
        expected += [shifted(d, offset) for d in parser.parse(unit, reject_unknown=True)["diagnostics"]]
        offset += len(unit.encode())
    # Diagnostics come ordered by the rank of their kind first, then by place.
    ranked = sorted(expected, key=lambda d: RANKS[d["kind"]])
    source = "".join(UNITS[index] for index in sequence)
    assert parser.parse(source, reject_unknown=True)["diagnostics"] == ranked
    with pytest.raises(quorvel.ParseError) as info:
        quorvel.TransformEngine("authoring").normalize(source, reject_unknown=True)
    assert info.value.diagnostics == ranked


def test_diagnostics_share_texts_but_no_containers():
    diagnostics = Parser().parse("{x^#}" * 3)["diagnostics"]
    first, second = diagnostics[0], diagnostics[1]
    assert first["message"] is second["message"]
    assert all(a is b for a, b in zip(first["expected"], second["expected"]))
    for name in ("expected", "span", "contexts"):
        assert first[name] is not second[name]
    first["expected"].append("mine")
    first["span"]["start"] = -1
    first["contexts"].append(None)
    assert {**diagnostics[2], "span": None} == {**second, "span": None}
    assert second["expected"][-1] != "mine"
    assert second["span"]["start"] != -1 and second["contexts"] == []


@pytest.mark.parametrize("enabled", [True, False])
def test_building_diagnostics_keeps_the_collector_setting(enabled):
    was = gc.isenabled()
    try:
        gc.enable() if enabled else gc.disable()
        assert len(Parser().parse("{x^#}" * 2_000)["diagnostics"]) == 2_000
        assert gc.isenabled() is enabled
        with pytest.raises(quorvel.ParseError):
            quorvel.TransformEngine("authoring").normalize("{x^#}" * 2_000)
        assert gc.isenabled() is enabled
    finally:
        gc.enable() if was else gc.disable()
