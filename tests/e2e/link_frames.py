"""Frames of the packet link for the end-to-end tests: building the unit's frames and reading
the program's frames from the far end of the line."""
import struct
import time

MARK = 0x7E
HEADER_BYTES = 10


def checksum(command, ident, payload, length=None):
    length = len(payload) if length is None else length
    return (sum(struct.pack("<HHH", length, command, ident)) + sum(payload)) & 0xFFFF


def frame(command, ident, payload=b"", checksum_delta=0):
    """One frame as the unit sends it; checksum_delta spoils the checksum on purpose."""
    total = (checksum(command, ident, payload) + checksum_delta) & 0xFFFF
    return bytes([MARK, MARK]) + struct.pack("<HHHH", total, len(payload), command, ident) + payload


def parse(data):
    """(checksum, length, command, id, payload) of one whole frame."""
    total, length, command, ident = struct.unpack("<HHHH", data[2:HEADER_BYTES])
    return total, length, command, ident, data[HEADER_BYTES:HEADER_BYTES + length]


def read_frame(peer, timeout=5.0):
    """Reads one frame the program sent (marks first); returns its bytes, or b"" if none came."""
    deadline = time.monotonic() + timeout
    head = b""
    while len(head) < HEADER_BYTES:
        left = deadline - time.monotonic()
        if left <= 0:
            return b""
        head += peer.read(HEADER_BYTES - len(head), left)
    if head[0] != MARK or head[1] != MARK:
        raise AssertionError("the program's bytes do not start with two marks: %s" % head.hex())
    length = struct.unpack("<H", head[4:6])[0]
    body = peer.read(length, max(1.0, deadline - time.monotonic())) if length else b""
    if len(body) != length:
        raise AssertionError("frame cut short: %s + %s" % (head.hex(), body.hex()))
    return head + body


def drain(peer, quiet=0.3):
    """Reads and returns whatever arrives until the line has been quiet for a while."""
    data = b""
    while True:
        chunk = peer.read(4096, quiet)
        if not chunk:
            return data
        data += chunk
