"""Writes a 32-bit Windows program of headers only, or with one import:
tiny_pe.py PATH SUBSYSTEM [DLL FUNCTION] (subsystem 2: GUI, 3: console)."""
import struct
import sys

pe = bytearray(0x200)
pe[0:2] = b'MZ'
struct.pack_into('<I', pe, 0x3C, 64)
pe[64:68] = b'PE\0\0'
sections = 1 if len(sys.argv) > 3 else 0
struct.pack_into('<HHIIIHH', pe, 68, 0x14C, sections, 0, 0, 0, 224, 0x0102)  # i386, executable
struct.pack_into('<H', pe, 88, 0x10B)  # PE32
struct.pack_into('<H', pe, 88 + 68, int(sys.argv[2]))
struct.pack_into('<I', pe, 88 + 92, 16)  # data directories
if sections:
    # One section at RVA 0x1000: the descriptor and its terminator, the
    # lookup and address tables, the function's hint and name, the DLL's name.
    dll, function = sys.argv[3].encode(), sys.argv[4].encode()
    names = 0x1038 + 2 + len(function) + 1
    idata = bytearray(0x200)
    struct.pack_into('<IIIII', idata, 0, 0x1028, 0, 0, names, 0x1030)
    struct.pack_into('<II', idata, 0x28, 0x1038, 0)
    struct.pack_into('<II', idata, 0x30, 0x1038, 0)
    idata[0x3A:0x3A + len(function)] = function
    idata[names - 0x1000:names - 0x1000 + len(dll)] = dll
    struct.pack_into('<II', pe, 88 + 104, 0x1000, 40)
    pe[312:320] = b'.idata\0\0'
    struct.pack_into('<IIII', pe, 320, 0x200, 0x1000, 0x200, 0x200)
    pe += idata
open(sys.argv[1], 'wb').write(pe)
