#!/usr/bin/env python3
"""Writes playlist.mpls, a small Blu-ray playlist of the documented layout, truncated.mpls, the
same cut inside its marks, and mark-past-out-time.mpls, whose last entry mark lies past its play
item's OUT time. Run in this folder: python3 make-playlists.py

All numbers are big-endian; times are 45 kHz ticks of a play item's clip.
"""
import struct

TICKS = 45000  # a second

def play_item(clip, in_time, out_time):
    body = clip.encode() + b"M2TS"          # clip information file name, codec identifier
    body += struct.pack(">HB", 0x0001, 0)   # not multi-angle, connection condition 1; STC id
    body += struct.pack(">II", in_time, out_time)
    body += bytes(8)                        # user operation mask
    body += struct.pack(">BBH", 0, 0, 0)    # random access flag, still mode, still time
    body += struct.pack(">H", 14) + bytes(14)  # STN table: no streams
    return struct.pack(">H", len(body)) + body

def mark(kind, item, time):
    # reserved, mark type (1 entry mark, 2 link point), play item, time, entry PID, duration
    return struct.pack(">BBHIHI", 0, kind, item, time, 0xFFFF, 0)

items = [
    play_item("00001", 2 * TICKS, 12 * TICKS),       # plays 10 s of its clip from 2 s
    play_item("00002", 100 * TICKS, 105 * TICKS),    # then 5 s from 100 s
]
marks = [
    mark(1, 0, 2 * TICKS),              # the playlist's start: 0 s
    mark(1, 1, 100 * TICKS + 22523),    # 10 s + 0.500511 s into the playlist: 10.501
    mark(2, 0, 5 * TICKS),              # a link point: not a chapter
    mark(1, 0, 7 * TICKS + 1),          # out of order: 5.000022 s
]

def playlist_bytes(marks):
    """The playlist of the items above and these marks, and the offset of its mark list."""
    app_info = struct.pack(">I", 14) + struct.pack(">BBH", 0, 1, 0) + bytes(8) + struct.pack(">H", 0)
    play_list = struct.pack(">HHH", 0, len(items), 0) + b"".join(items)
    play_list = struct.pack(">I", len(play_list)) + play_list
    mark_list = struct.pack(">H", len(marks)) + b"".join(marks)
    mark_list = struct.pack(">I", len(mark_list)) + mark_list
    play_list_at = 40 + len(app_info)
    marks_at = play_list_at + len(play_list)
    header = b"MPLS0200" + struct.pack(">III", play_list_at, marks_at, 0) + bytes(20)
    return header + app_info + play_list + mark_list, marks_at

playlist, marks_at = playlist_bytes(marks)
with open("playlist.mpls", "wb") as f:
    f.write(playlist)
# Cut inside the time of the last mark, which starts at marks_at + 6 + 3 * 14.
with open("truncated.mpls", "wb") as f:
    f.write(playlist[: marks_at + 6 + 3 * 14 + 5])
print("last mark at", marks_at + 6 + 3 * 14)

# A mark at its item's OUT time is kept; the next, 33 s past the end of the second item, is not.
past_out, marks_at = playlist_bytes([
    mark(1, 0, 2 * TICKS),
    mark(1, 0, 12 * TICKS),
    mark(1, 1, 138 * TICKS),
])
with open("mark-past-out-time.mpls", "wb") as f:
    f.write(past_out)
print("mark past its OUT time at", marks_at + 6 + 2 * 14)
