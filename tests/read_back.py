"""Reads an export on standard input back with parsers this project did not write.

Usage: read_back.py csv|json|vcard. Prints a line per CSV row, per JSON object (after their
shared keys) or per card (property=value, a structured value's parts joined by ;), its values
joined by |: a JSON number as #text, and each \\ | ; CR and LF as \\xNN.
"""
import csv
import io
import json
import sys

import vobject  # python3-vobject

PARTS = {'N': ['family', 'given', 'additional', 'prefix', 'suffix'],
         'ADR': ['box', 'extended', 'street', 'city', 'region', 'code', 'country']}


def shown(value):
    data = value.encode('utf-8', 'surrogateescape')
    return b''.join(b'\\x%02x' % c if c in b'\\|;\r\n' else bytes([c]) for c in data)


def rows(form, data):
    if form == 'csv':
        assert data.count(b'\n') == data.count(b'\r\n'), 'a line end that is not CRLF'
        text = io.StringIO(data.decode('utf-8', 'surrogateescape'), newline='')  # bytes as stored
        return [[shown(v) for v in row] for row in csv.reader(text, strict=True)]
    if form == 'json':
        number = lambda text: '#' + text
        objects = [json.loads(line, parse_int=number, parse_float=number,
                              parse_constant=int)  # int() refuses NaN and Infinity, not JSON
                   for line in data.decode('utf-8').split('\n')[:-1]]
        assert all(list(o) == list(objects[0]) for o in objects), 'keys that differ'
        return [[k.encode() for k in o] for o in objects[:1]] + [[shown(v) for v in o.values()] for o in objects]
    lines = data.split(b'\r\n')
    assert lines[-1] == b'' and all(len(l) <= 75 and b'\r' not in l and b'\n' not in l
                                    for l in lines), 'a line too long or not ended by CRLF'
    return [[(p.name.lower() + ''.join('.' + t for t in p.params.get('TYPE', []))).encode() + b'='
             + (b';'.join(shown(getattr(p.value, a)) for a in PARTS[p.name])
                if p.name in PARTS else shown(p.value)) for p in card.getChildren()]
            for card in vobject.readComponents(data.decode('utf-8'))]  # a cut character fails


sys.stdout.buffer.write(b''.join(b'|'.join(r) + b'\n' for r in rows(sys.argv[1], sys.stdin.buffer.read())))
