#!/usr/bin/env python3
"""Builds AutoBackup-<version>.msi from AutoBackup.wxs with wixl, then adds with msibuild what
wixl cannot write, and makes the package reproducible: the product code comes from the version,
the package code from the content, the summary's times and every input's time from EPOCH (the
commit's time). Signs the package when a certificate is given (see ship.py).

usage: build_msi.py --wxs WXS --exe EXE --dll DLL --version X.Y.Z --epoch SECONDS --out MSI
                    [--pfx PFX --password-file FILE --time EPOCH]
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
# and the folder that holds it. SEARCH64 is the 64-bit Program Files folder where there is one,
# else the 32-bit one again (the package's first actions set it).
DEPTH = 3
DR_LOCATOR = """Signature_\tParent\tPath\tDepth
s72\tS72\tS255\tI2
DrLocator\tSignature_\tParent\tPath
TarvikExe32\t\t[ProgramFilesFolder]\t%d
TarvikDir32\tTarvikExe32\t\t0
TarvikExe64\t\t[SEARCH64]\t%d
TarvikDir64\tTarvikExe64\t\t0
""" % (DEPTH, DEPTH)
QUERIES = [
    "INSERT INTO `Signature` (`Signature`, `FileName`) VALUES ('TarvikExe32', "
    "'TarvikEmailBackup.exe')",
    "INSERT INTO `Signature` (`Signature`, `FileName`) VALUES ('TarvikExe64', "
    "'TarvikEmailBackup.exe')",
    "INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('FOUNDDIR32', 'TarvikDir32')",
    "INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('FOUNDDIR64', 'TarvikDir64')",
    # wixl writes this property itself, so it cannot be given in the source. INSTALLDIR must
    # reach the elevated part of the install from the command line and the UI sequence.
    "UPDATE `Property` SET `Value` = 'INSTALLDIR;WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED' "
    "WHERE `Property` = 'SecureCustomProperties'",
]
SUMMARY = """PropertyId\tValue
i2\tl255
_SummaryInformation\tPropertyId
1\t1252
2\tInstallation Database
3\tAutoBackup %(version)s
4\tAutoBackup
5\tInstaller
6\tStarts the scheduled backups of TarvikEmailBackup at every log-on.
7\tIntel;1033
9\t{%(package_code)s}
12\t%(time)s
13\t%(time)s
14\t500
15\t2
18\tmsitools 0.101
19\t2
"""


def product_code(version):
    return str(uuid.uuid5(UPGRADE_CODE, "AutoBackup product " + version)).upper()


def write_summary(msi, scratch, version, package_code, epoch):
    path = os.path.join(scratch, "_SummaryInformation.idt")
    when = datetime.datetime.fromtimestamp(epoch, datetime.timezone.utc)
    with open(path, "w", newline="\r\n") as f:
        f.write(SUMMARY % {"version": version, "package_code": package_code,
                           "time": when.strftime("%Y/%m/%d %H:%M:%S")})
    subprocess.run(["msibuild", msi, "-i", path], check=True)


def build(options, scratch):
    # wixl's cabinet keeps each input's modification time.
    inputs = {}
    for name, source in (("AutoBackup.exe", options.exe), ("EndCopies.dll", options.dll),
                         ("AutoBackup.wxs", options.wxs)):
        inputs[name] = os.path.join(scratch, name)
        shutil.copyfile(source, inputs[name])
        os.utime(inputs[name], (options.epoch, options.epoch))
    msi = os.path.join(scratch, "package.msi")
    subprocess.run(["wixl", "-a", "x86", "-D", "Version=" + options.version,
                    "-D", "ProductCode=" + product_code(options.version),
                    "-D", "Exe=AutoBackup.exe", "-D", "Dll=EndCopies.dll", "-o", msi,
                    "AutoBackup.wxs"], check=True, cwd=scratch)  # wixl takes relative paths only
    with open(os.path.join(scratch, "DrLocator.idt"), "w", newline="\r\n") as f:
        f.write(DR_LOCATOR)
    subprocess.run(["msibuild", msi, "-i", os.path.join(scratch, "DrLocator.idt")], check=True)
    for query in QUERIES:
        subprocess.run(["msibuild", msi, "-q", query], check=True)
    # The package code names this content: the package with a zero code, hashed.
    write_summary(msi, scratch, options.version, str(uuid.UUID(int=0)), options.epoch)
    with open(msi, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    code = str(uuid.uuid5(UPGRADE_CODE, "AutoBackup package " + digest)).upper()
    write_summary(msi, scratch, options.version, code, options.epoch)
    ship.sign_if_asked(msi, options)
    shutil.copyfile(msi, options.out)


def main():
    parser = argparse.ArgumentParser()
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
