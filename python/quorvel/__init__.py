"""Parse, edit, normalise and write LaTeX mathematics."""

from . import _native
from ._native import *  # noqa: F401,F403

__all__ = [name for name in _native.__dict__ if not name.startswith("_")]
