"""Reads an export on standard input back with parsers this project did not write.

Usage: read_back.py csv|json|vcard. Prints a line per CSV row, JSON object or card: its
values joined by |, JSON's as key=value (a number as key=#text), vCard's as property=value
(a structured one's parts joined by ;), each value's \\ | ; CR and LF as \\xNN.
"""
import csv
import io
import json
import sys


def shown(value):
    data = value.encode('utf-8', 'surrogateescape')
    return b''.join(b'\\x%02x' % c if c in b'\\|;\r\n' else bytes([c]) for c in data)


class Number(str):
    pass


def refuse(name):
    raise ValueError(name + ' is not JSON')


def rows(form, data):
    if form == 'csv':
        assert data.count(b'\n') == data.count(b'\r\n'), 'a line end that is not CRLF'
        text = io.StringIO(data.decode('utf-8', 'surrogateescape'), newline='')  # bytes as stored
        return [[shown(v) for v in row] for row in csv.reader(text, strict=True)]
    if form == 'json':
        assert data.endswith(b'\n') or not data, 'a last line without its end'
        objects = [json.loads(line, parse_int=Number, parse_float=Number, parse_constant=refuse)
                   for line in data.decode('utf-8').split('\n')[:-1]]
        return [[k.encode() + b'=' + (b'#' + v.encode() if isinstance(v, Number) else shown(v))
                 for k, v in o.items()] for o in objects]
    import vobject  # python3-vobject
    lines = data.split(b'\r\n')
    assert lines[-1] == b'' and all(len(l) <= 75 and b'\r' not in l and b'\n' not in l
                                    for l in lines), 'a line too long or not ended by CRLF'
    parts = {'N': ['family', 'given', 'additional', 'prefix', 'suffix'],
             'ADR': ['box', 'extended', 'street', 'city', 'region', 'code', 'country']}
    cards = []
    for card in vobject.readComponents(data.decode('utf-8')):  # a character cut by a fold fails
        values = []
        for p in card.getChildren():
            value = (b';'.join(shown(getattr(p.value, a)) for a in parts[p.name])
                     if p.name in parts else shown(p.value))
            types = ''.join('.' + t for t in p.params.get('TYPE', []))
            values.append((p.name.lower() + types).encode() + b'=' + value)
        cards.append(values)
    return cards


sys.stdout.buffer.write(b''.join(b'|'.join(r) + b'\n' for r in rows(sys.argv[1], sys.stdin.buffer.read())))
