"""Reads what llvm-objdump cannot: an arm64e image's chained fixups, and the
page hashes of an ad-hoc code signature. A reader of its own, independent of
finish-arm64e's, so that each checks the other.

MachO(bytes) parses a thin 64-bit image; .fixups() decodes every chain in
the formats DYLD_CHAINED_PTR_ARM64E (1), _64 (2) and _64_OFFSET (6) into
Fixup tuples; .stale_pages() lists the pages whose hash in the signature does
not match. Raises ValueError on anything malformed.
"""
import hashlib
import struct
from collections import namedtuple

MH_MAGIC_64 = 0xFEEDFACF
LC_SEGMENT_64 = 0x19
LC_CODE_SIGNATURE = 0x1D
LC_DYLD_INFO = 0x22
LC_DYLD_INFO_ONLY = 0x80000022
LC_DYLD_CHAINED_FIXUPS = 0x80000034
ARM64E, PTR_64, PTR_64_OFFSET = 1, 2, 6
KEYS = ("IA", "IB", "DA", "DB")

# address: where the pointer is; bind: True for a bind; target: a rebase's
# image address or a bind's symbol name; addend; auth: None or (key,
# address diversity, discriminator).
Fixup = namedtuple("Fixup", "address bind target addend auth")


def bits(value, low, count):
    return (value >> low) & ((1 << count) - 1)


class MachO:
    def __init__(self, data):
        self.data = data
        magic, self.cputype, self.cpusubtype, self.filetype, ncmds, sizeofcmds = \
            struct.unpack_from("<IiIIII", data, 0)
        if magic != MH_MAGIC_64:
            raise ValueError("not a thin 64-bit Mach-O image")
        self.commands, self.segments, self.sections = [], [], []
        at = 32
        for _ in range(ncmds):
            cmd, size = struct.unpack_from("<II", data, at)
            self.commands.append((cmd, at, size))
            if cmd == LC_SEGMENT_64:
                name, vmaddr, vmsize, fileoff, filesize, _, _, nsects, _ = \
                    struct.unpack_from("<16sQQQQiiII", data, at + 8)
                self.segments.append((name.rstrip(b"\0").decode(), vmaddr, vmsize, fileoff, filesize))
                for k in range(nsects):
                    s = struct.unpack_from("<16s16sQQIIIIIIII", data, at + 72 + 80 * k)
                    self.sections.append((s[0].rstrip(b"\0").decode(), s[1].rstrip(b"\0").decode(),
                                          s[2], s[3], s[8] & 0xFF))
            at += size
        self.base = next(s[1] for s in self.segments if s[3] == 0 and s[4] != 0)

    def command(self, cmd):
        found = [(at, size) for c, at, size in self.commands if c == cmd]
        return found[0] if found else None

    def linkedit(self, cmd):
        found = self.command(cmd)
        return struct.unpack_from("<II", self.data, found[0] + 8) if found else None

    def has_opcode_fixups(self):
        for cmd in (LC_DYLD_INFO, LC_DYLD_INFO_ONLY):
            found = self.command(cmd)
            if found:
                f = struct.unpack_from("<10I", self.data, found[0] + 8)
                if f[1] or f[3] or f[5] or f[7]:
                    return True
        return False

    def pointer_formats(self):
        return {s[2] for s in self._starts()}

    def _starts(self):
        offset, _ = self.linkedit(LC_DYLD_CHAINED_FIXUPS)
        _, starts, _, _, _, _, _ = struct.unpack_from("<7I", self.data, offset)
        count, = struct.unpack_from("<I", self.data, offset + starts)
        result = []
        for i in range(count):
            info, = struct.unpack_from("<I", self.data, offset + starts + 4 + 4 * i)
            if info:
                at = offset + starts + info
                size, page_size, fmt, seg_offset, _, page_count = struct.unpack_from("<IHHQIH", self.data, at)
                pages = struct.unpack_from(f"<{page_count}H", self.data, at + 22)
                result.append((i, page_size, fmt, pages))
        return result

    def imports(self):
        offset, _ = self.linkedit(LC_DYLD_CHAINED_FIXUPS)
        _, _, imports, symbols, count, fmt, _ = struct.unpack_from("<7I", self.data, offset)
        size = {1: 4, 2: 8, 3: 16}[fmt]
        names = []
        for i in range(count):
            if fmt == 3:
                word, addend = struct.unpack_from("<QQ", self.data, offset + imports + 16 * i)
                name_offset = word >> 32
            else:
                word, = struct.unpack_from("<I", self.data, offset + imports + size * i)
                name_offset = word >> 9
            start = offset + symbols + name_offset
            names.append(self.data[start:self.data.index(b"\0", start)].decode())
        return names

    def fixups(self):
        names, found = self.imports(), []
        for index, page_size, fmt, pages in self._starts():
            _, vmaddr, _, fileoff, _ = self.segments[index]
            stride = 8 if fmt == ARM64E else 4
            for page, start in enumerate(pages):
                if start == 0xFFFF:
                    continue
                if start & 0x8000:
                    raise ValueError("a page with several chain starts")
                offset = start
                while True:
                    where = page * page_size + offset
                    raw, = struct.unpack_from("<Q", self.data, fileoff + where)
                    found.append(self._decode(raw, fmt, vmaddr + where, names))
                    nxt = bits(raw, 51, 11 if fmt == ARM64E else 12)
                    if nxt == 0:
                        break
                    offset += nxt * stride
        return found

    def _decode(self, raw, fmt, address, names):
        if fmt == ARM64E:
            auth, bind = bits(raw, 63, 1), bits(raw, 62, 1)
            scheme = (KEYS[bits(raw, 49, 2)], bool(bits(raw, 48, 1)), bits(raw, 32, 16)) if auth else None
            if auth and bind:
                return Fixup(address, True, names[bits(raw, 0, 16)], 0, scheme)
            if auth:
                return Fixup(address, False, self.base + bits(raw, 0, 32), 0, scheme)
            if bind:
                addend = bits(raw, 32, 19)
                addend -= (1 << 19) if addend & (1 << 18) else 0
                return Fixup(address, True, names[bits(raw, 0, 16)], addend, None)
            return Fixup(address, False, bits(raw, 0, 43) | (bits(raw, 43, 8) << 56), 0, None)
        if fmt not in (PTR_64, PTR_64_OFFSET):
            raise ValueError(f"pointer format {fmt}")
        if bits(raw, 63, 1):
            return Fixup(address, True, names[bits(raw, 0, 24)], bits(raw, 24, 8), None)
        target = bits(raw, 0, 36) + (self.base if fmt == PTR_64_OFFSET else 0)
        return Fixup(address, False, target | (bits(raw, 36, 8) << 56), 0, None)

    def stale_pages(self):
        offset, _ = self.linkedit(LC_CODE_SIGNATURE)
        magic, _, count = struct.unpack_from(">III", self.data, offset)
        for i in range(count):
            kind, blob = struct.unpack_from(">II", self.data, offset + 12 + 8 * i)
            if kind == 0:
                cd = offset + blob
        (magic, _, _, flags, hash_offset, _, _, slots, limit, hash_size, hash_type, _, page_shift) = \
            struct.unpack_from(">IIIIIIIIIBBBB", self.data, cd)
        if magic != 0xFADE0C02 or not flags & 2 or hash_type != 2 or hash_size != 32:
            raise ValueError("not an ad-hoc SHA-256 code directory")
        page = 1 << page_shift
        stale = []
        for n in range(slots):
            chunk = self.data[n * page:min((n + 1) * page, limit)]
            stored = self.data[cd + hash_offset + 32 * n:cd + hash_offset + 32 * (n + 1)]
            if hashlib.sha256(chunk).digest() != stored:
                stale.append(n)
        return stale

    def section(self, name):
        return next((s for s in self.sections if s[0] == name), None)

    def records(self):
        """The signed-pointer records of a linked, unfinished arm64e image:
        {location: (key, address diversity, discriminator)}."""
        found = self.section("__auth_records")
        if not found:
            return {}
        _, _, address, size, _ = found
        by_address = {f.address: f for f in self.fixups()}
        result = {}
        for r in range(address, address + size, 16):
            location = by_address[r].target
            disc, key, flags = struct.unpack_from("<HBB", self.data, self.file_offset(r + 8))
            result[location] = (KEYS[key], bool(flags & 1), disc)
        return result

    def file_offset(self, address):
        for _, vmaddr, _, fileoff, filesize in self.segments:
            if vmaddr <= address < vmaddr + filesize:
                return fileoff + address - vmaddr
        raise ValueError(f"{address:#x} is not in the file")
