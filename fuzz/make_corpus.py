#!/usr/bin/env python3
"""Writes the seed corpora: valid reports of every type, in the input format
of each fuzz target (see the targets' comments). Run from the repository
root; the files are committed."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def report(*parts, size=64):
    data = bytearray(size)
    pos = 0
    for p in parts:
        data[pos:pos + len(p)] = p
        pos += len(p)
    return bytes(data)


def at(size=64, **fields):
    data = bytearray(size)
    for offset, value in fields.items():
        off = int(offset[1:])
        data[off:off + len(value)] = value
    return bytes(data)


def header(version, count, current):
    return at(o0=bytes([101, 3, version]), o3=struct.pack('<IHB', 0x01020304, 0x0506, 7),
              o42=bytes([count, current]))


def profile_record(index, name=b'Profile'):
    rec = bytearray(43)
    rec[0] = index
    n = (name + b' %d' % index)[:16]
    rec[1:1 + len(n)] = n
    rec[17:21] = struct.pack('<f', 0.25)
    rec[21:25] = struct.pack('<i', 900)
    rec[25] = 3
    rec[26:30] = struct.pack('<i', 4194304)
    rec[30:34] = struct.pack('<i', 50)
    rec[34:39] = bytes([1, 10, 20, 30, 40])
    rec[39:43] = bytes([0, 1, 2, 0])
    return bytes(rec)


def profile_reply(kind, index, byte2=3):
    return at(o0=bytes([101, kind, byte2]), o3=profile_record(index))


def joystick(kind, axis=1234):
    data = bytearray(64)
    data[0] = 1
    data[1:3] = struct.pack('<h', axis)
    data[8] = kind
    if kind == 1:
        data[10:14] = struct.pack('<I', 1000)
        data[14:16] = struct.pack('<H', 4)
        data[34:42] = struct.pack('<Q', 5)
    elif kind == 2:
        data[9:11] = struct.pack('<h', 1234)
        data[11] = 1
        data[12] = 11
        for i in range(11):
            data[13 + 2 * i:15 + 2 * i] = struct.pack('<h', 100 * i)
            data[35 + 2 * i:37 + 2 * i] = struct.pack('<h', -50 * i)
        data[57:61] = struct.pack('<f', 1.5)
    elif kind == 3:
        data[9:13] = struct.pack('<I', 77)
        for i in range(9):
            data[13 + 4 * i:17 + 4 * i] = struct.pack('<f', 0.1 * (i + 1))
    return bytes(data)


def crc(data):
    value = 0xFFFFFFFF
    for i in range(0, len(data) // 4 * 4, 4):
        value ^= struct.unpack('<I', data[i:i + 4])[0]
        for _ in range(32):
            value = ((value << 1) ^ 0x04C11DB7) if value & 0x80000000 else (value << 1)
            value &= 0xFFFFFFFF
    return value


def image(size):
    return bytes((i * 131 + 7) & 0xFF for i in range(size))


def ack(img, index, total, good=True):
    padded = img + bytes(-len(img) % 32)
    chunk = padded[index * 32:index * 32 + 32] if 0 <= index < total else bytes(32)
    value = crc(chunk) ^ (0 if good else 1)
    return at(o0=bytes([2, 1]), o2=chunk, o34=struct.pack('<hhI', index, total, value))


def write(target, name, data):
    folder = os.path.join(HERE, 'corpus', target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data)


def main():
    # Wheel base: one action byte, then reports.
    write('fuzz_wheelbase', 'load-3', bytes([0]) + header(3, 3, 1) +
          b''.join(profile_reply(5, i) for i in range(3)))
    write('fuzz_wheelbase', 'load-100', bytes([0]) + header(3, 100, 99) +
          b''.join(profile_reply(5, i) for i in range(100)))
    for version in (1, 2, 4):
        write('fuzz_wheelbase', 'load-v%d' % version, bytes([0]) + header(version, 3, 0))
    write('fuzz_wheelbase', 'load-count-0', bytes([0]) + header(3, 0, 0))
    write('fuzz_wheelbase', 'save-2', bytes([1]) + header(3, 2, 0) +
          b''.join(profile_reply(5, i) for i in range(2)) + at(o0=bytes([101, 4])) +
          profile_reply(6, 0) + profile_reply(6, 1) + at(o0=bytes([101, 4]), o42=bytes([255])))
    write('fuzz_wheelbase', 'center', bytes([2]) + header(3, 1, 0) + profile_reply(5, 0) +
          profile_reply(7, 0, byte2=2) + at(o0=bytes([101, 7, 0]), o42=bytes([1, 0])))
    write('fuzz_wheelbase', 'live', bytes([6]) + joystick(1) + joystick(2) + joystick(3) +
          at(o0=bytes([101, 2])) + at(o0=bytes([101, 9, 0, 1, 2, 3])) + at(o0=bytes([101, 8])))
    write('fuzz_wheelbase', 'edit', bytes([3]) + header(3, 2, 1) + profile_reply(5, 0) +
          profile_reply(5, 1) + at(o0=bytes([7, 0x5A])))

    # Pedals: reports.
    write('fuzz_pedals', 'axes', report(bytes([1]) + struct.pack('<HHH', 65535, 0, 32768)) +
          report(bytes([101, 1])))

    # Bootloader: two bytes of image size (as the target reads them), then acks.
    for size in (0, 33, 64, 300):
        img = image(size)
        total = (size + 31) // 32
        acks = b''.join(ack(img, i, total) for i in range(total))
        write('fuzz_bootloader', 'transfer-%d' % size, struct.pack('<H', size) + acks)
    img = image(320)
    write('fuzz_bootloader', 'bad-crc', struct.pack('<H', 320) + ack(img, 0, 10) +
          ack(img, 1, 10) + ack(img, 2, 10, good=False))
    write('fuzz_bootloader', 'duplicate', struct.pack('<H', 320) + ack(img, 0, 10) +
          ack(img, 0, 10) + ack(img, 1, 10))
    write('fuzz_bootloader', 'out-of-range', struct.pack('<H', 320) + ack(img, 9, 10) +
          ack(img, 10, 10) + ack(img, -1, 10) + at(o0=bytes([2, 3]), o3=bytes([1, 2, 3, 4])))
    write('fuzz_bootloader', 'oversized', struct.pack('<H', 0xFFFF) + ack(img, 0, 10))


if __name__ == '__main__':
    main()
