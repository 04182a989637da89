#!/usr/bin/env python3
"""Sets type flags on one type description of a type library file (MSFT format).

widl leaves TYPEFLAG_FOLEAUTOMATION off the dispatch half of a dual interface; the
library Brastow ships carries it, as clients of dual automation interfaces expect.
Usage: tlbflags.py FILE INDEX FLAGS   (FLAGS: bits to add, e.g. 0x100)
"""
import struct
import sys

path, index, flags = sys.argv[1], int(sys.argv[2]), int(sys.argv[3], 0)
data = bytearray(open(path, "rb").read())
if data[:4] != b"MSFT":
    sys.exit("%s: not an MSFT type library" % path)
varflags, _, _, count = struct.unpack_from("<4i", data, 0x14)
if not 0 <= index < count:
    sys.exit("%s: no type description %d" % (path, index))
pos = 0x54 + (4 if varflags & 0x100 else 0) + 4 * count   # past header and offsets
typeinfo_table = struct.unpack_from("<i", data, pos)[0]   # first segment: type descriptions
entry = typeinfo_table + 0x64 * index
old = struct.unpack_from("<i", data, entry + 0x30)[0]
struct.pack_into("<i", data, entry + 0x30, old | flags)
open(path, "wb").write(data)
