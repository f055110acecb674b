import copy as copy_module
import inspect
import pickle
import types

import pytest

import quorvel
from quorvel import (
    FinalizeAstConfig,
    FlattenGroupsConfig,
    LowerAttributesConfig,
    ParseConfig,
    RewriteConfig,
    TransformConfig,
)

PHASE_CLASSES = [LowerAttributesConfig, RewriteConfig, FinalizeAstConfig, FlattenGroupsConfig]
ALL_CLASSES = [ParseConfig, *PHASE_CLASSES, TransformConfig]

# class, fields with their defaults, default repr
VALUE_CLASSES = [
    (
        ParseConfig,
        {"reject_unknown": False, "abort_on_error": False, "max_group_depth": 128},
        "ParseConfig(reject_unknown=False, abort_on_error=False, max_group_depth=128)",
    ),
    (LowerAttributesConfig, {"enabled": True}, "LowerAttributesConfig(enabled=True)"),
    (
        RewriteConfig,
        {"enabled": True, "max_iterations": 100},
        "RewriteConfig(enabled=True, max_iterations=100)",
    ),
    (FinalizeAstConfig, {"enabled": True}, "FinalizeAstConfig(enabled=True)"),
    (
        FlattenGroupsConfig,
        {"enabled": True, "preserve_rendered_spacing": True},
        "FlattenGroupsConfig(enabled=True, preserve_rendered_spacing=True)",
    ),
]

BOOL_FIELDS = [
    (cls, name) for cls, fields, _ in VALUE_CLASSES for name, v in fields.items() if isinstance(v, bool)
]
INT_FIELDS = [(ParseConfig, "max_group_depth"), (RewriteConfig, "max_iterations")]

FAITHFUL_REPR = (
    "TransformConfig(lower_attributes=LowerAttributesConfig(enabled=True), "
    "rewrite=RewriteConfig(enabled=True, max_iterations=100), "
    "finalize_ast=FinalizeAstConfig(enabled=True), "
    "flatten_groups=FlattenGroupsConfig(enabled=True, preserve_rendered_spacing=True))"
)


def phases(**changes):
    args = {
        "lower_attributes": LowerAttributesConfig(),
        "rewrite": RewriteConfig(),
        "finalize_ast": FinalizeAstConfig(),
        "flatten_groups": FlattenGroupsConfig(),
    }
    args.update(changes)
    return args


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


# --- the phase classes and ParseConfig -------------------------------------


@pytest.mark.parametrize("cls, fields, text", VALUE_CLASSES)
def test_defaults_and_repr(cls, fields, text):
    obj = cls()
    assert repr(obj) == text
    assert str(obj) == text
    for name, value in fields.items():
        got = getattr(obj, name)
        assert got == value and type(got) is type(value)
    assert cls.__text_signature__ == text[len(cls.__name__):]


@pytest.mark.parametrize("cls, fields, text", VALUE_CLASSES)
def test_positional_and_keyword_arguments_in_field_order(cls, fields, text):
    values = [(not v) if isinstance(v, bool) else 7 for v in fields.values()]
    by_position = cls(*values)
    by_keyword = cls(**dict(zip(fields, values)))
    assert by_position == by_keyword
    assert [getattr(by_position, name) for name in fields] == values


def test_single_positional_sets_only_first_field():
    assert repr(ParseConfig(True)) == (
        "ParseConfig(reject_unknown=True, abort_on_error=False, max_group_depth=128)"
    )


@pytest.mark.parametrize(
    "value, stored",
    [(True, 1), (0, 0), (2**64 - 1, 2**64 - 1), (Index(5), 5), (2**63, 2**63)],
)
@pytest.mark.parametrize("cls, name", INT_FIELDS)
def test_int_fields_accept_any_index_in_range(cls, name, value, stored):
    assert getattr(cls(**{name: value}), name) == stored
    obj = cls()
    setattr(obj, name, value)
    assert getattr(obj, name) == stored


@pytest.mark.parametrize(
    "value, error",
    [
        (-1, OverflowError),
        (2**64, OverflowError),
        (2.0, TypeError),
        (None, TypeError),
        ("3", TypeError),
    ],
)
@pytest.mark.parametrize("cls, name", INT_FIELDS)
def test_int_field_conversion_errors(cls, name, value, error):
    with pytest.raises(error) as info:
        cls(**{name: value})
    # Only a TypeError is wrapped with the argument name; the interpreter's
    # OverflowError passes unchanged.
    if error is TypeError:
        assert type(info.value) is TypeError
        assert str(info.value).startswith(f"argument '{name}': ")
        assert type(info.value.__cause__) is TypeError
    else:
        assert not str(info.value).startswith("argument")

    obj = cls()
    before = getattr(obj, name)
    with pytest.raises(error):
        setattr(obj, name, value)
    assert getattr(obj, name) == before


@pytest.mark.parametrize("value", [1, 0, None, "x", 1.0, [True]])
@pytest.mark.parametrize("cls, name", BOOL_FIELDS)
def test_bool_fields_take_exactly_bool(cls, name, value):
    with pytest.raises(TypeError, match=f"^argument '{name}': ") as info:
        cls(**{name: value})
    assert type(info.value.__cause__) is TypeError

    obj = cls()
    before = getattr(obj, name)
    with pytest.raises(TypeError, match=f"^argument '{name}': "):
        setattr(obj, name, value)
    assert getattr(obj, name) is before


def test_bool_fields_accept_numpy_bool():
    np = pytest.importorskip("numpy")
    config = FlattenGroupsConfig(np.False_, preserve_rendered_spacing=np.bool_(True))
    assert config.enabled is False
    assert config.preserve_rendered_spacing is True
    config.enabled = np.True_
    assert config.enabled is True


def test_failed_assignment_keeps_the_old_value():
    config = RewriteConfig()
    with pytest.raises(TypeError):
        config.enabled = "x"
    assert config.enabled is True
    config.max_iterations = 0
    assert config.max_iterations == 0


@pytest.mark.parametrize("cls, name", BOOL_FIELDS + INT_FIELDS)
def test_properties_cannot_be_deleted(cls, name):
    obj = cls()
    before = getattr(obj, name)
    with pytest.raises(AttributeError, match="^can't delete attribute$"):
        delattr(obj, name)
    assert getattr(obj, name) == before


@pytest.mark.parametrize("cls, fields, text", VALUE_CLASSES)
def test_equality_is_by_value_within_a_class(cls, fields, text):
    a, b = cls(), cls()
    assert a is not b
    assert a == b and not (a != b)
    first = next(iter(fields))
    value = getattr(b, first)
    setattr(b, first, (not value) if isinstance(value, bool) else value + 1)
    assert a != b and not (a == b)


@pytest.mark.parametrize(
    "a, b",
    [
        (FinalizeAstConfig(), LowerAttributesConfig()),
        (LowerAttributesConfig(), FinalizeAstConfig()),
        (ParseConfig(), 5),
        (RewriteConfig(), None),
        (RewriteConfig(), TransformConfig.faithful()),
    ],
)
def test_other_types_are_unequal(a, b):
    assert not (a == b)
    assert a != b


def test_phase_equality_declines_foreign_operands():
    assert ParseConfig.__eq__(ParseConfig(), 5) is NotImplemented
    assert FinalizeAstConfig.__eq__(FinalizeAstConfig(), LowerAttributesConfig()) is NotImplemented


# --- traits shared by all six classes -------------------------------------


@pytest.mark.parametrize("cls", ALL_CLASSES)
def test_class_traits(cls):
    assert cls.__module__ == "builtins"
    assert cls.__qualname__ == cls.__name__
    assert cls.__hash__ is None
    with pytest.raises(TypeError):

        class Sub(cls):  # noqa: F841
            pass


@pytest.mark.parametrize("make", [ParseConfig, FinalizeAstConfig, TransformConfig.corpus])
def test_instances_are_unhashable_and_unordered(make):
    a, b = make(), make()
    with pytest.raises(TypeError):
        hash(a)
    with pytest.raises(TypeError):
        {a}
    for op in ("<", "<=", ">", ">="):
        with pytest.raises(TypeError):
            eval(f"a {op} b")


@pytest.mark.parametrize("make", [ParseConfig, RewriteConfig, TransformConfig.equiv])
def test_no_attributes_beyond_the_properties(make):
    obj = make()
    with pytest.raises(AttributeError):
        obj.other = 1
    assert not hasattr(obj, "__dict__")


def test_module_order_of_the_classes():
    names = [n for n in vars(quorvel._native) if not n.startswith("_")]
    expected = [cls.__name__ for cls in ALL_CLASSES]
    positions = [names.index(n) for n in expected]
    assert positions == sorted(positions)
    assert positions[-1] < names.index("QuorvelError")


# --- TransformConfig ------------------------------------------------------


def test_transform_config_docstring_and_signature():
    assert TransformConfig.__text_signature__ == (
        "(*, lower_attributes, rewrite, finalize_ast, flatten_groups)"
    )
    assert TransformConfig.__doc__ == (
        "Holds shared references to the four phase configs so `cfg.rewrite.enabled = False` sticks."
    )


def test_transform_config_shares_its_phase_objects():
    rewrite = RewriteConfig()
    a = TransformConfig(**phases(rewrite=rewrite))
    b = TransformConfig(**phases(rewrite=rewrite))
    assert a.rewrite is rewrite and a.rewrite is a.rewrite
    rewrite.enabled = False
    assert a.rewrite.enabled is False and b.rewrite.enabled is False
    a.rewrite.max_iterations = 3
    assert "RewriteConfig(enabled=False, max_iterations=3)" in repr(b)


def test_transform_config_property_assignment():
    cfg = TransformConfig.faithful()
    flatten = FlattenGroupsConfig(preserve_rendered_spacing=False)
    cfg.flatten_groups = flatten
    assert cfg.flatten_groups is flatten
    assert cfg == TransformConfig.corpus()
    cfg.flatten_groups = cfg.flatten_groups
    assert cfg.flatten_groups is flatten


@pytest.mark.parametrize(
    "name, value",
    [
        ("rewrite", FinalizeAstConfig()),
        ("lower_attributes", FinalizeAstConfig()),
        ("flatten_groups", None),
        ("finalize_ast", {"enabled": True}),
    ],
)
def test_transform_config_refuses_wrong_phase_class(name, value):
    expected = f"^argument '{name}': '{type(value).__qualname__}' object cannot be cast as "
    with pytest.raises(TypeError, match=expected):
        TransformConfig(**phases(**{name: value}))

    cfg = TransformConfig.faithful()
    before = getattr(cfg, name)
    with pytest.raises(TypeError, match=expected):
        setattr(cfg, name, value)
    assert getattr(cfg, name) is before


@pytest.mark.parametrize(
    "call",
    [
        lambda: TransformConfig(*phases().values()),
        lambda: TransformConfig(**{k: v for k, v in phases().items() if k != "flatten_groups"}),
        lambda: TransformConfig(**phases(), extra=1),
        lambda: TransformConfig(),
    ],
)
def test_transform_config_argument_matching(call):
    with pytest.raises(TypeError):
        call()


@pytest.mark.parametrize("name", ["lower_attributes", "rewrite", "finalize_ast", "flatten_groups"])
def test_transform_config_properties_cannot_be_deleted(name):
    cfg = TransformConfig.faithful()
    with pytest.raises(AttributeError, match="^can't delete attribute$"):
        delattr(cfg, name)


@pytest.mark.parametrize(
    "preset, preserve",
    [("authoring", True), ("faithful", True), ("corpus", False), ("equiv", False)],
)
def test_presets(preset, preserve):
    make = getattr(TransformConfig, preset)
    assert isinstance(TransformConfig.__dict__[preset], types.ClassMethodDescriptorType)
    assert make.__self__ is TransformConfig
    assert make.__text_signature__ == "($cls)"
    assert make.__doc__ is None
    assert str(inspect.signature(make)) == "()"
    a, b = make(), make()
    assert type(a) is TransformConfig
    assert a is not b
    for name in ("lower_attributes", "rewrite", "finalize_ast", "flatten_groups"):
        assert getattr(a, name) is not getattr(b, name)
    expected = FAITHFUL_REPR.replace(
        "preserve_rendered_spacing=True", f"preserve_rendered_spacing={preserve}"
    )
    assert repr(a) == expected


def test_transform_config_equality():
    assert TransformConfig.authoring() == TransformConfig.faithful()
    assert TransformConfig.faithful() != TransformConfig.corpus()
    corpus = TransformConfig.corpus()
    corpus.flatten_groups.preserve_rendered_spacing = True
    assert corpus == TransformConfig.faithful()
    # Equal by value whether or not phase objects are shared.
    shared = TransformConfig.faithful()
    assert TransformConfig(
        lower_attributes=shared.lower_attributes,
        rewrite=shared.rewrite,
        finalize_ast=shared.finalize_ast,
        flatten_groups=FlattenGroupsConfig(),
    ) == shared
    assert TransformConfig(**phases(rewrite=RewriteConfig(max_iterations=99))) != shared


@pytest.mark.parametrize("other", [1, None, "x", RewriteConfig()])
def test_transform_config_foreign_operands(other):
    cfg = TransformConfig.faithful()
    assert (cfg == other) is False
    assert (cfg != other) is True
    assert TransformConfig.__eq__(cfg, other) is False


# --- pickling ---------------------------------------------------------------


def custom_transform_config():
    cfg = TransformConfig.corpus()
    cfg.rewrite.max_iterations = 2**64 - 1
    cfg.lower_attributes.enabled = False
    return cfg


PICKLED = {
    "parse, every field set": lambda: ParseConfig(True, True, 0),
    "parse, largest depth": lambda: ParseConfig(max_group_depth=2**64 - 1),
    "rewrite": lambda: RewriteConfig(False, 7),
    "flatten": lambda: FlattenGroupsConfig(False, False),
    "transform preset": TransformConfig.equiv,
    "transform, edited phases": custom_transform_config,
}


@pytest.mark.parametrize("make", PICKLED.values(), ids=PICKLED.keys())
@pytest.mark.parametrize("protocol", [0, pickle.HIGHEST_PROTOCOL])
def test_configs_pickle_as_their_values(make, protocol):
    original = make()
    copy = pickle.loads(pickle.dumps(original, protocol))
    assert type(copy) is type(original) and copy is not original
    assert copy == original and repr(copy) == repr(original)
    assert copy_module.deepcopy(original) == original
    clone = copy_module.copy(original)
    assert clone == original and clone is not original


def test_pickled_transform_config_keeps_shared_phases_shared():
    shared = RewriteConfig(max_iterations=5)
    a = TransformConfig(**phases(rewrite=shared))
    b = TransformConfig(**phases(rewrite=shared))
    a2, b2, alone = pickle.loads(pickle.dumps((a, b, shared)))
    assert a2.rewrite is b2.rewrite is alone and alone is not shared
    alone.enabled = False
    assert not a2.rewrite.enabled and shared.enabled


def test_pickled_config_reaches_pool_workers():
    from concurrent.futures import ProcessPoolExecutor

    config = ParseConfig(reject_unknown=True)
    with ProcessPoolExecutor(max_workers=1) as pool:
        assert pool.submit(repr, config).result() == repr(config)
