# Writes a small DNG: a LinearRaw sensor picture (16-bit RGB, in a SubIFD)
# and a JPEG preview in IFD0, with an orientation tag.
import struct, sys
raw_rgb16, w, h, jpeg_path, pw, ph, orientation, out = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4], int(sys.argv[5]), int(sys.argv[6]), int(sys.argv[7]), sys.argv[8]
raw = open(raw_rgb16, 'rb').read()
assert len(raw) == w * h * 6
jpeg = open(jpeg_path, 'rb').read()
SHORT, LONG, ASCII, RATIONAL, SRATIONAL, BYTE = 3, 4, 2, 5, 10, 1
size = {SHORT: 2, LONG: 4, ASCII: 1, RATIONAL: 8, SRATIONAL: 8, BYTE: 1}
def val(t, v):
    if t == ASCII: return v.encode() + b'\0'
    if t == BYTE: return bytes(v)
    if t == SHORT: return b''.join(struct.pack('<H', x) for x in v)
    if t == LONG: return b''.join(struct.pack('<I', x) for x in v)
    if t == RATIONAL: return b''.join(struct.pack('<II', *x) for x in v)
    if t == SRATIONAL: return b''.join(struct.pack('<ii', *x) for x in v)
def count(t, v):
    return len(v) + 1 if t == ASCII else len(v)
# layout: header, IFD0, its data, raw IFD, its data, jpeg, raw data
xyz_to_srgb = [3.2406, -1.5372, -0.4986, -0.9689, 1.8758, 0.0415, 0.0557, -0.2040, 1.0570]
def build(entries, base, next_ifd=0):
    entries = sorted(entries)
    n = len(entries)
    data_at = base + 2 + n * 12 + 4
    ifd = struct.pack('<H', n)
    blob = b''
    for tag, t, v in entries:
        b = val(t, v)
        c = count(t, v)
        if len(b) <= 4:
            ifd += struct.pack('<HHI', tag, t, c) + b.ljust(4, b'\0')
        else:
            ifd += struct.pack('<HHII', tag, t, c, data_at + len(blob))
            blob += b + (b'\0' if len(b) % 2 else b'')
    ifd += struct.pack('<I', next_ifd)
    return ifd + blob
def ifd0(raw_ifd_at, jpeg_at):
    return [
        (254, LONG, [1]), (256, LONG, [pw]), (257, LONG, [ph]), (258, SHORT, [8, 8, 8]),
        (259, SHORT, [6]), (262, SHORT, [6]), (271, ASCII, 'Vignettes'), (272, ASCII, 'Test'),
        (274, SHORT, [orientation]), (277, SHORT, [3]), (330, LONG, [raw_ifd_at]),
        (513, LONG, [jpeg_at]), (514, LONG, [len(jpeg)]),
        (50706, BYTE, [1, 4, 0, 0]), (50707, BYTE, [1, 1, 0, 0]), (50708, ASCII, 'Vignettes Test'),
        (50721, SRATIONAL, [(round(x * 10000), 10000) for x in xyz_to_srgb]),
        (50728, RATIONAL, [(1, 1)] * 3), (50778, SHORT, [21]),
    ]
def raw_ifd(raw_at):
    return [
        (254, LONG, [0]), (256, LONG, [w]), (257, LONG, [h]), (258, SHORT, [16, 16, 16]),
        (259, SHORT, [1]), (262, SHORT, [34892]), (273, LONG, [raw_at]), (277, SHORT, [3]),
        (278, LONG, [h]), (279, LONG, [len(raw)]), (284, SHORT, [1]),
        (50714, LONG, [0]), (50717, LONG, [65535]),
    ]
# Two passes: sizes first, then offsets.
ifd0_len = len(build(ifd0(0, 0), 8))
raw_ifd_at = 8 + ifd0_len
raw_ifd_len = len(build(raw_ifd(0), raw_ifd_at))
jpeg_at = raw_ifd_at + raw_ifd_len
raw_at = jpeg_at + len(jpeg) + (len(jpeg) % 2)
out_bytes = b'II*\0' + struct.pack('<I', 8) + build(ifd0(raw_ifd_at, jpeg_at), 8) + build(raw_ifd(raw_at), raw_ifd_at) + jpeg + (b'\0' if len(jpeg) % 2 else b'') + raw
open(out, 'wb').write(out_bytes)
