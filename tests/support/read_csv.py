#!/usr/bin/env python3
# Reads a CSV file with Python's own reader, the way a spreadsheet import or a script would, and
# prints its rows as one JSON array (code points escaped, so the bytes cannot be mistaken).
import csv
import json
import sys

with open(sys.argv[1], newline="", encoding="utf-8") as f:
    print(json.dumps(list(csv.reader(f, strict=True))))
