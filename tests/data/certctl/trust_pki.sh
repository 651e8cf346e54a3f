#!/bin/sh
# The PKI of the trust session, made with openssl x509 -req:
#   root.pem      "Root CA", the anchor a slot keeps as its server certificate
#   issuing.pem   "Issuing CA", an intermediate of the root: it signs the rest
#   rogue.pem     "Rogue CA", a self-signed CA nobody trusts
#   ra.pem        ra.test, an RA's certificate (extended key usage cmcRA)
#   old-ra.pem    old-ra.test, an RA's certificate that ended 10 days ago
#   plain.pem     plain.test, a client certificate of the Issuing CA (another
#                 endpoint's: no CMP standing)
#   planted.pem   "Planted CA", a self-signed certificate nobody asked for
#   agent.p12     agent.test with the Issuing CA, password in `password`
#   sign          ./sign CSR OUT [CA [EXTENSIONS]]: the request signed by
#                 CA (issuing, root or rogue; default issuing) for 30 days
#                 from NOW, its extensions copied, EXTENSIONS (a file) added
# Every key is EC P-256. Usage: trust_pki.sh NOW (seconds since 1970).
set -eu
now=$1
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1.key"; }
request() { key "$1" && openssl req -new -key "$1.key" -subj "/CN=$2" -out "$1.csr"; }
mkdir -p ca && : > ca/index.txt && echo 1000 > ca/serial
printf '[ca]\ndefault_ca=d\n[d]\ndatabase=ca/index.txt\nnew_certs_dir=ca\nserial=ca/serial\ndefault_md=sha256\npolicy=p\ncopy_extensions=copy\nunique_subject=no\n[p]\ncommonName=supplied\n' > ca.cnf
cat > sign <<SCRIPT
#!/bin/sh
ca=\${3:-issuing}
openssl ca -batch -notext -config ca.cnf -cert "\$ca.pem" -keyfile "\$ca.key" -in "\$1" -out "\$2" \\
  -startdate $(date -u -d "@$now" +%Y%m%d%H%M%SZ) -enddate $(date -u -d "@$((now + 30 * 86400))" +%Y%m%d%H%M%SZ) \\
  \${4:+-extfile "\$4"} 2>/dev/null
SCRIPT
chmod +x sign
printf 'basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign,digitalSignature\n' > ca.ext
printf 'extendedKeyUsage=cmcRA\n' > ra.ext
printf 'extendedKeyUsage=clientAuth\n' > client.ext
for root in root rogue; do
  key $root
  name=$([ $root = root ] && echo "Root CA" || echo "Rogue CA")
  openssl req -x509 -new -key $root.key -subj "/CN=$name" -days 365 -addext basicConstraints=critical,CA:TRUE \
    -addext keyUsage=critical,keyCertSign,cRLSign,digitalSignature -out $root.pem
done
request issuing "Issuing CA" && ./sign issuing.csr issuing.pem root ca.ext
request ra ra.test && ./sign ra.csr ra.pem issuing ra.ext
request old-ra old-ra.test && openssl ca -batch -notext -config ca.cnf -cert issuing.pem -keyfile issuing.key -in old-ra.csr \
  -out old-ra.pem -startdate $(date -u -d "@$((now - 40 * 86400))" +%Y%m%d%H%M%SZ) \
  -enddate $(date -u -d "@$((now - 10 * 86400))" +%Y%m%d%H%M%SZ) -extfile ra.ext 2>/dev/null
request plain plain.test && ./sign plain.csr plain.pem issuing client.ext
request agent agent.test && ./sign agent.csr agent.crt issuing client.ext
key planted && openssl req -x509 -new -key planted.key -subj "/CN=Planted CA" -days 365 -out planted.pem
printf 's3cret\n' > password
openssl pkcs12 -export -in agent.crt -inkey agent.key -certfile issuing.pem -passout file:password -out agent.p12
