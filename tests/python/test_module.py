import importlib.util
import inspect
import pickle
import subprocess
import sys
import warnings

import pytest

import quorvel
from quorvel import _native

SUBCLASSES = ["ParseError", "EditError", "ConfigError", "TransformError"]


@pytest.mark.parametrize("name", SUBCLASSES)
def test_exception_hierarchy(name):
    cls = getattr(quorvel, name)
    assert cls is getattr(_native, name)
    assert cls.__mro__ == (cls, quorvel.QuorvelError, Exception, BaseException, object)
    assert cls.__module__ == "quorvel"
    assert cls.__qualname__ == name
    with pytest.raises(quorvel.QuorvelError):
        raise cls("x")


def test_base_class():
    assert quorvel.QuorvelError.__module__ == "quorvel"
    assert quorvel.QuorvelError.__qualname__ == "QuorvelError"
    assert quorvel.QuorvelError.__bases__ == (Exception,)


def test_module_doc():
    assert _native.__name__ == "quorvel._native"
    assert _native.__doc__ == (
        "Native extension module loaded as `quorvel._native`.\n"
        "Symbols are re-exported from the Python package's `__init__.py`."
    )


def test_a_second_module_object_shares_the_classes():
    spec = importlib.util.find_spec("quorvel._native")
    again = importlib.util.module_from_spec(spec)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        spec.loader.exec_module(again)
    assert list(vars(again)) == list(vars(_native))
    for name, value in vars(_native).items():
        if isinstance(value, type):
            assert getattr(again, name) is value, name
    assert again.Document.from_syntax(again.Document().to_syntax()).to_latex() == ""


CLASSES = ["ParseConfig", "LowerAttributesConfig", "RewriteConfig", "FinalizeAstConfig", "FlattenGroupsConfig",
           "TransformConfig", "Document", "Parser", "TransformEngine"]


@pytest.mark.parametrize("name", CLASSES)
def test_constructors_are_new_with_the_class_signature(name):
    cls = getattr(quorvel, name)
    signature = inspect.signature(cls)
    assert "(" + str(signature)[1:-1] + ")" == cls.__text_signature__
    assert all(p.annotation is inspect.Parameter.empty for p in signature.parameters.values())
    # The interpreter's own wrappers: no binding-library `__init__` or `__new__`.
    assert type(cls.__dict__["__new__"]).__name__ == "builtin_function_or_method"
    assert type(cls.__dict__["__init__"]).__name__ == "wrapper_descriptor"
    with pytest.raises(TypeError, match=rf"^object\.__new__\({name}\) is not safe"):
        object.__new__(cls)


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: quorvel.TransformEngine(), "TransformEngine.__new__() missing 1 required positional argument: "
                                            "'profile'"),
        (lambda: quorvel.ParseConfig(foo=1), "ParseConfig.__new__() got an unexpected keyword argument 'foo'"),
        (lambda: quorvel.ParseConfig(True, reject_unknown=False),
         "ParseConfig.__new__() got multiple values for argument 'reject_unknown'"),
        (lambda: quorvel.RewriteConfig(True, 1, 2),
         "RewriteConfig.__new__() takes from 0 to 2 positional arguments but 3 were given"),
        (lambda: quorvel.Parser(*[None] * 7), "Parser.__new__() takes from 0 to 6 positional arguments but 7 were "
                                              "given"),
        (lambda: quorvel.Document(None), "Document.__new__() takes 0 positional arguments but 1 was given"),
        (lambda: quorvel.TransformConfig(), "TransformConfig.__new__() missing 1 required keyword-only argument: "
                                            "'lower_attributes'"),
        # Conversion errors name the argument, as before.
        (lambda: quorvel.Parser(1, 2, 3), "argument 'packages': 'int' object cannot be converted to 'Sequence'"),
    ],
)
def test_constructor_argument_errors_are_short(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_init_cannot_construct_again():
    config = quorvel.ParseConfig(True, max_group_depth=3)
    config.__init__(False, max_group_depth="not even valid")
    assert config == quorvel.ParseConfig(True, max_group_depth=3)
    # With every argument optional, `__new__` alone gives a working default.
    assert quorvel.ParseConfig.__new__(quorvel.ParseConfig) == quorvel.ParseConfig()
    assert quorvel.Parser().parse("x", quorvel.ParseConfig.__new__(quorvel.ParseConfig))["diagnostics"] == []


def raised(call):
    try:
        call()
    except quorvel.QuorvelError as error:
        return error
    raise AssertionError("nothing raised")


PRIMES = {"Root": {"mode": "Math", "children": [{"Prime": {"count": 10**7}}]}}
RAISED = {
    "parse with a partial document": lambda: quorvel.TransformEngine("authoring").normalize("x^"),
    "parse without a document": lambda: quorvel.Document.from_syntax(5),
    "parse, message only": lambda: quorvel.serialize(5),
    "config": lambda: quorvel.Parser(packages=["nope"]),
    "edit": lambda: quorvel.Document().remove(quorvel.Document().root()),
    "transform": lambda: quorvel.TransformEngine("authoring").transform(quorvel.Document()),
    "base class": lambda: quorvel.Document.from_syntax(PRIMES).to_latex(),
}


@pytest.mark.parametrize("call", RAISED.values(), ids=RAISED.keys())
def test_exceptions_pickle_with_their_attributes(call):
    error = raised(call)
    copy = pickle.loads(pickle.dumps(error))
    assert type(copy) is type(error)
    assert copy.args == error.args and str(copy) == str(error)
    assert hasattr(copy, "diagnostics") == hasattr(error, "diagnostics")
    assert getattr(copy, "diagnostics", None) == getattr(error, "diagnostics", None)
    if getattr(error, "document", None) is None:
        assert getattr(copy, "document", None) is None
    else:
        assert copy.document.to_syntax() == error.document.to_syntax()
        assert copy.document.has_errors() is True


def test_exit_with_documents_held_by_a_daemon_thread_is_quiet():
    program = (
        "import threading, time, quorvel\n"
        "def hold():\n"
        "    doc = quorvel.Parser().parse('x^2')['document']\n"
        "    node = doc.root()\n"
        "    time.sleep(60)\n"
        "threading.Thread(target=hold, daemon=True).start()\n"
        "time.sleep(0.2)\n"
    )
    result = subprocess.run([sys.executable, "-c", program], capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    assert "leaked" not in result.stderr
