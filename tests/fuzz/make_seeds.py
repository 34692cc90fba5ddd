#!/usr/bin/env python3
"""Writes the small seed inputs of the stream layer's fuzz targets into
tests/fuzz/corpus/<target>/ (see the input layouts in the *Fuzz.cpp files)."""
import os
import struct

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.dirname(os.path.dirname(here))


def write(target, name, data):
    folder = os.path.join(here, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(bytes(data))


def bbheader(matype1, upl, dfl, sync, syncd):
    return struct.pack(">BBHHBHB", matype1, 0, upl, dfl, sync, syncd, 0)


def gse_packet(start, end, label_type, body):
    length = len(body)
    return struct.pack(">BB", (start << 7) | (end << 6) | (label_type << 4) | (length >> 8), length & 0xFF) + body


def gse_field():
    pdu = bytes(range(100))
    field = gse_packet(1, 1, 2, struct.pack(">H", 0x0800) + pdu)              # complete, no label
    field += gse_packet(1, 1, 0, struct.pack(">H", 0x86DD) + bytes(6) + pdu)  # complete, 6-byte label
    whole = struct.pack(">H", 0x0800) + bytes(3) + pdu + bytes(4)             # protocol, 3-byte label, PDU, CRC
    field += gse_packet(1, 0, 1, struct.pack(">BH", 7, len(whole)) + whole[:40])
    field += gse_packet(0, 0, 3, struct.pack(">B", 7) + whole[40:80])
    field += gse_packet(0, 1, 3, struct.pack(">B", 7) + whole[80:])
    return field + bytes(2)                                                    # padding


def sdt_section():
    def service(sid, name, provider):
        d = bytes([0x48, 3 + len(provider) + len(name), 1, len(provider)]) + provider + bytes([len(name)]) + name
        d = bytes([0x5F, 4, 0, 0, 0, 0x28]) + d                                # private data specifier first
        return struct.pack(">HBH", sid, 0xFC, 0x8000 | len(d)) + d
    body = struct.pack(">HBBBHB", 1, 0xC1, 0, 0, 1, 0xFF)
    body += service(1, b"SEED ONE", b"TAVIREL") + service(2, b"SEED TWO", b"")
    length = len(body) + 4
    return bytes([0x42, 0xF0 | (length >> 8), length & 0xFF]) + body + bytes(4)


def ts_packets(section, pid=0x11):
    packets, first, counter = [], True, 0
    while section or first:
        payload = (b"\x00" if first else b"") + section[: 184 - (1 if first else 0)]
        section = section[len(payload) - (1 if first else 0):]
        header = struct.pack(">BHB", 0x47, (0x4000 if first else 0) | pid, 0x10 | counter)
        packets.append(header + payload + b"\xff" * (184 - len(payload)))
        first, counter = False, (counter + 1) & 15
    return b"".join(packets)


# BBFRAMEs: two frames of a transport stream from the transmitter's agreement
# vectors, a GSE frame, a failed frame.
with open(os.path.join(root, "tests/tx/data/s2_qpsk12_normal_pilots_bbframes.bin"), "rb") as f:
    frames = f.read()
write("bbframe", "ts_frame0", b"\x20" + frames[:4026])
write("bbframe", "ts_frame1", b"\x00" + frames[4026:8052])
field = gse_field()
write("bbframe", "gse_frame", b"\x40" + bbheader(0x72, 0, len(field) * 8, 0, 0) + field)
write("bbframe", "failed_frame", b"\x80" + frames[:200])

write("gse", "field", b"\x00" + struct.pack(">H", len(field) * 8) + field)
write("gse", "field_traced", b"\x01" + struct.pack(">H", len(field) * 8) + field)

packets = ts_packets(sdt_section() * 3)     # one section over several packets
write("sdt", "sdt_split", b"\x00" + packets)
write("sdt", "sdt_one", b"\x02" + ts_packets(sdt_section()))

# devices.ini as the receiver writes it, with the LimeSDR's extra keys.
write("devices_ini", "typical",
      b"[TCPInputDevice_3493311334]\ndevname=TCP Input Device\nbandwidth=2000000\nfrequency=0\nbbgain=0\nbbfilt=0\n"
      b"[LimeSDRDevice]\nbandwidth=4000000\nfrequency=1210000000\nbbgain=40\nrx_channel=1\nrx_path=LMS_PATH_LNAW\n")

# IQ bytes: format, eight piece sizes, the stream.
for fmt in range(4):
    write("iq_stream", "format%d" % fmt, bytes([fmt]) + bytes([1, 2, 3, 5, 7, 11, 13, 16]) + bytes(range(256)))

# The outer decoder: 204-byte words whose first bytes carry the group's
# inverted sync byte and the sync bytes, as after the inner decoder.
words = b""
for k in range(16):
    body = bytes((k * 31 + i) & 0xFF for i in range(203))
    words += (b"\xb8" if k % 8 == 0 else b"\x47") + body
write("dvbs_outer", "synced_words", b"\x00" + words)
write("dvbs_outer", "synced_words_no_rs", b"\xfd" + words)

# The BCH decoder: code, error count, two-byte positions, data bytes.
def positions(count, step):
    return b"".join(struct.pack(">H", (i * step + 17) & 0xFFFF) for i in range(count))

data = bytes((i * 37 + 11) & 0xFF for i in range(600))
write("bch", "normal_clean", bytes([3, 0]) + data)
write("bch", "normal_t_errors", bytes([3, 12]) + positions(12, 4099) + data)
write("bch", "normal_t8_beyond", bytes([9, 10]) + positions(10, 5003) + data)
write("bch", "short_t_errors", bytes([14, 12]) + positions(12, 577) + data)
write("bch", "short_beyond", bytes([11, 14]) + positions(14, 211) + data)
write("bch", "short_raw", bytes([0x80 | 13, 0]) + data)
