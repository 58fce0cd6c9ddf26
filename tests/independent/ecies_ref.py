#!/usr/bin/env python3
"""A stand-alone implementation of the SealedData format, sharing no code with the C++ one.

Blob layout for a plaintext of n bytes:

    0x04 | R.x (20) | R.y (20) | body (n) | tag (20)

R is an ephemeral point on brainpoolP160r1. With Z the x-coordinate of the shared point
(d*R when opening, k*Q when sealing) as 20 bytes big-endian, K = KDF2-SHA1(Z) cut to n + 16
bytes; the body is the plaintext XOR K[0:n] and the tag is HMAC-SHA1 keyed with K[n:n+16] over
the body alone.

Usage:
    ecies_ref.py open PRIVATE.der IN OUT   open a blob with a PKCS#8 private key
    ecies_ref.py seal KEY.der IN OUT       seal for a key (PKCS#8 private or X.509 public)
    ecies_ref.py selftest                  round trips and refusals, no files needed

Exit status: 0 done, 1 the blob or key is refused (with a message), 2 wrong usage.
Python 3.8+ standard library only. Not constant-time: a test tool, not a production sealer.
"""

import hashlib
import hmac
import secrets
import sys

# brainpoolP160r1
P = 0xE95E4A5F737059DC60DFC7AD95B3D8139515620F
A = 0x340E7BE2A280EB74E2BE61BADA745D97E8F7C300
B = 0x1E589A8595423412134FAA2DBDEC95C8D8675E58
G = (0xBED5AF16EA3F6A4F62938C4631EB5AF7BDBCDBC3, 0x1667CB477A1A8EC338F94741669C976316DA6321)
N = 0xE95E4A5F737059DC60DF5991D45029409E60FC09
H = 1

FIELD_SIZE = 20
POINT_SIZE = 1 + 2 * FIELD_SIZE
TAG_SIZE = 20
MAC_KEY_SIZE = 16
OVERHEAD = POINT_SIZE + TAG_SIZE

OID_EC_PUBLIC_KEY = bytes.fromhex("2a8648ce3d0201")  # 1.2.840.10045.2.1
OID_PRIME_FIELD = bytes.fromhex("2a8648ce3d0101")  # 1.2.840.10045.1.1
OID_BRAINPOOL_P160R1 = bytes.fromhex("2b2403030208010101")  # 1.3.36.3.3.2.8.1.1.1


class Refused(Exception):
    """A key or blob that the format does not accept."""


# --- curve arithmetic, affine coordinates, None for the point at infinity -------------------

def on_curve(point):
    if point is None:
        return True
    x, y = point
    if not (0 <= x < P and 0 <= y < P):
        return False
    return (y * y - (x * x * x + A * x + B)) % P == 0


def point_add(p1, p2):
    if p1 is None:
        return p2
    if p2 is None:
        return p1
    x1, y1 = p1
    x2, y2 = p2
    if x1 == x2:
        if (y1 + y2) % P == 0:
            return None
        slope = (3 * x1 * x1 + A) * pow(2 * y1, -1, P) % P
    else:
        slope = (y2 - y1) * pow(x2 - x1, -1, P) % P
    x3 = (slope * slope - x1 - x2) % P
    y3 = (slope * (x1 - x3) - y1) % P
    return (x3, y3)


def scalar_mult(k, point):
    result = None
    addend = point
    while k > 0:
        if k & 1:
            result = point_add(result, addend)
        addend = point_add(addend, addend)
        k >>= 1
    return result


def encode_point(point):
    x, y = point
    return b"\x04" + x.to_bytes(FIELD_SIZE, "big") + y.to_bytes(FIELD_SIZE, "big")


def decode_point(data):
    """An uncompressed point of the group, other than infinity; Refused otherwise."""
    if len(data) != POINT_SIZE or data[0] != 0x04:
        raise Refused("the point is not in uncompressed form")
    point = (int.from_bytes(data[1:21], "big"), int.from_bytes(data[21:41], "big"))
    if not on_curve(point):
        raise Refused("the point is not on brainpoolP160r1")
    if scalar_mult(N, point) is not None:
        raise Refused("the point is not in the group of order n")
    return point


# --- key derivation and the symmetric part -----------------------------------------------------

def kdf2_sha1(secret, length):
    out = bytearray()
    counter = 1
    while len(out) < length:
        out += hashlib.sha1(secret + counter.to_bytes(4, "big")).digest()
        counter += 1
    return bytes(out[:length])


def xor(data, key_stream):
    if not data:
        return b""
    value = int.from_bytes(data, "big") ^ int.from_bytes(key_stream[:len(data)], "big")
    return value.to_bytes(len(data), "big")


def seal(q, plaintext, k=None):
    if k is None:
        k = 1 + secrets.randbelow(N - 1)
    r = scalar_mult(k, G)
    z = scalar_mult(k, q)[0].to_bytes(FIELD_SIZE, "big")
    n = len(plaintext)
    key = kdf2_sha1(z, n + MAC_KEY_SIZE)
    body = xor(plaintext, key[:n])
    tag = hmac.new(key[n:], body, hashlib.sha1).digest()
    return encode_point(r) + body + tag


def open_sealed(d, sealed):
    if len(sealed) < OVERHEAD:
        raise Refused("the blob is %d bytes, shorter than %d" % (len(sealed), OVERHEAD))
    r = decode_point(sealed[:POINT_SIZE])
    shared = scalar_mult(d, r)
    if shared is None:
        raise Refused("the shared point is the point at infinity")
    z = shared[0].to_bytes(FIELD_SIZE, "big")
    n = len(sealed) - OVERHEAD
    body = sealed[POINT_SIZE:POINT_SIZE + n]
    tag = sealed[POINT_SIZE + n:]
    key = kdf2_sha1(z, n + MAC_KEY_SIZE)
    expected = hmac.new(key[n:], body, hashlib.sha1).digest()
    if not hmac.compare_digest(expected, tag):
        raise Refused("tag mismatch: the blob was changed or sealed for another key")
    return xor(body, key[:n])


# --- minimal DER reading ---------------------------------------------------------------------

def der_read(data, pos, expected_tag):
    """Returns (content, next position) of the TLV at pos, which must carry expected_tag."""
    if pos + 2 > len(data):
        raise Refused("key: DER ends inside a header")
    tag = data[pos]
    if tag != expected_tag:
        raise Refused("key: DER tag 0x%02x where 0x%02x was expected" % (tag, expected_tag))
    length = data[pos + 1]
    pos += 2
    if length & 0x80:
        count = length & 0x7F
        if count == 0 or count > 4 or pos + count > len(data):
            raise Refused("key: bad DER length")
        length = int.from_bytes(data[pos:pos + count], "big")
        pos += count
    if pos + length > len(data):
        raise Refused("key: DER length runs past the end")
    return data[pos:pos + length], pos + length


def der_integer(content):
    if not content:
        raise Refused("key: empty INTEGER")
    return int.from_bytes(content, "big", signed=True)


def check_curve_parameters(algorithm):
    """algorithm: the content of the AlgorithmIdentifier SEQUENCE."""
    oid, pos = der_read(algorithm, 0, 0x06)
    if oid != OID_EC_PUBLIC_KEY:
        raise Refused("key: the algorithm is not id-ecPublicKey")
    if pos < len(algorithm) and algorithm[pos] == 0x06:
        named, _ = der_read(algorithm, pos, 0x06)
        if named != OID_BRAINPOOL_P160R1:
            raise Refused("key: a named curve other than brainpoolP160r1")
        return
    params, _ = der_read(algorithm, pos, 0x30)
    version, p = der_read(params, 0, 0x02)
    field, p = der_read(params, p, 0x30)
    curve, p = der_read(params, p, 0x30)
    base, p = der_read(params, p, 0x04)
    order, p = der_read(params, p, 0x02)
    field_oid, q = der_read(field, 0, 0x06)
    prime, _ = der_read(field, q, 0x02)
    a, q = der_read(curve, 0, 0x04)
    b, _ = der_read(curve, q, 0x04)
    if p < len(params):
        cofactor, _ = der_read(params, p, 0x02)
        if der_integer(cofactor) != H:
            raise Refused("key: cofactor is not 1")
    if (der_integer(version) != 1 or field_oid != OID_PRIME_FIELD or der_integer(prime) != P
            or int.from_bytes(a, "big") != A or int.from_bytes(b, "big") != B
            or base != encode_point(G) or der_integer(order) != N):
        raise Refused("key: the curve is not brainpoolP160r1")


def parse_key(der):
    """('private', d) for PKCS#8 PrivateKeyInfo, ('public', Q) for X.509 SubjectPublicKeyInfo."""
    outer, end = der_read(der, 0, 0x30)
    if end != len(der):
        raise Refused("key: bytes after the DER structure")
    if outer[:1] == b"\x02":
        version, pos = der_read(outer, 0, 0x02)
        if der_integer(version) != 0:
            raise Refused("key: PrivateKeyInfo version is not 0")
        algorithm, pos = der_read(outer, pos, 0x30)
        check_curve_parameters(algorithm)
        wrapped, _ = der_read(outer, pos, 0x04)
        ec_private, _ = der_read(wrapped, 0, 0x30)
        ec_version, pos = der_read(ec_private, 0, 0x02)
        if der_integer(ec_version) != 1:
            raise Refused("key: ECPrivateKey version is not 1")
        scalar, _ = der_read(ec_private, pos, 0x04)
        d = int.from_bytes(scalar, "big")
        if not 0 < d < N:
            raise Refused("key: the private scalar is out of range")
        return "private", d
    algorithm, pos = der_read(outer, 0, 0x30)
    check_curve_parameters(algorithm)
    bits, _ = der_read(outer, pos, 0x03)
    if len(bits) != 1 + POINT_SIZE or bits[0] != 0:
        raise Refused("key: the public key is not a 41-byte uncompressed point")
    return "public", decode_point(bits[1:])


def public_point(der):
    kind, value = parse_key(der)
    return scalar_mult(value, G) if kind == "private" else value


def private_scalar(der):
    kind, value = parse_key(der)
    if kind != "private":
        raise Refused("key: opening needs the private key")
    return value


# --- command line ------------------------------------------------------------------------------

def read_file(path):
    with open(path, "rb") as f:
        return f.read()


def write_file(path, data):
    with open(path, "wb") as f:
        f.write(data)


def selftest():
    d = 1 + secrets.randbelow(N - 1)
    q = scalar_mult(d, G)
    assert on_curve(G) and scalar_mult(N, G) is None, "base point"
    assert point_add(G, scalar_mult(N - 1, G)) is None, "G + (n-1)G"
    assert scalar_mult(3, G) == point_add(G, point_add(G, G)), "3G"
    for length in (0, 1, 4, 5, 24, 25, 1000):
        plaintext = secrets.token_bytes(length)
        sealed = seal(q, plaintext)
        assert len(sealed) == length + OVERHEAD, "length"
        assert open_sealed(d, sealed) == plaintext, "round trip %d" % length
        for i in (0, 1, 40, 41, len(sealed) - 1):
            changed = bytearray(sealed)
            changed[i] ^= 0x01
            try:
                open_sealed(d, bytes(changed))
            except Refused:
                continue
            raise AssertionError("changed byte %d of %d accepted" % (i, len(sealed)))
    try:
        open_sealed((d + 1) % N, seal(q, b"other key"))
    except Refused:
        pass
    else:
        raise AssertionError("another key accepted")
    print("selftest: ok")
    return 0


def main(argv):
    if len(argv) == 2 and argv[1] == "selftest":
        return selftest()
    if len(argv) != 5 or argv[1] not in ("open", "seal"):
        sys.stderr.write(__doc__)
        return 2
    command, key_path, in_path, out_path = argv[1:]
    try:
        key = read_file(key_path)
        data = read_file(in_path)
        if command == "open":
            result = open_sealed(private_scalar(key), data)
        else:
            result = seal(public_point(key), data)
    except Refused as e:
        sys.stderr.write("ecies_ref.py %s: %s\n" % (command, e))
        return 1
    except OSError as e:
        sys.stderr.write("ecies_ref.py %s: %s\n" % (command, e))
        return 1
    write_file(out_path, result)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
