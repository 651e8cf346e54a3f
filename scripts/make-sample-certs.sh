#!/usr/bin/env bash
# Generates demo certificates with the openssl tool into DIR (default
# build/samples): for each peer type a server certificate and a client
# PKCS#12 container (password in DIR/client-password), valid for 100 years,
# plus a second EDR server certificate to replace the first.
set -euo pipefail
dir=${1:-build/samples}
mkdir -p "$dir"
cd "$dir"
[ -f done ] && exit 0
echo "demo-client-password" > client-password
days=36500
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days $days -keyout ca.key -out ca.pem \
  -subj "/C=US/O=Demo Corp/CN=Demo Issuing CA" 2>/dev/null
issue() {  # <name> <subject> [der]
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$1.key" -out "$1.csr" -subj "$2" 2>/dev/null
  openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days $days -out "$1.pem" 2>/dev/null
  [ "${3:-}" = der ] && openssl x509 -in "$1.pem" -outform DER -out "$1.der"
  rm -f "$1.csr"
}
issue edr-server "/C=US/O=Demo Corp/CN=edr.demo.example" der
issue edr-server-2 "/C=US/O=Demo Corp/CN=edr2.demo.example"
issue sandbox-server "/C=US/O=Demo Corp/CN=sandbox.demo.example"
issue ndr-server "/C=US/O=Demo Corp/CN=ndr.demo.example" der
issue siem-server "/C=US/O=Demo Corp/CN=siem.demo.example"
for type in edr sandbox ndr siem; do
  issue "$type-client" "/C=US/O=Demo Corp/CN=$type-agent.demo.example"
  openssl pkcs12 -export -in "$type-client.pem" -inkey "$type-client.key" -certfile ca.pem \
    -passout file:client-password -out "$type-client.p12"
done
touch done
