#!/bin/sh
# Makes a certificate for running the update service with --https on this machine.
#
#   make-cert.sh DIR          self-signed, untrusted: DIR/cert.pem, DIR/key.pem
#   make-cert.sh --ca DIR     as above, but signed by a new test CA (DIR/ca.pem,
#                             DIR/ca-key.pem); trust DIR/ca.pem to test trusted https
#
# The certificate names 127.0.0.1 and localhost and is valid for 30 days.
# Needs openssl (Debian package "openssl").
set -eu

with_ca=0
if [ "${1:-}" = "--ca" ]; then
    with_ca=1
    shift
fi
if [ $# -ne 1 ]; then
    echo "usage: $0 [--ca] DIR" >&2
    exit 2
fi
dir=$1
command -v openssl >/dev/null 2>&1 || { echo "$0: openssl is not installed (apt-get install openssl)" >&2; exit 1; }
mkdir -p "$dir"

ext="$dir/leaf.ext"
cat > "$ext" <<'EOF'
basicConstraints=CA:FALSE
keyUsage=digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=IP:127.0.0.1,DNS:localhost
EOF

if [ "$with_ca" -eq 0 ]; then
    openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 30 \
        -subj "/CN=127.0.0.1/O=BRUptide test (untrusted)" \
        -keyout "$dir/key.pem" -out "$dir/cert.pem" \
        -addext "subjectAltName=IP:127.0.0.1,DNS:localhost" \
        -addext "extendedKeyUsage=serverAuth" 2>/dev/null
else
    openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 30 \
        -subj "/CN=BRUptide test CA" \
        -keyout "$dir/ca-key.pem" -out "$dir/ca.pem" \
        -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
    openssl req -new -newkey rsa:2048 -nodes -sha256 \
        -subj "/CN=127.0.0.1/O=BRUptide test" \
        -keyout "$dir/key.pem" -out "$dir/leaf.csr" 2>/dev/null
    openssl x509 -req -in "$dir/leaf.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca-key.pem" \
        -CAcreateserial -days 30 -sha256 -extfile "$ext" -out "$dir/cert.pem" 2>/dev/null
    rm -f "$dir/leaf.csr" "$dir/ca.srl"
fi
rm -f "$ext"
chmod 600 "$dir/key.pem"
echo "$dir/cert.pem"
