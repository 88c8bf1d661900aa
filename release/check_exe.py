#!/usr/bin/env python3
"""Release checks of a built AutoBackup.exe: the hardening flags of its PE header, the DLLs it
imports, its version resource and manifest. Prints each finding; exits 1 if any check fails.

usage: check_exe.py --exe EXE --objdump OBJDUMP --windres WINDRES --version X.Y.Z
                    --windows MAJOR.MINOR --license LICENSE
"""

import argparse
import os
import re
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "msvcrt.dll"}
IMAGE_SCN_MEM_EXECUTE = 0x20000000
IMAGE_SCN_MEM_WRITE = 0x80000000
RT_VERSION, RT_MANIFEST = 16, 24
WINDOWS_SETTINGS_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
WINDOWS_SETTINGS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
ASSEMBLY = "{urn:schemas-microsoft-com:asm.v1}"


def header_fields(objdump_text):
    """`objdump -p`'s header lines as name -> value, the flag lines under "DllCharacteristics"
    and "Characteristics" as sets, and the imported DLLs."""
    fields, flags, dlls, current = {}, {}, [], None
    for line in objdump_text.splitlines():
        if line.startswith("\t") and current:
            flags[current].add(line.strip())
            continue
        current = None
        match = re.match(r"^([\w/]+)\s+(.*)$", line)
        if match:
            fields[match.group(1)] = match.group(2).strip()
            if match.group(1) in ("Characteristics", "DllCharacteristics"):
                current = match.group(1)
                flags[current] = set()
        dll = re.match(r"^\s+DLL Name: (\S+)$", line)
        if dll:
            dlls.append(dll.group(1))
    return fields, flags, dlls


def writable_and_executable(path):
    """Names of the sections that are both writable and executable, from the section table."""
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    count, optional_size = struct.unpack_from("<2xH12xH", data, pe + 4)
    found = []
    for i in range(count):
        entry = pe + 24 + optional_size + 40 * i
        flags = struct.unpack_from("<I", data, entry + 36)[0]
        if flags & IMAGE_SCN_MEM_WRITE and flags & IMAGE_SCN_MEM_EXECUTE:
            found.append(data[entry:entry + 8].rstrip(b"\0").decode("latin-1"))
    return found


def resources(res):
    """The entries of a .res file as (type, data); named types and names are skipped."""
    entries, at = [], 32  # the file starts with an empty entry
    while at + 8 <= len(res):
        size, header_size = struct.unpack_from("<II", res, at)
        marker, kind = struct.unpack_from("<HH", res, at + 8)
        entries.append((kind if marker == 0xFFFF else None,
                        res[at + header_size:at + header_size + size]))
        at = (at + header_size + size + 3) & ~3
    return entries


def version_strings(block, strings, fixed):
    """Walks a VS_VERSIONINFO tree: string values into `strings`, the fixed file info's
    versions into `fixed`."""
    length, value_length, kind = struct.unpack_from("<HHH", block, 0)
    end = block.index(b"\0\0", 6)
    end += (end - 6) % 2  # a key ends on a whole UTF-16 character
    key = block[6:end].decode("utf-16-le")
    at = (end + 2 + 3) & ~3
    if key == "VS_VERSION_INFO":
        signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", block, at)
        fixed["signature"] = signature
        fixed["file"] = (file_ms >> 16, file_ms & 0xFFFF, file_ls >> 16, file_ls & 0xFFFF)
        fixed["product"] = (product_ms >> 16, product_ms & 0xFFFF, product_ls >> 16,
                            product_ls & 0xFFFF)
    if kind == 1 and value_length:
        strings[key] = block[at:at + 2 * value_length].decode("utf-16-le").rstrip("\0")
        return
    at = (at + value_length + 3) & ~3 if kind == 0 else at
    while at < length:
        child = struct.unpack_from("<H", block, at)[0]
        version_strings(block[at:at + child], strings, fixed)
        at = (at + child + 3) & ~3


def main():
    parser = argparse.ArgumentParser()
    for option in ("--exe", "--objdump", "--windres", "--version", "--windows", "--license"):
        parser.add_argument(option, required=True)
    options = parser.parse_args()
    failures = []

    def expect(condition, message):
        print(("ok      " if condition else "FAILED  ") + message)
        if not condition:
            failures.append(message)

    text = subprocess.run([options.objdump, "-p", options.exe], check=True, stdout=subprocess.PIPE,
                          env=dict(os.environ, TZ="UTC")).stdout.decode("latin-1")
    fields, flags, dlls = header_fields(text)
    wide = fields.get("Magic", "").startswith("020b")
    wanted = {"DYNAMIC_BASE", "NX_COMPAT", "TERMINAL_SERVICE_AWARE"} | (
        {"HIGH_ENTROPY_VA"} if wide else set())
    have = flags.get("DllCharacteristics", set())
    expect(wanted <= have, "DLL characteristics %s include %s" % (sorted(have), sorted(wanted)))
    expect("large address aware" in flags.get("Characteristics", set()), "large address aware")
    major, minor = (str(int(part)) for part in options.windows.split("."))
    for name in ("Subsystem", "OSystem"):
        found = (fields.get("Major%sVersion" % name), fields.get("Minor%sVersion" % name))
        expect(found == (major, minor), "%s version %s.%s is %s.%s" % (name, *found, major, minor))
    expect(fields.get("Time/Date", "").startswith("Thu Jan  1 00:00:00 1970"),
           "no time stamp in the header: %s" % fields.get("Time/Date"))
    expect(bool(dlls) and all(dll.lower() in ALLOWED_DLLS for dll in dlls),
           "imports only from %s: %s" % (sorted(ALLOWED_DLLS), dlls))
    both = writable_and_executable(options.exe)
    expect(not both, "no section both writable and executable: %s" % both)

    with tempfile.TemporaryDirectory() as scratch:
        subprocess.run([options.windres, "-i", options.exe, "-O", "res", "-o",
                        os.path.join(scratch, "exe.res")], check=True)
        with open(os.path.join(scratch, "exe.res"), "rb") as f:
            res = f.read()
    found = resources(res)
    versions = [data for kind, data in found if kind == RT_VERSION]
    manifests = [data for kind, data in found if kind == RT_MANIFEST]
    expect(len(versions) == 1 and len(manifests) == 1,
           "one version resource and one manifest: %d and %d" % (len(versions), len(manifests)))
    if failures:
        return 1

    strings, fixed = {}, {}
    version_strings(versions[0], strings, fixed)
    four = tuple(int(part) for part in options.version.split(".")) + (0,)
    expect(fixed.get("signature") == 0xFEEF04BD, "fixed file info present")
    expect(fixed.get("file") == four and fixed.get("product") == four,
           "fixed versions %s and %s are %s" % (fixed.get("file"), fixed.get("product"), four))
    for key in ("FileVersion", "ProductVersion"):
        expect(strings.get(key) == options.version,
               "%s %r is %r" % (key, strings.get(key), options.version))
    with open(options.license) as f:
        copyright_line = next(line.strip() for line in f if line.startswith("Copyright "))
    expect(strings.get("LegalCopyright") == copyright_line,
           "LegalCopyright %r is the licence's %r" % (strings.get("LegalCopyright"),
                                                      copyright_line))

    try:
        manifest = ElementTree.fromstring(manifests[0])
    except ElementTree.ParseError as error:
        expect(False, "the manifest is well-formed XML: %s" % error)
        return 1
    identity = manifest.find(ASSEMBLY + "assemblyIdentity")
    manifest_version = identity.get("version") if identity is not None else None
    expect(manifest_version == "%d.%d.%d.%d" % four,
           "manifest version %s is %d.%d.%d.%d" % (manifest_version, *four))
    dpi_aware = [e.text for e in manifest.iter(WINDOWS_SETTINGS_2005 + "dpiAware")]
    awareness = [e.text for e in manifest.iter(WINDOWS_SETTINGS_2016 + "dpiAwareness")]
    expect(dpi_aware == ["true/pm"], "dpiAware true/pm: %s" % dpi_aware)
    expect(len(awareness) == 1 and awareness[0].split(",")[0].strip() == "PerMonitorV2",
           "dpiAwareness PerMonitorV2 first: %s" % awareness)
    code_page = [e for e in manifest.iter() if e.tag.endswith("}activeCodePage")]
    expect(not code_page, "no activeCodePage: the program's text is ANSI")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
