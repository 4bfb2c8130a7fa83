#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into fuzz/corpus/<target>/.

A handful of small inputs per target, each a case worth starting from: a
whole road for the session script, the default record, identifications at
the versions the gate tells apart, profiles the command line writes. The
fuzzers grow their own corpus from these in fuzz/corpus-run/ (not kept).
Files named regression_* are inputs that once broke an invariant, kept as
found; this script leaves them alone.

    python3 fuzz/make_corpus.py
"""
import json
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    if isinstance(data, str):
        data = data.encode()
    with open(os.path.join(d, name), "wb") as f:
        f.write(bytes(data))


# --- configuration record --------------------------------------------------
# Bytes 0..35 of the record built from the default panel; the sum follows.
DEFAULT_FIELDS = bytes([
    0xCA, 0xFE, 0xF0, 0xDA,  # markers
    0x00, 0x1E,              # body length 30
    0x01, 0x02,
    0x00, 0x3C,              # PING 60 s
    0x04, 0x80,              # RS232-A 115200 / 100
    0x00, 0x60,              # RS232-B 9600 / 100
    12, 15,                  # acceleration, braking
    11, 11,                  # their flag codes
    11, 120, 5,              # speed: flags, limit, time
    11, 80, 5,               # speed in rain
    11, 0x11, 0x94, 5,       # engine speed: flags, 4500, time
    11, 5, 30,               # idling: flags, time, exception
    11, 20, 0x03, 0x84, 10,  # coasting: flags, speed, 900, time
])
assert len(DEFAULT_FIELDS) == 36


def with_sum(fields):
    s = sum(fields) & 0xFFFFFF
    return fields + bytes([s >> 16, (s >> 8) & 0xFF, s & 0xFF])


def set_at(fields, offset, *values):
    b = bytearray(fields)
    b[offset:offset + len(values)] = bytes(values)
    return bytes(b)


# The first byte chooses what the target fixes up: 0 nothing, 3 the markers,
# the usual length and the sum, 7 a longer body length taken from the input.
write("record", "default", b"\x00" + with_sum(DEFAULT_FIELDS))
write("record", "blank", b"\x00")
write("record", "bad_sum", b"\x00" + DEFAULT_FIELDS + b"\x00\x00\x01")
write("record", "out_of_range", b"\x03" + set_at(DEFAULT_FIELDS, 19, 200) + b"\x00\x00\x00")
write("record", "unknown_list_value", b"\x03" + set_at(DEFAULT_FIELDS, 8, 0x00, 0x07) + b"\x00\x00\x00")
write("record", "unknown_flag_bits", b"\x03" + set_at(DEFAULT_FIELDS, 16, 99, 99, 99) + b"\x00\x00\x00")
write("record", "long_body", b"\x07" + set_at(DEFAULT_FIELDS, 4, 0x01, 0x00) + b"\x00\x00\x00")


# --- identification --------------------------------------------------------
def ident(mode, version, base=0x0803F000, text1=b"VYO", text2=b"BOOT"):
    p = bytes([mode]) + struct.pack(">III", 0x11223344, 0x55667788, 0x99AABBCC)
    p += text1.ljust(12, b"\x00")[:12] + text2.ljust(12, b"\x00")[:12]
    return p + bytes(version) + struct.pack(">I", base)


write("identification", "up_to_date", ident(1, [4, 0, 2, 42]))
write("identification", "old", ident(1, [4, 0, 2, 41]))
write("identification", "test_build", ident(1, [41, 0, 255, 255]))
write("identification", "discontinued", ident(1, [2, 7, 1, 0]))
write("identification", "operation_mode", ident(0, [4, 0, 2, 42]))
write("identification", "texts", ident(1, [3, 0, 99, 0], text1=b"VY\r\nO  ", text2=b"\x7fBOOT   \x01"))
write("identification", "short", ident(1, [4, 0, 2, 42])[:44])


# --- JSON profile ----------------------------------------------------------
DEFAULT_PROFILE = {
    "CB_PING": 60, "CB_A232": 115200, "CB_B232": 9600,
    "ED_ACP": 12, "ED_ACN": 15, "ED_VMX": 120, "ED_TVMX": 5, "ED_VCH": 80, "ED_TVCH": 5,
    "ED_RPX": 4500, "ED_TRPX": 5, "ED_TOSC": 5, "ED_XOSC": 30,
    "ED_VBGL": 20, "ED_RBGL": 900, "ED_TBGL": 10,
    "ED_VEBK": 50, "ED_TEBK": 5, "ED_REBK": 2500,
    "CB_BZ_ACP": True, "CB_EV_ACP": True, "CB_BZ_VMX_IN": True, "CB_BZ_VMX_OUT": False,
    "CB_BZ_VMX_WH": False, "CB_EV_VMX_IN": True, "CB_EV_VMX_OUT": False,
}
write("panel_json", "profile", json.dumps(DEFAULT_PROFILE, indent=4))
write("panel_json", "partial", '{"ED_VMX": 99, "CB_PING": 300, "CB_BZ_VMX_WH": true, "ED_RBGL": "750"}')
write("panel_json", "nothing_selected", '{"CB_PING": null, "CB_A232": null, "ED_VCH": "070"}')
write("panel_json", "texts", '{"ED_TVMX": "5a", "CB_EV_ACN": "1", "CB_B232": "0019200", "ED_ACP": "\\u00e9"}')
write("panel_json", "refused", '{"CB_PING": 7, "ED_VMX": 1.5, "CB_PNG": null, "X": [1]}')
write("panel_json", "not_an_object", '[{"ED_VMX": 99}]')


# --- session script --------------------------------------------------------
# Opening bytes: firmware image size, then identified at 4.0.2.42 unless
# the second byte is a multiple of 4. Steps (first byte modulo 16):
STEP_RAW, STEP_FRAME, STEP_ACK, STEP_NACK, STEP_READ, STEP_IDENT, STEP_OPMODE, STEP_TIME = range(8)
STEP_UNIT, STEP_CLOSE, STEP_LOST, STEP_OPEN, STEP_BUTTON, STEP_FAILWRITES, STEP_RECORD, STEP_SHORT = range(8, 16)
BUTTON_PANEL, BUTTON_WRITE, BUTTON_READ, BUTTON_FIRMWARE, BUTTON_JUMP = range(5)


def time_s(seconds):  # Advance(n * 40 ms)
    return [STEP_TIME, min(255, seconds * 25), 1]


def ident_step(major_index, release, build, follow=True, mode=1):
    # major by index into {4, 4, 3, 41, 1, 2, 5}; release and build given
    return [STEP_IDENT, major_index, 0, 0, release, 0, build, mode, 0, 1 if follow else 0, 0, 0]


write_config = [STEP_BUTTON, BUTTON_WRITE, 0, 0, 1]
write("session", "read", [16, 1, STEP_BUTTON, BUTTON_READ] + time_s(10))
write("session", "write", [16, 1] + write_config + time_s(10))
write("session", "flash_and_restart", [100, 0] + ident_step(0, 2, 41) + time_s(10) + ident_step(0, 2, 42) + time_s(10))
write("session", "blank_unit", [16, 0, STEP_RECORD, 2] + ident_step(0, 2, 42) + time_s(10))
write("session", "unplugged_mid_write", [16, 1, STEP_UNIT, 1, 50] + write_config + [STEP_TIME, 100, 0, STEP_LOST, STEP_OPEN]
      + ident_step(0, 2, 42) + time_s(10))
write("session", "silent_unit", [16, 1, STEP_UNIT, 0, 1] + write_config + time_s(10))
write("session", "split_ack_and_garbage", [16, 1, STEP_UNIT, 0, 1] + write_config
      + [STEP_ACK, 0, 0, 2, 5, 10] + [STEP_RAW, 6, 0, 0xBC, 0x12, 0x02, 0x00, 0xEF, 0x00, 0]
      + [STEP_ACK, 0, 0, 0, 0] + time_s(10))
write("session", "operation_mode", [16, 1, STEP_BUTTON, BUTTON_READ, STEP_OPMODE, 0, 0, 0] + time_s(2) + [STEP_OPEN]
      + ident_step(0, 2, 42, mode=0) + time_s(2))
write("session", "failing_writes", [16, 1, STEP_FAILWRITES, 3] + write_config + time_s(10))
