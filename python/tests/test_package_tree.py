"""The package's modules form a tree: no module imports one that imports it back, and none
reaches into another's private names (the house style: pyserial's back ends import only
serialutil)."""

import ast
from pathlib import Path
from typing import Dict, Set

import korvelan380

PACKAGE = Path(korvelan380.__file__).resolve().parent
# Private names of ctypes' own that its documentation gives to users: a library's handle and
# name, and a structure's fields.
CTYPES_NAMES = {"_handle", "_name", "_fields_"}


def modules() -> Dict[str, ast.Module]:
    return {path.stem: ast.parse(path.read_text(encoding="utf-8")) for path in PACKAGE.glob("*.py")}


def package_imports(tree: ast.Module) -> Dict[str, Set[str]]:
    """The package's modules one module imports (TYPE_CHECKING and in-function imports too),
    each with the names it takes from it."""
    found: Dict[str, Set[str]] = {}
    for node in ast.walk(tree):
        if isinstance(node, ast.ImportFrom) and node.level == 1:
            if node.module is None:  # from . import a, b
                for alias in node.names:
                    found.setdefault(alias.name, set())
            else:
                found.setdefault(node.module, set()).update(a.name for a in node.names)
    return found


def own_private_names(tree: ast.Module) -> Set[str]:
    """The private names a module defines: its functions, classes and globals, and the
    attributes it sets."""
    names = set()
    for node in ast.walk(tree):
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            names.add(node.name)
        elif isinstance(node, ast.Name) and isinstance(node.ctx, ast.Store):
            names.add(node.id)
        elif isinstance(node, ast.Attribute) and isinstance(node.ctx, ast.Store):
            names.add(node.attr)
    return {name for name in names if name.startswith("_")}


def private_uses(tree: ast.Module) -> Set[str]:
    """The private attributes a module reads of anything but itself (self, cls)."""
    return {
        node.attr
        for node in ast.walk(tree)
        if isinstance(node, ast.Attribute)
        and node.attr.startswith("_")
        and not node.attr.startswith("__")
        and not (isinstance(node.value, ast.Name) and node.value.id in ("self", "cls"))
    }


def test_no_module_imports_one_that_imports_it_back():
    graph = {name: set(package_imports(tree)) for name, tree in modules().items()}
    done: Set[str] = set()

    def visit(name, path):
        assert name not in path, "import cycle: " + " -> ".join(path + [name])
        if name in done:
            return
        for imported in graph.get(name, ()):
            visit(imported, path + [name])
        done.add(name)

    for name in graph:
        visit(name, [])


def test_no_module_takes_another_modules_private_names():
    for name, tree in modules().items():
        for module, names in package_imports(tree).items():
            private = sorted(n for n in names if n.startswith("_"))
            assert not private, f"{name} imports {private} from {module}"


def test_private_attributes_are_read_only_where_they_are_defined():
    for name, tree in modules().items():
        foreign = private_uses(tree) - own_private_names(tree) - CTYPES_NAMES
        assert not foreign, f"{name} reads private attributes it does not define: {foreign}"
