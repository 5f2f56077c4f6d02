#!/usr/bin/env python3
"""Checks the built lobbyfix.exe.

  * 32-bit x86 PE (pei-i386) for the GUI subsystem;
  * at most 192 KiB (the figure is printed);
  * imports from KERNEL32, USER32, ADVAPI32 and msvcrt only (static build);
  * DYNAMIC_BASE and NX_COMPAT set, relocations kept;
  * resources: icon group MAINICON with 16, 32, 48 and 256 px images, the
    string table entries 65507-65509, version information naming the
    product, and the application manifest (id 1) with its settings.

The header facts come from objdump -p; the resources are read from the
.rsrc section by the small parser below.

Usage: check_exe.py [--objdump PROGRAM] lobbyfix.exe
"""

import argparse
import os
import re
import struct
import subprocess
import sys

ALLOWED_IMPORTS = {"kernel32.dll", "user32.dll", "advapi32.dll", "msvcrt.dll"}
SIZE_CEILING = 192 * 1024
RT_ICON, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 6, 14, 16, 24
TEMPLATES = {
    65507: "Invalid data type for '%s'",
    65508: "Failed to set data for '%s'",
    65509: "Failed to get data for '%s'",
}

failures = []


def check(condition, what):
    print(("ok    " if condition else "FAIL  ") + what)
    if not condition:
        failures.append(what)


def check_size(exe):
    size = os.path.getsize(exe)
    check(size <= SIZE_CEILING, "size is %d bytes, at most %d" % (size, SIZE_CEILING))


def check_headers(objdump, exe):
    text = subprocess.run([objdump, "-p", exe], check=True, capture_output=True, text=True).stdout
    check(re.search(r"file format pei-i386", text) is not None, "format is pei-i386")
    subsystem = re.search(r"^Subsystem\s+0*(\d+)", text, re.M)
    check(subsystem is not None and subsystem.group(1) == "2", "subsystem is 2 (Windows GUI)")
    dll = re.search(r"^DllCharacteristics\s+([0-9a-fA-F]+)", text, re.M)
    flags = int(dll.group(1), 16) if dll else 0
    check(flags & 0x0040 != 0, "DYNAMIC_BASE is set")
    check(flags & 0x0100 != 0, "NX_COMPAT is set")
    characteristics = re.search(r"^Characteristics\s+0x([0-9a-fA-F]+)", text, re.M)
    stripped_relocs = characteristics is not None and int(characteristics.group(1), 16) & 0x0001
    check(not stripped_relocs, "relocations are kept (ASLR can move the image)")
    imports = {m.lower() for m in re.findall(r"^\s*DLL Name: (\S+)", text, re.M)}
    check(bool(imports) and imports <= ALLOWED_IMPORTS,
          "imports only " + ", ".join(sorted(ALLOWED_IMPORTS)) + " (found: " + ", ".join(sorted(imports)) + ")")


class Resources:
    """The resource tree of a PE file: {(type, name, language): bytes}."""

    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        sections = struct.unpack_from("<H", data, pe + 6)[0]
        optional_size = struct.unpack_from("<H", data, pe + 20)[0]
        optional = pe + 24
        resource_rva = struct.unpack_from("<I", data, optional + 96 + 2 * 8)[0]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            _, vsize, rva, raw_size, raw_ptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((rva, max(vsize, raw_size), raw_ptr))
        self.root = self.offset(resource_rva) if resource_rva else None
        self.entries = {}
        if self.root is not None:
            self.walk(self.root, ())

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("address outside every section")

    def name(self, value):
        if value & 0x80000000:
            at = self.root + (value & 0x7FFFFFFF)
            length = struct.unpack_from("<H", self.data, at)[0]
            return self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
        return value

    def walk(self, at, path):
        named, ids = struct.unpack_from("<HH", self.data, at + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", self.data, at + 16 + 8 * i)
            key = path + (self.name(name),)
            if target & 0x80000000:
                self.walk(self.root + (target & 0x7FFFFFFF), key)
            else:
                rva, size = struct.unpack_from("<II", self.data, self.root + target)
                start = self.offset(rva)
                self.entries[key] = self.data[start:start + size]

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


def check_resources(exe):
    with open(exe, "rb") as f:
        resources = Resources(f.read())

    groups = resources.find(RT_GROUP_ICON, "MAINICON")
    check(len(groups) == 1, "icon group MAINICON is present")
    if groups:
        count = struct.unpack_from("<H", groups[0], 4)[0]
        sizes, ids = set(), []
        for i in range(count):
            width, _, _, _, _, bits, _, icon_id = struct.unpack_from("<BBBBHHIH", groups[0], 6 + 14 * i)
            sizes.add(width or 256)
            ids.append(icon_id)
        check(sizes == {16, 32, 48, 256}, "MAINICON holds 16, 32, 48 and 256 px images (found %s)" % sorted(sizes))
        check(all(resources.find(RT_ICON, icon_id) for icon_id in ids), "every MAINICON image is present")

    strings = string_table(resources)
    for string_id, template in TEMPLATES.items():
        check(strings.get(string_id) == template, "string %d is %r" % (string_id, template))

    versions = resources.find(RT_VERSION, 1)
    check(len(versions) == 1, "version information is present")
    if versions:
        text = versions[0].decode("utf-16-le", errors="replace")
        check("ProductName\0lobbyfix\0" in text.replace("\0\0", "\0"), "ProductName is lobbyfix")
        check("FileDescription" in text, "FileDescription is present")
        check(re.search(r"FileVersion\0+\d+\.\d+\.\d+", text) is not None, "FileVersion is present")

    manifests = resources.find(RT_MANIFEST, 1)
    check(len(manifests) == 1, "one application manifest, id 1")
    if manifests:
        manifest = manifests[0].decode("utf-8")
        check('level="requireAdministrator"' in manifest, "manifest asks for administrator rights")
        check(len(re.findall(r"<supportedOS ", manifest)) == 5, "manifest names five supported systems")
        check("Microsoft.Windows.Common-Controls" in manifest, "manifest depends on Common Controls 6")
        check("true/PM" in manifest and "PerMonitorV2" in manifest, "manifest declares DPI awareness")
        check("activeCodePage" not in manifest, "manifest sets no process code page")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    parser.add_argument("exe")
    args = parser.parse_args()
    check_size(args.exe)
    check_headers(args.objdump, args.exe)
    check_resources(args.exe)
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
