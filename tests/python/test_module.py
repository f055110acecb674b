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
