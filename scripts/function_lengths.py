#!/usr/bin/env python3
"""Lists the functions longer than a limit in the C, C++ and Python files given (or in every such
file git tracks outside tests/). Exit status 1 when there is one, so that the suite fails on it.

C and C++ are read by bracket matching, not parsed: a function is a brace block whose header
(the text since the last ';', '{' or '}') has a parameter list and is not a control statement,
a class or a namespace. Comments, strings and preprocessor lines are set aside first."""
import re
import subprocess
import sys

LIMIT = 60
NOT_FUNCTIONS = re.compile(
    r"^\s*(if|for|while|switch|catch|else|do|try|namespace|class|struct|union|enum|extern)\b")


def strip_c(text):
    """The text with comments, strings and preprocessor lines blanked, newlines kept."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i) or (c == "#" and (i == 0 or text[i - 1] == "\n")):
            j = text.find("\n", i)
            while c == "#" and j > 0 and text[j - 1] == "\\":  # continued macro lines
                j = text.find("\n", j + 1)
            j = n if j < 0 else j
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            out.append(c + c)
            i = j + 1
        elif text.startswith('R"', i):
            m = re.match(r'R"([^(]*)\(', text[i:])
            end = text.find(")" + m.group(1) + '"', i) if m else -1
            j = n if end < 0 else end + len(m.group(1)) + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        else:
            out.append(c)
            i += 1
    return "".join(out)


def c_functions(text):
    """(name, first line, line count) of each function body in C or C++ text."""
    code = strip_c(text)
    found, stack = [], []
    header_start = 0
    for i, c in enumerate(code):
        if c == "{":
            header = code[header_start:i]
            is_function = ")" in header and "(" in header and not NOT_FUNCTIONS.match(header) \
                and not re.search(r"=\s*$", header.strip()) and "]" not in header.split("(")[0]
            name = re.findall(r"([\w:~]+)\s*\(", header)
            stack.append((is_function, name[0] if name else "?", code.count("\n", 0, i) + 1))
            header_start = i + 1
        elif c == "}":
            if stack:
                is_function, name, line = stack.pop()
                if is_function and not any(f for f, _, _ in stack):
                    found.append((name, line, code.count("\n", 0, i) + 1 - line + 1))
            header_start = i + 1
        elif c == ";":
            header_start = i + 1
    return found


def python_functions(text):
    lines = text.split("\n")
    found = []
    for i, line in enumerate(lines):
        m = re.match(r"(\s*)(async\s+)?def (\w+)", line)
        if not m:
            continue
        indent, end = len(m.group(1)), i
        for j in range(i + 1, len(lines)):
            stripped = lines[j].strip()
            if stripped and len(lines[j]) - len(lines[j].lstrip()) <= indent:
                break
            if stripped:
                end = j
        found.append((m.group(3), i + 1, end - i + 1))
    return found


def main(paths):
    if not paths:
        listed = subprocess.run(["git", "ls-files", "*.c", "*.cpp", "*.h", "*.hpp", "*.py"],
                                capture_output=True, text=True, check=True).stdout.split()
        paths = [p for p in listed if not p.startswith("tests/") and "/tests/" not in p]
    long_ones = []
    for path in paths:
        with open(path, encoding="utf-8") as f:
            text = f.read()
        functions = python_functions(text) if path.endswith(".py") else c_functions(text)
        long_ones += [(path, *f) for f in functions if f[2] > LIMIT]
    for path, name, line, count in long_ones:
        print(f"{path}:{line}: {name} is {count} lines (at most {LIMIT})")
    return 1 if long_ones else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
