#!/usr/bin/env python3
"""Validates JSON documents against the schema of velmo-pristel's --json output.

    validate_json.py SCHEMA FILE...

Each FILE must hold exactly one document on one line of ASCII. Exits non-zero naming the first
file that does not fit, with the validator's reason.
"""
import json
import sys

import jsonschema


def main():
    schema = json.load(open(sys.argv[1]))
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)
    for name in sys.argv[2:]:
        raw = open(name, "rb").read()
        try:
            raw.decode("ascii")
        except UnicodeDecodeError:
            sys.exit(f"{name}: not ASCII")
        if raw.count(b"\n") != 1 or not raw.endswith(b"\n"):
            sys.exit(f"{name}: not one line")
        document = json.loads(raw)
        errors = sorted(validator.iter_errors(document), key=lambda e: list(e.absolute_path))
        if errors:
            error = errors[0]
            sys.exit(f"{name}: {'/'.join(map(str, error.absolute_path))}: {error.message}")


if __name__ == "__main__":
    main()
