#!/usr/bin/env python3
"""Runs a kelm-host command that prints --json, parses its standard output
back and checks members of the object it holds.

  check_json.py [--exit N] [--stderr-lacks REGEX] [--unescape] [--expect CHECK]... -- COMMAND ARGS...

A CHECK is a path into the object, then an operator and an operand:
  disks[0].udid~^UDID##     the string matches the regular expression
  count=7                   equals the operand read as JSON (a plain word: a string)
  disks[*].rule:str         the type: str, int, bool, null, array, object
  disks#7                   the array, object or string has that many elements
A [*] step checks every element of a non-empty array. The command must exit
with N (default 0), print exactly one JSON object and nothing else on
standard output (strict UTF-8), and, with --stderr-lacks, print nothing
matching REGEX on standard error. --unescape turns \\xNN, \\t, \\n and \\\\ in
the command's arguments into the bytes they stand for.
"""
import codecs
import json
import re
import subprocess
import sys

TYPES = {"str": str, "int": int, "bool": bool, "null": type(None), "array": list, "object": dict}
STEP = re.compile(r"\.?([A-Za-z_][A-Za-z0-9_]*)|\[(\d+|\*)\]")


def resolve(value, path):
    """The values path names in value (several for [*]); raises KeyError."""
    values = [value]
    pos = 0
    while pos < len(path):
        m = STEP.match(path, pos)
        if not m or m.end() == pos:
            raise KeyError("bad path step at %r" % path[pos:])
        pos = m.end()
        nxt = []
        for v in values:
            if m.group(1) is not None:
                if not isinstance(v, dict) or m.group(1) not in v:
                    raise KeyError("no member %r" % m.group(1))
                nxt.append(v[m.group(1)])
            elif m.group(2) == "*":
                if not isinstance(v, list) or not v:
                    raise KeyError("[*] needs a non-empty array")
                nxt.extend(v)
            else:
                i = int(m.group(2))
                if not isinstance(v, list) or i >= len(v):
                    raise KeyError("no element %d" % i)
                nxt.append(v[i])
        values = nxt
    return values


def same(a, b):
    # json.loads gives bools for true/false; 1 == True must not pass.
    return type(a) is type(b) and a == b


def check(doc, rule):
    """An error message, or None when rule holds."""
    m = re.match(r"([A-Za-z0-9_.\[\]*]+)([=~:#])(.*)$", rule, re.S)
    if not m:
        return "bad check %r" % rule
    path, op, operand = m.groups()
    try:
        values = resolve(doc, path)
    except KeyError as e:
        return "%s: %s" % (rule, e)
    for v in values:
        if op == "=":
            try:
                want = json.loads(operand)
            except ValueError:
                want = operand
            ok = same(v, want)
        elif op == "~":
            ok = isinstance(v, str) and re.search(operand, v) is not None
        elif op == ":":
            if operand not in TYPES:
                return "bad type in %r" % rule
            ok = type(v) is TYPES[operand]
        else:
            ok = isinstance(v, (list, dict, str)) and len(v) == int(operand)
        if not ok:
            return "%s: found %s" % (rule, json.dumps(v))
    return None


def main(argv):
    if "--" not in argv:
        print(__doc__)
        return 2
    split = argv.index("--")
    opts, command = argv[:split], argv[split + 1:]
    expects, exit_code, stderr_lacks = [], 0, None
    i = 0
    while i < len(opts):
        if opts[i] == "--unescape":
            # Bytes no test file can hold (control bytes, broken UTF-8).
            command = [codecs.escape_decode(a.encode("utf-8"))[0] for a in command]
            i += 1
            continue
        if opts[i] == "--expect":
            expects.append(opts[i + 1])
        elif opts[i] == "--exit":
            exit_code = int(opts[i + 1])
        elif opts[i] == "--stderr-lacks":
            stderr_lacks = opts[i + 1]
        else:
            print("unknown option %r" % opts[i])
            return 2
        i += 2
    run = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
    out = run.stdout.decode("utf-8", errors="strict")
    errors = []
    if run.returncode != exit_code:
        errors.append("exit status %d, expected %d" % (run.returncode, exit_code))
    if stderr_lacks is not None and re.search(stderr_lacks, run.stderr.decode("utf-8", "replace")):
        errors.append("standard error matches %r" % stderr_lacks)
    try:
        doc = json.loads(out)
    except ValueError as e:
        doc = None
        errors.append("standard output is not one JSON document: %s" % e)
    if doc is not None and not isinstance(doc, dict):
        errors.append("the document is not an object")
    elif doc is not None:
        errors.extend(e for e in (check(doc, s) for s in expects) if e)
    if errors:
        print("FAILED: %r" % command)
        print("\n".join(errors))
        print("--- stdout\n" + out + "--- stderr\n" + run.stderr.decode("utf-8", "replace"))
        return 1
    print("ok: %d check(s) on %r" % (len(expects), command[1:]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
