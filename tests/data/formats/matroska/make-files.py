#!/usr/bin/env python3
"""Writes the Matroska files made by hand here. Every size they hold is written in eight bytes,
as EBML allows (the tools write the shortest):
- nested-65-levels.mkv: the EBML header, a Segment and its Chapters, whose only chapter holds 64
  ChapterAtoms, each inside the one before; `python3 make-files.py LEVELS OUTPUT` writes such a
  file of LEVELS atoms in all.
- long-sizes.mkv: chapters.mkv with its EBML header written so.
- damaged-seekhead.mkv: chapters.mkv without bytes 62 to 64, inside its SeekHead's first Seek.
- damaged-seekhead-chapters-at-end.mkv: mkvpropedit-second-seekhead.mkv with the size of its
  first SeekHead's first Seek (byte 59) made "unknown", 0xFF.
- video-cues.mkv: the EBML header and a Segment of an Info (a TimestampScale of 1000 ns), Tracks
  (track 1 audio, track 2 video) and Cues, without a SeekHead or a Cluster: cue points at 0 and
  1,668,334 µs for the video, 2 s for the audio alone, 3.003 s for both.
- cues-scale-0.mkv: the same with a TimestampScale of 0.
- cues-time-past-64-bits.mkv: a TimestampScale of 1,000,000 ns and a CueTime of 2^64 - 1 ticks."""
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


def number(ident, value):
    return element(bytes.fromhex(ident), value.to_bytes(8, "big"))


def video_cues(scale, points):
    """points: (CueTime, [CueTrack, ...]) each."""
    header = element(bytes.fromhex("1A45DFA3"), element(bytes.fromhex("4282"), b"matroska"))
    info = element(bytes.fromhex("1549A966"), number("2AD7B1", scale))
    tracks = element(
        bytes.fromhex("1654AE6B"),
        element(bytes([0xAE]), number("D7", 1) + number("83", 2))  # TrackEntry: number, type audio
        + element(bytes([0xAE]), number("D7", 2) + number("83", 1)),  # video
    )
    cues = b"".join(
        element(bytes([0xBB]), number("B3", time) + b"".join(element(bytes([0xB7]), number("F7", t)) for t in on))
        for time, on in points
    )
    return header + element(bytes.fromhex("18538067"), info + tracks + element(bytes.fromhex("1C53BB6B"), cues))


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
    points = [(0, [2]), (1668334, [2]), (2000000, [1]), (3003000, [1, 2])]
    open("video-cues.mkv", "wb").write(video_cues(1000, points))
    open("cues-scale-0.mkv", "wb").write(video_cues(0, points))
    open("cues-time-past-64-bits.mkv", "wb").write(video_cues(1000000, [(0, [2]), (2**64 - 1, [2])]))
