#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes the seed corpora: valid reports of every type, in the input format
of each fuzz target (see the targets' comments), and good and bad profile
documents. Run from the repository root; the files are committed."""
import json
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

    # Profile documents: the bytes of a file, or two of them separated by a
    # zero byte.
    profile_documents()
    game_documents()


ENCODERS = ['Incremental', 'Incremental (Rev)', 'BISS-C', 'BISS-C (Rev)']
EFFECTS = ['Device Effect Only', 'Game Effect Only', 'Device and Game Effects']


def profile(index, **changes):
    p = {
        'index': index, 'name': 'Profile %d' % index, 'centerOffset': 0.25,
        'rotationDegrees': 900, 'encoderType': ENCODERS[index % 4],
        'encoderResolution': 4194304, 'maxForce': 50, 'smoothing': 1, 'damping': 10,
        'friction': 20, 'inertia': 30, 'spring': 40, 'dampingEffect': EFFECTS[index % 3],
        'frictionEffect': EFFECTS[1], 'inertiaEffect': 2, 'springEffect': 200,
    }
    for key, value in changes.items():
        if value is None:
            del p[key]
        else:
            p[key] = value
    return p


def document(items, current=0, indent=4, **changes):
    d = {'format': 'zud-wheel-profiles', 'version': 1, 'currentProfile': current,
         'profiles': items}
    for key, value in changes.items():
        if value is None:
            del d[key]
        else:
            d[key] = value
    return json.dumps(d, indent=indent, ensure_ascii=False).encode('utf-8') + b'\n'


def profile_documents():
    def table(n, current=0, **changes):
        return document([profile(i) for i in range(n)], current, **changes)

    good = {
        'table-3': table(3, 1),
        'table-100': document([profile(i) for i in range(100)], 99, indent=None),
        'single': document([profile(7)], scope='profile'),
        'scope-table': table(2, scope='table'),
        'name-bytes': document([profile(0, name='Caf\u00e9', nameBytes='436166e9000000000000000000000001')]),
        'name-utf8': document([profile(0, name='\u00dcbung \u6f22\u5b57')]),
        'float-bits': document([profile(0, centerOffset='0x7fc00000'),
                                profile(1, centerOffset='0x80000000'),
                                profile(2, centerOffset=1.401298464324817e-45)]),
        'limits': document([profile(0, rotationDegrees=9999, encoderResolution=999999999,
                                    maxForce=100, smoothing=4, damping=100, friction=0,
                                    inertia=100, spring=0, encoderType=255,
                                    dampingEffect=0)]),
    }
    bad = {
        'not-json': b'{"format": "zud-wheel-profiles", "version": 1,',
        'not-object': b'[1, 2, 3]\n',
        'wrong-format': table(1, format='something-else'),
        'newer-version': table(1, version=2),
        'version-text': table(1, version='1'),
        'no-profiles': table(1, profiles=None),
        'empty-profiles': document([]),
        'too-many': document([profile(i % 100) for i in range(101)], indent=None),
        'current-outside': table(2, 2),
        'current-text': table(2, current='%1'),
        'index-out-of-place': document([profile(1)]),
        'field-missing': document([profile(0, spring=None)]),
        'field-type': document([profile(0, maxForce='50')]),
        'field-range': document([profile(0, maxForce=101)]),
        'field-fraction': document([profile(0, damping=10.5)]),
        'enum-text': document([profile(0, encoderType='Optical')]),
        'name-long': document([profile(0, name='Seventeen bytes!!')]),
        'name-zero': document([profile(0, name='a\u0000b')]),
        'name-bytes-bad': document([profile(0, nameBytes='%1 not hex')]),
        'name-bytes-other': document([profile(0, nameBytes='41000000000000000000000000000000')]),
        'float-text': document([profile(0, centerOffset='0x7fc0')]),
        'float-range': document([profile(0, centerOffset=1e39)]),
        'scope-other': table(1, scope='rack'),
        'single-two': table(2, scope='profile'),
        'profile-not-object': document([5]),
        # A name twice, the first holding a list: Qt 5's parser lost that
        # list's memory.
        'profiles-twice': table(1)[:-3] + b', "profiles": [{"index": 0}]}\n',
        'name-escaped-twice': b'{"profiles": [{"maxForce": [1], "max\\u0046orce": 2}]}',
    }
    for name, data in good.items():
        write('fuzz_profilefile', 'good-' + name, data)
    for name, data in bad.items():
        write('fuzz_profilefile', 'bad-' + name, data)
    # Two documents for the comparison, separated by a zero byte.
    write('fuzz_profilefile', 'compare-one-field', table(3, 1) + b'\0' + document(
        [profile(0), profile(1, damping=90), profile(2)], 1))
    write('fuzz_profilefile', 'compare-counts', table(3, 1) + b'\0' + table(2, 0))


def game_documents():
    def rules(games=None, **changes):
        d = {'format': 'zud-wheel-games', 'version': 1, 'enabled': True,
             'defaultProfile': 'Road', 'games': games if games is not None else [
                 {'name': 'Endurance Racer', 'executable': 'EnduranceRacer-Win64-Shipping.exe',
                  'profile': 'GT3'},
                 {'name': 'Rally Stages', 'executable': 'rallystages', 'profile': 'Rally'}]}
        for key, value in changes.items():
            if value is None:
                del d[key]
            else:
                d[key] = value
        return json.dumps(d, indent=4, ensure_ascii=False).encode('utf-8') + b'\n'

    def game(**changes):
        g = {'name': 'Rally Stages', 'executable': 'rallystages', 'profile': 'Rally'}
        for key, value in changes.items():
            if value is None:
                del g[key]
            else:
                g[key] = value
        return g

    good = {
        'two-games': rules(),
        'no-games': rules([]),
        'default-null': rules(defaultProfile=None),
        'disabled': rules(enabled=False),
        'same-executable': rules([game(), game(name='Other', executable='RALLYSTAGES', profile='B')]),
        'unicode': rules([game(name='\u00dcbung \u6f22\u5b57', executable='\u00e9t\u00e9.exe',
                               profile='Caf\u00e9')], defaultProfile=' x '),
        'escapes': b'{"format": "zud-wheel-games", "version": 1, "enabled": true, "games": '
                   b'[{"name": "a\\u0000b", "executable": "\\ud83c\\udfce.exe", "profile": "%1"}]}',
    }
    good['default-absent'] = json.dumps(
        {'format': 'zud-wheel-games', 'version': 1, 'enabled': True, 'games': []}).encode()
    bad = {
        'not-json': b'{"format": "zud-wheel-games",',
        'not-object': b'[]',
        'wrong-format': rules(format='zud-wheel-profiles'),
        'newer-version': rules(version=2),
        'version-text': rules(version='1'),
        'enabled-missing': rules(enabled=None),
        'enabled-text': rules(enabled='yes'),
        'default-blank': rules(defaultProfile='  '),
        'default-number': rules(defaultProfile=3),
        'games-missing': rules(games=None),
        'games-object': rules(games={}),
        'game-not-object': rules(['%1']),
        'name-missing': rules([game(name=None)]),
        'executable-blank': rules([game(executable=' ')]),
        'executable-folder': rules([game(executable='C:\\Games\\x.exe')]),
        'executable-slash': rules([game(executable='bin/x')]),
        'profile-number': rules([game(profile=7)]),
        'unknown-field': rules([game(args='%2')]),
        'key-twice': b'{"format": "zud-wheel-games", "version": 1, "enabled": true, '
                     b'"games": [], "games": [{"name": 1}]}',
    }
    # Text a person's editor may leave behind: read or refused, never mangled.
    edge = {
        'lone-surrogate': b'{"format": "zud-wheel-games", "version": 1, "enabled": true, "games": '
                          b'[{"name": "a", "executable": "\\ud800.exe", "profile": "p"}]}',
        'bad-utf8': rules([game(name='X')]).replace(b'"X"', b'"\xff\xfe"'),
    }
    for name, data in good.items():
        write('fuzz_gamerules', 'good-' + name, data)
    for name, data in bad.items():
        write('fuzz_gamerules', 'bad-' + name, data)
    for name, data in edge.items():
        write('fuzz_gamerules', 'edge-' + name, data)


if __name__ == '__main__':
    main()
