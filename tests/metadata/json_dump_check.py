# Checks that a JSON dump holds every item of the readable dump, in order,
# with the same label, size and value: the readable dump is rebuilt from the
# JSON and compared with the one printed. Arguments: text dump, JSON dump.
import json
import sys

text = open(sys.argv[1], encoding="latin-1").read()
raw = open(sys.argv[2], encoding="utf-8").read()
# Numbers keep their printed form, so "1.000000" stays as the dump wrote it.
items = json.loads(raw, parse_float=str, parse_int=str)["items"]


def printable(data):
    return "".join(chr(b) if 0x20 <= b <= 0x7E else "." for b in data)


def hex_lines(head, data):
    out = head + "{ "
    for j, byte in enumerate(data):
        if j and j % 32 == 0:
            out += " " + printable(data[j - 32:j]) + "\n" + " " * 46
        out += "%02X" % byte
    r = (len(data) - 1) % 32 if data else -1
    out += " " * (63 - 2 * r) + printable(data[len(data) - r - 1:] if data else b"") + " }\n"
    return out


def value_text(item):
    value = item["value"]
    if value is None:
        return ""
    if isinstance(value, list):  # a line break once a line reaches 100
        out = "{ " + value[0]
        length = len(out)
        for element in value[1:]:
            separator = " "
            if length >= 100:
                separator, length = "\n", 0
            out += "," + separator + element
            length += 2 + len(element)
        return out + " }"
    if int(item["type"], 16) >> 24 == 0xA9:
        value = "".join(" " if "\t" <= c <= "\r" else c for c in value)
    return value.encode("utf-8").decode("latin-1")


expected = "\nMeta-data:\n" if items else ""
at = len(expected)
if not text.startswith(expected):
    sys.exit("heading differs")
flat = text
for item in items:
    head = "%28s [%5d bytes]: " % (item["name"], int(item["bytes"]))
    if "hex" in item:
        line = hex_lines(head, bytes.fromhex(item["hex"]))
        ok = flat.startswith(line, at)
    else:
        line = head + value_text(item) + "\n"
        ok = flat.startswith(line, at)
        if not ok:  # a list the readable dump cut short with "..."
            end = flat.find("...\n", at)
            ok = end > at and line.startswith(flat[at:end])
            line = flat[at:end + 4]
    if not ok:
        sys.exit("item %s differs at %d:\n%r\n%r" % (item["name"], at, line, flat[at:at + 200]))
    at += len(line)
if flat[at:] != ("\n" if items else ""):
    sys.exit("the readable dump has more: %r" % flat[at:at + 200])
