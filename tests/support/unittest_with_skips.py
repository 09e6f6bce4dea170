#!/usr/bin/env python3
"""Runs the unittest suite of a directory (what `python3 -m unittest discover
-s DIRECTORY -p PATTERN -v` runs) with the tests named by --skip reported as
skipped, each with its reason: for tests of something this build does not
have. A --skip that names no test of the suite is an error."""
import argparse
import sys
import unittest


def tests_of(suite):
    for test in suite:
        if isinstance(test, unittest.TestSuite):
            yield from tests_of(test)
        else:
            yield test


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("directory")
    parser.add_argument("--pattern", default="test_*.py")
    parser.add_argument("--skip", action="append", default=[], metavar="TEST_METHOD=REASON")
    args = parser.parse_args()
    reasons = dict(item.split("=", 1) for item in args.skip)

    suite = unittest.defaultTestLoader.discover(args.directory, pattern=args.pattern)
    skipped = set()
    for test in tests_of(suite):
        name = getattr(test, "_testMethodName", "")
        if name in reasons:
            setattr(test, name, unittest.skip(reasons[name])(getattr(test, name)))
            skipped.add(name)
    unknown = sorted(set(reasons) - skipped)
    if unknown:
        print("no such test to skip: " + ", ".join(unknown), file=sys.stderr)
        return 2
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
