"""The README's code, run as it is printed there: the tests and the
benchmark exercise the very text a reader copies."""

import pathlib
import re

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"


def readme_function(name):
    """The function `name` defined by the README's one Python block that
    defines it, executed in a namespace of its own."""
    blocks = re.findall(r"^```python\n(.*?)^```$", README.read_text(encoding="utf-8"),
                        re.DOTALL | re.MULTILINE)
    [code] = [block for block in blocks if f"\ndef {name}(" in block]
    namespace = {"__name__": f"readme.{name}"}
    exec(compile(code, f"{README}:{name}", "exec"), namespace)
    return namespace[name]
