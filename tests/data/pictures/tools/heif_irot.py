import sys
# Replaces the 16-byte 'pixi' property of a HEIF file by an 'irot' property
# (rotation anticlockwise by angle x 90 degrees) padded to the same 16 bytes, so
# that no size or offset in the file changes.
src, dst, angle = sys.argv[1], sys.argv[2], int(sys.argv[3])
d = bytearray(open(src, 'rb').read())
i = d.find(b'pixi')
assert i > 4 and int.from_bytes(d[i-4:i], 'big') == 16, 'no 16-byte pixi'
box = (16).to_bytes(4, 'big') + b'irot' + bytes([angle & 3]) + b'\0' * 7
d[i-4:i+12] = box
open(dst, 'wb').write(d)
