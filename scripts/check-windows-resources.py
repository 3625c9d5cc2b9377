#!/usr/bin/python3
"""Checks the resources of the Windows programs with a PE reader and prints what it found.

usage: /usr/bin/python3 check-windows-resources.py VEXO_EXE [VEXOMYSQL_EXE]

vexo.exe must carry the version information (file and product version 1.1.0.0 and the fixed
strings) and one application icon of 256 x 256 pixels in an icon group named A; vexoMYSQL.exe
must carry no resources. Exits 1, naming each fault, when something is off.
"""
import struct
import sys

import pefile

EXPECTED_STRINGS = {
    "ProductName": "marun tools(vexo)",
    "InternalName": "vexo",
    "OriginalFilename": "vexo",
    "LegalTrademarks": "vexo",
}
OUR_OWN_STRINGS = ("CompanyName", "LegalCopyright", "FileDescription")
RT_ICON = pefile.RESOURCE_TYPE["RT_ICON"]
RT_GROUP_ICON = pefile.RESOURCE_TYPE["RT_GROUP_ICON"]

faults = []


def expect(ok, fault):
    if not ok:
        faults.append(fault)


def version(ms, ls):
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"


def resources(pe):
    """Yields (type id, name, language, data) for every resource of the file."""
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return
    for type_entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for name_entry in type_entry.directory.entries:
            name = str(name_entry.name) if name_entry.name is not None else name_entry.id
            for language in name_entry.directory.entries:
                rva, size = language.data.struct.OffsetToData, language.data.struct.Size
                yield type_entry.id, name, language.id, pe.get_data(rva, size)


def image_size(data):
    """Width and height of an icon image: a PNG, or a BMP whose height counts the mask too."""
    if data[:8] == b"\x89PNG\r\n\x1a\n":
        return struct.unpack(">II", data[16:24])
    width, height = struct.unpack("<ii", data[4:12])
    return width, height // 2


def check_vexo(path):
    pe = pefile.PE(path)
    print(f"{path}:")
    found = list(resources(pe))
    for type_id, name, language, data in found:
        type_name = pefile.RESOURCE_TYPE.get(type_id, type_id)
        print(f"  resource {type_name} name={name!r} language=0x{language:04x} size={len(data)}")

    fixed = pe.VS_FIXEDFILEINFO[0] if hasattr(pe, "VS_FIXEDFILEINFO") else None
    expect(fixed is not None, "no version information")
    if fixed is not None:
        file_version = version(fixed.FileVersionMS, fixed.FileVersionLS)
        product_version = version(fixed.ProductVersionMS, fixed.ProductVersionLS)
        print(f"  FILEVERSION {file_version}  PRODUCTVERSION {product_version}")
        expect(file_version == "1.1.0.0", f"FILEVERSION is {file_version}")
        expect(product_version == "1.1.0.0", f"PRODUCTVERSION is {product_version}")

    strings = {}
    for info in getattr(pe, "FileInfo", [[]])[0]:
        if info.Key == b"StringFileInfo":
            for table in info.StringTable:
                print(f"  string table {table.LangID.decode()}")
                for key, value in table.entries.items():
                    strings[key.decode()] = value.decode()
                    print(f"    {key.decode()} = {value.decode()}")
    for key, value in EXPECTED_STRINGS.items():
        expect(strings.get(key) == value, f"{key} is {strings.get(key)!r}, not {value!r}")
    for key in OUR_OWN_STRINGS:
        expect(bool(strings.get(key)), f"{key} is missing or empty")

    groups = [(name, data) for type_id, name, _, data in found if type_id == RT_GROUP_ICON]
    icons = {name: data for type_id, name, _, data in found if type_id == RT_ICON}
    expect([name for name, _ in groups] == ["A"],
           f"icon groups are {[name for name, _ in groups]}, not just 'A'")
    expect(len(icons) == 1, f"{len(icons)} icon images, not one")
    for _, data in groups:
        _, _, count = struct.unpack("<HHH", data[:6])
        expect(count == 1, f"icon group A holds {count} images, not one")
        for k in range(count):
            entry = data[6 + 14 * k:6 + 14 * (k + 1)]
            width, height = entry[0] or 256, entry[1] or 256
            icon_id = struct.unpack("<H", entry[12:14])[0]
            image = icons.get(icon_id)
            expect(image is not None, f"icon group A names image {icon_id}, which is missing")
            if image is not None:
                actual = image_size(image)
                print(f"  icon group A: image {icon_id}, {width} x {height} in the group, "
                      f"{actual[0]} x {actual[1]} in the image")
                expect((width, height) == (256, 256), f"group entry is {width} x {height}")
                expect(actual == (256, 256), f"icon image is {actual[0]} x {actual[1]}")


def check_no_resources(path):
    pe = pefile.PE(path)
    found = list(resources(pe))
    print(f"{path}: {len(found)} resources")
    expect(not found, f"{path} carries resources")


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    check_vexo(sys.argv[1])
    if len(sys.argv) == 3:
        check_no_resources(sys.argv[2])
    for fault in faults:
        print(f"FAULT: {fault}")
    print("resources: " + ("as required" if not faults else f"{len(faults)} faults"))
    sys.exit(1 if faults else 0)


if __name__ == "__main__":
    main()
