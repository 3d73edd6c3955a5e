#!/usr/bin/env python3
"""A small mutation tester for src/.

Usage:
  scripts/mutants.py --list
  scripts/mutants.py --sample N --seed S [--build-dir DIR] [--report FILE] [--jobs J] [--resume]

Sites are enumerated in src/**/*.cpp and src/**/*.h, in sorted path order,
outside comments, preprocessor lines, string and character literals, and
code that the Linux build does not compile (#if branches for Windows).
Operators:
  rel        ==  <->  !=,  <= -> >,  >= -> <,  and a single < -> >=, > -> <=
             only when written as a comparison: blank on both sides, not after
             `template` or `operator` (templates and casts are written without
             the blanks, e.g. std::vector<int>, static_cast<T>(x))
  logic      && <-> || (&& only with blanks on both sides: not an rvalue reference)
  bool       true <-> false
  int        integer literal n -> n+1, decimal or hex (not in static_assert,
             alignas, or the size of an array declaration)
  stmt-del   deletes a line that is one whole simple statement: a call, an
             assignment, ++x / x++ (not a declaration, return, break,
             continue, nor a line in a multi-line statement or the body of an
             if/for/while/else without braces)

--sample N --seed S takes the first N sites of the list of all sites shuffled
with random.Random(S).shuffle(); they run in that order, so any prefix of a run
is itself a uniform sample, and a larger N only adds mutants (--resume).
Each mutant is written into the working tree, the build directory (warnings
not treated as errors: VXDIAG_WERROR=OFF) is built incrementally and ctest runs with --stop-on-failure; the original bytes are
always written back. Outcomes: killed (a test failed), timeout (a test or
the whole ctest run timed out; counts as killed), survived, no-build (does
not compile; not scored), error (the build or ctest was ended by a signal
from outside, three times; not scored).
Python 3 standard library only.
"""

from __future__ import annotations

import argparse
import collections
import dataclasses
import os
import random
import re
import signal
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
OPERATORS = ("rel", "logic", "bool", "int", "stmt-del")

PUNCTUATORS = sorted(
    """<=> <<= >>= ->* ... :: -> ++ -- << >> <= >= == != && || += -= *= /= %= &= |= ^= .* ##""".split(),
    key=len,
    reverse=True,
)

KEYWORDS = set(
    """alignas alignof and and_eq asm auto bitand bitor bool break case catch char char8_t char16_t
    char32_t class compl concept const consteval constexpr constinit const_cast continue co_await
    co_return co_yield decltype default delete do double dynamic_cast else enum explicit export
    extern false float for friend goto if inline int long mutable namespace new noexcept not not_eq
    nullptr operator or or_eq private protected public register reinterpret_cast requires return
    short signed sizeof static static_assert static_cast struct switch template thread_local
    throw true try typedef typeid typename union unsigned using virtual void volatile wchar_t while
    xor xor_eq""".split()
)

ASSIGNMENT_OPS = {"=", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=", "<<=", ">>="}

REL_FLIP = {"==": "!=", "!=": "==", "<": ">=", ">=": "<", ">": "<=", "<=": ">"}

# Macros as the Linux gcc build sees them; others make an #if undecidable,
# and undecidable branches count as compiled.
LINUX_DEFINED = {"__unix__", "__linux__", "__GNUC__", "__x86_64__", "__cplusplus", "__ELF__"}
LINUX_UNDEFINED = {"_WIN32", "_WIN64", "WIN32", "_MSC_VER", "__APPLE__", "__MINGW32__",
                   "__MINGW64__", "__CYGWIN__", "_WINDOWS"}


@dataclasses.dataclass
class Token:
    kind: str  # ident, number, string, punct
    text: str
    start: int
    end: int
    line: int
    compiled: bool


@dataclasses.dataclass
class Site:
    path: str  # relative to the root
    line: int
    start: int
    end: int
    op: str
    original: str
    replacement: str

    def key(self) -> str:
        return f"{self.path}:{self.line}:{self.start}:{self.op}"


# ---------------------------------------------------------------------------
# Tokenizer


class PreprocessorState:
    """Tracks #if/#else/#endif to tell whether code is compiled on Linux."""

    def __init__(self) -> None:
        self.stack: list[list[bool]] = []  # [parent compiled, branch taken, current compiled]
        self.defined: set[str] = set()

    @property
    def compiled(self) -> bool:
        return not self.stack or self.stack[-1][2]

    def _eval(self, expr: str) -> bool | None:
        def lookup(name: str) -> str:
            if name in self.defined or name in LINUX_DEFINED:
                return " 1 "
            if name in LINUX_UNDEFINED:
                return " 0 "
            raise KeyError(name)

        try:
            expr = re.sub(r"defined\s*\(\s*(\w+)\s*\)|defined\s+(\w+)",
                          lambda m: lookup(m.group(1) or m.group(2)), expr)
        except KeyError:
            return None
        expr = re.sub(r"//.*|/\*.*?\*/", " ", expr)
        if not re.fullmatch(r"[\s01()!&|]*", expr):
            return None
        expr = expr.replace("&&", " and ").replace("||", " or ")
        expr = re.sub(r"!(?!=)", " not ", expr)
        try:
            return bool(eval(expr, {"__builtins__": {}}, {}))  # only 0, 1, and/or/not, parentheses
        except Exception:
            return None

    def directive(self, text: str) -> None:
        m = re.match(r"#\s*(\w+)\s*(.*)", text, re.S)
        if not m:
            return
        name, rest = m.group(1), m.group(2).replace("\\\n", " ").strip()
        if name in ("if", "ifdef", "ifndef"):
            if name == "ifdef":
                value = self._eval(f"defined({rest.split()[0]})") if rest else None
            elif name == "ifndef":
                value = self._eval(f"!defined({rest.split()[0]})") if rest else None
            else:
                value = self._eval(rest)
            active = True if value is None else value
            parent = self.compiled
            self.stack.append([parent, active, parent and active])
        elif name == "elif" and self.stack:
            frame = self.stack[-1]
            value = self._eval(rest)
            active = (not frame[1]) and (True if value is None else value)
            frame[1] = frame[1] or active
            frame[2] = frame[0] and active
        elif name == "else" and self.stack:
            frame = self.stack[-1]
            active = not frame[1]
            frame[1] = True
            frame[2] = frame[0] and active
        elif name == "endif" and self.stack:
            self.stack.pop()
        elif name == "define" and self.compiled:
            word = re.match(r"(\w+)", rest)
            if word:
                self.defined.add(word.group(1))


def tokenize(text: str) -> list[Token]:
    tokens: list[Token] = []
    pp = PreprocessorState()
    i, n, line = 0, len(text), 1
    line_start = True  # only blanks since the last newline
    while i < n:
        c = text[i]
        if c == "\n":
            line += 1
            i += 1
            line_start = True
            continue
        if c in " \t\r\f\v":
            i += 1
            continue
        if c == "\\" and text.startswith("\n", i + 1):
            i += 2
            line += 1
            continue
        if text.startswith("//", i):
            j = text.find("\n", i)
            i = n if j < 0 else j
            continue
        if text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            line += text.count("\n", i, j)
            i = j
            continue
        if c == "#" and line_start:
            j = i
            while True:
                k = text.find("\n", j)
                if k < 0:
                    k = n
                    break
                if text[k - 1] == "\\":
                    j = k + 1
                    continue
                break
            directive = text[i:k]
            pp.directive(directive)
            line += directive.count("\n")
            i = k
            continue
        line_start = False
        start, start_line = i, line
        m = re.compile(r"[A-Za-z_]\w*").match(text, i)
        if m:
            word = m.group(0)
            j = m.end()
            if j < n and text[j] == '"' and word in ("R", "u8R", "uR", "UR", "LR"):
                close = text.find("(", j)
                delim = text[j + 1:close]
                end = text.find(")" + delim + '"', close)
                end = n if end < 0 else end + len(delim) + 2
                line += text.count("\n", i, end)
                tokens.append(Token("string", text[i:end], i, end, start_line, pp.compiled))
                i = end
                continue
            if j < n and text[j] in "\"'" and word in ("u8", "u", "U", "L"):
                i = j  # the literal follows; the prefix is part of it
                end = _skip_quoted(text, i)
                tokens.append(Token("string", text[start:end], start, end, start_line, pp.compiled))
                i = end
                continue
            tokens.append(Token("ident", word, i, j, line, pp.compiled))
            i = j
            continue
        if c.isdigit() or (c == "." and i + 1 < n and text[i + 1].isdigit()):
            m = re.compile(r"\.?\d(?:[eEpP][+-]|'[0-9A-Za-z_]|[\w.])*").match(text, i)
            tokens.append(Token("number", m.group(0), i, m.end(), line, pp.compiled))
            i = m.end()
            continue
        if c in "\"'":
            end = _skip_quoted(text, i)
            line += text.count("\n", i, end)
            tokens.append(Token("string", text[i:end], i, end, start_line, pp.compiled))
            i = end
            continue
        for p in PUNCTUATORS:
            if text.startswith(p, i):
                break
        else:
            p = c
        tokens.append(Token("punct", p, i, i + len(p), line, pp.compiled))
        i += len(p)
    return tokens


def _skip_quoted(text: str, i: int) -> int:
    quote = text[i]
    j = i + 1
    while j < len(text):
        if text[j] == "\\":
            j += 2
            continue
        if text[j] == quote or text[j] == "\n":
            return j + 1
        j += 1
    return len(text)


# ---------------------------------------------------------------------------
# Sites


def _spaced(text: str, tok: Token) -> bool:
    return (tok.start > 0 and text[tok.start - 1].isspace()
            and tok.end < len(text) and text[tok.end].isspace())


def _increment_literal(literal: str) -> str | None:
    m = re.fullmatch(r"0[xX]([0-9A-Fa-f']+)([uUlLzZ]*)", literal)
    if m:
        digits = m.group(1).replace("'", "")
        value = int(digits, 16) + 1
        new = format(value, "X" if digits.upper() == digits and digits.lower() != digits else "x")
        return literal[:2] + new.rjust(len(digits), "0") + m.group(2)
    m = re.fullmatch(r"([1-9][0-9']*|0)([uUlLzZ]*|_\w+|h|min|s|ms|us|ns)", literal)
    if m:
        value = int(m.group(1).replace("'", "")) + 1
        return str(value) + (m.group(2) or "")
    return None  # octal, binary, floating point


def _enclosing_call_names(tokens: list[Token]) -> list[str | None]:
    """For each token, the identifier before the innermost enclosing '(': "" when no
    identifier is there, None outside parentheses."""
    result: list[str | None] = []
    stack: list[str | None] = []
    for k, tok in enumerate(tokens):
        result.append(stack[-1] if stack else None)
        if tok.text == "(":
            prev = tokens[k - 1].text if k > 0 and tokens[k - 1].kind == "ident" else ""
            # inherit: anything nested in static_assert(...) stays inside it
            if stack and stack[-1] in ("static_assert", "alignas"):
                prev = stack[-1]
            stack.append(prev)
        elif tok.text == ")" and stack:
            stack.pop()
    return result


def _code_scopes(tokens: list[Token]) -> list[bool]:
    """For each token, whether its innermost braces are a function, lambda or
    block body (not a class, enum, namespace or braced initializer)."""
    result: list[bool] = []
    stack: list[bool] = []
    for k, tok in enumerate(tokens):
        result.append(bool(stack) and stack[-1])
        if tok.text == "{":
            # the tokens since the start of this statement, at this nesting
            j, depth, head = k - 1, 0, []
            while j >= 0:
                t = tokens[j].text
                if t in (")", "]"):
                    depth += 1
                elif t in ("(", "["):
                    if depth == 0:
                        break
                    depth -= 1
                elif depth == 0 and t in (";", "{", "}"):
                    break
                if depth == 0 or t in (")", "]"):
                    head.append(t)
                j -= 1
            if j >= 0 and tokens[j].text in ("(", "["):
                code = False  # a braced value inside a call or subscript
            elif any(t in ("class", "struct", "union", "enum", "namespace") for t in head):
                code = False
            elif not head or ")" in head or tokens[k - 1].text == "]" or head[-1] in ("else", "do", "try") or head[0] in (
                    "else", "do", "try", "const", "noexcept", "override", "final", "mutable"):
                code = True
            else:
                code = False  # = {...}, Type{...}, extern "C" {
            stack.append(code)
        elif tok.text == "}" and stack:
            stack.pop()
    return result


def _is_array_size(tokens: list[Token], k: int) -> bool:
    """tokens[k] is the only token in `type name[N]` of a declaration."""
    if k < 3 or k + 2 >= len(tokens):
        return False
    if tokens[k - 1].text != "[" or tokens[k + 1].text != "]":
        return False
    if tokens[k + 2].text not in (";", "=", "{", "[", ")", ","):
        return False
    name, before = tokens[k - 2], tokens[k - 3]
    if name.kind != "ident" or name.text in KEYWORDS:
        return False
    # a declaration has a type (or a * & > of one) just before the name
    return (before.kind == "ident" and before.text not in ("return", "case", "throw", "co_return")
            and before.text not in ("delete", "new")) or before.text in ("*", "&", ">", "&&")


def _is_template_argument(tokens: list[Token], k: int) -> bool:
    """The last argument of a template, as in std::array<std::uint8_t, 4>."""
    return (0 < k < len(tokens) - 1 and tokens[k + 1].text in (">", ">>")
            and tokens[k + 1].start == tokens[k].end and tokens[k - 1].text in (",", "<"))


def _is_pure_specifier(tokens: list[Token], k: int) -> bool:
    """The 0 of `virtual ... ) const = 0;`."""
    return (tokens[k].text == "0" and 2 <= k < len(tokens) - 1 and tokens[k - 1].text == "="
            and tokens[k + 1].text == ";"
            and tokens[k - 2].text in (")", "const", "override", "noexcept", "final"))


def _statement_site(tokens: list[Token], first: int, last: int) -> bool:
    """tokens[first..last] (one whole line) is one simple statement."""
    if tokens[last].text != ";":
        return False
    line = tokens[first:last + 1]
    if sum(1 for t in line if t.text == ";") != 1:
        return False
    prev = tokens[first - 1].text if first > 0 else "{"
    if prev not in (";", "{", "}", ":"):
        return False  # inside a multi-line statement, or the body of a brace-less if/else/for
    if prev == ":" and first >= 2 and tokens[first - 2].text in ("?",):
        return False
    depth = 0
    for t in line:
        if t.text in "([{":
            depth += 1
        elif t.text in ")]}":
            depth -= 1
            if depth < 0:
                return False
    if depth != 0:
        return False
    k = first
    if line[0].text in ("++", "--"):
        k += 1
    # an identifier chain: a, a.b, a->b, a::b, a[i]
    if tokens[k].kind != "ident" or (tokens[k].text in KEYWORDS and tokens[k].text != "this"):
        return False
    k += 1
    while k < last:
        t = tokens[k].text
        if t in ("::", ".", "->") and tokens[k + 1].kind == "ident" and tokens[k + 1].text not in KEYWORDS:
            k += 2
        elif t == "[":
            depth = 0
            while k < last:
                if tokens[k].text == "[":
                    depth += 1
                elif tokens[k].text == "]":
                    depth -= 1
                    if depth == 0:
                        break
                k += 1
            k += 1
        else:
            break
    t = tokens[k].text
    if line[0].text in ("++", "--"):
        return t == ";"
    if t == "(":
        # a call is written name(...); `T (*f)()` and `T(const T&) = delete` declare
        return tokens[k].start == tokens[k - 1].end and not (
            last >= 2 and tokens[last - 2].text == "=" and tokens[last - 1].text in ("delete", "default"))
    return t in ASSIGNMENT_OPS or (t in ("++", "--") and tokens[k + 1].text == ";")


def find_sites(rel_path: str, text: str) -> list[Site]:
    tokens = tokenize(text)
    calls = _enclosing_call_names(tokens)
    in_code = _code_scopes(tokens)
    sites: list[Site] = []

    def add(tok: Token, op: str, replacement: str) -> None:
        sites.append(Site(rel_path, tok.line, tok.start, tok.end, op, tok.text, replacement))

    for k, tok in enumerate(tokens):
        if not tok.compiled or calls[k] in ("static_assert", "alignas"):
            continue
        prev = tokens[k - 1].text if k > 0 else ""
        if tok.kind == "punct":
            if tok.text in ("==", "!=", "<=", ">=") and prev != "operator":
                add(tok, "rel", REL_FLIP[tok.text])
            elif tok.text in ("<", ">") and prev not in ("operator", "template") and _spaced(text, tok):
                add(tok, "rel", REL_FLIP[tok.text])
            elif tok.text == "||" and prev != "operator":
                add(tok, "logic", "&&")
            elif tok.text == "&&" and prev != "operator" and _spaced(text, tok):
                add(tok, "logic", "||")
        elif tok.kind == "ident" and tok.text in ("true", "false"):
            add(tok, "bool", "false" if tok.text == "true" else "true")
        elif tok.kind == "number" and not _is_array_size(tokens, k) and not _is_template_argument(tokens, k) \
                and not _is_pure_specifier(tokens, k):
            new = _increment_literal(tok.text)
            if new is not None:
                add(tok, "int", new)

    # statement deletion: whole lines
    by_line: dict[int, list[int]] = collections.defaultdict(list)
    for k, tok in enumerate(tokens):
        by_line[tok.line].append(k)
    for line_no in sorted(by_line):
        ks = by_line[line_no]
        first, last = ks[0], ks[-1]
        if not all(tokens[k].compiled for k in ks):
            continue
        if any(tokens[k].line != line_no or "\n" in tokens[k].text for k in ks):
            continue
        if first > 0 and tokens[first - 1].line == line_no:
            continue
        if last + 1 < len(tokens) and tokens[last + 1].line == line_no:
            continue
        if calls[first] is not None or not in_code[first]:
            continue
        if _statement_site(tokens, first, last):
            start, end = tokens[first].start, tokens[last].end
            sites.append(Site(rel_path, line_no, start, end, "stmt-del", text[start:end], ""))
    sites.sort(key=lambda s: (s.start, s.op))
    return sites


def all_sites(root: Path) -> list[Site]:
    files = sorted(p for p in (root / "src").rglob("*") if p.suffix in (".cpp", ".h") and p.is_file())
    sites: list[Site] = []
    for path in sorted(files, key=lambda p: p.relative_to(root).as_posix()):
        rel = path.relative_to(root).as_posix()
        sites.extend(find_sites(rel, path.read_bytes().decode("utf-8")))
    return sites


def apply(text: str, site: Site) -> str:
    assert text[site.start:site.end] == site.original, site
    return text[:site.start] + site.replacement + text[site.end:]


def describe(text: str, site: Site) -> str:
    line_start = text.rfind("\n", 0, site.start) + 1
    line_end = text.find("\n", site.end)
    line_end = len(text) if line_end < 0 else line_end
    before = text[line_start:line_end].strip()
    mutated = apply(text, site)
    after_end = line_end - (len(site.original) - len(site.replacement))
    after = mutated[line_start:after_end].strip() or "(line deleted)"
    return f"{_clip(before)} \u2192 {_clip(after)}"


def _clip(s: str, width: int = 110) -> str:
    s = re.sub(r"\s+", " ", s)
    return s if len(s) <= width else s[: width - 3] + "..."


# ---------------------------------------------------------------------------
# Running


class Interrupted(Exception):
    pass


def _on_signal(signum, frame):  # noqa: ARG001
    raise Interrupted(f"signal {signum}")


def run(cmd: list[str], timeout: float | None = None, cwd: Path | None = None) -> tuple[int, str, bool]:
    """Returns (exit status, output, timed out); the whole process group is killed on timeout."""
    proc = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            stdin=subprocess.DEVNULL, text=True, errors="replace",
                            start_new_session=True)
    try:
        out, _ = proc.communicate(timeout=timeout)
        return proc.returncode, out, False
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        out, _ = proc.communicate()
        return -9, out, True
    except BaseException:
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        proc.wait()
        raise


# ctest's progress lines, in the order the tests ended; a failed one is marked
# ***, e.g. "***Failed  0.02 sec", "***Exception: SegFault  0.1 sec",
# "***Timeout 120.0 sec", "***Failed  Required regular expression not found...".
TEST_LINE = re.compile(r"Test\s+#\d+:\s+(\S+)\s+\.*\s*\*\*\*([^\n]*)")
FAILED_LIST = re.compile(r"^\s+\d+ - (\S+) \(([^)\n]*)\)$", re.M)


def failed_tests(output: str) -> list[str]:
    """Failing tests, first to end first, e.g. "Name", "Name (Timeout)"."""
    names = []
    for m in TEST_LINE.finditer(output):
        status = re.split(r"\s{2,}|\s+[\d.]+ sec", m.group(2).strip())[0].strip()
        if status.startswith(("Skipped", "Not Run (Disabled)")):
            continue
        names.append(m.group(1) + ("" if status.startswith("Failed") else f" ({status})"))
    if not names and "The following tests FAILED:" in output:  # progress lines cut: the closing list
        for m in FAILED_LIST.finditer(output.split("The following tests FAILED:")[-1]):
            status = m.group(2)
            if not status.startswith(("Skipped", "Not Run (Disabled)")):
                names.append(m.group(1) + ("" if status == "Failed" else f" ({status})"))
    return names


class Runner:
    def __init__(self, root: Path, build_dir: Path, jobs: int, log_dir: Path):
        self.root, self.build_dir, self.jobs, self.log_dir = root, build_dir, jobs, log_dir
        self.suite_seconds = 0.0

    def build(self) -> tuple[int, str, bool]:
        return run(["cmake", "--build", str(self.build_dir), "-j2"], timeout=3600)

    def ctest(self, timeout: float | None) -> tuple[int, str, bool]:
        return run(["ctest", "--test-dir", str(self.build_dir), "-j", str(self.jobs), "--timeout", "120",
                    "--stop-on-failure", "-LE", "fuzz"], timeout=timeout)

    def configure_if_missing(self) -> None:
        # Warnings are not errors here: a mutant that only draws a warning
        # (e.g. -Wparentheses after && -> ||) is still built and tested.
        cache = self.build_dir / "CMakeCache.txt"
        if cache.exists():
            if "VXDIAG_WERROR:BOOL=ON" not in cache.read_text(errors="replace"):
                return
            print(f"mutants: {self.build_dir}: setting VXDIAG_WERROR=OFF", flush=True)
            args = ["cmake", "-B", str(self.build_dir), "-DVXDIAG_WERROR=OFF"]
        else:
            print(f"mutants: configuring {self.build_dir}", flush=True)
            args = ["cmake", "-S", str(self.root), "-B", str(self.build_dir), "-G", "Ninja",
                    "-DCMAKE_BUILD_TYPE=Debug", "-DVXDIAG_SANITIZE=", "-DBUILD_TESTING=ON",
                    "-DVXDIAG_FUZZ=OFF", "-DVXDIAG_WERROR=OFF"]
        rc, out, _ = run(args)
        if rc != 0:
            sys.exit(f"mutants: configure failed:\n{out[-3000:]}")

    def check_unmutated(self) -> None:
        t0 = time.monotonic()
        rc, out, _ = self.build()
        if rc != 0:
            sys.exit(f"mutants: the unmutated tree does not build:\n{out[-3000:]}")
        build_seconds = time.monotonic() - t0
        t0 = time.monotonic()
        rc, out, _ = self.ctest(timeout=None)
        self.suite_seconds = time.monotonic() - t0
        (self.log_dir / "unmutated.log").write_text(out)
        if rc != 0:
            sys.exit(f"mutants: the unmutated tree fails its tests: {', '.join(failed_tests(out)) or out[-2000:]}")
        total = re.search(r"tests passed, \d+ tests? failed out of (\d+)", out)
        print(f"mutants: unmutated tree: build {build_seconds:.0f} s, {total.group(1) if total else '?'} tests "
              f"pass in {self.suite_seconds:.0f} s", flush=True)

    def mutant(self, ident: str, site: Site) -> tuple[str, str, str]:
        """mutant_once, again (twice at most) when a signal from outside ended the build or ctest."""
        for _ in range(3):
            outcome, test, detail = self.mutant_once(ident, site)
            if outcome != "error":
                return outcome, test, detail
            print(f"mutants: {ident}: {detail}; again", flush=True)
        return outcome, test, detail

    def mutant_once(self, ident: str, site: Site) -> tuple[str, str, str]:
        """Applies, builds, tests, restores. Returns (outcome, first failing test, detail)."""
        path = self.root / site.path
        original = path.read_bytes()
        text = original.decode("utf-8")
        log_file = self.log_dir / f"{ident}.log"
        try:
            path.write_bytes(apply(text, site).encode("utf-8"))
            rc, out, timed_out = self.build()
            log_file.write_text(out)
            if rc < 0 and not timed_out:
                return "error", "-", f"the build was ended by signal {-rc}"
            if rc != 0:
                if "Error running test executable" in out or "gtest_discover_tests" in out and "error:" not in out:
                    return "killed", "(test discovery at build time)", ""
                return "no-build", "-", "build timed out" if timed_out else ""
            limit = max(3 * self.suite_seconds + 300, 600)
            # A failure is confirmed by running the failing test again alone:
            # some tests measure time, and the machine is shared. Unconfirmed,
            # the whole suite runs once more.
            unconfirmed = ""
            for _ in range(2):
                rc, out, timed_out = self.ctest(timeout=limit)
                with log_file.open("a") as f:
                    f.write(out)
                failures = failed_tests(out)
                if timed_out:
                    return "timeout", failures[0] if failures else f"(ctest over {limit:.0f} s)", ""
                if rc < 0:
                    return "error", "-", f"ctest was ended by signal {-rc}"
                if rc == 0:
                    return "survived", "-", f"{unconfirmed} failed once, passed alone" if unconfirmed else ""
                if not failures:
                    return "killed", f"(ctest exit {rc})", ""
                if failures[0].endswith("(Timeout)"):
                    return "timeout", failures[0], ""
                name = failures[0].split(" (")[0]
                rc, again, _ = run(["ctest", "--test-dir", str(self.build_dir), "--timeout", "120",
                                    "-R", "^" + re.escape(name) + "$"], timeout=limit)
                with log_file.open("a") as f:
                    f.write(again)
                if rc != 0:
                    return "killed", failures[0], ""
                unconfirmed = name
            return "killed", failures[0], "failed in the suite twice, passed alone"
        finally:
            # Ctrl-C or SIGTERM must not cut the restore short.
            blocked = signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT, signal.SIGTERM})
            try:
                path.write_bytes(original)
            finally:
                signal.pthread_sigmask(signal.SIG_SETMASK, blocked)


# ---------------------------------------------------------------------------
# Main


def print_list(sites: list[Site]) -> None:
    per_file: dict[str, collections.Counter] = collections.defaultdict(collections.Counter)
    for s in sites:
        per_file[s.path][s.op] += 1
    header = f"{'file':<44}" + "".join(f"{op:>9}" for op in OPERATORS) + f"{'total':>9}"
    print(header)
    totals: collections.Counter = collections.Counter()
    for path in sorted(per_file):
        c = per_file[path]
        totals.update(c)
        print(f"{path:<44}" + "".join(f"{c[op]:>9}" for op in OPERATORS) + f"{sum(c.values()):>9}")
    print(f"{'all ' + str(len(per_file)) + ' files':<44}" + "".join(f"{totals[op]:>9}" for op in OPERATORS)
          + f"{sum(totals.values()):>9}")


def read_done(report: Path) -> dict[str, tuple[str, str]]:
    done: dict[str, tuple[str, str]] = {}
    if not report.exists():
        return done
    for line in report.read_text().splitlines():
        cols = line.split("\t")
        if len(cols) >= 6 and re.fullmatch(r"M\d+", cols[0]):
            done[cols[0]] = (cols[1], cols[4])
    return done


def git(root: Path, *args: str) -> tuple[int, str]:
    proc = subprocess.run(["git", "-C", str(root), *args], capture_output=True, text=True)
    return proc.returncode, proc.stdout.strip()


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--list", action="store_true", help="print the site count per file and per operator")
    parser.add_argument("--sites", action="store_true", help="print every site (with --list)")
    parser.add_argument("--sample", type=int, help="number of mutants to run")
    parser.add_argument("--seed", type=int, default=1, help="seed of random.Random (default 1)")
    parser.add_argument("--build-dir", default="build/mutants",
                        help="non-sanitized Linux build with tests, configured and built when missing, "
                             "with VXDIAG_WERROR=OFF (default build/mutants, relative to the repository root)")
    parser.add_argument("--report", default="mutants-report.txt", help="report file (default mutants-report.txt)")
    parser.add_argument("--jobs", type=int, default=2, help="ctest parallelism (default 2)")
    parser.add_argument("--resume", action="store_true",
                        help="keep the mutants already in the report (same seed and sample) and run the rest")
    args = parser.parse_args()

    sites = all_sites(ROOT)
    if args.list:
        print_list(sites)
        if args.sites:
            texts = {}
            for s in sites:
                texts.setdefault(s.path, (ROOT / s.path).read_text())
                print(f"{s.path}:{s.line}\t{s.op}\t{describe(texts[s.path], s)}")
        return 0
    if not args.sample:
        parser.error("--list or --sample N is required")

    rc, _ = git(ROOT, "diff", "--quiet", "--", "src")
    if rc != 0:
        sys.exit("mutants: src/ has uncommitted changes; commit or stash them first")

    # A prefix of one shuffle: the first N of a larger sample are the sample of N.
    order = list(range(len(sites)))
    random.Random(args.seed).shuffle(order)
    chosen = [sites[i] for i in order[:args.sample]]
    build_dir = Path(args.build_dir)
    if not build_dir.is_absolute():
        build_dir = ROOT / build_dir
    report = Path(args.report).resolve()
    log_dir = build_dir / "mutant-logs"
    signal.signal(signal.SIGTERM, _on_signal)
    signal.signal(signal.SIGINT, _on_signal)
    signal.signal(signal.SIGHUP, signal.SIG_IGN)

    done = read_done(report) if args.resume else {}
    runner = Runner(ROOT, build_dir, args.jobs, log_dir)
    runner.configure_if_missing()
    log_dir.mkdir(parents=True, exist_ok=True)
    runner.check_unmutated()

    _, head = git(ROOT, "rev-parse", "--short", "HEAD")
    counts: collections.Counter = collections.Counter()
    start = time.monotonic()
    if done:
        with report.open("a") as f:
            f.write(f"# resumed at {head}: {len(done)} mutants kept, sample {len(chosen)}\n")
    else:
        with report.open("w") as f:
            f.write(f"# mutants of {ROOT}/src at {head}: seed {args.seed}, {len(chosen)} of {len(sites)} sites, "
                    f"build {build_dir}\n")
            f.write("# id\tfile:line\toperator\toriginal \u2192 mutated\toutcome\tfirst failing test\tseconds\n")
    status = 0
    ran = 0
    try:
        for n, site in enumerate(chosen, 1):
            ident = f"M{n:03d}"
            where = f"{site.path}:{site.line}"
            if ident in done:
                if done[ident][0] != where:
                    sys.exit(f"mutants: {report} does not match this sample ({ident} is {done[ident][0]}, "
                             f"here {where})")
                counts[done[ident][1]] += 1
                continue
            if git(ROOT, "status", "--porcelain", "--untracked-files=no", "--", "src")[1]:
                print("mutants: src/ changed during the run (not by this script); stopping", flush=True)
                status = 1
                break
            text = (ROOT / site.path).read_text()
            change = describe(text, site)
            t0 = time.monotonic()
            outcome, test, detail = runner.mutant(ident, site)
            seconds = time.monotonic() - t0
            counts[outcome] += 1
            with report.open("a") as f:
                f.write(f"{ident}\t{where}\t{site.op}\t{change}\t{outcome}\t{test}\t{seconds:.0f}"
                        + (f"\t{detail}" if detail else "") + "\n")
            ran += 1
            elapsed = time.monotonic() - start
            left = elapsed / ran * (len(chosen) - n)
            print(f"[{n}/{len(chosen)}] {ident} {where} {site.op}: {outcome}"
                  + (f" ({test})" if test != "-" else "") + f"  {seconds:.0f} s, elapsed {elapsed / 60:.1f} min,"
                  f" about {left / 60:.0f} min left", flush=True)
    except (KeyboardInterrupt, Interrupted) as e:
        print(f"mutants: interrupted ({e or 'Ctrl-C'}); the file under mutation was restored", flush=True)
        status = 130
    finally:
        rc, out = git(ROOT, "diff", "--stat", "--", "src")
        clean = git(ROOT, "diff", "--quiet", "--", "src")[0] == 0
        scored = counts["killed"] + counts["timeout"] + counts["survived"]
        killed = counts["killed"] + counts["timeout"]
        score = f"{100.0 * killed / scored:.1f}%" if scored else "n/a"
        summary = (f"# score: {score} killed ({killed}/{scored}, timeouts count as killed); "
                   f"killed {counts['killed']}, timeout {counts['timeout']}, survived {counts['survived']}, "
                   f"no-build {counts['no-build']}"
                   + (f", error {counts['error']}" if counts["error"] else "")
                   + f"; {sum(counts.values())} of {len(chosen)} mutants run"
                   + ("" if status == 0 else " (interrupted)"))
        with report.open("a") as f:
            f.write(summary + "\n")
        print(summary.lstrip("# "), flush=True)
        if not clean:
            print(f"mutants: ERROR: src/ is not clean after the run:\n{out}", flush=True)
            status = 1
        else:
            print("mutants: src/ is clean (git diff --quiet -- src)", flush=True)
    return status


if __name__ == "__main__":
    sys.exit(main())
