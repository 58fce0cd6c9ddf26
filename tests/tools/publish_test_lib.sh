# Shared by the operator tool's shell suites: a scratch folder, the checks, and a sample client.
# Sourced with the suite's arguments; the first is the repair-publish program.
publish="$(realpath "$1")"
work="$(mktemp -d)"; trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect() {  # expect EXIT_CODE description command...
  local want="$1" what="$2"; shift 2
  "$@" >out.txt 2>err.txt
  local got=$?
  [ "$got" = "$want" ] || { fail "$what: exit $got, expected $want"; cat err.txt; }
}
# What inspect must list for a folder: "md5 size name" per regular file, names with
# backslashes, in byte order of the names.
expected_listing() {  # DIR [find arguments...]
  local dir="$1"; shift
  (cd "$dir" && find . -type f "$@" -printf '%P\n' | while IFS= read -r f; do
     local name="${f//\//\\}"
     printf '%s\t%s %s %s\n' "$name" "$(md5sum < "$f" | cut -c1-32)" "$(stat -c %s "$f")" "$name"
   done) | LC_ALL=C sort -t$'\t' -k1,1 | cut -f2-
}

# COMMAND --help succeeds and shows the command's usage.
expect_help() {  # COMMAND
  expect 0 "$1 --help" "$publish" "$1" --help
  grep -q "usage: repair-publish $1" out.txt || fail "$1 --help has no usage"
}

# The embedded key pair (key.der, key.pub) and another one (other.der, other.pub).
make_keys() {
  "$publish" export-key --private key.der --public key.pub
  "$publish" keygen other.der other.pub > /dev/null
}

# A client in client/: nested folders, an empty file, spaces, binary data over several 1 MiB
# read pieces, names whose order differs between '/' and '\' separators, and a link out of the
# tree (to outside/).
make_client() {
  mkdir -p client/data/ui/fonts client/data-x "client/with space" outside
  printf 'hello\n' > client/readme.txt
  printf 'x' > client/data0.txt
  printf 'y' > client/data-x/y.txt
  printf 'font' > client/data/ui/fonts/main.fnt
  printf 'spaced' > "client/with space/a b.txt"
  head -c 2621447 /dev/urandom > client/data/big.bin
  head -c 1000 /dev/urandom > client/B.bin
  : > client/data/empty.log
  printf 'secret' > outside/secret.txt
  ln -s "$work/outside" client/linked
  ln -s ../readme.txt client/data/readme-link
}

# Exits with the suite's result.
finish() {  # WHAT
  if [ "$failures" != 0 ]; then echo "$failures failures"; exit 1; fi
  echo "$1: all checks passed"
  exit 0
}
