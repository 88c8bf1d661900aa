#!/usr/bin/env python3
"""Release checks of a built AutoBackup.exe: hardening flags of its PE header, imported DLLs,
version resource and manifest. Prints each check; exits 1 if any fails.

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

import pe_image

ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "msvcrt.dll"}
RT_VERSION, RT_MANIFEST = 16, 24
SETTINGS_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
SETTINGS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
failures = []


def expect(condition, message):
    print(("ok      " if condition else "FAILED  ") + message)
    if not condition:
        failures.append(message)


def resources(res):
    """(type, data) of each entry of a .res file with a numbered type."""
    entries, at = [], 32  # after the empty first entry
    while at + 12 <= len(res):
        size, header_size, marker, kind = struct.unpack_from("<IIHH", res, at)
        entries.append((kind if marker == 0xFFFF else None, res[at + header_size:][:size]))
        at = (at + header_size + size + 3) & ~3
    return entries


def check_header(options):
    text = subprocess.run([options.objdump, "-p", options.exe], check=True, stdout=subprocess.PIPE,
                          env=dict(os.environ, TZ="UTC")).stdout.decode("latin-1")
    flags = {"DYNAMIC_BASE", "NX_COMPAT", "TERMINAL_SERVICE_AWARE"}
    flags |= {"HIGH_ENTROPY_VA"} if "(PE32+)" in text else set()
    for flag in sorted(flags) + ["large address aware"]:
        expect(re.search(r"^\t+%s$" % flag, text, re.MULTILINE), flag)
    for field in ("Subsystem", "OSystem"):
        found = ".".join(re.findall(r"^M(?:aj|in)or%sVersion\s+(\d+)$" % field, text, re.MULTILINE))
        expect(found == options.windows, "%s version %s is %s" % (field, found, options.windows))
    stamp = re.search(r"^Time/Date\s+(.*)$", text, re.MULTILINE).group(1)
    expect(stamp == "Thu Jan  1 00:00:00 1970", "no time stamp in the header: %s" % stamp)
    dlls = re.findall(r"^\s+DLL Name: (\S+)$", text, re.MULTILINE)
    expect(dlls and {dll.lower() for dll in dlls} <= ALLOWED_DLLS, "imports only from %s: %s" % (
        sorted(ALLOWED_DLLS), dlls))
    both = [s.name for s in pe_image.read(options.exe).sections_with(
        pe_image.IMAGE_SCN_MEM_WRITE | pe_image.IMAGE_SCN_MEM_EXECUTE)]
    expect(not both, "no section both writable and executable: %s" % both)


def check_resources(options):
    with tempfile.TemporaryDirectory() as scratch:
        path = os.path.join(scratch, "exe.res")
        subprocess.run([options.windres, "-i", options.exe, "-O", "res", "-o", path], check=True)
        with open(path, "rb") as f:
            found = resources(f.read())
    versions = [data for kind, data in found if kind == RT_VERSION]
    manifests = [data for kind, data in found if kind == RT_MANIFEST]
    expect(len(versions) == len(manifests) == 1, "one version resource and one manifest: %d, %d"
           % (len(versions), len(manifests)))
    if len(versions) != 1 or len(manifests) != 1:
        return
    four = options.version + ".0"
    version = versions[0]
    fixed = version.find(struct.pack("<I", 0xFEEF04BD))
    numbers = []
    for at in (fixed + 8, fixed + 16):  # file version, product version: major, minor, patch, build
        minor, major, build, patch = struct.unpack_from("<4H", version, at)
        numbers.append("%d.%d.%d.%d" % (major, minor, patch, build))
    expect(numbers == [four, four], "fixed file and product versions %s are %s" % (numbers, four))
    text = version.decode("utf-16-le")
    strings = {key: re.search(key + "\0+([^\0]*)\0", text) for key in
               ("FileVersion", "ProductVersion", "LegalCopyright")}
    strings = {key: match.group(1) if match else None for key, match in strings.items()}
    with open(options.license) as f:
        line = next(line.strip() for line in f if line.startswith("Copyright "))
    expected = {"FileVersion": options.version, "ProductVersion": options.version,
                "LegalCopyright": line}
    expect(strings == expected, "strings %s are %s" % (strings, expected))

    try:
        manifest = ElementTree.fromstring(manifests[0])
    except ElementTree.ParseError as error:
        return expect(False, "the manifest is well-formed XML: %s" % error)
    identity = manifest.find("{urn:schemas-microsoft-com:asm.v1}assemblyIdentity")
    found = identity.get("version") if identity is not None else None
    expect(found == four, "manifest version %s is %s" % (found, four))
    aware = [e.text for e in manifest.iter(SETTINGS_2005 + "dpiAware")]
    awareness = [e.text for e in manifest.iter(SETTINGS_2016 + "dpiAwareness")]
    expect(aware == ["true/pm"] and awareness == ["PerMonitorV2, PerMonitor"],
           "per-monitor DPI awareness: %s %s" % (aware, awareness))
    expect(not [e for e in manifest.iter() if e.tag.endswith("}activeCodePage")],
           "no activeCodePage: the program's text is ANSI")


def main():
    parser = argparse.ArgumentParser()
    for option in ("--exe", "--objdump", "--windres", "--version", "--windows", "--license"):
        parser.add_argument(option, required=True)
    options = parser.parse_args()
    check_header(options)
    check_resources(options)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
