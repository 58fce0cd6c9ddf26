#!/usr/bin/env python3
"""A stand-alone implementation of the operator's file formats, sharing no code with the C++ one.

Manifest, as served:

    u32le sealedSize | raw LZMA1 stream (lc 3, lp 0, pb 2, 64 KiB dictionary, end marker)

The stream unpacks to one sealed blob (ecies_ref.py) whose plaintext is a run of records

    u16le n | name (n bytes, relative, backslashes, at most 259) | u32le size | md5 (16)

in byte order of the names. A version file is one sealed blob of three little-endian 32-bit
words (major, minor, 0); a string file is the sealed text as it is.

Release layout (publish):

    OUT_DIR/remote/<MAJOR.MINOR, or the --remote-layout template>/filehash.tsf
    OUT_DIR/remote/<...>/<every listed file, '/' separators>
    OUT_DIR/client-files/buildver.tvf

The release lists its own version file, leaves out the client folder's filehash.tsf and
buildver.tvf at the top, and lists empty files like any other (--keep-empty is accepted and
changes nothing). Symbolic links are skipped, never followed.

Usage:
    publish_ref.py publish --key KEY.der [--exclude NAME]... [--keep-empty]
                           [--remote-layout TEMPLATE] CLIENT_DIR MAJOR MINOR OUT_DIR
    publish_ref.py verify --key PRIVATE.der MANIFEST CLIENT_DIR
    publish_ref.py list --key PRIVATE.der MANIFEST      md5, size and name a line
    publish_ref.py strings --key KEY.der TEXT OUT
    publish_ref.py version --key KEY.der MAJOR MINOR OUT
    publish_ref.py pack --key KEY.der PLAINTEXT OUT     seal and pack raw record bytes as they
                                                        are (malformed ones too, for tests)

KEY may be a PKCS#8 private key or an X.509 public key (DER). Exit status: 0 done, 1 refused
or mismatched (with a message), 2 wrong usage. Python 3.8+ standard library only.
"""

import argparse
import hashlib
import lzma
import os
import stat
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import ecies_ref  # noqa: E402  (the independent sealed-format implementation beside this file)

MAX_NAME = 259
MAX_SIZE = 0xFFFFFFFF
MANIFEST_NAME = "filehash.tsf"
VERSION_NAME = "buildver.tvf"
LZMA_FILTERS = [{"id": lzma.FILTER_LZMA1, "lc": 3, "lp": 0, "pb": 2, "dict_size": 65536}]


class Failure(Exception):
    """Something the formats or the release rules refuse."""


def note(text):
    sys.stderr.write("publish_ref.py: note: %s\n" % text)


def read_file(path):
    with open(path, "rb") as f:
        return f.read()


def write_file(path, data):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def seal_for(key_path, plaintext):
    return ecies_ref.seal(ecies_ref.public_point(read_file(key_path)), plaintext)


# --- manifests ---------------------------------------------------------------------------------

def pack_manifest(sealed):
    stream = lzma.compress(sealed, format=lzma.FORMAT_RAW, filters=LZMA_FILTERS)
    # The tool decodes into a buffer of the size field's length and accepts a stream that stops
    # short of it only at an end marker; make sure this encoder wrote one.
    check = lzma.LZMADecompressor(format=lzma.FORMAT_RAW, filters=LZMA_FILTERS)
    if check.decompress(stream) != sealed or not check.eof or check.unused_data:
        raise Failure("the LZMA encoder wrote no end marker")
    return struct.pack("<I", len(sealed)) + stream


def encode_records(records):
    out = bytearray()
    for name, size, md5 in sorted(records):
        if len(name) > MAX_NAME:
            raise Failure("%r: name over %d bytes" % (name, MAX_NAME))
        out += struct.pack("<H", len(name)) + name + struct.pack("<I", size) + md5
    return bytes(out)


def unpack_manifest(manifest):
    if len(manifest) < 4:
        raise Failure("manifest of %d bytes has no size field" % len(manifest))
    if len(manifest) == 4:
        raise Failure("manifest holds no LZMA data")
    sealed_size = struct.unpack_from("<I", manifest)[0]
    decoder = lzma.LZMADecompressor(format=lzma.FORMAT_RAW, filters=LZMA_FILTERS)
    try:
        data = decoder.decompress(manifest[4:], max_length=sealed_size + 1)
    except lzma.LZMAError as e:
        raise Failure("LZMA data does not decode: %s" % e)
    if len(data) > sealed_size:
        raise Failure("LZMA data holds more than the size field's %d bytes" % sealed_size)
    if not decoder.eof and len(data) != sealed_size:
        raise Failure("LZMA data ends after %d of %d bytes without an end marker"
                      % (len(data), sealed_size))
    return data


def parse_records(plaintext):
    records = []
    pos = 0
    while pos < len(plaintext):
        if len(plaintext) - pos < 2:
            raise Failure("record at offset %d: length field cut off" % pos)
        (n,) = struct.unpack_from("<h", plaintext, pos)
        if not 0 <= n <= MAX_NAME:
            raise Failure("record at offset %d: name length %d" % (pos, n))
        if len(plaintext) - pos < n + 22:
            raise Failure("record at offset %d: runs past the end" % pos)
        name = plaintext[pos + 2:pos + 2 + n]
        (size,) = struct.unpack_from("<I", plaintext, pos + 2 + n)
        md5 = plaintext[pos + 6 + n:pos + 22 + n]
        records.append((name, size, md5))
        pos += n + 22
    return records


def read_manifest(key_path, manifest_path):
    sealed = unpack_manifest(read_file(manifest_path))
    plaintext = ecies_ref.open_sealed(ecies_ref.private_scalar(read_file(key_path)), sealed)
    return parse_records(plaintext)


# --- client folders ----------------------------------------------------------------------------

def file_md5(path):
    digest = hashlib.md5()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            digest.update(chunk)
    return digest.digest()


def excluded(name, patterns):
    return any(name == p or name.startswith(p + b"\\") for p in patterns)


def scan(root, exclude, ignore):
    """(name, path, size) of every regular file below root, names as bytes with backslashes."""
    found = []
    pending = [(root, b"")]
    while pending:
        folder, prefix = pending.pop()
        with os.scandir(folder) as entries:
            for entry in entries:
                name = prefix + os.fsencode(entry.name)
                if name in ignore or excluded(name, exclude):
                    continue
                mode = entry.stat(follow_symlinks=False).st_mode
                if stat.S_ISLNK(mode):
                    note("skipped symbolic link %r" % name)
                elif stat.S_ISDIR(mode):
                    pending.append((entry.path, name + b"\\"))
                elif not stat.S_ISREG(mode):
                    note("skipped %r: not a regular file" % name)
                else:
                    size = entry.stat().st_size
                    if len(name) > MAX_NAME:
                        raise Failure("%r: name of %d bytes, over %d" % (name, len(name), MAX_NAME))
                    if size > MAX_SIZE:
                        raise Failure("%r: %d bytes, 4 GiB or more" % (name, size))
                    found.append((name, entry.path, size))
    return sorted(found)


def remote_folder(layout, major, minor):
    folder = layout.replace("$MAJORVER$", str(major)).replace("$MINORVER$", str(minor))
    parts = folder.split("/")
    if any(p in ("", ".", "..") or "\\" in p for p in parts):
        raise Failure("remote layout %r gives %r, not a relative folder" % (layout, folder))
    return folder


def version_plaintext(major, minor):
    for word in (major, minor):
        if not 0 <= word <= 0x7FFFFFFF:
            raise Failure("major and minor must lie in 0 to 2147483647")
    return struct.pack("<iii", major, minor, 0)


# --- commands ----------------------------------------------------------------------------------

def cmd_publish(args):
    exclude = [os.fsencode(e).replace(b"/", b"\\").rstrip(b"\\") for e in args.exclude]
    ignore = {MANIFEST_NAME.encode(), VERSION_NAME.encode()}
    folder = remote_folder(args.remote_layout, args.major, args.minor)
    remote = os.path.join(args.out_dir, "remote", *folder.split("/"))
    if os.path.exists(remote) and os.listdir(remote):
        raise Failure("%s already holds a release" % remote)
    records = []
    for name, path, _ in scan(args.client_dir, exclude, ignore):
        data = read_file(path)
        write_file(os.path.join(remote, *os.fsdecode(name).split("\\")), data)
        records.append((name, len(data), hashlib.md5(data).digest()))
    version_file = seal_for(args.key, version_plaintext(args.major, args.minor))
    if not excluded(VERSION_NAME.encode(), exclude):
        write_file(os.path.join(remote, VERSION_NAME), version_file)
        records.append((VERSION_NAME.encode(), len(version_file), hashlib.md5(version_file).digest()))
    manifest = pack_manifest(seal_for(args.key, encode_records(records)))
    write_file(os.path.join(remote, MANIFEST_NAME), manifest)
    write_file(os.path.join(args.out_dir, "client-files", VERSION_NAME), version_file)
    print("%d files listed in %s" % (len(records), os.path.join(remote, MANIFEST_NAME)))
    return 0


def cmd_verify(args):
    records = read_manifest(args.key, args.manifest)
    problems = []
    for name, size, md5 in records:
        path = os.path.join(args.client_dir, *os.fsdecode(name).split("\\"))
        try:
            data = read_file(path)
        except OSError as e:
            problems.append("%s: cannot read (%s)" % (os.fsdecode(name), e.strerror))
            continue
        if len(data) != size:
            problems.append("%s: %d bytes, listed %d" % (os.fsdecode(name), len(data), size))
        elif hashlib.md5(data).digest() != md5:
            problems.append("%s: md5 %s, listed %s"
                            % (os.fsdecode(name), hashlib.md5(data).hexdigest(), md5.hex()))
    for p in problems:
        sys.stderr.write("mismatch: %s\n" % p)
    print("%d files listed, %d mismatched" % (len(records), len(problems)))
    return 1 if problems else 0


def cmd_list(args):
    out = sys.stdout.buffer
    for name, size, md5 in read_manifest(args.key, args.manifest):
        out.write(b"%s %d %s\n" % (md5.hex().encode(), size, name))
    return 0


def cmd_strings(args):
    write_file(args.out, seal_for(args.key, read_file(args.text)))
    return 0


def cmd_version(args):
    write_file(args.out, seal_for(args.key, version_plaintext(args.major, args.minor)))
    return 0


def cmd_pack(args):
    write_file(args.out, pack_manifest(seal_for(args.key, read_file(args.plaintext))))
    return 0


def main(argv):
    parser = argparse.ArgumentParser(prog="publish_ref.py", description=__doc__.split("\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    p = commands.add_parser("publish")
    p.add_argument("--key", required=True)
    p.add_argument("--exclude", action="append", default=[])
    p.add_argument("--keep-empty", action="store_true")
    p.add_argument("--remote-layout", default="$MAJORVER$.$MINORVER$")
    p.add_argument("client_dir")
    p.add_argument("major", type=int)
    p.add_argument("minor", type=int)
    p.add_argument("out_dir")
    p.set_defaults(run=cmd_publish)
    for name, run, extra in (("verify", cmd_verify, ["manifest", "client_dir"]),
                             ("list", cmd_list, ["manifest"]),
                             ("strings", cmd_strings, ["text", "out"]),
                             ("pack", cmd_pack, ["plaintext", "out"])):
        p = commands.add_parser(name)
        p.add_argument("--key", required=True)
        for a in extra:
            p.add_argument(a)
        p.set_defaults(run=run)
    p = commands.add_parser("version")
    p.add_argument("--key", required=True)
    p.add_argument("major", type=int)
    p.add_argument("minor", type=int)
    p.add_argument("out")
    p.set_defaults(run=cmd_version)
    args = parser.parse_args(argv[1:])
    try:
        return args.run(args)
    except (Failure, ecies_ref.Refused) as e:
        sys.stderr.write("publish_ref.py %s: %s\n" % (args.command, e))
    except OSError as e:
        sys.stderr.write("publish_ref.py %s: %s\n" % (args.command, e))
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
