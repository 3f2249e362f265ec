#!/usr/bin/env python3
"""Writes the Matroska files made by hand here. Every size they hold is written in eight bytes,
as EBML allows (the tools write the shortest):
- nested-65-levels.mkv: the EBML header, a Segment and its Chapters, whose only chapter holds 64
  ChapterAtoms, each inside the one before; `python3 make-files.py LEVELS OUTPUT` writes such a
  file of LEVELS atoms in all.
- long-sizes.mkv: chapters.mkv with its EBML header written so.
- damaged-seekhead.mkv: chapters.mkv without bytes 62 to 64, inside its SeekHead's first Seek.
- damaged-seekhead-chapters-at-end.mkv: mkvpropedit-second-seekhead.mkv with the size of its
  first SeekHead's first Seek (byte 59) made "unknown", 0xFF."""
import sys


def element(ident, payload):
    return ident + bytes([0x01]) + len(payload).to_bytes(7, "big") + payload


def nested(levels):
    time_start = bytes([0x91, 0x81, 0x00])  # ChapterTimeStart 0
    # From the innermost atom out, so that each size is known when it is written.
    atom = element(bytes([0xB6]), time_start)
    for _ in range(levels - 1):
        atom = element(bytes([0xB6]), time_start + atom)
    header = element(bytes.fromhex("1A45DFA3"), element(bytes.fromhex("4282"), b"matroska"))
    chapters = element(bytes.fromhex("1043A770"), element(bytes.fromhex("45B9"), atom))
    return header + element(bytes.fromhex("18538067"), chapters)


def long_sizes(data):
    # The header of chapters.mkv: four id bytes, a one-byte size, then children of two-byte ids
    # and one-byte sizes.
    assert data[:4] == bytes.fromhex("1A45DFA3")
    end = 5 + (data[4] & 0x7F)
    children, at = b"", 5
    while at < end:
        size = data[at + 2] & 0x7F
        children += element(data[at : at + 2], data[at + 3 : at + 3 + size])
        at += 3 + size
    return element(data[:4], children) + data[end:]


if len(sys.argv) == 3:
    open(sys.argv[2], "wb").write(nested(int(sys.argv[1])))
else:
    open("nested-65-levels.mkv", "wb").write(nested(65))
    chapters = open("chapters.mkv", "rb").read()
    open("long-sizes.mkv", "wb").write(long_sizes(chapters))
    open("damaged-seekhead.mkv", "wb").write(chapters[:62] + chapters[65:])
    at_end = bytearray(open("mkvpropedit-second-seekhead.mkv", "rb").read())
    assert at_end[57:59] == bytes.fromhex("4DBB")  # a Seek
    at_end[59] = 0xFF
    open("damaged-seekhead-chapters-at-end.mkv", "wb").write(at_end)
