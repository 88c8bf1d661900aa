"""The message boxes of the whole-program scenarios, read from the screen by the box tool: the
fatal report's two lines checked against the executable that made it (its code sections, and
the function at the offset when the build's symbol tool is given), and the report closed."""

import ast
import os
import re
import subprocess

from .suite import expect

REPORT_TITLE = "Application Error"
LAUNCH_FAILURE_TITLE = "Error!"
STRINGS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "failure",
                       "strings.def")


def program_text(name):
    """The text `name` of the program's string table, as bytes."""
    with open(STRINGS, encoding="utf-8") as f:
        for line in f:
            match = re.fullmatch(r'AUTOBACKUP_STRING\(%s, \d+, ("(?:[^"\\]|\\.)*")\)' % name,
                                 line.strip())
            if match:
                return ast.literal_eval(match.group(1)).encode()
    raise ValueError("no text %s in %s" % (name, STRINGS))


def filled_form(pattern, address_digits):
    """What `pattern` (bytes) becomes once filled in by the report: a %s any text, a %p an offset
    (eight hexadecimal digits, more where the build's pointers have more), each a group.

    >>> line = filled_form(b"%s at %p.%%", 8)
    >>> [bool(line.fullmatch(b"E at " + offset)) for offset in
    ...  (b"0000ABCD.%", b"0000ABC.%", b"0000ABCDE.%", b"0000ABCDx%", b"0000abcd.%")]
    [True, False, False, False, False]
    >>> filled_form(b"%s at %p.", 16).fullmatch(b"a at b at 0000000123456789.").groups()
    (b'a at b', b'0000000123456789')
    >>> filled_form(b"%d", 8)
    Traceback (most recent call last):
    ValueError: no form for %d
    """
    form = b""
    for piece in re.split(rb"(%.)", pattern):
        if piece == b"%s":
            form += rb"(.+?)"
        elif piece == b"%p":
            form += rb"([0-9A-F]{8,%d})" % address_digits
        elif piece == b"%%":
            form += b"%"
        elif piece.startswith(b"%") and len(piece) == 2:
            raise ValueError("no form for %s" % piece.decode())
        else:
            form += re.escape(piece)
    return re.compile(form)


def report_first_line(address_digits):
    """The report's first line (failure type, module file, offset in it), from its pattern."""
    return filled_form(program_text("ReportPattern").split(b"\r\n")[0], address_digits)


def pe_layout(suite, exe):
    """The image base and the code sections (name, start, end as offsets from the load address)
    of a PE executable, as the build's objdump reads its headers."""
    result = subprocess.run([suite.options.objdump, "-h", "-p", exe], stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT)
    text = result.stdout.decode("latin-1")
    base = re.search(r"^ImageBase\s+([0-9a-fA-F]+)$", text, re.MULTILINE)
    expect(result.returncode == 0 and base, "objdump cannot read %s: %s" % (exe, text))
    base = int(base.group(1), 16)
    # "  0 .text  SIZE  VMA  LMA  OFFSET  ALIGN", then its flags on the next line.
    sections = re.findall(r"^\s*\d+ (\S+)\s+([0-9a-f]+)\s+([0-9a-f]+)\s.*\n\s+(.*)$", text,
                          re.MULTILINE)
    return base, [(name, int(vma, 16) - base, int(vma, 16) - base + int(size, 16))
                  for name, size, vma, flags in sections if "CODE" in flags.split(", ")]


def function_at(suite, exe, image_base, offset):
    """The name of the function whose code holds `offset` of the executable, from its symbols;
    None when no symbol tool was given."""
    if not suite.options.nm:
        return None
    result = subprocess.run([suite.options.nm, "-C", "--defined-only", exe], check=True,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    best = None
    for line in result.stdout.decode("latin-1").splitlines():
        address, _, rest = line.partition(" ")
        kind, _, name = rest.partition(" ")
        if kind not in ("T", "t") or name.startswith("."):
            continue
        start = int(address, 16) - image_base
        if start <= offset and (best is None or start > best[0]):
            best = (start, name)
    return best[1] if best else None


def report_lines(text):
    """The report's two lines; fails unless the text is exactly two lines, each ended by CR LF."""
    expect(text.endswith(b"\r\n"), "the report does not end with CR LF: %r" % text)
    lines = text.split(b"\r\n")
    expect(len(lines) == 3 and lines[2] == b"", "the report is not two lines: %r" % text)
    return lines[0], lines[1]


def expect_report(suite, box, exe, failure_type, message, code_at=None, module=None):
    """Checks a report box: one box open, the first line naming `failure_type`, the file of `exe`
    and an offset inside its code (inside a function whose name contains `code_at`, when given),
    the second line `message` (a text, or a pattern it must match). An offset of None expects
    00000000. Given `module`, the first line must name that file instead, at any offset."""
    print("box %r: %r" % (REPORT_TITLE, box["text"]))
    expect(box["count"] == 1, "%d boxes open, not one: %s" % (box["count"], box["open"]))
    first, second = report_lines(box["text"])
    match = report_first_line(suite.address_digits).fullmatch(first)
    expect(match, "the first line does not have the report's form: %r" % first)
    expect(match.group(1) == failure_type.encode(), "the report names %s, not %s" % (
        match.group(1), failure_type))
    name = (module or os.path.basename(exe)).encode()
    expect(match.group(2).lower() == name.lower(), "the report names the module %s, not %s" % (
        match.group(2), name))
    offset = int(match.group(3), 16)
    if module:
        print("offset %08X in %s" % (offset, module))
    elif code_at is None:
        expect(offset == 0, "offset %08X, not 00000000" % offset)
    else:
        image_base, code = pe_layout(suite, exe)
        inside = [name for name, start, end in code if start <= offset < end]
        expect(inside, "offset %08X lies in no code section of %s: %s" % (offset, exe, code))
        function = function_at(suite, exe, image_base, offset)
        print("offset %08X in section %s, function %s" % (offset, inside[0], function))
        expect(function is None or code_at in function,
               "offset %08X lies in %s, not in %s" % (offset, function, code_at))
    if isinstance(message, str):
        expect(second == message.encode(), "the second line is %r, not %r" % (second, message))
    else:
        expect(message.fullmatch(second), "the second line is %r, not of the form %r" % (
            second, message.pattern))


def close_report(suite):
    """Presses OK on the report: the program must then end at once with exit code 1."""
    suite.press_ok(REPORT_TITLE)
    code = suite.wait_for_exit(30)
    print("exit code %d after OK" % code)
    expect(code == 1, "exit code %d after the report, not 1" % code)
    _, lines = suite.box_tool("count")
    expect(lines[0] == "open 0", "boxes still open: %s" % lines)
