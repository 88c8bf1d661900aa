#!/usr/bin/env python3
"""Release checks of a built AutoBackup.exe: subsystem and hardening flags of its PE header,
imports, version resource and manifest. Prints each check; exits 1 if any fails.

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

# Every function the 32-bit and the 64-bit exe import, by DLL and by the oldest Windows that has
# it: the "Minimum supported client" of Microsoft's documentation. An import missing here fails
# the checks, and so does a PE header naming another Windows than the newest these need: the
# header's OS version is the oldest Windows the exe runs on. Entries an exe lacks are harmless.
WINDOWS = {"NT 4.0": (4, 0), "2000": (5, 0), "XP": (5, 1), "Vista": (6, 0), "7": (6, 1),
           "8": (6, 2), "8.1": (6, 3), "10": (10, 0)}
IMPORTS = {
    "advapi32.dll": {
        "2000": "RegCloseKey RegCreateKeyExA RegOpenKeyExA RegQueryValueExA RegSetValueExA",
        "XP": "AddAccessAllowedAce ConvertSidToStringSidA CreateWellKnownSid CryptAcquireContextA"
              " CryptGenRandom CryptReleaseContext EqualSid GetSecurityInfo GetTokenInformation"
              " InitializeAcl InitializeSecurityDescriptor OpenProcessToken"
              " SetSecurityDescriptorDacl SetSecurityDescriptorOwner"},
    "kernel32.dll": {
        "NT 4.0": "IsDebuggerPresent",
        "2000": "CloseHandle DuplicateHandle GetHandleInformation GetLocalTime"
                " GetSystemTimeAsFileTime lstrcmpW",
        "XP": "AddVectoredExceptionHandler CreateEventA CreateEventW CreateProcessW"
              " CreateSemaphoreA CreateThread DeleteCriticalSection EnterCriticalSection"
              " ExitProcess FreeLibrary GetCurrentDirectoryW GetCurrentProcess GetCurrentProcessId"
              " GetCurrentThread GetCurrentThreadId GetLastError GetModuleFileNameW"
              " GetModuleHandleA GetModuleHandleW GetProcAddress GetProcessAffinityMask"
              " GetShortPathNameW GetStartupInfoA GetThreadContext GetThreadPriority"
              " InitializeCriticalSection LeaveCriticalSection LoadLibraryA LoadLibraryW LocalFree"
              " OpenProcess OutputDebugStringA RaiseException ReleaseMutex ReleaseSemaphore"
              " RemoveVectoredExceptionHandler ResetEvent ResumeThread SetCurrentDirectoryW"
              " SetEvent SetLastError SetProcessAffinityMask SetThreadContext SetThreadPriority"
              " SetUnhandledExceptionFilter Sleep SuspendThread TerminateProcess TlsAlloc"
              " TlsGetValue TlsSetValue TryEnterCriticalSection VirtualProtect VirtualQuery"
              " WaitForMultipleObjects WaitForSingleObject"
              # The 64-bit runtime's unwinding: in every 64-bit Windows, from XP's x64 edition.
              " RtlCaptureContext RtlLookupFunctionEntry RtlUnwindEx RtlVirtualUnwind"
              " __C_specific_handler",
        # The check lock, the MinGW thread runtime, the stack overflow's report.
        "Vista": "CreateMutexExA GetTickCount64 SetThreadStackGuarantee"},
    # Part of Windows, but documented with no minimum per export: XP's has every one of these.
    "msvcrt.dll": {
        "XP": "__getmainargs __initenv __iob_func __p__acmdln __p__commode __p__fmode"
              " __set_app_type __setusermatherr _acmdln _amsg_exit _beginthreadex _cexit _close"
              " _commode _endthreadex _errno _exit _fmode _initterm _iob _onexit _open _read"
              " _setjmp _setjmp3 _strdup _ultoa _write abort calloc exit fprintf free fwrite"
              " longjmp malloc memchr memcmp memcpy memmove memset printf realloc signal strcmp"
              " strlen strncmp vfprintf wcslen"},
    "user32.dll": {
        "2000": "CallNextHookEx GetClassNameW KillTimer LoadStringW MessageBoxW PeekMessageA"
                " PostMessageA SetTimer SetWindowsHookExW WaitMessage",
        "XP": "WaitForInputIdle"},
}
OLDEST = {(dll, name): windows for dll, by_windows in IMPORTS.items()
          for windows, names in by_windows.items() for name in names.split()}
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
    # A console exe would open a console window at every log-on.
    subsystem = re.search(r"^Subsystem\s+\S+\s+\((.*)\)$", text, re.MULTILINE)
    subsystem = subsystem.group(1) if subsystem else None
    expect(subsystem == "Windows GUI", "subsystem %s is Windows GUI" % subsystem)
    for field in ("Subsystem", "OSystem"):
        found = ".".join(re.findall(r"^M(?:aj|in)or%sVersion\s+(\d+)$" % field, text, re.MULTILINE))
        expect(found == options.windows, "%s version %s is %s" % (field, found, options.windows))
    stamp = re.search(r"^Time/Date\s+(.*)$", text, re.MULTILINE).group(1)
    expect(stamp == "Thu Jan  1 00:00:00 1970", "no time stamp in the header: %s" % stamp)
    check_imports(text, options.windows)
    both = [s.name for s in pe_image.read(options.exe).sections_with(
        pe_image.IMAGE_SCN_MEM_WRITE | pe_image.IMAGE_SCN_MEM_EXECUTE)]
    expect(not both, "no section both writable and executable: %s" % both)


def imports(text):
    """{dll: [function]} of the import tables in `objdump -p`'s text, DLL names in lower case."""
    found, dll = {}, None
    for line in text.splitlines():
        name = re.match(r"\s+DLL Name: (\S+)$", line)
        member = re.match(r"\t[0-9a-f]+\t +\d+ +(\S+)", line)
        if name:
            dll = found.setdefault(name.group(1).lower(), [])
        elif member and dll is not None:
            dll.append(member.group(1))
        elif not line.strip():
            dll = None
    return found


def check_imports(text, windows):
    found = imports(text)
    expect(found and set(found) <= set(IMPORTS), "imports only from %s: %s" % (
        sorted(IMPORTS), sorted(found)))
    new = ["%s %s" % (dll, name) for dll in sorted(found) for name in sorted(found[dll])
           if (dll, name) not in OLDEST]
    expect(not new, "every import is in check_exe.py's IMPORTS" + (
        "; add %s, each with the oldest Windows that has it (Microsoft's \"Minimum supported"
        " client\")" % ", ".join(new) if new else ""))
    needs = sorted((WINDOWS[OLDEST[dll, name]], OLDEST[dll, name], name)
                   for dll in found for name in found[dll] if (dll, name) in OLDEST)
    newest = needs[-1][:2] if needs else ((0, 0), "none")
    expect(newest[0] == tuple(int(part) for part in windows.split(".")),
           "the newest Windows the imports need, %s (%s), is the header's %s" % (
               newest[1], ", ".join(name for version, _, name in needs if version == newest[0]),
               windows))


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
           "no activeCodePage: the program makes its own UTF-16 for Windows")


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
