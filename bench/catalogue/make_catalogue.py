#!/usr/bin/env python3
"""Writes an import file of N videos for `tavilon-catalogue import` (default 100,000).

Titles are two to four words of a fixed vocabulary (seeded, so every run builds the same
catalogue); years, ratings, qualities and languages vary; each video has one to three links.
"""
import random
import sys

WORDS = """ocean river mountain night day shadow light storm winter summer city road house
garden king queen soldier doctor lawyer hunter stranger island desert forest star moon sun
fire water stone iron glass silver golden secret last first lost hidden broken wild silent
dark bright little big long short red blue green black white dead living young old dream
memory promise letter journey return escape game war peace love hate heart mind soul world
empire kingdom village station harbor bridge tower castle prison school hospital theater""".split()
# More distinct words so that one word of a search matches a small share of the titles.
WORDS += ["%s%s" % (a, b) for a in ("bal", "cor", "del", "fen", "gar", "hol", "kir", "lom", "mar", "nor")
          for b in ("ant", "eth", "ino", "ora", "ule", "yst", "wen", "ard", "ix", "ump")]
QUALITIES = ["DVD Rip", "HD Rip", "HD TV", "DVD Screener", "TeleSync", ""]
LANGS = ["English", "Spanish"]


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 100000
    out = sys.stdout
    rng = random.Random(20260101)
    for n in range(1, count + 1):
        title = " ".join(rng.choice(WORDS) for _ in range(rng.randint(2, 4))).title()
        out.write("title:%s\n" % title)
        out.write("year:%d\n" % rng.randint(1950, 2020))
        out.write("rating:%d\n" % rng.randint(0, 10))
        out.write("imdbid:%07d\n" % n)
        out.write("quality:%s\nlang:%s\n" % (rng.choice(QUALITIES), rng.choice(LANGS)))
        out.write("password:\nsize:%d MB\n" % rng.randint(300, 4000))
        for part in range(1, rng.randint(1, 3) + 1):
            out.write("http://127.0.0.1:8181/?d=V%07dP%d\n" % (n, part))
        out.write("\n")


if __name__ == "__main__":
    main()
