"""Signatures and keys of the publishing tool: the signed form of an update information file, the publisher's
Ed25519 keys, and the key block of a built launcher."""
import struct

from cryptography.exceptions import InvalidSignature, UnsupportedAlgorithm
from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PrivateKey, Ed25519PublicKey

# The launcher's key block, as src/common/key_block.h lays it out: resource RT_RCDATA KEY_BLOCK_ID in the
# neutral language; a mark, then KEY_SLOTS Ed25519 public keys of KEY_BYTES each, all zero when empty.
RT_RCDATA, LANG_NEUTRAL = 10, 0
KEY_BLOCK_ID = 102
KEY_BLOCK_MARK = b"KOVREL-PUBKEYS-1"
KEY_SLOTS, KEY_BYTES = 2, 32
KEY_BLOCK_SIZE = len(KEY_BLOCK_MARK) + KEY_SLOTS * KEY_BYTES


class Refused(Exception):
    """A request the tool turns down; the message says why, and nothing has been written."""


SIGNATURE_MARK = b";ed25519="


def split_signed(data):
    """(signature, body) of a file whose first line is a well-formed signature line, as the worker reads
    it; None otherwise."""
    digits = data[len(SIGNATURE_MARK):len(SIGNATURE_MARK) + 128]
    rest = data[len(SIGNATURE_MARK) + 128:]
    if not data.startswith(SIGNATURE_MARK) or len(digits) != 128 or not rest.startswith((b"\r\n", b"\n")):
        return None
    try:
        signature = bytes.fromhex(digits.decode("ascii"))
    except ValueError:  # also catches non-ASCII bytes, UnicodeDecodeError being a ValueError
        return None
    if len(signature) != 64:  # fromhex skips blanks between digit pairs
        return None
    return signature, rest[2:] if rest.startswith(b"\r\n") else rest[1:]


def looks_signed(data):
    """Whether the file starts with something meant as a signature line, well-formed or not."""
    return data[:len(SIGNATURE_MARK)].lower() == SIGNATURE_MARK


def verify_signed(data, public_keys):
    """The index of the first key under which the file's signature verifies, or None."""
    parts = split_signed(data)
    if parts is None:
        return None
    signature, body = parts
    for index, key in enumerate(public_keys):
        try:
            Ed25519PublicKey.from_public_bytes(key).verify(signature, body)
            return index
        except InvalidSignature:
            continue
    return None


def sign_body(private_key, body):
    return private_key.sign(body)


def signed_file(private_key, body):
    return SIGNATURE_MARK + sign_body(private_key, body).hex().encode("ascii") + b"\r\n" + body


# Ed25519's curve, for checking that a public key is a point a signature can be made against.
_P = 2 ** 255 - 19
_D = -121665 * pow(121666, _P - 2, _P) % _P
_SQRT_MINUS_ONE = pow(2, (_P - 1) // 4, _P)


def _decode_point(encoded):
    """The point (x, y) of a 32-byte encoding (RFC 8032, 5.1.3), or None when it encodes none."""
    y = int.from_bytes(encoded, "little") & ((1 << 255) - 1)
    sign = encoded[31] >> 7
    if y >= _P:
        return None
    x2 = (y * y - 1) * pow(_D * y * y + 1, _P - 2, _P) % _P
    x = pow(x2, (_P + 3) // 8, _P)
    if x * x % _P != x2:
        x = x * _SQRT_MINUS_ONE % _P
    if x * x % _P != x2 or (x == 0 and sign):
        return None
    return (_P - x if x & 1 != sign else x), y


def _add(a, b):
    (x1, y1), (x2, y2) = a, b
    t = _D * x1 * x2 * y1 * y2 % _P
    return ((x1 * y2 + x2 * y1) * pow(1 + t, _P - 2, _P) % _P, (y1 * y2 + x1 * x2) * pow(1 - t, _P - 2, _P) % _P)


def public_key_problem(key):
    """Why 32 bytes cannot serve as a publisher's key, or None. OpenSSL takes any 32 bytes, so the curve
    is checked here: a key of small order would accept forged signatures, and all zeros means an empty slot."""
    if not any(key):
        return "it is all zeros, which marks an empty slot"
    point = _decode_point(key)
    if point is None:
        return "it is not a point of the curve"
    for _ in range(3):
        point = _add(point, point)
    if point == (0, 1):
        return "it is a point of small order, which would accept forged signatures"
    return None


def read_public_key(path):
    with open(path, "rb") as f:
        text = f.read()
    digits = text[:-2] if text.endswith(b"\r\n") else text[:-1] if text.endswith(b"\n") else text
    if len(digits) != 64 or any(c not in b"0123456789abcdefABCDEF" for c in digits):
        raise Refused(f"{path} is not a public key (64 hex digits on one line)")
    key = bytes.fromhex(digits.decode("ascii"))
    problem = public_key_problem(key)
    if problem:
        raise Refused(f"{path} is not a usable public key: {problem}")
    return key


def read_private_key(path):
    with open(path, "rb") as f:
        data = f.read()
    try:
        key = serialization.load_pem_private_key(data, password=None)
    except (ValueError, TypeError, UnsupportedAlgorithm):
        key = None
    if not isinstance(key, Ed25519PrivateKey):
        raise Refused(f"{path} is not an unencrypted Ed25519 private key in PEM (as keygen writes)")
    return key


def public_bytes(private_key):
    return private_key.public_key().public_bytes(serialization.Encoding.Raw, serialization.PublicFormat.Raw)


def find_key_block(data):
    """The file offset of the launcher's key block, found through the PE resource directory."""
    def u16(offset):
        return struct.unpack_from("<H", data, offset)[0]

    def u32(offset):
        return struct.unpack_from("<I", data, offset)[0]

    try:
        if data[:2] != b"MZ" or data[u32(0x3C):u32(0x3C) + 4] != b"PE\0\0":
            raise Refused("not a PE file")
        pe = u32(0x3C)
        section_count, optional_size = u16(pe + 6), u16(pe + 20)
        optional = pe + 24
        magic = u16(optional)
        if magic not in (0x10B, 0x20B):
            raise Refused("not a PE file (unknown optional header)")
        count_field = optional + (92 if magic == 0x10B else 108)
        directories = count_field + 4
        directory_count = u32(count_field)
        resource_rva = u32(directories + 16) if directory_count > 2 else 0
        if directory_count > 4 and u32(directories + 32):
            # The Authenticode signature covers the resources, so the keys go in before signing.
            raise Refused("the launcher carries a code signature that writing keys would break; "
                          "embed the keys first, then sign the launcher")
        sections = []
        for i in range(section_count):
            entry = optional + optional_size + 40 * i
            virtual_size, virtual_address, raw_size, raw_address = struct.unpack_from("<IIII", data, entry + 8)
            sections.append((virtual_address, max(virtual_size, raw_size), raw_address, raw_size))
    except struct.error:
        raise Refused("not a PE file (cut short)") from None

    def file_offset(rva, length):
        for virtual_address, extent, raw_address, raw_size in sections:
            if virtual_address <= rva < virtual_address + extent:
                offset = rva - virtual_address
                if offset + length > raw_size or raw_address + offset + length > len(data):
                    break
                return raw_address + offset
        raise Refused(f"the resources point outside the file (address {rva:#x})")

    def child(directory, wanted):
        """The entry of a numbered resource in a directory of the tree, or None."""
        named, numbered = u16(directory + 12), u16(directory + 14)
        for i in range(named, named + numbered):  # named entries come first; the ones sought are numbered
            name, target = struct.unpack_from("<II", data, directory + 16 + 8 * i)
            if name == wanted:
                return target
        return None

    missing = Refused(f"the launcher has no key block (RT_RCDATA {KEY_BLOCK_ID}, neutral); "
                      "was it built before keys existed?")
    if not resource_rva:
        raise missing
    try:
        root = file_offset(resource_rva, 16)
        directory = root
        for wanted, is_leaf in ((RT_RCDATA, False), (KEY_BLOCK_ID, False), (LANG_NEUTRAL, True)):
            target = child(directory, wanted)
            if target is None or bool(target & 0x80000000) == is_leaf:
                raise missing
            directory = root + (target & 0x7FFFFFFF)
        data_rva, data_size = struct.unpack_from("<II", data, directory)
    except struct.error:
        raise Refused("the launcher's resource directory is cut short") from None
    if data_size != KEY_BLOCK_SIZE:
        raise Refused(f"the launcher's key block is {data_size} bytes, not {KEY_BLOCK_SIZE}")
    offset = file_offset(data_rva, KEY_BLOCK_SIZE)
    if data[offset:offset + len(KEY_BLOCK_MARK)] != KEY_BLOCK_MARK:
        raise Refused("the launcher's key block does not start with its mark")
    return offset
