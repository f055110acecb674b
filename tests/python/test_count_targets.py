import pytest

from quorvel import _native


@pytest.mark.parametrize(
    "src, kwargs, counts",
    [
        ("", {}, {}),
        ("x^2", {}, {}),
        (
            r"\sqrt{\alpha}+\frac{a}{b}\begin{matrix}x\end{matrix}",
            {},
            {"char:alpha": 1, "cmd:frac": 1, "cmd:sqrt": 1, "env:matrix": 1},
        ),
        (r"\frac{1}{2}\frac{3}{4}", {}, {"cmd:frac": 2}),
        # One command met in math and in text counts under one key.
        (r"\quad\text{a\quad b}", {}, {"cmd:quad": 2, "cmd:text": 1}),
        (r"\frac{a}{b}", {"packages": ["braket"]}, {"cmd:frac": 1}),
        (r"\frac{a}{b}", {"packages": ("base", "base")}, {"cmd:frac": 1}),
        # With empty knowledge nothing is refused for its mode.
        (r"\text{\alpha}", {"packages": []}, {"char:alpha": 1, "cmd:text": 1}),
        ("{{x}}", {"config": _native.ParseConfig(max_group_depth=2)}, {}),
        (r"\foo", {"config": None, "packages": None}, {"cmd:foo": 1}),
    ],
)
def test_counts(src, kwargs, counts):
    result = _native.count_targets(src, **kwargs)
    assert result == counts
    assert list(result) == sorted(result)


def test_keys_sorted_bytewise():
    result = _native.count_targets(r"\zeta\Alpha\beta\sum\Sigma\begin{aligned}x\end{aligned}")
    assert list(result) == sorted(result)
    assert all(isinstance(value, int) for value in result.values())


@pytest.mark.parametrize(
    "kwargs, error, message",
    [
        ({"packages": "base"}, TypeError, "argument 'packages': "),
        ({"packages": [1]}, TypeError, "argument 'packages': "),
        ({"packages": 3}, TypeError, "argument 'packages': "),
        ({"config": 5}, TypeError, "argument 'config': "),
        ({"config": {"max_group_depth": 3}}, TypeError, "argument 'config': "),
        ({"config": _native.TransformConfig.faithful()}, TypeError, "argument 'config': "),
        ({"src": b"x"}, TypeError, "argument 'src': "),
        ({"packages": ["nope"]}, _native.ConfigError, "unknown package: nope"),
        ({"packages": ["base", "Physics"]}, _native.ConfigError, "unknown package: Physics"),
    ],
)
def test_argument_errors(kwargs, error, message):
    kwargs.setdefault("src", "x")
    with pytest.raises(error) as info:
        _native.count_targets(**kwargs)
    assert type(info.value) is error
    if error is TypeError:
        assert str(info.value).startswith(message)
    else:
        assert str(info.value) == message


@pytest.mark.parametrize(
    "src, kwargs, message",
    [
        ("x_", {}, "parse produced an incomplete document"),
        ("a}", {}, "parse produced no document"),
        (r"\text{\alpha}", {}, "parse produced an incomplete document"),
        ("{{x}}", {"config": _native.ParseConfig(max_group_depth=1)}, "parse produced an incomplete document"),
        (r"\foo", {"config": _native.ParseConfig(reject_unknown=True)}, "parse produced an incomplete document"),
    ],
)
def test_parse_errors_carry_only_their_message(src, kwargs, message):
    with pytest.raises(_native.ParseError) as info:
        _native.count_targets(src, **kwargs)
    assert str(info.value) == message
    assert not hasattr(info.value, "diagnostics")
    assert not hasattr(info.value, "document")


def test_config_is_read_not_kept():
    config = _native.ParseConfig(max_group_depth=1)
    with pytest.raises(_native.ParseError):
        _native.count_targets("{{x}}", config)
    config.max_group_depth = 5
    assert _native.count_targets("{{x}}", config) == {}
    assert config.max_group_depth == 5


def test_positional_arguments():
    assert _native.count_targets(r"\frac{a}{b}", None, []) == {"cmd:frac": 1}
    with pytest.raises(TypeError):
        _native.count_targets()
    with pytest.raises(TypeError):
        _native.count_targets("x", None, None, None)


def test_module_order_and_signature():
    names = [name for name in vars(_native) if not name.startswith("_")]
    assert names[:4] == ["count_targets", "serialize", "validate_argspec", "list_packages"]
    assert _native.count_targets.__text_signature__ == "(src, config=None, packages=None)"
