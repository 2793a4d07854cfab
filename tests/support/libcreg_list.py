#!/usr/bin/python3
# What libcreg (Debian's python3-libcreg) reads in a SYSTEM.DAT, in the form
# of scratch::CregListing: "K path" per key, "V name type hex" per value,
# keys in chain order, each before its subkeys. Names back to their bytes in
# code page 1252, libcreg's default. Exit 1 when libcreg cannot read the file.
import sys

import pycreg


def walk(key, path, out):
    out.append(b"K " + path + b"\n")
    for value in key.values:
        name = (value.name or "").encode("cp1252")
        out.append(b"V %s %d %s\n" % (name, value.type, (value.data or b"").hex().encode()))
    for sub in key.sub_keys:
        name = sub.name.encode("cp1252")
        walk(sub, path + b"\\" + name if path else name, out)


def main():
    try:
        hive = pycreg.open(sys.argv[1])
        out = []
        walk(hive.get_root_key(), b"", out)
    except (IOError, OSError) as error:
        print(f"libcreg cannot read {sys.argv[1]}: {error}", file=sys.stderr)
        return 1
    sys.stdout.buffer.write(b"".join(out))
    return 0


if __name__ == "__main__":
    sys.exit(main())
