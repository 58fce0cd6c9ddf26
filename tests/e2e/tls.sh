# Sourced by the tests: a certificate authority made for the test, and server certificates
# it signs, with openssl in a folder of the caller's.
#   tls_make_ca DIR NAME                 DIR/NAME.pem (the CA's certificate), DIR/NAME.key
#   tls_make_cert DIR CA NAME SUBJECT_ALT_NAMES
#                                        DIR/NAME.pem and DIR/NAME.key, signed by DIR/CA,
#                                        for the names given (e.g. "IP:127.0.0.1,DNS:localhost")
# Keys are EC P-256: quick to make, and every client here speaks it.

tls_make_ca() {
  local dir="$1" name="$2"
  openssl req -x509 -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
    -subj "/CN=repair test CA $name" -keyout "$dir/$name.key" -out "$dir/$name.pem" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
    >"$dir/$name.log" 2>&1 || { cat "$dir/$name.log"; return 1; }
}

tls_make_cert() {
  local dir="$1" ca="$2" name="$3" names="$4"
  openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes \
    -subj "/CN=repair test server" -keyout "$dir/$name.key" -out "$dir/$name.csr" \
    >"$dir/$name.log" 2>&1 || { cat "$dir/$name.log"; return 1; }
  printf 'subjectAltName=%s\nbasicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=serverAuth\n' \
    "$names" > "$dir/$name.ext"
  openssl x509 -req -in "$dir/$name.csr" -CA "$dir/$ca.pem" -CAkey "$dir/$ca.key" \
    -CAcreateserial -days 2 -extfile "$dir/$name.ext" -out "$dir/$name.pem" \
    >>"$dir/$name.log" 2>&1 || { cat "$dir/$name.log"; return 1; }
}
