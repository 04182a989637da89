#!/usr/bin/env python3
"""Sets the build time widl writes into a type library to SOURCE_DATE_EPOCH (0 when unset),
so that two builds of one commit give the same bytes.

widl (7 and 8 ignore SOURCE_DATE_EPOCH) stores the time twice in the library's custom
data: as the text "Created by WIDL version V at <ctime>" and, right after it, as a 4-byte
VT_UI4 value. Both are rewritten in place (the ctime text has a fixed width).
Usage: tlbtime.py FILE
"""
import calendar
import os
import struct
import sys
import time

path = sys.argv[1]
data = bytearray(open(path, "rb").read())
marker = b"Created by WIDL version "
start = data.find(marker)
if start < 0:
    sys.exit(0)  # nothing of widl's time in this library
at = data.find(b" at ", start)
text_start = at + 4
text_end = text_start + 24  # "Wed Dec  9 06:40:15 2026"
written = data[text_start:text_end].decode("ascii")
was = calendar.timegm(time.strptime(written, "%a %b %d %H:%M:%S %Y"))
epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "0"))
data[text_start:text_end] = time.strftime("%a %b %e %H:%M:%S %Y", time.gmtime(epoch)).encode("ascii")
# The VT_UI4 that follows is the same time as a number (widl's local time zone).
ui4 = data.find(b"\x13\x00", text_end, text_end + 32)
if ui4 < 0:
    sys.exit("%s: no time value after widl's text" % path)
value = struct.unpack_from("<I", data, ui4 + 2)[0]
if abs(value - was) > 86400:
    sys.exit("%s: the value after widl's text (%d) is not its time (%d)" % (path, value, was))
struct.pack_into("<I", data, ui4 + 2, epoch)
open(path, "wb").write(data)
