"""The headers of a PE executable that the release checks and the package scenario read: the image
base, the file header's symbol count and the section table."""

import collections
import struct

IMAGE_SCN_CNT_CODE = 0x20
IMAGE_SCN_MEM_EXECUTE = 0x20000000
IMAGE_SCN_MEM_WRITE = 0x80000000

# start and end: offsets from the load address.
Section = collections.namedtuple("Section", "name start end characteristics")


class PeImage:
    """Read from the file's bytes; ValueError when they hold no PE executable."""

    def __init__(self, data):
        if data[:2] != b"MZ":
            raise ValueError("no executable")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE header")
        count, self.symbol_count, optional_size = struct.unpack_from("<2xH8xIH", data, pe + 4)
        optional = pe + 24
        wide = struct.unpack_from("<H", data, optional)[0] == 0x20B  # PE32+
        self.image_base = struct.unpack_from("<Q" if wide else "<I", data,
                                             optional + (24 if wide else 28))[0]
        self.sections = []
        for entry in range(optional + optional_size, optional + optional_size + 40 * count, 40):
            name = data[entry:entry + 8].rstrip(b"\0").decode("latin-1")
            size, start = struct.unpack_from("<II", data, entry + 8)
            characteristics = struct.unpack_from("<I", data, entry + 36)[0]
            self.sections.append(Section(name, start, start + size, characteristics))

    def sections_with(self, flags):
        """The sections that have every one of `flags`."""
        return [s for s in self.sections if s.characteristics & flags == flags]


def read(path):
    with open(path, "rb") as f:
        return PeImage(f.read())
