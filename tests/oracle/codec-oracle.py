#!/usr/bin/env python3
"""The JSON and CSV codecs checked against python3's json and csv modules, both ways.

Generates documents and tables from a fixed seed, has the Zan executable (the first argument)
read them with load-json and load-csv and write them back with to-json and to-csv (the Zan
sides are json-oracle.zan and csv-oracle.zan next to this file), then checks:
  - JSON, python to Zan: the value load-json read is the one json.loads reads, compared
    through a canonical form;
  - JSON, Zan to python: json.loads of what to-json, to-json/pretty and to-json/ascii wrote is
    the value again;
  - CSV, python to Zan: the rows load-csv read from what csv.writer wrote are the rows, and
    unequal rows are refused while csv/strict? is true;
  - CSV, Zan to python: csv.reader reads the rows back from what to-csv wrote.
The mapping between the two sides, where it is not one to one:
  - an integer beyond integer! (32 bits) becomes the float! nearest to it;
  - an object becomes a map!, its key a word when the key reads as a word (word-like: no
    character of the JSON grammar's not-word-char set, not starting with a digit or an
    apostrophe, nor with dots or signs before a digit as a number does), else a string; the
    keys generated differ in more than letter case, as map keys ignore it.
Exits 1 and prints each difference when one is found.
"""
import csv
import io
import json
import math
import os
import random
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SEED = 29
JSON_DOCS = 300
CSV_FILES = 200

INT_EDGES = [0, 1, -1, 2**31 - 1, -2**31, 2**31, -2**31 - 1, 2**53, -2**53 - 1, 10**20,
             -(10**30), 123456789012345678901234567890]
FLOAT_EDGES = [0.0, -0.0, 5e-324, 2.2250738585072014e-308, 1.7976931348623157e308,
               -1.7976931348623157e308, 0.1, 0.30000000000000004, 1e16, 1e-7, 1e22, 123.456,
               2.0**31, -2.0**63, 1.5]
NOT_WORD = set('/\\^,[](){}"#%$@:;\n\u00a0 \t\r<>')


def random_char(rng):
    pool = rng.random()
    if pool < 0.5:
        return chr(rng.randint(0x20, 0x7E))
    if pool < 0.6:
        return chr(rng.randint(0, 0x1F))
    if pool < 0.7:
        return rng.choice('"\\/\u007f')
    if pool < 0.8:
        return chr(rng.randint(0xA0, 0xFF))
    if pool < 0.9:
        c = rng.randint(0x100, 0xFFFD)
        return chr(c if not 0xD800 <= c <= 0xDFFF else 0x2028)
    return chr(rng.choice([0x1F600, 0x10000, 0x10FFFF, rng.randint(0x10000, 0x10FFFF)]))


def random_string(rng):
    n = rng.choice([0, 1, 3, 10, 40, rng.randint(0, 200)])
    if rng.random() < 0.02:
        n = rng.randint(5000, 30000)  # a long string
    return ''.join(random_char(rng) for _ in range(n))


def random_key(rng):
    n = rng.randint(1, 8)
    return ''.join(rng.choice('abcdefghijklmnopqrstuvwxyz0123456789_ /é.') for _ in range(n))


def random_value(rng, depth):
    r = rng.random()
    if depth < 50 and r < 0.3:
        # Containers: sometimes a chain straight down to depth 50.
        if rng.random() < 0.05:
            v = random_scalar(rng)
            for _ in range(50 - depth):
                v = [v] if rng.random() < 0.5 else {random_key(rng): v}
            return v
        n = rng.choice([0, 1, 2, 5])
        if rng.random() < 0.5:
            return [random_value(rng, depth + 1) for _ in range(n)]
        out = {}
        for _ in range(n):
            out[random_key(rng)] = random_value(rng, depth + 1)
        return out
    return random_scalar(rng)


def random_scalar(rng):
    kind = rng.randrange(7)
    if kind == 0:
        return rng.choice(INT_EDGES + [rng.randint(-1000, 1000), rng.randint(-2**31, 2**31 - 1)])
    if kind == 1:
        if rng.random() < 0.5:
            return rng.choice(FLOAT_EDGES)
        while True:  # any finite double, from random bits
            x = rng.choice([rng.uniform(-1e6, 1e6), rng.random() * 10.0**rng.randint(-300, 300)])
            if math.isfinite(x):
                return x
    if kind in (2, 3):
        return random_string(rng)
    return rng.choice([True, False, None])


# --- JSON --------------------------------------------------------------------------------

def word_like(key):
    return (key[0] not in NOT_WORD and not key[0].isdigit() and key[0] != "'"
            and all(c not in NOT_WORD for c in key) and not re.match(r'[.+-]+[0-9]', key))


def expected(v):
    """The canonical structure of a python value, as Zan reads it."""
    if v is None:
        return ('n',)
    if isinstance(v, bool):
        return ('t',) if v else ('f',)
    if isinstance(v, int):
        return ('i', v) if -2**31 <= v < 2**31 else ('d', float(v))
    if isinstance(v, float):
        return ('d', v)
    if isinstance(v, str):
        return ('s', v)
    if isinstance(v, list):
        return ('[', [expected(x) for x in v])
    return ('{', [(('w' if word_like(k) else 's', k), expected(x)) for k, x in v.items()])


def parse_canon(text):
    """The canonical form written by json-oracle.zan, as the structure of expected()."""
    pos = 0

    def hex_text():
        nonlocal pos
        out = []
        while pos < len(text) and text[pos] not in ',=]}':
            end = text.index('.', pos)
            out.append(chr(int(text[pos:end], 16)))
            pos = end + 1
        return ''.join(out)

    def value():
        nonlocal pos
        c = text[pos]
        pos += 1
        if c in 'ntf':
            return (c,)
        if c in 'id':
            m = re.compile(r'[^,\]}=]*').match(text, pos)
            pos = m.end()
            word = m.group(0)
            if c == 'i':
                return ('i', int(word))
            return ('d', float(word.replace('1.#INF', 'inf').replace('1.#NaN', 'nan')))
        if c in 'sw':
            return (c, hex_text())
        if c == '[':
            items = []
            while text[pos] != ']':
                items.append(value())
                pos += 1  # ,
            pos += 1
            return ('[', items)
        if c == '{':
            items = []
            while text[pos] != '}':
                k = value()
                pos += 1  # =
                items.append((k, value()))
                pos += 1  # ,
            pos += 1
            return ('{', items)
        raise ValueError('bad canonical form at %d: %r' % (pos, text[pos - 1:pos + 20]))

    return value()


def same(a, b):
    """Equality of canonical structures; floats by value and sign of zero."""
    if a[0] != b[0]:
        return False
    if a[0] == 'd':
        return a[1] == b[1] and math.copysign(1, a[1]) == math.copysign(1, b[1])
    if a[0] in '[{':
        if len(a[1]) != len(b[1]):
            return False
        if a[0] == '[':
            return all(same(x, y) for x, y in zip(a[1], b[1]))
        return all(same(k1, k2) and same(v1, v2) for (k1, v1), (k2, v2) in zip(a[1], b[1]))
    return a == b


def to_python(v):
    """What json.loads must give back for a value Zan read."""
    if isinstance(v, bool) or v is None or isinstance(v, str):
        return v
    if isinstance(v, int):
        return v if -2**31 <= v < 2**31 else float(v)
    if isinstance(v, float):
        return v
    if isinstance(v, list):
        return [to_python(x) for x in v]
    return {k: to_python(x) for k, x in v.items()}


def same_python(a, b):
    if type(a) != type(b):
        return False
    if isinstance(a, float):
        return a == b and math.copysign(1, a) == math.copysign(1, b)
    if isinstance(a, list):
        return len(a) == len(b) and all(same_python(x, y) for x, y in zip(a, b))
    if isinstance(a, dict):
        return list(a) == list(b) and all(same_python(a[k], b[k]) for k in a)
    return a == b


def run_zan(zan, script, folder, count):
    env = dict(os.environ, ZAN_ORACLE_DIR=folder + '/', ZAN_ORACLE_COUNT=str(count))
    done = subprocess.run([zan, os.path.join(HERE, script)], env=env, capture_output=True,
                          text=True, timeout=600)
    if done.returncode != 0:
        print('%s failed (%d):\n%s%s' % (script, done.returncode, done.stdout, done.stderr))
        return False
    return True


def read_text(path):
    with open(path, encoding='utf-8', newline='') as f:
        return f.read()


def check_json(zan, folder, rng):
    failures = 0
    values = []
    for i in range(JSON_DOCS):
        options = rng.choice([{}, {'ensure_ascii': False}, {'indent': 2},
                              {'indent': '\t', 'ensure_ascii': False},
                              {'separators': (',', ':')}, {'sort_keys': True}])
        text = json.dumps(random_value(rng, 0), **options)
        values.append(json.loads(text))
        with open(os.path.join(folder, '%d.json' % i), 'w', encoding='utf-8', newline='') as f:
            f.write(text)
    if not run_zan(zan, 'json-oracle.zan', folder, JSON_DOCS):
        return 1
    for i, v in enumerate(values):
        base = os.path.join(folder, str(i))
        got = parse_canon(read_text(base + '.canon'))
        if not same(got, expected(v)):
            print('json %d: load-json read %r\n  python read %r' % (i, got, expected(v)))
            failures += 1
            continue
        for suffix in ('.out', '.pretty', '.ascii'):
            back = json.loads(read_text(base + suffix))
            if not same_python(back, to_python(v)):
                print('json %d: json.loads of to-json%s gave %r\n  not %r'
                      % (i, suffix, back, to_python(v)))
                failures += 1
        if not read_text(base + '.ascii').isascii():
            print('json %d: to-json/ascii wrote non-ASCII text' % i)
            failures += 1
    print('json: %d documents, %d differences' % (JSON_DOCS, failures))
    return failures


# --- CSV ---------------------------------------------------------------------------------

def random_field(rng, delimiter, bare_cr):
    kind = rng.randrange(9)
    if kind == 0:
        return ''
    if kind == 1:
        return rng.choice(['a' + delimiter + 'b', delimiter, ',;|\t'])
    if kind == 2:
        return rng.choice(['say "hi"', '"', '""', 'a"'])
    if kind == 3:
        return rng.choice(['two\nlines', 'crlf\r\ninside', '\n'] + (['cr\ronly'] if bare_cr else []))
    if kind == 4:
        return rng.choice([' padded ', ' ', 'x y'])
    if kind == 5:
        text = ''.join(random_char(rng) for _ in range(rng.randint(1, 12)))
        return text if bare_cr else text.replace('\r', '')
    return ''.join(rng.choice('abcXYZ0123.-_') for _ in range(rng.randint(1, 10)))


def check_csv(zan, folder, rng):
    failures = 0
    cases = []
    for i in range(CSV_FILES):
        delimiter = rng.choice([',', ',', ';', '\t', '|'])
        columns = rng.randint(1, 6)
        # csv.writer quotes a field for the characters of its line end only: a carriage
        # return alone goes unquoted (and csv.reader splits the line there too) unless the
        # line end is CR LF or every field is quoted.
        line_end = rng.choice(['\r\n', '\n'])
        quoting = rng.choice([csv.QUOTE_MINIMAL, csv.QUOTE_MINIMAL, csv.QUOTE_ALL])
        bare_cr = line_end == '\r\n' or quoting == csv.QUOTE_ALL
        rows = [[random_field(rng, delimiter, bare_cr) for _ in range(columns)]
                for _ in range(rng.randint(1, 20))]
        ragged = rng.random() < 0.15 and len(rows) > 1
        if ragged:
            rows[rng.randrange(1, len(rows))].append('extra')
        strict = rng.random() < 0.5 if ragged else rng.random() < 0.8
        buffer = io.StringIO(newline='')
        writer = csv.writer(buffer, delimiter=delimiter, lineterminator=line_end,
                            quoting=quoting)
        writer.writerows(rows)
        text = buffer.getvalue()
        if rng.random() < 0.3:
            text = text.rstrip('\r\n') if not text.endswith('"\r\n') else text[:-2]
        # A text whose last line is one empty field reads the same without its line end
        # only when that field is quoted: keep the line end then.
        if rows[-1] == [''] and not text.endswith('"'):
            text = buffer.getvalue()
        with open(os.path.join(folder, '%d.csv' % i), 'w', encoding='utf-8', newline='') as f:
            f.write(text)
        with open(os.path.join(folder, '%d.meta' % i), 'w', encoding='utf-8') as f:
            json.dump({'delim': delimiter, 'strict': strict}, f)
        cases.append((rows, delimiter, ragged, strict))
    if not run_zan(zan, 'csv-oracle.zan', folder, CSV_FILES):
        return 1
    for i, (rows, delimiter, ragged, strict) in enumerate(cases):
        base = os.path.join(folder, str(i))
        canon = read_text(base + '.canon')
        if ragged and strict:
            if canon != 'EData are not aligned':
                print('csv %d: unequal rows under strict? gave %r' % (i, canon[:80]))
                failures += 1
            continue
        got = [[''.join(chr(int(h, 16)) for h in field.split('.')[:-1])
                for field in line.split(',')[:-1]] for line in canon.split('\n')[:-1]]
        if got != rows:
            print('csv %d: load-csv read %r\n  python wrote %r' % (i, got, rows))
            failures += 1
            continue
        written = read_text(base + '.out')
        if ragged:
            if written != 'EData are not aligned':
                print('csv %d: to-csv of unequal rows gave %r' % (i, written[:80]))
                failures += 1
            continue
        back = list(csv.reader(io.StringIO(written, newline=''), delimiter=delimiter))
        if back != rows:
            print('csv %d: csv.reader of to-csv read %r\n  not %r' % (i, back, rows))
            failures += 1
    print('csv: %d files, %d differences' % (CSV_FILES, failures))
    return failures


def main():
    if len(sys.argv) != 2:
        print('usage: codec-oracle.py ZAN-EXECUTABLE')
        return 2
    if os.environ.get('ZAN_GC_TORTURE'):
        print('skipped under collector torture')
        return 77
    rng = random.Random(SEED)
    with tempfile.TemporaryDirectory(prefix='zan-codec-oracle-') as folder:
        failures = check_json(sys.argv[1], folder, rng)
        failures += check_csv(sys.argv[1], folder, rng)
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
