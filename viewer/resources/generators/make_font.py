#!/usr/bin/env python3
"""Cuts the interface font out of the system's Noto Sans CJK collection.

Takes the Simplified Chinese face (Medium when installed, else Regular), keeps the printable Latin
characters plus every character of the given text files (the translations), and names the family
"Noto Sans SC Medium", the name the style sheets ask for.

usage: make_font.py OUTPUT TEXT_FILE... [--fonts-dir DIR]
"""
import argparse
import os
import sys

from fontTools import subset
from fontTools.ttLib import TTCollection

FAMILY = "Noto Sans SC Medium"
POSTSCRIPT = "NotoSansSC-Medium"
CANDIDATES = ["NotoSansCJK-Medium.ttc", "NotoSansCJKsc-Medium.otf",
              "NotoSansCJK-Regular.ttc", "NotoSansCJKsc-Regular.otf"]
SEARCH = ["/usr/share/fonts/opentype/noto", "/usr/share/fonts/noto-cjk",
          "/usr/share/fonts/google-noto-cjk", "/usr/share/fonts/truetype/noto"]


def find_source(dirs):
    for name in CANDIDATES:
        for d in dirs:
            path = os.path.join(d, name)
            if os.path.isfile(path):
                return path
    return None


def sc_face_index(path):
    """Index of the Simplified Chinese sans face inside a collection."""
    if not path.endswith(".ttc"):
        return 0
    coll = TTCollection(path, lazy=True)
    for i, font in enumerate(coll.fonts):
        family = font["name"].getDebugName(1) or ""
        if family.startswith("Noto Sans CJK SC"):
            return i
    return 0


def rename(font):
    names = font["name"]
    # Drop every family/style record (also the localised ones) so only our family is reported.
    names.names = [n for n in names.names if n.nameID not in (1, 2, 3, 4, 6, 16, 17)]
    for name_id, text in ((1, FAMILY), (2, "Regular"), (3, POSTSCRIPT), (4, FAMILY), (6, POSTSCRIPT)):
        names.setName(text, name_id, 3, 1, 0x409)
        names.setName(text, name_id, 1, 0, 0)
    if "CFF " in font:
        cff = font["CFF "].cff
        cff.fontNames = [POSTSCRIPT]
        top = cff.topDictIndex[0]
        top.FamilyName = FAMILY
        top.FullName = FAMILY


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("output")
    ap.add_argument("texts", nargs="*")
    ap.add_argument("--fonts-dir", action="append", default=[])
    args = ap.parse_args()

    source = find_source(args.fonts_dir + SEARCH)
    if source is None:
        print("make_font: no Noto Sans CJK font installed", file=sys.stderr)
        return 1

    chars = {chr(c) for c in range(0x20, 0x7F)}
    chars |= {chr(c) for c in range(0xA0, 0x100)}
    chars |= set("–—‘’“”…•·×→←↑↓©®™µ°，。、：；！？（）《》【】「」")
    for path in args.texts:
        with open(path, encoding="utf-8") as f:
            chars |= set(f.read())
    chars = {c for c in chars if ord(c) >= 0x20}

    options = subset.Options()
    options.font_number = sc_face_index(source)
    options.layout_features = ["*"]
    options.name_IDs = ["*"]
    options.name_languages = ["*"]
    options.notdef_outline = True
    options.hinting = False
    options.desubroutinize = True
    font = subset.load_font(source, options)
    subsetter = subset.Subsetter(options)
    subsetter.populate(unicodes=[ord(c) for c in chars])
    subsetter.subset(font)
    rename(font)
    tmp = args.output + ".tmp"
    subset.save_font(font, tmp, options)
    os.replace(tmp, args.output)
    print(f"make_font: {os.path.basename(source)} face {options.font_number}, "
          f"{len(chars)} characters, {os.path.getsize(args.output)} bytes")
    return 0


if __name__ == "__main__":
    sys.exit(main())
