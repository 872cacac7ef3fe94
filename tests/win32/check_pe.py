#!/usr/bin/env python3
"""Checks a Windows program against what the oldest supported systems load.

Reads the PE file itself (headers, sections, the import directory) and fails
when it imports a DLL or a function that the table of allowed imports does
not list, imports anything by ordinal, asks for an OS or subsystem version
above 4.0, or is larger than the size limit; and when it lacks the hardening
that newer systems apply: a random load address (with its relocations kept),
data that is never executable, no section both writable and executable.
Prints the size, the sections and the imports.

    check_pe.py PROGRAM ALLOWED_IMPORTS_TSV [--max-size BYTES]
"""
import struct
import sys


def fail(problems, text):
    problems.append(text)


def read_imports(data):
    """The PE's headers, sections and imports: (header, sections, imports).

    imports is a list of (dll, name) with name None for an import by ordinal.
    """
    if data[:2] != b"MZ":
        raise ValueError("no MZ header")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("no PE signature")
    machine, nsections, _stamp, _, _, optsize, characteristics = struct.unpack_from(
        "<HHIIIHH", data, pe + 4)
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    if magic != 0x10B:
        raise ValueError("not a 32-bit PE (optional header magic %#x)" % magic)
    header = {
        "machine": machine,
        "stamp": _stamp,
        "os": struct.unpack_from("<HH", data, opt + 40),
        "subsystem_version": struct.unpack_from("<HH", data, opt + 48),
        "subsystem": struct.unpack_from("<H", data, opt + 68)[0],
        "dll_characteristics": struct.unpack_from("<H", data, opt + 70)[0],
        "characteristics": characteristics,
    }
    ndirs = struct.unpack_from("<I", data, opt + 92)[0]
    import_rva, _ = struct.unpack_from("<II", data, opt + 96 + 8) if ndirs > 1 else (0, 0)
    header["relocations"] = struct.unpack_from("<II", data, opt + 96 + 5 * 8)[1] if ndirs > 5 else 0
    sections = []
    at = opt + optsize
    for i in range(nsections):
        name, vsize, vaddr, rawsize, rawptr = struct.unpack_from("<8sIIII", data, at + 40 * i)
        flags = struct.unpack_from("<I", data, at + 40 * i + 36)[0]
        sections.append((name.rstrip(b"\0").decode("latin-1"), vsize, vaddr, rawsize, rawptr))
        header.setdefault("section_flags", []).append(flags)

    def offset(rva):
        for _, vsize, vaddr, rawsize, rawptr in sections:
            if vaddr <= rva < vaddr + max(vsize, rawsize):
                return rawptr + rva - vaddr
        raise ValueError("RVA %#x lies in no section" % rva)

    def text(rva):
        start = offset(rva)
        return data[start:data.index(b"\0", start)].decode("latin-1")

    imports = []
    at = offset(import_rva) if import_rva else None
    while at is not None:
        lookup, _, _, name_rva, thunks = struct.unpack_from("<IIIII", data, at)
        if not (lookup or name_rva or thunks):
            break
        dll = text(name_rva)
        entry = offset(lookup or thunks)
        while True:
            value = struct.unpack_from("<I", data, entry)[0]
            if value == 0:
                break
            imports.append((dll, None if value & 0x80000000 else text(value + 2)))
            entry += 4
        at += 20
    return header, sections, imports


def read_table(path):
    """The allowed imports: {DLL in capitals: {function names}}."""
    allowed = {}
    with open(path, encoding="utf-8") as table:
        for line in table:
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            fields = line.split("\t")
            if len(fields) < 3 or not fields[2].strip():
                raise ValueError("table line without a source: %r" % line)
            allowed.setdefault(fields[0].upper(), set()).add(fields[1])
    return allowed


def main():
    args = sys.argv[1:]
    max_size = None
    if "--max-size" in args:
        i = args.index("--max-size")
        max_size = int(args[i + 1])
        del args[i:i + 2]
    program, table_path = args
    data = open(program, "rb").read()
    header, sections, imports = read_imports(data)
    allowed = read_table(table_path)
    problems = []

    print("%s: %d bytes" % (program, len(data)))
    for name, vsize, _, rawsize, _ in sections:
        print("  section %-8s %6d bytes in memory, %6d in the file" % (name, vsize, rawsize))
    for key in ("os", "subsystem_version"):
        major, minor = header[key]
        if (major, minor) > (4, 0):
            fail(problems, "%s version %d.%d is above 4.0" % (key.replace("_", " "), major, minor))
    if header["machine"] != 0x14C:
        fail(problems, "machine %#x is not i386" % header["machine"])
    if header["stamp"] != 0:
        fail(problems, "the header carries a time stamp (%#x)" % header["stamp"])
    if max_size is not None and len(data) > max_size:
        fail(problems, "%d bytes is above the limit of %d" % (len(data), max_size))
    if not header["dll_characteristics"] & 0x0040:
        fail(problems, "no random load address (DYNAMIC_BASE)")
    if header["characteristics"] & 0x0001 or not header["relocations"]:
        fail(problems, "no relocations for a random load address")
    if not header["dll_characteristics"] & 0x0100:
        fail(problems, "data may be executed (no NX_COMPAT)")
    for (name, _, _, _, _), flags in zip(sections, header["section_flags"]):
        if flags & 0x80000000 and flags & 0x20000000:
            fail(problems, "section %s is both writable and executable" % name)

    for dll in sorted({d.upper() for d, _ in imports}):
        names = [n for d, n in imports if d.upper() == dll]
        print("  imports from %s: %s" % (dll, " ".join(n or "(ordinal)" for n in names)))
        if dll not in allowed:
            fail(problems, "imports from %s, which is not allowed" % dll)
            continue
        for name in names:
            if name is None:
                fail(problems, "imports from %s by ordinal" % dll)
            elif name not in allowed[dll]:
                fail(problems, "imports %s from %s, which is not allowed" % (name, dll))
    for problem in problems:
        print("FAIL " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
