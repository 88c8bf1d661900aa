#!/usr/bin/env python3
"""A file as it ships: stripped, with no time stamp written into its header, and signed when a
certificate is given (Authenticode, SHA-256, with a fixed signing time so that two releases of
one commit stay byte-identical).

usage: ship.py --in FILE --out FILE [--strip STRIP]
               [--pfx PFX --password-file FILE --time EPOCH --name NAME]
"""

import argparse
import os
import subprocess
import sys


def sign(path, pfx, password_file, epoch, name):
    """Signs `path` in place; osslsigncode writes a new file."""
    signed = path + ".signed"
    subprocess.run(["osslsigncode", "sign", "-pkcs12", pfx, "-readpass", password_file, "-h",
                    "sha256", "-n", name, "-time", str(epoch), "-in", path, "-out", signed],
                   check=True, stdout=subprocess.DEVNULL)
    os.replace(signed, path)


def add_signing_options(parser):
    parser.add_argument("--pfx", default="")
    parser.add_argument("--password-file", default="")
    parser.add_argument("--time", type=int, default=0)
    parser.add_argument("--name", default="AutoBackup")


def sign_if_asked(path, options):
    if options.pfx:
        sign(path, options.pfx, options.password_file, options.time, options.name)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--in", dest="source", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--strip", required=True)
    add_signing_options(parser)
    options = parser.parse_args()
    # SOURCE_DATE_EPOCH=0: strip leaves the header's time stamp as the linker did, none.
    subprocess.run([options.strip, "-o", options.out, options.source], check=True,
                   env=dict(os.environ, SOURCE_DATE_EPOCH="0"))
    sign_if_asked(options.out, options)
    return 0


if __name__ == "__main__":
    sys.exit(main())
