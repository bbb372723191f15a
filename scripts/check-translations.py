#!/usr/bin/env python3
"""Extract the language list and the English interface texts from the design
document and compare them with the reference data the localisation tests load.

Usage:
    check-translations.py DESIGN_DOCUMENT.md            # diff, exit 1 on difference
    check-translations.py DESIGN_DOCUMENT.md --write    # (re)write the reference data

The language table is the one whose header reads
    | # | case | `rawValue` | `displayName` |
and the text table the one whose header reads
    | key | English text | shown by |
Cells are unwrapped from their backticks or double quotes; nothing else in a
cell is altered, so the reference data keeps every character of the document.
"""

import argparse
import difflib
import pathlib
import sys

REPO = pathlib.Path(__file__).resolve().parent.parent
DATA_DIR = REPO / "tests" / "ui" / "data"
LANGUAGES_TSV = DATA_DIR / "languages.tsv"
ENGLISH_TSV = DATA_DIR / "english.tsv"

LANGUAGE_HEADER = ["#", "case", "`rawValue`", "`displayName`"]
ENGLISH_HEADER = ["key", "English text", "shown by"]
LANGUAGE_COUNT = 50
KEY_COUNT = 23


class ExtractError(Exception):
    pass


def split_row(line):
    """Split one markdown table row into stripped cells (honours '\\|')."""
    text = line.strip()
    if len(text) < 2 or not (text.startswith("|") and text.endswith("|")):
        return None
    cells, current = [], []
    body = text[1:-1]
    i = 0
    while i < len(body):
        if body.startswith("\\|", i):
            current.append("|")
            i += 2
            continue
        if body[i] == "|":
            cells.append("".join(current).strip())
            current = []
        else:
            current.append(body[i])
        i += 1
    cells.append("".join(current).strip())
    return cells


def is_separator(cells):
    return all(c and set(c) <= set("-: ") for c in cells)


def find_table(lines, header):
    """Rows (lists of cells) of the first table with exactly this header."""
    for n, line in enumerate(lines):
        if split_row(line) != header:
            continue
        if n + 1 >= len(lines):
            break
        separator = split_row(lines[n + 1])
        if separator is None or not is_separator(separator):
            raise ExtractError(f"line {n + 2}: table header not followed by a separator row")
        rows = []
        for k in range(n + 2, len(lines)):
            cells = split_row(lines[k])
            if cells is None:
                break
            if len(cells) != len(header):
                raise ExtractError(f"line {k + 1}: expected {len(header)} cells, got {len(cells)}")
            rows.append((k + 1, cells))
        return rows
    raise ExtractError("no table with header " + " | ".join(header))


def unwrap(cell, mark, line_no):
    if len(cell) >= 2 and cell[0] == mark and cell[-1] == mark:
        return cell[1:-1]
    raise ExtractError(f"line {line_no}: cell {cell!r} is not wrapped in {mark}")


def check_plain(value, line_no):
    if "\t" in value or "\n" in value or "\r" in value:
        raise ExtractError(f"line {line_no}: cell {value!r} holds a tab or line break")
    return value


def extract_languages(lines):
    rows = find_table(lines, LANGUAGE_HEADER)
    out = []
    for line_no, (index, case, code, name) in rows:
        if not index.isdigit() or int(index) != len(out):
            raise ExtractError(f"line {line_no}: index {index!r}, expected {len(out)}")
        out.append([
            index,
            check_plain(unwrap(case, "`", line_no), line_no),
            check_plain(unwrap(code, '"', line_no), line_no),
            check_plain(unwrap(name, '"', line_no), line_no),
        ])
    if len(out) != LANGUAGE_COUNT:
        raise ExtractError(f"language table has {len(out)} rows, expected {LANGUAGE_COUNT}")
    return out


def extract_english(lines):
    rows = find_table(lines, ENGLISH_HEADER)
    out = []
    for line_no, (key, text, _shown_by) in rows:
        key = unwrap(key, "`", line_no)
        # A key taking an argument is written with its label list, e.g. name(_:).
        if "(" in key:
            key = key[: key.index("(")]
        if not key.isidentifier():
            raise ExtractError(f"line {line_no}: key {key!r} is not an identifier")
        out.append([key, check_plain(unwrap(text, '"', line_no), line_no)])
    if len(out) != KEY_COUNT:
        raise ExtractError(f"text table has {len(out)} rows, expected {KEY_COUNT}")
    return out


def to_tsv(header, rows):
    return "".join("\t".join(r) + "\n" for r in [header] + rows)


def compare(path, expected):
    try:
        actual = path.read_text(encoding="utf-8")
    except FileNotFoundError:
        print(f"{path}: missing (run with --write)")
        return False
    if actual == expected:
        print(f"{path.relative_to(REPO)}: matches the design document "
              f"({len(expected.splitlines()) - 1} rows)")
        return True
    print(f"{path.relative_to(REPO)}: differs from the design document")
    sys.stdout.writelines(difflib.unified_diff(
        actual.splitlines(keepends=True), expected.splitlines(keepends=True),
        fromfile=str(path.relative_to(REPO)), tofile="design document"))
    return False


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("document", type=pathlib.Path, help="the design document (markdown)")
    parser.add_argument("--write", action="store_true", help="write the reference data")
    args = parser.parse_args()

    try:
        lines = args.document.read_text(encoding="utf-8").splitlines()
        languages = to_tsv(["index", "case", "code", "displayName"], extract_languages(lines))
        english = to_tsv(["key", "text"], extract_english(lines))
    except (OSError, UnicodeDecodeError, ExtractError) as error:
        print(f"{args.document}: {error}", file=sys.stderr)
        return 2

    if args.write:
        DATA_DIR.mkdir(parents=True, exist_ok=True)
        LANGUAGES_TSV.write_text(languages, encoding="utf-8")
        ENGLISH_TSV.write_text(english, encoding="utf-8")
        print(f"wrote {LANGUAGES_TSV.relative_to(REPO)} and {ENGLISH_TSV.relative_to(REPO)}")
        return 0

    ok = compare(LANGUAGES_TSV, languages)
    ok = compare(ENGLISH_TSV, english) and ok
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
