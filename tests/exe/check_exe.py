#!/usr/bin/env python3
"""Checks the built lobbyfix.exe.

  * 32-bit x86 PE (PE32, i386) for the GUI subsystem;
  * at most 192 KiB (the figure is printed);
  * imports exactly the functions of xp-imports.txt beside this script,
    a list of functions that Windows XP SP3 has, and asks for Windows 5.1 (XP) at
    most, as its OS and subsystem versions;
  * DYNAMIC_BASE, NX_COMPAT and TERMINAL_SERVER_AWARE set, relocations
    kept, and no compiler identification string ("GCC: (") left anywhere;
  * the icon group MAINICON: 16, 20, 24, 32 and 48 px as 32-bit bitmaps,
    64 and 256 px as PNG, each bitmap's AND mask set on its fully
    transparent pixels and clear on its opaque ones;
  * the string table entries 65507-65509 and one application manifest (id 1);
  * the manifest read as XML, as the Windows loader reads it: the values
    that decide whether Windows starts the program at all, and the exact
    per-monitor DPI settings that keep the boxes sharp;
  * the version information: the US English and Russian blocks, each with
    exactly its strings (the version texts being the project's version),
    the Translation pairs in that order, and the numeric file and product
    versions, which Windows shows and compares, against their texts.

The headers, the imports and the resources are read with pefile (Debian's
python3-pefile), the same way whichever toolchain built the executable.

Usage: check_exe.py --version X.Y.Z lobbyfix.exe
"""

import argparse
import os
import re
import struct
import sys
import xml.etree.ElementTree as ElementTree

import pefile

IMPORTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "xp-imports.txt")
WINDOWS_XP = (5, 1)
SIZE_CEILING = 192 * 1024
RT_ICON, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 6, 14, 16, 24
TEMPLATES = {
    65507: "Invalid data type for '%s'",
    65508: "Failed to set data for '%s'",
    65509: "Failed to get data for '%s'",
}

# The manifest's namespaces, by the prefixes used below.
MANIFEST_NS = {
    "asm": "urn:schemas-microsoft-com:asm.v1",
    "asm3": "urn:schemas-microsoft-com:asm.v3",
    "compat": "urn:schemas-microsoft-com:compatibility.v1",
    "ws2005": "http://schemas.microsoft.com/SMI/2005/WindowsSettings",
    "ws2016": "http://schemas.microsoft.com/SMI/2016/WindowsSettings",
}
# Element (a path from the root), attribute (None: the element's text), the
# value Windows must find there. A wrong architecture or dependent assembly
# is a side-by-side error at start; uiAccess="true" is refused for an
# unsigned program.
MANIFEST_VALUES = [
    (".", "manifestVersion", "1.0"),
    ("asm:assemblyIdentity", "type", "win32"),
    ("asm:assemblyIdentity", "processorArchitecture", "x86"),
    ("asm3:trustInfo/asm3:security/asm3:requestedPrivileges/asm3:requestedExecutionLevel", "level",
     "requireAdministrator"),
    ("asm3:trustInfo/asm3:security/asm3:requestedPrivileges/asm3:requestedExecutionLevel", "uiAccess", "false"),
    # Per-monitor DPI awareness, as text: "false" or "unaware" would have
    # Windows draw every box blurred on a high-DPI screen.
    ("asm3:application/asm3:windowsSettings/ws2005:dpiAware", None, "true/PM"),
    ("asm3:application/asm3:windowsSettings/ws2016:dpiAwareness", None, "PerMonitorV2, PerMonitor"),
]
# The one dependent assembly, attribute for attribute.
COMMON_CONTROLS = {
    "type": "win32",
    "name": "Microsoft.Windows.Common-Controls",
    "version": "6.0.0.0",
    "processorArchitecture": "*",
    "publicKeyToken": "6595b64144ccf1df",
    "language": "*",
}
SUPPORTED_OS_IDS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  # Vista
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # 10 and 11
}
VS_FIXEDFILEINFO_SIGNATURE = 0xFEEF04BD
# The images of MAINICON by size: Vista and later read PNG, XP takes the
# largest bitmap (48 px), and the bitmaps' AND masks are what Windows draws
# through where it cannot blend alpha.
ICON_KINDS = {16: "bitmap", 20: "bitmap", 24: "bitmap", 32: "bitmap", 48: "bitmap", 64: "PNG", 256: "PNG"}
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
# Every string of each version block, as Explorer and allow-list rules read
# them; None stands for the project's version text.
VERSION_STRINGS = {
    "040904B0": {
        "CompanyName": "Dunmarsh Community",
        "FileDescription": "Dunmarsh lobby registration repair",
        "FileVersion": None,
        "InternalName": "lobbyfix",
        "LegalCopyright": "\u00a9 2026 Dunmarsh Community",
        "OriginalFilename": "lobbyfix.exe",
        "ProductName": "lobbyfix",
        "ProductVersion": None,
    },
    "041904B0": {
        "CompanyName": "Сообщество Dunmarsh",
        "FileDescription": "Исправление регистрации Dunmarsh для GameSpy Arcade",
        "FileVersion": None,
        "InternalName": "lobbyfix",
        "LegalCopyright": "\u00a9 2026 Сообщество Dunmarsh",
        "OriginalFilename": "lobbyfix.exe",
        "ProductName": "lobbyfix",
        "ProductVersion": None,
    },
}
TRANSLATIONS = [(0x409, 1200), (0x419, 1200)]

failures = []


def check(condition, what):
    print(("ok    " if condition else "FAIL  ") + what)
    if not condition:
        failures.append(what)


def check_size(exe):
    size = os.path.getsize(exe)
    check(size <= SIZE_CEILING, "size is %d bytes, at most %d" % (size, SIZE_CEILING))


def check_headers(pe, exe):
    check(pe.FILE_HEADER.Machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]
          and pe.OPTIONAL_HEADER.Magic == pefile.OPTIONAL_HEADER_MAGIC_PE, "format is PE32 for i386")
    check(pe.OPTIONAL_HEADER.Subsystem == 2, "subsystem is 2 (Windows GUI)")
    flags = pe.OPTIONAL_HEADER.DllCharacteristics
    check(flags & 0x0040 != 0, "DYNAMIC_BASE is set")
    check(flags & 0x0100 != 0, "NX_COMPAT is set")
    check(flags & 0x8000 != 0, "TERMINAL_SERVER_AWARE is set")
    with open(exe, "rb") as f:
        idents = f.read().count(b"GCC: (")
    check(idents == 0, "no compiler identification string is left (found %d)" % idents)
    check(not pe.FILE_HEADER.Characteristics & 0x0001, "relocations are kept (ASLR can move the image)")
    header = pe.OPTIONAL_HEADER
    for label, version in (("OS", (header.MajorOperatingSystemVersion, header.MinorOperatingSystemVersion)),
                           ("subsystem", (header.MajorSubsystemVersion, header.MinorSubsystemVersion))):
        check(version <= WINDOWS_XP, "%s version %d.%d is at most %d.%d (Windows XP)" % (label, *version, *WINDOWS_XP))
    # An import by ordinal is named by its number, so that it is never on the list.
    imports = {"%s %s" % (entry.dll.decode("ascii").lower(),
                          function.name.decode("ascii") if function.name else "#%d" % function.ordinal)
               for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []) for function in entry.imports}
    with open(IMPORTS) as f:
        listed = {line.strip() for line in f if line.strip() and not line.startswith("#")}
    check(imports == listed, "imports exactly the functions of %s (not listed: %s; listed, not imported: %s)"
          % (os.path.basename(IMPORTS), ", ".join(sorted(imports - listed)) or "none",
             ", ".join(sorted(listed - imports)) or "none"))


class Resources:
    """The resources of a PE file as pefile reads them: {(type, name, language): bytes}."""

    def __init__(self, pe):
        self.entries = {}
        directory = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
        for kind in directory.entries if directory else []:
            for name in kind.directory.entries:
                for language in name.directory.entries:
                    data = language.data.struct
                    key = (kind.id, str(name.name) if name.name is not None else name.id, language.id)
                    self.entries[key] = pe.get_data(data.OffsetToData, data.Size)

    def find(self, kind, name=None):
        return [data for (k, n, _), data in self.entries.items() if k == kind and (name is None or n == name)]


def string_table(resources):
    strings = {}
    for (kind, block, _), data in resources.entries.items():
        if kind != RT_STRING:
            continue
        at = 0
        for index in range(16):
            length = struct.unpack_from("<H", data, at)[0]
            text = data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
            at += 2 + 2 * length
            if length:
                strings[(block - 1) * 16 + index] = text
    return strings


def icon_image(data):
    """(kind, width, pixels of a bitmap whose AND-mask bit is wrong).

    The bit must be set where the pixel is fully transparent and clear where
    it is opaque; between the two, either is fine."""
    if len(data) < 40:
        return "truncated", 0, 0
    if data.startswith(PNG_SIGNATURE):
        return "PNG", struct.unpack_from(">I", data, 16)[0], 0
    header, width, height, _, bits = struct.unpack_from("<IiiHH", data)
    stride = (width + 31) // 32 * 4  # mask rows are padded to 32 bits
    mask = header + 4 * width * width
    if header != 40 or bits != 32 or height != 2 * width or len(data) < mask + stride * width:
        return "unknown", width, 0
    # Pixel rows and mask rows are both stored bottom-up, so stored row y of
    # the one is stored row y of the other.
    wrong = 0
    for y in range(width):
        for x in range(width):
            alpha = data[header + 4 * (y * width + x) + 3]
            masked = data[mask + y * stride + x // 8] & (0x80 >> x % 8) != 0
            wrong += (alpha == 0 and not masked) or (alpha == 255 and masked)
    return "bitmap", width, wrong


def check_resources(resources):
    groups = resources.find(RT_GROUP_ICON, "MAINICON")
    check(len(groups) == 1, "icon group MAINICON is present")
    if groups:
        count = struct.unpack_from("<H", groups[0], 4)[0]
        kinds = {}
        for i in range(count):
            width, _, _, _, _, _, _, icon_id = struct.unpack_from("<BBBBHHIH", groups[0], 6 + 14 * i)
            images = resources.find(RT_ICON, icon_id)
            kind, actual, wrong = icon_image(images[0]) if images else ("missing", 0, 0)
            kinds[width or 256] = kind if actual == (width or 256) else "%s of %d px" % (kind, actual)
            if kind == "bitmap":
                check(wrong == 0, "the %d px bitmap's AND mask is set on transparent, clear on opaque pixels (%d wrong)"
                      % (actual, wrong))
        check(kinds == ICON_KINDS, "MAINICON holds %s (found %s)" % (
            ", ".join("%d px %s" % item for item in ICON_KINDS.items()),
            ", ".join("%d px %s" % item for item in sorted(kinds.items()))))

    strings = string_table(resources)
    for string_id, template in TEMPLATES.items():
        check(strings.get(string_id) == template, "string %d is %r" % (string_id, template))

    manifests = resources.find(RT_MANIFEST, 1)
    check(len(manifests) == 1, "one application manifest, id 1")
    if manifests:
        manifest = manifests[0].decode("utf-8")
        check(len(re.findall(r"<supportedOS ", manifest)) == 5, "manifest names five supported systems")
        check("activeCodePage" not in manifest, "manifest sets no process code page")


def check_manifest_as_windows_reads_it(resources):
    manifests = resources.find(RT_MANIFEST, 1)
    try:
        root = ElementTree.fromstring(manifests[0]) if manifests else None
    except ElementTree.ParseError as error:
        check(False, "manifest is well-formed XML (%s)" % error)
        return
    check(root is not None and root.tag == "{%s}assembly" % MANIFEST_NS["asm"], "manifest root is an assembly")
    if root is None:
        return
    for path, attribute, expected in MANIFEST_VALUES:
        found = [element.get(attribute) if attribute else (element.text or "").strip()
                 for element in root.findall(path, MANIFEST_NS)]
        check(found == [expected],
              "manifest %s %s is %r (found %r)" % (path.split(":")[-1], attribute or "text", expected, found))

    dependencies = root.findall("asm:dependency/asm:dependentAssembly/asm:assemblyIdentity", MANIFEST_NS)
    found = [dict(element.attrib) for element in dependencies]
    check(found == [COMMON_CONTROLS], "manifest depends exactly on Common Controls 6 (found %r)" % found)

    ids = [element.get("Id", "") for element in root.findall("compat:compatibility/compat:application/"
                                                              "compat:supportedOS", MANIFEST_NS)]
    unknown = [i for i in ids if i.lower() not in SUPPORTED_OS_IDS]
    check(bool(ids) and not unknown, "every supportedOS Id is a known system (unknown: %r)" % unknown)


def _align(at):
    return (at + 3) & ~3


def version_node(data, at):
    """One node of a version resource: (key, value bytes, children, end).

    Read here rather than through pefile, which keeps only the last pair of
    a Translation value."""
    length, value_length, value_type = struct.unpack_from("<HHH", data, at)
    end = at + length
    key_end = at + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[at + 6:key_end].decode("utf-16-le")
    start = _align(key_end + 2)
    size = value_length * 2 if value_type == 1 else value_length
    value = data[start:start + size]
    children, child = [], _align(start + size)
    while child < end:
        node = version_node(data, child)
        children.append(node)
        child = _align(node[3])
    return key, value, children, end


def check_version_information(resources, project_version):
    versions = resources.find(RT_VERSION, 1)
    if not versions:
        check(False, "version information is present")
        return
    _, fixed, children, _ = version_node(versions[0], 0)
    blocks, translations = {}, []
    for key, _, tables, _ in children:
        for table, value, strings, _ in tables:
            if key == "StringFileInfo":
                blocks[table.upper()] = sorted((name, text.decode("utf-16-le", errors="replace").rstrip("\0"))
                                               for name, text, _, _ in strings)
            elif key == "VarFileInfo" and table == "Translation":
                translations += struct.iter_unpack("<HH", value[:len(value) // 4 * 4])
    check(sorted(blocks) == sorted(VERSION_STRINGS),
          "version blocks are %s (found %s)" % (", ".join(VERSION_STRINGS), ", ".join(blocks)))
    for block, table in VERSION_STRINGS.items():
        expected = sorted((name, project_version if text is None else text) for name, text in table.items())
        found = blocks.get(block, [])
        check(found == expected, "version block %s holds exactly its strings (expected, not found: %r; found, "
              "not expected: %r)" % (block, [s for s in expected if s not in found],
                                     [s for s in found if s not in expected]))
    check(translations == TRANSLATIONS, "Translation lists %s (found %s)" % (
        ", ".join("0x%x/%d" % pair for pair in TRANSLATIONS), ", ".join("0x%x/%d" % pair for pair in translations)))

    texts = dict(blocks.get("040904B0", []))
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed.ljust(24, b"\0"))
    check(signature == VS_FIXEDFILEINFO_SIGNATURE, "the fixed version information is present")
    for name, ms, ls in (("FileVersion", file_ms, file_ls), ("ProductVersion", product_ms, product_ls)):
        numbers = (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
        text = texts.get(name, "")
        as_text = None
        if re.fullmatch(r"\d+(\.\d+){0,3}", text):
            as_text = tuple(int(part) for part in (text.split(".") + ["0"] * 4)[:4])
        check(as_text == numbers, "numeric %s %s matches its text %r" % (name, ".".join(map(str, numbers)), text))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--version", required=True,
                        help="the project's version, which the version resource must carry")
    parser.add_argument("exe")
    args = parser.parse_args()
    check_size(args.exe)
    try:
        pe = pefile.PE(args.exe)
    except pefile.PEFormatError as error:
        check(False, "is a PE file (%s)" % error)
        return 1
    check_headers(pe, args.exe)
    resources = Resources(pe)
    check_resources(resources)
    check_manifest_as_windows_reads_it(resources)
    check_version_information(resources, args.version)
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
