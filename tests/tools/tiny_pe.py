"""Writes the headers of a 32-bit Windows program with no sections and no
imports: tiny_pe.py PATH SUBSYSTEM (2: GUI, 3: console)."""
import struct
import sys

pe = bytearray(64 + 4 + 20 + 224)
pe[0:2] = b'MZ'
struct.pack_into('<I', pe, 0x3C, 64)
pe[64:68] = b'PE\0\0'
struct.pack_into('<HHIIIHH', pe, 68, 0x14C, 0, 0, 0, 0, 224, 0x0102)  # i386, executable
struct.pack_into('<H', pe, 88, 0x10B)  # PE32
struct.pack_into('<H', pe, 88 + 68, int(sys.argv[2]))
struct.pack_into('<I', pe, 88 + 92, 16)  # data directories, all empty
open(sys.argv[1], 'wb').write(pe)
