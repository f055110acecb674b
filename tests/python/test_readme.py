"""The README's Python examples run as scripts and print what their
`print(...)  # text` comments promise, line by line."""

import os
import re
import subprocess
import sys

import pytest

README = os.path.join(os.path.dirname(__file__), "..", "..", "README.md")


def examples():
    if not os.path.exists(README):
        return []
    with open(README, encoding="utf-8") as text:
        return re.findall(r"^```python\n(.*?)^```", text.read(), re.S | re.M)


EXAMPLES = examples()


def promised_output(code):
    return [match.group(1) for line in code.splitlines() if (match := re.match(r"\s*print\(.*?\)\s+# (.*)$", line))]


@pytest.mark.skipif(not EXAMPLES, reason="README.md not found next to the tests")
@pytest.mark.parametrize("code", EXAMPLES, ids=[f"example {i + 1}" for i in range(len(EXAMPLES))])
def test_readme_example(code, tmp_path):
    script = tmp_path / "example.py"
    script.write_text(code, encoding="utf-8")
    # Run outside the checkout, as a script, so that the installed package is
    # imported and a process pool can find the script's functions.
    result = subprocess.run(
        [sys.executable, str(script)], cwd=tmp_path, capture_output=True, text=True, encoding="utf-8", timeout=300
    )
    assert result.returncode == 0, result.stderr
    assert promised_output(code)
    assert result.stdout.splitlines() == promised_output(code)
