#!/usr/bin/env python3
"""Writes the seed corpora in fuzz/corpus/<target>/.

usage: make_corpus.py REPAIR_PUBLISH

REPAIR_PUBLISH is a built repair-publish; it seals the version file seeds for the key that
build embeds (the demo key by default), so that the fuzzer starts from files that open.
Run it again after changing the embedded key.
"""

import lzma
import os
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


def record(name, size, digest_byte, length=None):
    n = len(name) if length is None else length
    return struct.pack("<H", n & 0xFFFF) + name + struct.pack("<I", size) + bytes([digest_byte]) * 16


def raw_lzma(data):
    # The manifest's fixed properties: lc 3, lp 0, pb 2, 64 KiB dictionary; raw LZMA1 streams
    # from liblzma end with an end marker.
    return lzma.compress(data, format=lzma.FORMAT_RAW, filters=[
        {"id": lzma.FILTER_LZMA1, "dict_size": 1 << 16, "lc": 3, "lp": 0, "pb": 2}])


def manifest_records():
    write("manifest_records_fuzz", "two_records",
          record(b"repair.exe", 1000, 0x11) + record(b"data\\ui\\font.dat", 0, 0x22))
    write("manifest_records_fuzz", "embedded_nul", record(b"maps\\a.map\0junk", 7, 0x33))
    write("manifest_records_fuzz", "unsafe_name", record(b"..\\..\\Windows\\evil.dll", 1, 0x44))
    write("manifest_records_fuzz", "truncated", record(b"x.dat", 9, 0x55)[:-3])
    write("manifest_records_fuzz", "long_name", record(b"n" * 259, 1, 0x66))


def string_text():
    write("string_text_fuzz", "settings",
          b"SYS_REMOTEPATH=http://127.0.0.1/client/$MAJORVER$/$MINORVER$\r\n"
          b"SYS_LOCALVERFNAME=buildver.tvf\r\nSYS_FILEHASHFNAME=filehash.tsf\r\n")
    write("string_text_fuzz", "comments_and_escapes",
          b";comment\n\nSTR_CONFIRM=Repair now?\\nThis may take a while.\n=no key\nno equals\n"
          b"STR_ERROR = Failure\nSTR_CONFIRM=second wins not\n")
    write("string_text_fuzz", "limits", b"K=" + b"v" * 255 + b"\nL=" + b"w" * 256 + b"\n" +
          b"k" * 255 + b"=x\n")
    write("string_text_fuzz", "nul_inside", b"A=1\nB=2\0C=3\n")


def version_stamp(publish):
    with tempfile.TemporaryDirectory() as tmp:
        for name, words in (("short_form", ["3", "12"]), ("long_form", ["10", "7", "5", "9"])):
            path = os.path.join(tmp, name)
            subprocess.run([publish, "version", *words, path], check=True,
                           stdout=subprocess.DEVNULL)
            with open(path, "rb") as f:
                write("version_stamp_fuzz", name, f.read())
    write("version_stamp_fuzz", "wrong_length", b"\x04" + bytes(71))


def lzma_unpack():
    text = b"data\\ui\\font.dat " * 40
    write("lzma_unpack_fuzz", "exact_capacity", struct.pack("<H", len(text)) + raw_lzma(text))
    write("lzma_unpack_fuzz", "larger_capacity", struct.pack("<H", 4000) + raw_lzma(text))
    write("lzma_unpack_fuzz", "binary", struct.pack("<H", 256) + raw_lzma(bytes(range(256))))
    write("lzma_unpack_fuzz", "empty_stream", struct.pack("<H", 0) + raw_lzma(b""))


def http_head():
    write("http_head_fuzz", "whole_file",
          b"HTTP/1.1 200 OK\r\nContent-Length: 1234\r\nETag: \"5f-3a\"\r\n"
          b"Last-Modified: Tue, 01 Dec 2026 10:00:00 GMT\r\n\r\n")
    write("http_head_fuzz", "resumed_range",
          b"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 206 Partial Content\r\n"
          b"content-length: 1000\r\nCONTENT-RANGE:  bytes 234-1233/1234 \r\n"
          b"etag: W/\"weak\"\r\netag: \"second\"\r\n\r\n")
    write("http_head_fuzz", "chunked_redirect",
          b"HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1/elsewhere\r\n"
          b"Transfer-Encoding: gzip, Chunked\r\nContent-Encoding: gzip\r\n"
          b"Content-Length: 5\r\n\r\n")
    write("http_head_fuzz", "bad_range",
          b"HTTP/1.1 206 Partial Content\r\nContent-Length: 4294967296\r\n"
          b"Content-Range: bytes */1234\r\nETag: \"a\tb\"\r\n\r\n")


def part_record():
    md5 = "00112233445566778899aabbccddeeff"
    write("part_record_fuzz", "etag",
          ("tovak-recovery-part 1\nsize 4194304\nmd5 %s\nvalidator \"5f-3a\"\n" % md5).encode())
    write("part_record_fuzz", "date",
          ("tovak-recovery-part 1\nsize 262144\nmd5 %s\n"
           "validator Tue, 01 Dec 2026 10:00:00 GMT\n" % md5).encode())
    write("part_record_fuzz", "leading_zero",
          ("tovak-recovery-part 1\nsize 0042\nmd5 %s\nvalidator x\n" % md5).encode())
    write("part_record_fuzz", "fields", struct.pack("<I", 300000) + bytes(range(16)) + b'"tag"')


def manifest_names():
    write("manifest_names_fuzz", "client_files",
          b"repair.exe\ndata\\ui\\font.dat\nmaps/a.map\nbuildver.tvf\n")
    write("manifest_names_fuzz", "case_and_collisions",
          b"a\\Font.DAT\nb\\font.dat\nrecovery\\font.dat.recovery\nfont.dat.1.recovery\n"
          b"c\\font.dat\n")
    write("manifest_names_fuzz", "unsafe",
          b"..\\..\\Windows\\evil.dll\ndata\\...\\x\nC:\\boot.ini\ndata\\x.\n")
    write("manifest_names_fuzz", "folder_clash", b"data\ndata\\x.dat\nrecovery\n")


def command_line():
    write("command_line_fuzz", "switches",
          b'/quiet /version:12_7 "/exec:C:\\Program Files\\Tools\\start.exe" -x')
    write("command_line_fuzz", "quotes", b'one two "three four" "a"b c "" /ROLLBACK')
    write("command_line_fuzz", "numbers", b"/version:-2147483649_+99999999999 /version:3")
    write("command_line_fuzz", "long_exec", b"/exec:" + b"p" * 260 + b" /execute")


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    manifest_records()
    string_text()
    version_stamp(sys.argv[1])
    lzma_unpack()
    http_head()
    part_record()
    manifest_names()
    command_line()


if __name__ == "__main__":
    main()
