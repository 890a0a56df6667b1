#!/usr/bin/env python3
"""Checks halvornctl's JSON answers against docs/halvornctl-status.schema.json.

    validate_status_json.py SCHEMA FILE [FILE...]
    validate_status_json.py SCHEMA --folder FOLDER   (every *.json there; at least one)

Exit 0: every document validates; 1: some do not (each error printed); 3: no validator
(python3-jsonschema) or nothing to check.
"""
import glob
import json
import os
import sys

try:
    import jsonschema
except ImportError:
    print("python3-jsonschema is missing")
    sys.exit(3)


def main(argv):
    schema = json.load(open(argv[1]))
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)
    files = argv[2:]
    if files[:1] == ["--folder"]:
        files = sorted(glob.glob(os.path.join(files[1], "*.json")))
    if not files:
        print("no JSON documents to check")
        return 3
    bad = 0
    for name in files:
        with open(name, "rb") as f:
            document = json.loads(f.read().decode("utf-8"))
        for error in validator.iter_errors(document):
            bad += 1
            path = "/".join(str(p) for p in error.absolute_path)
            print(f"{os.path.basename(name)}: {path}: {error.message}")
    print(f"{len(files)} documents checked, {bad} errors")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
