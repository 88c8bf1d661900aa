#!/usr/bin/env python3
"""Builds AutoBackup-<version>-<arch>.msi from AutoBackup.wxs with wixl, then adds with msibuild
what wixl cannot write, and makes the package reproducible: the product code comes from the
version and the architecture, the package code from the content, the summary's times and every
input's time from EPOCH (the commit's time). Signs the package when a certificate is given (see
ship.py).

usage: build_msi.py --arch x86|x64 --wxs WXS --exe EXE --dll DLL --version X.Y.Z --epoch SECONDS
                    --out MSI [--pfx PFX --password-file FILE --time EPOCH]
"""

import argparse
import datetime
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import uuid

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import ship  # noqa: E402

# The package's upgrade code, the same in every version: the root of the derived codes.
UPGRADE_CODE = uuid.UUID("7C3B5E0A-3F41-4E52-9B7A-2D6F0C8E4A19")

# The search for the backup application: its file a few levels below each Program Files folder,
# and the folder that holds it. The 32-bit package runs on 32-bit Windows only, which has one.
DEPTH = 3
ROOTS = {"x86": [("32", "ProgramFilesFolder")],
         "x64": [("32", "ProgramFilesFolder"), ("64", "ProgramFiles64Folder")]}
# The 64-bit package's own remembered folder is in the 64-bit registry view (a RegLocator's type
# bit 16); REMEMBEREDDIR32 reads the 32-bit view, where earlier releases' package wrote it.
REGISTRY_64 = 16
# CustomAction types beyond what wixl writes: DLL in Binary (1), result ignored (0x40), in script
# (0x400), as the system (0x800), and rollback (0x100) or commit (0x200).
ACTION_TYPES = {"StartCopiesRollback": 0xD41, "StartCopies": 0xE41, "StartCopiesNow": 0xC41}


def search_rows(arch):
    """The DrLocator table (as .idt text) and the queries that add the file search."""
    locators = ("Signature_\tParent\tPath\tDepth\ns72\tS72\tS255\tI2\n"
                "DrLocator\tSignature_\tParent\tPath\n")
    queries = []
    for bits, root in ROOTS[arch]:
        locators += "TarvikExe%s\t\t[%s]\t%d\nTarvikDir%s\tTarvikExe%s\t\t0\n" % (
            bits, root, DEPTH, bits, bits)
        queries += ["INSERT INTO `Signature` (`Signature`, `FileName`) VALUES ('TarvikExe%s', "
                    "'TarvikEmailBackup.exe')" % bits,
                    "INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('FOUNDDIR%s', "
                    "'TarvikDir%s')" % (bits, bits)]
    return locators, queries


def fixes(arch):
    """What wixl cannot write, as msibuild queries."""
    queries = ["UPDATE `CustomAction` SET `Type` = %d WHERE `Action` = '%s'" % (kind, action)
               for action, kind in sorted(ACTION_TYPES.items())]
    if arch == "x64":
        queries.append("UPDATE `RegLocator` SET `Type` = %d WHERE `Signature_` = "
                       "'RememberedFolder'" % (2 | REGISTRY_64))
    # wixl writes this property itself, so it cannot be given in the source. INSTALLDIR must
    # reach the elevated part of the install from the command line and the UI sequence.
    queries.append("UPDATE `Property` SET `Value` = 'INSTALLDIR;WIX_DOWNGRADE_DETECTED;"
                   "WIX_UPGRADE_DETECTED' WHERE `Property` = 'SecureCustomProperties'")
    return queries


SUMMARY = """PropertyId\tValue
i2\tl255
_SummaryInformation\tPropertyId
1\t1252
2\tInstallation Database
3\tAutoBackup %(version)s
4\tAutoBackup
5\tInstaller
6\tStarts the scheduled backups of TarvikEmailBackup at every log-on.
7\t%(template)s;1033
9\t{%(package_code)s}
12\t%(time)s
13\t%(time)s
14\t500
15\t2
18\tmsitools 0.101
19\t2
"""


def product_code(version, arch):
    """One per version and architecture; the 32-bit one as earlier releases derived it."""
    name = "AutoBackup product " + version + ("" if arch == "x86" else " " + arch)
    return str(uuid.uuid5(UPGRADE_CODE, name)).upper()


def write_summary(msi, scratch, options, package_code):
    path = os.path.join(scratch, "_SummaryInformation.idt")
    when = datetime.datetime.fromtimestamp(options.epoch, datetime.timezone.utc)
    with open(path, "w", newline="\r\n") as f:
        f.write(SUMMARY % {"version": options.version, "package_code": package_code,
                           "template": {"x86": "Intel", "x64": "x64"}[options.arch],
                           "time": when.strftime("%Y/%m/%d %H:%M:%S")})
    subprocess.run(["msibuild", msi, "-i", path], check=True)


def build(options, scratch):
    # wixl's cabinet keeps each input's modification time.
    inputs = {}
    for name, source in (("AutoBackup.exe", options.exe), ("CustomActions.dll", options.dll),
                         ("AutoBackup.wxs", options.wxs)):
        inputs[name] = os.path.join(scratch, name)
        shutil.copyfile(source, inputs[name])
        os.utime(inputs[name], (options.epoch, options.epoch))
    msi = os.path.join(scratch, "package.msi")
    subprocess.run(["wixl", "-a", options.arch, "-D", "Arch=" + options.arch,
                    "-D", "Version=" + options.version,
                    "-D", "UpgradeCode=" + str(UPGRADE_CODE).upper(),
                    "-D", "ProductCode=" + product_code(options.version, options.arch),
                    "-D", "Exe=AutoBackup.exe", "-D", "Dll=CustomActions.dll", "-o", msi,
                    "AutoBackup.wxs"], check=True, cwd=scratch)  # wixl takes relative paths only
    locators, queries = search_rows(options.arch)
    with open(os.path.join(scratch, "DrLocator.idt"), "w", newline="\r\n") as f:
        f.write(locators)
    subprocess.run(["msibuild", msi, "-i", os.path.join(scratch, "DrLocator.idt")], check=True)
    for query in queries + fixes(options.arch):
        subprocess.run(["msibuild", msi, "-q", query], check=True)
    # The package code names this content: the package with a zero code, hashed.
    write_summary(msi, scratch, options, str(uuid.UUID(int=0)))
    with open(msi, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    code = str(uuid.uuid5(UPGRADE_CODE, "AutoBackup package " + digest)).upper()
    write_summary(msi, scratch, options, code)
    ship.sign_if_asked(msi, options)
    shutil.copyfile(msi, options.out)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--arch", choices=("x86", "x64"), required=True)
    for option in ("--wxs", "--exe", "--dll", "--version", "--out"):
        parser.add_argument(option, required=True)
    parser.add_argument("--epoch", type=int, required=True)
    ship.add_signing_options(parser)
    options = parser.parse_args()
    with tempfile.TemporaryDirectory() as scratch:
        build(options, scratch)
    return 0


if __name__ == "__main__":
    sys.exit(main())
