"""Walks the packs and PES packets of a program-stream file by their lengths.

Used by the generator's checks to see what the packs say (SCR, PTS, DTS,
substream ids) without trusting the generator's own bookkeeping.
"""

import struct


def _timestamp(b, i):
    return (((b[i] >> 1) & 0x07) << 30) | (b[i + 1] << 22) | ((b[i + 2] >> 1) << 15) | (b[i + 3] << 7) | (b[i + 4] >> 1)


def walk(data, pack_size=2048):
    """Yields one dict per pack: offset, scr, system_header (bytes or None), packets."""
    if len(data) % pack_size:
        raise ValueError("file length %d is not a whole number of packs" % len(data))
    for off in range(0, len(data), pack_size):
        p = data[off:off + pack_size]
        if p[:4] != b"\x00\x00\x01\xba":
            raise ValueError("no pack header at %d" % off)
        if (p[4] >> 6) != 1:
            raise ValueError("not an MPEG-2 pack header at %d" % off)
        scr = (((p[4] >> 3) & 0x07) << 30) | ((p[4] & 0x03) << 28) | (p[5] << 20) | ((p[6] >> 3) << 15) \
            | ((p[6] & 0x03) << 13) | (p[7] << 5) | (p[8] >> 3)
        mux_rate = (p[10] << 14) | (p[11] << 6) | (p[12] >> 2)
        i = 14 + (p[13] & 0x07)
        system_header = None
        packets = []
        while i < pack_size:
            if p[i:i + 3] != b"\x00\x00\x01":
                raise ValueError("no start code at %d+%d" % (off, i))
            sid = p[i + 3]
            length = struct.unpack(">H", p[i + 4:i + 6])[0]
            end = i + 6 + length
            if end > pack_size:
                raise ValueError("packet overruns its pack at %d+%d" % (off, i))
            if sid == 0xBB:
                system_header = p[i:end]
            elif sid in (0xBE, 0xBF):
                packets.append({"id": sid, "payload": p[i + 6:end]})
            else:
                flags, hlen = p[i + 7], p[i + 8]
                h = i + 9
                pkt = {"id": sid, "pts": None, "dts": None, "ext": None}
                if flags & 0x80:
                    pkt["pts"] = _timestamp(p, h)
                    h += 5
                if flags & 0x40:
                    pkt["dts"] = _timestamp(p, h)
                    h += 5
                if flags & 0x01:
                    ext_flags = p[h]
                    h += 1
                    if ext_flags & 0x80:
                        h += 16
                    if ext_flags & 0x40:
                        h += 1 + p[h]
                    if ext_flags & 0x20:
                        h += 2
                    if ext_flags & 0x10:
                        h += 2
                    if ext_flags & 0x01:
                        if p[h] & 0x7F:
                            pkt["ext"] = p[h + 1] & 0x7F
                        h += 1 + (p[h] & 0x7F)
                payload = p[i + 9 + hlen:end]
                if sid == 0xBD:
                    pkt["sub"] = payload[0]
                pkt["payload"] = payload
                packets.append(pkt)
            i = end
        yield {"offset": off, "scr": scr, "mux_rate": mux_rate, "system_header": system_header, "packets": packets}
