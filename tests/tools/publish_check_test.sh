#!/usr/bin/env bash
# 'repair-publish check' against a private nginx set up each way that breaks a release on
# players' machines (compression, a redirect, a 403 on names with spaces, missing and changed
# files, chunked bodies), and against a good release, which must pass.
#   publish_check_test.sh REPAIR_PUBLISH NGINX_SH [CHECKER...]
# CHECKER is the command whose 'check' is tested (default REPAIR_PUBLISH), for example
# "wine repair-publish.exe" in the Windows build, where REPAIR_PUBLISH is a native one.
set -uo pipefail
publish="$(realpath "$1")"; nginx_sh="$(realpath "$2")"; shift 2
checker=("$@"); [ ${#checker[@]} -gt 0 ] || checker=("$publish")
work="$(mktemp -d)"
source "$nginx_sh"
trap 'nginx_stop; rm -rf "$work"' EXIT
cd "$work"
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# check EXIT_CODE description check-arguments...: runs check, output in out.txt
check() {
  local want="$1" what="$2"; shift 2
  "${checker[@]}" check "$@" >out.txt 2>err.txt
  local got=$?
  [ "$got" = "$want" ] || { fail "$what: exit $got, expected $want"; cat out.txt err.txt; }
}
# has description pattern: out.txt holds the (fixed) text
has() { grep -qF -- "$2" out.txt || { fail "$1: no '$2' in the report"; cat out.txt; }; }

# A client with text and config files (what CDNs compress), a name with a space, a nested
# folder, binary data over several read pieces, and an empty file.
mkdir -p client/data client/config client/paks client/sub/deep
head -c 6000 /dev/zero | tr '\0' 'a' > "client/data/read me.txt"
seq 1 2000 > client/data/notes.txt
printf 'width=800\nheight=600\n' > client/config/game.cfg  # 21 bytes
head -c 3000000 /dev/urandom > client/paks/big.pak
printf 'deep' > client/sub/deep/x.bin
: > client/empty.dat
"$publish" publish client 3 7 rel > publish.txt || { echo "publish failed"; exit 1; }
good="$work/rel/remote"
listed=$(( $(find client -type f | wc -l) + 2 ))  # the version file and the manifest's own

# A served copy of the good release, to be broken.
copy() { rm -rf served; cp -a "$good" served; }
serve() {  # [DIRECTIVES]: serves ./served
  nginx_stop
  nginx_start "$work/served" 0 "${1:-}" || exit 1
  tmpl="$NGINX_URL/\$MAJORVER\$.\$MINORVER\$"
  # The string file that ships with the client, with a translated error text.
  { printf 'SYS_REMOTEPATH=%s\n' "$tmpl"
    printf 'ERR_NOTEXISTFILE=Fichier introuvable.\n'; } > strings.txt
  "$publish" strings strings.txt repair.dat > /dev/null
}

# --- a good release passes, from a template and from the string file ---
copy; serve
check 0 "good release" "$tmpl" 3 7 --verbose
has "good release" "checked $listed of $listed files"
has "good release" "$listed would repair, 0 would fail"
has "good release" "empty.dat (0 bytes): empty, no request made"
has "good release" "ok   data\\read me.txt (6000 bytes)"
grep -q "empty.dat" "$NGINX_DIR/access.log" && fail "the empty file was requested"
grep -q 'tovak:recovery:1.0' "$NGINX_DIR/access.log" || fail "not the tool's agent"
grep -q 'GET /3.7/data/read%20me.txt ' "$NGINX_DIR/access.log" || fail "not the tool's escaping"
check 0 "good release, string file" repair.dat 3 7 --jobs 1
# An empty file is restored without a request, so it need not be on the server.
rm served/3.7/empty.dat
check 0 "empty file not uploaded" "$tmpl" 3 7 --jobs 8

# --- plain gzip: the tool asks for no encoding, so nginx sends the files as they are ---
copy; serve 'gzip on; gzip_types *; gzip_min_length 1;'
check 0 "gzip on" "$tmpl" 3 7

# --- a CDN that compresses text whatever the client asks: chunked, no Content-Length ---
copy; serve "location /3.7/data/ {
      proxy_pass http://127.0.0.1:\$server_port/origin\$request_uri;
      proxy_set_header Accept-Encoding gzip; proxy_http_version 1.1; }
    location /origin/ { alias $work/served/; gzip on; gzip_types *; gzip_min_length 1; }"
check 1 "compressing CDN" "$tmpl" 3 7
has "compressing CDN" "FAIL data\\read me.txt (6000 bytes)"
has "compressing CDN" "FAIL data\\notes.txt"
has "compressing CDN" "no Content-Length (Transfer-Encoding: chunked), because the server compresses the file (Content-Encoding: gzip)"
has "compressing CDN" "[ERR_NOTEXISTFILE] File cannot be found.  Exit the program and try again."
has "compressing CDN" "2 would fail"
# The same with the string file: the player's text is the file's.
check 1 "compressing CDN, string file" repair.dat 3 7
has "compressing CDN, string file" "[ERR_NOTEXISTFILE] Fichier introuvable."

# --- precompressed copies served with their own length: another length than the manifest's ---
copy; gzip -k served/3.7/config/game.cfg
serve 'location /3.7/config/ { gzip_static always; }'
check 1 "precompressed file" "$tmpl" 3 7
has "precompressed file" "FAIL config\\game.cfg (21 bytes)"
has "precompressed file" "Content-Length $(stat -c %s served/3.7/config/game.cfg.gz) where the manifest has 21 (compressed: Content-Encoding: gzip)"
has "precompressed file" "[ERR_INVALIDDATA]"

# --- a redirect to another host ---
copy; serve 'location = /3.7/config/game.cfg { return 301 http://cdn2.example/3.7/config/game.cfg; }'
check 1 "redirect" "$tmpl" 3 7
has "redirect" "redirect (301) to http://cdn2.example/3.7/config/game.cfg: the tool follows no redirects"
has "redirect" "[ERR_NOTEXISTFILE]"
has "redirect" "1 would fail"

# --- a 403 on names with spaces ---
copy; serve 'location ~ "\s" { return 403; }'
check 1 "403 on spaces" "$tmpl" 3 7
has "403 on spaces" "FAIL data\\read me.txt"
has "403 on spaces" "403 Forbidden"
has "403 on spaces" "1 would fail"

# --- an upload that missed a file and a folder ---
copy; rm served/3.7/data/notes.txt; rm -r served/3.7/sub
serve
check 1 "missing files" "$tmpl" 3 7
has "missing files" "FAIL data\\notes.txt"
has "missing files" "FAIL sub\\deep\\x.bin"
has "missing files" "404 Not Found: the file is not on the server"
has "missing files" "2 with ERR_NOTEXISTFILE"
# The summary names the failures in manifest order, however the requests finished.
[ "$(grep '^  ERR_' out.txt | tr -d '\r')" = "$(printf '  ERR_NOTEXISTFILE: data\\notes.txt\n  ERR_NOTEXISTFILE: sub\\deep\\x.bin')" ] ||
  fail "missing files: the summary's list: $(grep '^  ERR_' out.txt)"

# --- files changed after publishing (a stale cache serves the like): length and MD5 ---
copy; printf 'width=1024\nheight=768\n' > served/3.7/config/game.cfg
printf 'x' | dd of=served/3.7/paks/big.pak bs=1 seek=2999999 conv=notrunc status=none
serve
check 1 "changed files" "$tmpl" 3 7
has "changed files" "Content-Length 22 where the manifest has 21"
has "changed files" "FAIL paks\\big.pak (3000000 bytes)"
has "changed files" "MD5 differs from the manifest's"
has "changed files" "2 with ERR_INVALIDDATA"

# --- chunked responses (server-side processing drops the length) ---
copy; serve 'location /3.7/paks/ { ssi on; ssi_types *; }'
check 1 "chunked" "$tmpl" 3 7
has "chunked" "FAIL paks\\big.pak"
has "chunked" "no Content-Length (Transfer-Encoding: chunked): the tool needs the length"
has "chunked" "1 would fail"

# --- no manifest: the run ends before any file ---
copy; rm served/3.7/filehash.tsf; serve
check 1 "missing manifest" "$tmpl" 3 7
has "missing manifest" "[ERR_NOTEXISTHASHFILE]"
has "missing manifest" "404 Not Found"
check 1 "another build" "$tmpl" 3 8
has "another build" "[ERR_NOTEXISTHASHFILE]"

# --- a release sealed for another key than the one the tool embeds ---
"$publish" keygen other.der other.pub > /dev/null
"$publish" publish --public other.pub client 3 7 other > /dev/null
rm -rf served; cp -a other/remote served; serve
check 1 "another key" "$tmpl" 3 7
has "another key" "[ERR_INVALIDDATA]"
has "another key" "the manifest does not unpack, open or parse"

# --- a sample: the seed is printed and repeats the same files ---
copy; serve
check 0 "sample" "$tmpl" 3 7 --sample 3 --verbose
has "sample" "checked 3 of $listed files"
seed=$(sed -n 's/.*seed \([0-9]*\) (repeat.*/\1/p' out.txt)
[ -n "$seed" ] || fail "sample: no seed printed"
grep '^ok ' out.txt | sort > first.txt
check 0 "sample again" "$tmpl" 3 7 --sample 3 --seed "$seed" --verbose --jobs 1
grep '^ok ' out.txt | sort > second.txt
cmp -s first.txt second.txt || fail "the same seed chose other files"
[ "$(wc -l < first.txt)" = 3 ] || fail "sample: not 3 files listed"

# --- names Windows takes for one file: warned about on stderr, the exit status untouched ---
mkdir -p folds/Maps folds/maps
for name in Maps/a.txt maps/A.txt $'\xdc'.txt $'\xfc'.txt; do printf 'same' > "folds/$name"; done
"$publish" publish folds 5 1 folds-rel > /dev/null 2>&1 || fail "publish of names that fold"
rm -rf served; cp -a folds-rel/remote served; serve
check 0 "names that fold" "$tmpl" 5 1
grep -qF 'warning: Maps\a.txt and maps\A.txt differ only in letter case' err.txt ||
  { fail "no warning for names that differ in ASCII letter case"; cat err.txt; }
check 0 "names that fold in 1252" "$tmpl" 5 1 --code-page 1252
grep -qF $'warning: \xdc.txt and \xfc.txt differ only in letter case, in code page 1252' err.txt ||
  { fail "no warning for names that differ in letter case in code page 1252"; cat err.txt; }
check 2 "a code page that is no number" "$tmpl" 5 1 --code-page x

# --- block indexes: each fetched as the tool fetches it and compared with its file ---
mkdir -p large
head -c $((32 * 1048576 + 4321)) /dev/urandom > large/huge.pak
"$publish" publish large 6 0 large-rel > /dev/null || fail "publish of a large file"
[ -f large-rel/remote/6.0/huge.pak.blockidx ] || fail "no block index published"
rm -rf served; cp -a large-rel/remote served; serve
check 0 "a right block index" "$tmpl" 6 0 --verbose
has "a right block index" "huge.pak (33558753 bytes), its block index matches"
has "a right block index" "block indexes: 1 match their files, 0 would make the tool fetch whole files"
grep -q 'GET /6.0/huge.pak.blockidx ' "$NGINX_DIR/access.log" || fail "the index was not fetched"
# A digest of block 5 changed: the file repairs, but a player's repair would fetch it whole.
printf '\xff' | dd of=served/6.0/huge.pak.blockidx bs=1 seek=$((40 + 16 * 5)) conv=notrunc 2>/dev/null
check 1 "a block index that differs" "$tmpl" 6 0
has "a block index that differs" "block 5 (bytes 5242880-6291455) is not what the index says"
has "a block index that differs" "3 would repair, 0 would fail"
# The index of another build of the file, and one cut short.
head -c $((32 * 1048576 + 4321)) /dev/urandom > large/huge.pak
"$publish" publish large 6 1 large-rel > /dev/null || fail "publish of another build"
cp large-rel/remote/6.1/huge.pak.blockidx served/6.0/
check 1 "a stale block index" "$tmpl" 6 0
has "a stale block index" "the index describes another version of the file"
head -c 100 large-rel/remote/6.0/huge.pak.blockidx > served/6.0/huge.pak.blockidx
check 1 "a block index cut short" "$tmpl" 6 0
has "a block index cut short" "the index is not the length its header gives"
# None at all: a release published without indexes checks as before.
rm served/6.0/huge.pak.blockidx
check 0 "no block index" "$tmpl" 6 0 --verbose
has "no block index" "ok   huge.pak (33558753 bytes)"

# --- arguments ---
check 2 "no operands"
check 2 "jobs 0" "$tmpl" 3 7 --jobs 0
check 2 "seed without sample" "$tmpl" 3 7 --seed 4
check 2 "negative build" "$tmpl" -1 7
check 2 "manifest name with a string file" repair.dat 3 7 --manifest-name x.tsf
check 1 "unreadable string file" no-such.dat 3 7
"${checker[@]}" check --help | grep -q "usage: repair-publish check" || fail "check --help"

[ "$failures" = 0 ] && echo "all publish check tests passed"
[ "$failures" = 0 ]
