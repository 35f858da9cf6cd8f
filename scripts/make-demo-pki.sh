#!/usr/bin/env bash
# Generates a demo PKI for the "OpenSSL" engine with the openssl command:
#   scripts/make-demo-pki.sh OUTDIR
# OUTDIR receives:
#   ca.pem, ca.key                  demo CA (trust anchor for both sides)
#   client.pem, client.key          client identity, UID "vg-client"
#   client-enc.key                  the same client key, encrypted (password below)
#   gateway.pem, gateway.key        gateway identity, UID "vg-gateway"
#   client-identity.pem             client certificate and key in one file
#   expired.pem, expired.key        issued by the demo CA, validity ended in 2021 (UID "vg-expired")
#   rogue-ca.pem, rogue-ca.key      a second, untrusted CA
#   untrusted.pem, untrusted.key    issued by the rogue CA (UID "vg-untrusted")
#   subscriber-ru.pem, .key         issued by the demo CA, UID in Cyrillic ("Абонент Тестовый")
#   subscribers/                    client.pem, gateway.pem, subscriber-ru.pem (the peers' directory)
#   password.txt                    the password of client-enc.key
# The password is DEMO_PKI_PASSWORD (default "demo-secret"); key size is DEMO_PKI_BITS (default 2048).
set -euo pipefail
OUT=${1:?usage: make-demo-pki.sh OUTDIR}
PASSWORD=${DEMO_PKI_PASSWORD:-demo-secret}
BITS=${DEMO_PKI_BITS:-2048}
command -v openssl >/dev/null || { echo "make-demo-pki: the openssl command is missing" >&2; exit 1; }
mkdir -p "$OUT/subscribers"
cd "$OUT"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

newkey() { openssl genpkey -algorithm RSA -pkeyopt "rsa_keygen_bits:$BITS" -out "$1" 2>/dev/null; }

cat >"$WORK/ext.cnf" <<'EOF'
[ca_ext]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[leaf_ext]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EOF

# Self-signed CA: NAME CN
make_ca() {
  newkey "$1.key"
  openssl req -new -x509 -key "$1.key" -out "$1.pem" -days 3650 -subj "/O=QS-Veilgate Demo/CN=$2" \
    -config "$WORK/ext.cnf" -extensions ca_ext -sha256 2>/dev/null
}

# Leaf issued by a CA: NAME CN CA-NAME [openssl ca dates...]
make_leaf() {
  local name=$1 cn=$2 ca=$3
  newkey "$name.key"
  openssl req -new -utf8 -key "$name.key" -out "$WORK/$name.csr" -subj "/O=QS-Veilgate Demo/CN=$cn" 2>/dev/null
  openssl x509 -req -in "$WORK/$name.csr" -CA "$ca.pem" -CAkey "$ca.key" -CAcreateserial \
    -CAserial "$WORK/$ca.srl" -out "$name.pem" -days 825 -sha256 \
    -extfile "$WORK/ext.cnf" -extensions leaf_ext 2>/dev/null
}

make_ca ca "QS-Veilgate Demo CA"
make_ca rogue-ca "Rogue Demo CA"
make_leaf client vg-client ca
make_leaf gateway vg-gateway ca
make_leaf subscriber-ru "Абонент Тестовый" ca
make_leaf untrusted vg-untrusted rogue-ca

# An expired certificate needs explicit dates, which only "openssl ca" sets.
newkey expired.key
openssl req -new -key expired.key -out "$WORK/expired.csr" -subj "/O=QS-Veilgate Demo/CN=vg-expired" 2>/dev/null
mkdir -p "$WORK/db"
: >"$WORK/db/index.txt"
echo 1000 >"$WORK/db/serial"
cat >"$WORK/ca.cnf" <<EOF
[ca]
default_ca = demo
[demo]
database = $WORK/db/index.txt
serial = $WORK/db/serial
new_certs_dir = $WORK/db
certificate = $PWD/ca.pem
private_key = $PWD/ca.key
default_md = sha256
policy = anything
unique_subject = no
copy_extensions = none
[anything]
commonName = supplied
organizationName = optional
EOF
openssl ca -batch -config "$WORK/ca.cnf" -in "$WORK/expired.csr" -out expired.pem -notext \
  -startdate 20200101000000Z -enddate 20210101000000Z -extfile "$WORK/ext.cnf" -extensions leaf_ext \
  >/dev/null 2>&1

openssl pkey -in client.key -out client-enc.key -aes-256-cbc -passout "pass:$PASSWORD"
printf '%s' "$PASSWORD" >password.txt
cat client.pem client.key >client-identity.pem
cp client.pem gateway.pem subscriber-ru.pem subscribers/
chmod 600 ./*.key client-identity.pem
echo "demo PKI written to $PWD"
