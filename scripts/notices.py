#!/usr/bin/env python3
"""Writes release/THIRD-PARTY-NOTICES.txt: the notices of the
runtime parts that the link map shows are linked into lobbyfix.exe.

lobbyfix.exe links the MinGW-w64 runtime and GCC's runtime libraries
statically. The MinGW-w64 licence asks that a binary carry its notice; so do
the notices of some other parts of that runtime, but only when those parts
are linked in. So this script reads the link map, names the source of every
runtime member linked, looks its licence up in the toolchain's Debian
copyright file (the last "Files:" paragraph that matches, as that format
reads) and writes each licence once, with the sources it covers.

It refuses, and ships nothing, when the map shows a runtime member that it
has no rule for (a toolchain or code change brought in something new: find
out what it is built from and add it below), or when the copyright file
lacks the text of a licence that a linked member needs.

Usage: notices.py --map build/windows/lobbyfix.map --output FILE

The package step compares the committed file with what generate() makes
from the current map and refuses to package when they differ.
"""

import argparse
import os
import re
import sys

MINGW_COPYRIGHT = "/usr/share/doc/mingw-w64-i686-dev/copyright"
GCC_COPYRIGHT = "/usr/share/doc/gcc-mingw-w64-i686-win32/copyright"

# MinGW-w64 inputs: (archive or object file, member pattern, the source it is
# built from in the mingw-w64 tree). Import stubs are matched separately.
MINGW_RULES = [
    ("crt2.o", None, "mingw-w64-crt/crt/crtexe.c"),
    ("libmingw32.a", r"lib32_libmingw32_a-(CRT_fp10|_newmode|cinitexe|crt0_c|crt_handler|dllargv|gccmain|merr|"
     r"mingw_helpers|natstart|pesect|pseudo-reloc|pseudo-reloc-list|tlsmcrt|tlsmthread|tlssup|tlsthrd|"
     r"usermatherr|wildcard|xncommod|xtxtmode)\.o", "mingw-w64-crt/crt/{}.c"),
    ("libmingwex.a", r"lib32_libmingwex_a-(mingw_matherr)\.o", "mingw-w64-crt/misc/{}.c"),
    ("libmsvcrt.a", r"lib32_libmsvcrt_common_a-(acrt_iob_func)\.o", "mingw-w64-crt/stdio/{}.c"),
    ("libmsvcrt.a", r"lib32_libmsvcrt_extra_a-(invalid_parameter_handler)\.o", "mingw-w64-crt/misc/{}.c"),
    ("libmsvcrt.a", r"lib32_libmsvcrt_extra_a-(rand_s)\.o", "mingw-w64-crt/secapi/{}.c"),
]
# The members of an import library (libNAME.a) that dlltool makes from the
# DLL's definition file: one stub per function, a head and a tail.
IMPORT_STUB = r"lib{}(?:_def)?(?:s\d+|h|t)\.o"

# GCC's runtime members known to be GCC's own code under the runtime library
# exception. Some members of libstdc++ carry other notices as well (the
# floating-point conversions, for one), so each member is listed on purpose.
GCC_MEMBERS = {
    "crtbegin.o": [None],
    "crtend.o": [None],
    "libgcc.a": "_chkstk_ms _ctors gthr-win32".split(),
    "libgcc_eh.a": "emutls unwind-c unwind-dw2 unwind-dw2-fde".split(),
    "libstdc++.a": """bad_alloc bad_array_new bad_cast bad_typeid class_type_info cow-stdexcept cow-string-inst
        del_op del_ops eh_alloc eh_call eh_catch eh_exception eh_globals eh_personality eh_term_handler
        eh_terminate eh_throw eh_unex_handler functexcept new_handler new_op random si_class_type_info
        snprintf_lite sso_string stdexcept string-inst tinfo vmi_class_type_info""".split(),
}

RULE = "=" * 72
LINE = "-" * 72


def fail(message):
    sys.exit("notices: " + message)


def linked_runtime(map_path):
    """(file name, member or None) of every runtime input the link took in:
    archive members it included and object files it loaded whole. The
    program's own inputs (relative to the build folder, or the link-time
    optimiser's partitions) are left out."""
    try:
        with open(map_path, encoding="utf-8", errors="replace") as f:
            text = f.read()
    except OSError as error:
        fail("cannot read the link map: %s" % error)
    head = text.split("\nDiscarded input sections")[0]
    found = [(m[1], m[2]) for m in re.finditer(r"^(\S+\.a)\(([^)\s]+)\)", head, re.M)]
    found += [(m[1], None) for m in re.finditer(r"^LOAD (\S+\.o)$", text, re.M)]
    if not found:
        fail(map_path + " lists no inputs: is it a link map?")
    return {(os.path.basename(path), member) for path, member in found
            if os.path.isabs(path) and not path.endswith(".ltrans.o")}


def mingw_source(name, member):
    for archive, pattern, source in MINGW_RULES:
        if archive == name:
            if pattern is None and member is None:
                return source
            match = re.fullmatch(pattern, member or "")
            if match:
                return source.format(*match.groups())
    library = re.fullmatch(r"lib(\w+)\.a", name)
    if library and member and re.fullmatch(IMPORT_STUB.format(re.escape(library[1])), member):
        return "mingw-w64-crt/lib32/%s.def" % library[1]
    return None


def paragraphs(path):
    """The paragraphs of a machine-readable Debian copyright file, each a
    dict of field name to its lines (continuation lines without their first
    space, and " ." as an empty line)."""
    try:
        with open(path, encoding="utf-8") as f:
            blocks = f.read().split("\n\n")
    except OSError as error:
        fail("cannot read %s: %s" % (path, error))
    result = []
    for block in blocks:
        fields, name = {}, None
        for line in block.strip("\n").split("\n"):
            if line.startswith((" ", "\t")) and name:
                fields[name].append("" if line.strip() == "." else line[1:].rstrip())
            elif ":" in line:
                name, value = line.split(":", 1)
                fields[name] = [value.strip()]
        if fields:
            result.append(fields)
    return result


def glob_matches(pattern, path):
    # In these files "*" matches any run of characters, "/" included.
    return re.fullmatch(".*".join(map(re.escape, pattern.split("*"))).replace(r"\?", "."), path) is not None


def mingw_notices(sources, path):
    """The notice sections for the given mingw-w64 sources, one per
    copyright-and-licence paragraph, in the order of the copyright file."""
    entries = paragraphs(path)
    files = [p for p in entries if "Files" in p]
    texts = {p["License"][0]: p["License"][1:] for p in entries if "Files" not in p and "License" in p}
    groups = {}
    for source in sources:
        matching = [p for p in files if any(glob_matches(g, source) for g in " ".join(p["Files"]).split())]
        if not matching:
            fail("%s names no licence for %s" % (path, source))
        groups.setdefault(files.index(matching[-1]), set()).add(source)
    sections = []
    for index in sorted(groups):
        paragraph = files[index]
        licence = paragraph["License"][0]
        text = paragraph["License"][1:]
        if not text:
            text = []
            for part in re.split(r"\s+(?:and|or)\s+", licence):
                if not texts.get(part):
                    fail("%s lacks the text of the %s licence, which %s need" % (
                        path, part, ", ".join(sorted(groups[index]))))
                text += ([""] if text else []) + texts[part]
        sections += ["Linked from:"] + ["  " + s for s in sorted(groups[index])]
        sections += ["Copyright: " + "\n           ".join(c.strip() for c in paragraph["Copyright"]),
                     "License: " + licence, ""] + ["  " + t if t else "" for t in text] + ["", LINE]
    return sections[:-2]


def gcc_exception(path):
    try:
        with open(path, encoding="utf-8") as f:
            text = f.read()
    except OSError as error:
        fail("cannot read %s: %s" % (path, error))
    start = text.find("GCC RUNTIME LIBRARY EXCEPTION\n")
    end = text.find("requirements of the license of GCC.\n", start)
    if start < 0 or end < 0:
        fail(path + " lacks the GCC Runtime Library Exception")
    return text[start:end].rstrip("\n").split("\n") + ["requirements of the license of GCC."]


def generate(map_path, mingw_copyright=MINGW_COPYRIGHT, gcc_copyright=GCC_COPYRIGHT):
    sources, gcc, unknown = set(), set(), []
    for name, member in sorted(linked_runtime(map_path), key=lambda item: (item[0], item[1] or "")):
        source = mingw_source(name, member)
        if source:
            sources.add(source)
        elif (member[:-2] if member else None) in GCC_MEMBERS.get(name, ()):
            gcc.add(name)
        else:
            unknown.append("%s(%s)" % (name, member) if member else name)
    if unknown:
        fail("no rule says what these linked runtime parts are built from, so their notices are unknown:\n  " +
             "\n  ".join(unknown) + "\nadd rules for them to scripts/notices.py")
    lines = ["Third-party notices for lobbyfix.exe", "",
             "lobbyfix.exe is statically linked with parts of the MinGW-w64 runtime and of",
             "GCC's runtime libraries. These are the notices of the parts linked into it,",
             "as the toolchain's copyright files give them.", ""]
    if sources:
        lines += [RULE, "MinGW-w64 runtime", RULE, ""] + mingw_notices(sources, mingw_copyright) + [""]
    if gcc:
        lines += [RULE, "GCC runtime libraries", RULE, "",
                  "Linked from: " + ", ".join(sorted(gcc)), "",
                  "These libraries are licensed under the GNU General Public License, version 3",
                  "or later, with version 3.1 of the GCC Runtime Library Exception, which lets",
                  "a program compiled with GCC carry them under terms of its own choice:", ""]
        lines += ["  " + t if t else "" for t in gcc_exception(gcc_copyright)] + [""]
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--map", required=True)
    parser.add_argument("--mingw-copyright", default=MINGW_COPYRIGHT)
    parser.add_argument("--gcc-copyright", default=GCC_COPYRIGHT)
    parser.add_argument("--output", required=True)
    args = parser.parse_args()
    text = generate(args.map, args.mingw_copyright, args.gcc_copyright)
    with open(args.output, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)


if __name__ == "__main__":
    main()
