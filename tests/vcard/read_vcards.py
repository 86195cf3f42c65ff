#!/usr/bin/python3
"""Reads .vcf files with Python's vobject, a second vCard parser beside our
own, and prints what it understood of each card, one property a line, so
that a test can compare it: FN, N, ORG, EMAIL, TEL, ADR, BDAY, URL,
CATEGORIES, KIND, MEMBER. Exit status 1 when a file does not parse."""
import sys

import vobject


def params(child):
    out = []
    for key in sorted(child.params):
        out.append("%s=%s" % (key, ",".join(child.params[key])))
    return ";".join(out)


def describe(child):
    value = child.value
    if child.name == "N":
        return "%s|%s" % (value.family, value.given)
    if child.name == "ADR":
        return "|".join([value.street, value.city, value.region, value.code, value.country]).replace("\n", "/")
    if isinstance(value, list):
        return " / ".join(value)
    return value


def main(paths):
    for path in paths:
        with open(path, encoding="utf-8", newline="") as handle:
            text = handle.read()
        for card in vobject.readComponents(text, validate=True):
            for child in card.getChildren():
                if child.name in ("VERSION", "PRODID", "UID"):
                    continue
                p = params(child)
                print("%s%s: %s" % (child.name, ";" + p if p else "", describe(child)))
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except Exception as error:  # any parse error fails the test
        print("vobject failed: %s" % error)
        sys.exit(1)
