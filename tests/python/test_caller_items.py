"""Caller-declared commands and environments inside open levels: a fence
whose content does not balance its braces, or a text body inside a text
argument that fails to read. Each parse returns its document with
diagnostics, and normalising refuses the faulty source with them."""

import pytest

import quorvel


def command(argspec, allowed_mode):
    return {"target": "command", "name": "cmd", "argspec": argspec, "kind": "prefix", "allowed_mode": allowed_mode}


def environment(argspec):
    return {"target": "environment", "name": "env", "argspec": argspec, "body_mode": "text", "allowed_mode": "math"}


# Each with whether a document comes back: a stray `}` ends a parse.
CASES = [
    (command("r():T", "math"), r"#{\left(\text{}{\cmd(}}\right)c)d\right)}}", True),
    (command("r<(,)><[,]>:T", "math"), r"#{\left(\text{}{\cmd[}}\right)]\right)", True),
    (command("r||:T", "both"), r"&\text{}{{\left[\cmd|d}{\begin{matrix}}}$|}d", True),
    (command("r<(,)><[,]>:T", "math"), r"&{\(\left[{\cmd[\(}}}}\(}\right]}}", True),
    (command("r<(,)><[,]>:T", "both"), r"&{\(\left[{\cmd[\(}}}}\(}\right]}}", True),
    (command("r<[,]>:T", "both"), r"\\{\left(\left(\cmd[}}\)]}}]", False),
    (environment(""), r"{\left\text{\begin{env}{{\end{env}}}}}", True),
    (environment(""), r"{\left(\text{\begin{env}{{\end{env}}}}}", True),
    (environment(""), r"{\left\mbox{\begin{env}{{\end{env}}}}}", True),
    (environment("m:T"), r"{\left\text{\begin{env}{{\end{env}}}}}", True),
]


@pytest.mark.parametrize("item, src, document", CASES)
def test_parse_returns_the_document_with_diagnostics(item, src, document):
    result = quorvel.Parser(items=[item]).parse(src)
    assert result["diagnostics"]
    assert (result["document"] is not None) is document
    if document:
        assert result["document"].has_errors()


@pytest.mark.parametrize("profile", ["faithful", "authoring"])
@pytest.mark.parametrize("item, src, document", CASES)
def test_normalize_refuses_with_diagnostics(item, src, document, profile):
    with pytest.raises(quorvel.ParseError) as refused:
        quorvel.TransformEngine(profile, items=[item]).normalize(src)
    assert refused.value.diagnostics
    assert (refused.value.document is not None) is document
