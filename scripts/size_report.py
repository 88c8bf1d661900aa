#!/usr/bin/env python3
"""Where the bytes of the stripped AutoBackup.exe go: each section of the exe split by the
object or library member its bytes came from (the linker's map, app/AutoBackup.map beside the
exe), grouped into contributors. The rows add up to the stripped file exactly: what the map does
not account for (alignment between the pieces, the file alignment of each section, the headers)
has rows of its own.

usage: scripts/size_report.py BUILD [BUILD ...] [--members N] [--update docs/performance.md]
BUILD is a Windows build folder (build/win64, build/win32, a release build). --members lists the
N largest pieces as well; --update writes the tables between the size-report marks of the file.
"""

import argparse
import collections
import os
import re
import struct
import subprocess
import sys
import tempfile

# Kinds of bytes, the table's columns.
CODE, DATA, UNWIND = "code", "data", "unwind and exception tables"
RESOURCES = "resources (version, manifest, string table)"
IMPORTS = "imports (DLL names, thunks)"
KIND_OF_SECTION = {".text": CODE, ".pdata": UNWIND, ".xdata": UNWIND, ".eh_frame": UNWIND}

MINGWEX_FORMATTING = re.compile(
    r"-(mingw_pformat|\w*printf|gdtoa|dtoa|gmisc|misc|g__fmt|g_xfmt|gethex|smisc|strtodg|strtopx|"
    r"sum|ulp|hd_init|hexdig)\.o$")
STRINGS = re.compile(r"(string|stdexcept|functexcept|snprintf_lite)")
SUPPORT = re.compile(r"(^eh_|^del_|^new_|tinfo|type_info|^pure|^guard|^vterminate|^atexit|"
                     r"^dyncast|^bad_|^vec|^pbase|^pmem|^fundamental|^class_type|^si_class|"
                     r"^vmi_class|^enum_type|^func_type|^array_type|^pointer_type)")


def contributor(path):
    """The row of an input file, from its path in the map: FILE or ARCHIVE(MEMBER)."""
    match = re.match(r"^(.*)\((.*)\)$", path)
    archive, member = (match.group(1), match.group(2)) if match else (path, "")
    base = os.path.basename(archive)
    if path == "dll stuff":
        return "base relocations"
    if base.endswith(".res"):
        return RESOURCES
    if not archive.startswith("/"):
        name = base[3:-2] if base.startswith("lib") and base.endswith(".a") else "app"
        return "program: " + name.replace("autobackup_", "")
    if base == "libstdc++.a":
        if demangler(member):
            return "libstdc++: the demangler of the default terminate handler"
        if member.startswith("wstring"):
            return "libstdc++: wide strings"
        if member.startswith("cow-"):
            return "libstdc++: the standard exceptions' strings (copy-on-write)"
        if STRINGS.search(member):
            return "libstdc++: strings and the throwing of their errors"
        if SUPPORT.search(member):
            return "libstdc++: exception and type support (libsupc++)"
        return "libstdc++: other (" + member + ")"
    if base in ("libgcc.a", "libgcc_eh.a"):
        return "unwinder and helpers (libgcc)"
    if base in ("libpthread.a", "libwinpthread.a"):
        return "thread runtime (winpthreads)"
    if base in ("libssp.a", "libssp_nonshared.a"):
        return "stack protector runtime (libssp)"
    if base == "libmingwex.a" and MINGWEX_FORMATTING.search(member):
        return "printf formatting (mingwex)"
    if base.startswith("lib") and re.search(r"(s\d+|h|t)\.o$", member):
        return IMPORTS
    return "C runtime start-up and helpers (mingw)"


def demangler(member):
    return member in ("cp-demangle.o", "vterminate.o")


def parse_map(path):
    """{output section: [(input section, size, file)]} and the output sections' sizes."""
    pieces = collections.defaultdict(list)
    sizes = {}
    section = None
    pending = None
    with open(path, encoding="latin-1") as f:
        lines = f.read().split("\n")
    at = next(i for i, line in enumerate(lines) if line.startswith("Linker script and memory map"))
    for line in lines[at + 1:]:
        out = re.match(r"^(\.\S+|/DISCARD/)(?:\s+0x([0-9a-f]+)\s+0x([0-9a-f]+))?", line)
        if out:
            section = out.group(1)
            if out.group(3):
                sizes[section] = int(out.group(3), 16)
            pending = None
            continue
        if section is None:
            continue
        if section not in sizes:  # the name on its own line, address and size on the next
            match = re.match(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s*$", line)
            if match:
                sizes[section] = int(match.group(2), 16)
            continue
        match = re.match(r"^ (\S+)(?:\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(.*))?$", line)
        if match and not match.group(1).startswith("0x") and not match.group(1).startswith("*("):
            if match.group(4) is not None:
                pieces[section].append((match.group(1), int(match.group(3), 16), match.group(4)))
                pending = None
            else:
                pending = match.group(1)
            continue
        match = re.match(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$", line)
        if match and pending:
            pieces[section].append((pending, int(match.group(2), 16), match.group(3)))
            pending = None
    return pieces, sizes


def pe_sections(path):
    """[(name, virtual size, raw size)] and the size of the headers of a PE file."""
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    count, optional_size = struct.unpack_from("<2xH12xH", data, pe + 4)
    symbols, symbol_count = struct.unpack_from("<II", data, pe + 12)
    strings = symbols + 18 * symbol_count  # long section names: "/offset" into this table
    headers = struct.unpack_from("<I", data, pe + 24 + 60)[0]  # SizeOfHeaders
    table = pe + 24 + optional_size
    sections = []
    for entry in range(table, table + 40 * count, 40):
        name = data[entry:entry + 8].rstrip(b"\0").decode("latin-1")
        if name.startswith("/") and symbols:
            at = strings + int(name[1:])
            name = data[at:data.index(b"\0", at)].decode("latin-1")
        virtual, _, raw, offset = struct.unpack_from("<IIII", data, entry + 8)
        sections.append((name, virtual, raw, offset))
    return sections, headers, len(data)


def strip_tool(build):
    with open(os.path.join(build, "CMakeCache.txt")) as f:
        for line in f:
            if line.startswith("CMAKE_STRIP:"):
                return line.split("=", 1)[1].strip()
    raise SystemExit("size_report: no CMAKE_STRIP in %s/CMakeCache.txt" % build)


def report(build, members):
    exe = os.path.join(build, "app", "AutoBackup.exe")
    pieces, sizes = parse_map(os.path.join(build, "app", "AutoBackup.map"))
    with tempfile.TemporaryDirectory() as scratch:
        stripped = os.path.join(scratch, "AutoBackup.exe")
        subprocess.run([strip_tool(build), "-o", stripped, exe], check=True,
                       env=dict(os.environ, SOURCE_DATE_EPOCH="0"))
        sections, headers, total = pe_sections(stripped)
    table = collections.defaultdict(lambda: collections.Counter())
    largest = collections.Counter()
    offsets = [(offset, raw) for _, _, raw, offset in sections]
    for name, virtual, raw, _ in sections:
        if raw == 0:  # .bss: no bytes in the file
            continue
        kind = KIND_OF_SECTION.get(name, DATA)
        counted = 0
        for input_section, size, path in pieces.get(name, []):
            if name == ".idata":
                row = IMPORTS
            elif name == ".rsrc":
                row = RESOURCES
            else:
                row = contributor(path)
            # The language-specific data of the unwinder lie among the read-only data.
            piece_kind = UNWIND if input_section.startswith(".gcc_except_table") else kind
            table[row][piece_kind] += size
            largest[(re.sub(r"^.*/", "", path), piece_kind)] += size
            counted += size
        if not pieces.get(name):
            # Made by the linker itself, with no input of its own in the map.
            row = {".reloc": "base relocations", ".rsrc": RESOURCES, ".idata": IMPORTS}.get(
                name, "linker: " + name)
            table[row][kind] += min(virtual, raw)
            counted = min(virtual, raw)
        # Alignment between the pieces, then up to the file alignment of the section.
        table["alignment and file padding"][DATA] += raw - counted
    table["headers"][DATA] += headers
    # After the last section: the names of the sections too long for the header.
    end = max(offset + raw for offset, raw in offsets)
    table["headers"][DATA] += total - end
    accounted = sum(sum(c.values()) for c in table.values())
    return total, table, accounted, largest


def markdown(build, total, table, accounted, largest, members):
    kinds = [CODE, DATA, UNWIND]
    rows = sorted(((sum(c.values()), row) for row, c in table.items() if sum(c.values()) != 0),
                  key=lambda item: (-item[0], item[1]))
    lines = ["| %s: %s bytes stripped | %s | total | share |" % (build, format(total, ","),
                                                                " | ".join(kinds)),
             "|---|" + "---|" * (len(kinds) + 2)]
    for size, row in rows:
        lines.append("| %s | %s | %s | %.1f %% |" % (
            row, " | ".join(format(table[row][k], ",") for k in kinds), format(size, ","),
            100.0 * size / total))
    lines.append("| **all** | %s | **%s** | |" % (
        " | ".join(format(sum(c[k] for c in table.values()), ",") for k in kinds),
        format(accounted, ",")))
    if accounted != total:
        lines.append("")
        lines.append("(the map accounts for %s of the %s bytes)" % (format(accounted, ","),
                                                                   format(total, ",")))
    if members:
        lines += ["", "| largest pieces of %s | kind | bytes |" % build, "|---|---|---|"]
        for (path, kind), size in largest.most_common(members):
            lines.append("| %s | %s | %s |" % (path, kind, format(size, ",")))
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("builds", nargs="+")
    parser.add_argument("--members", type=int, default=0)
    parser.add_argument("--update")
    options = parser.parse_args()
    text = "\n\n".join(markdown(os.path.basename(os.path.normpath(build)), *report(build, options.members),
                                options.members) for build in options.builds)
    print(text)
    if options.update:
        with open(options.update) as f:
            document = f.read()
        begin, end = "<!-- size-report begin -->\n", "<!-- size-report end -->"
        if begin not in document or end not in document:
            raise SystemExit("size_report: no size-report marks in %s" % options.update)
        head, rest = document.split(begin, 1)
        document = head + begin + text + "\n" + end + rest.split(end, 1)[1]
        with open(options.update, "w") as f:
            f.write(document)
    return 0


if __name__ == "__main__":
    sys.exit(main())
