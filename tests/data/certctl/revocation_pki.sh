#!/bin/sh
# A small PKI made with `openssl ca`, for the revocation session:
#   root.pem        "Test Root", the anchor
#   inter.pem       "Issuing CA", issued by the root; its leaves' OCSP
#                   responses are signed by responder.pem (delegated)
#   inter2.pem      "Withdrawn CA", issued by the root and revoked by it; it
#                   signs its own leaves' OCSP responses
#   good.pem        good.test, issued by inter (names good.test, localhost, 127.0.0.1)
#   revoked.pem     revoked.test, issued by inter, revoked (keyCompromise)
#   nameless.pem    elsewhere.test, issued by inter (names neither localhost nor 127.0.0.1)
#   below.pem       below.test, a good leaf of the revoked inter2
#   private.pem     "Private CA", issued by the root, naming no responder and
#                   no CRL distribution point; it signs its own leaves' OCSP
#                   responses
#   quiet.pem       quiet.test, a good leaf of private.pem
#   agent.p12       a client certificate of inter; agent-revoked.p12 one it revoked
#   *-chain.pem     each leaf followed by its intermediate
#   good.ocsp, revoked.ocsp   OCSP responses for stapling, valid a day
#   soon.ocsp       good.test's response, due for an update in 30 minutes
#   forged.ocsp     good.test's response signed by a key nobody delegated
#   aged-good.ocsp  "good" on revoked.test, made 30 days ago without a next
#                   update (by faketime, from the index before the revocation)
#   early-good.ocsp the same made 2 days ago: before revoked.test was issued
#   expired.crl     inter's CRL whose next update was due yesterday
#   pub/            what the HTTP server publishes: the CRLs (DER) and the
#                   issuers' certificates
# Usage: revocation_pki.sh ROOT_OCSP INTER_OCSP INTER2_OCSP PRIVATE_OCSP HTTP NOW: the
# addresses (HOST:PORT) named in the certificates' Authority Information
# Access and CRL distribution points, and the moment (seconds since 1970)
# the certificates start at: the root holds a year, the others 60 days, the
# CRLs 7 days. The password of the PKCS#12 files is in `password`.
set -eu
root_ocsp=$1 inter_ocsp=$2 inter2_ocsp=$3 private_ocsp=$4 http=$5 now=$6
at() { date -u -d "@$((now + $1 * 86400))" +%Y%m%d%H%M%SZ; }  # DAYS after NOW
export NAME=unnamed  # the leaf section names $NAME; openssl expands it whenever it reads ca.cnf

key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1.key"; }
request() { key "$1" && openssl req -new -key "$1.key" -subj "/CN=$2" -out "$1.csr"; }

# One section per CA, each with its own database, the CA certificate and
# key named after it.
for ca in root inter inter2 private; do
  mkdir -p "db/$ca"
  : > "db/$ca/index.txt"
  echo 1000 > "db/$ca/serial"
  echo 01 > "db/$ca/crlnumber"
  cat <<EOF
[$ca]
database = db/$ca/index.txt
serial = db/$ca/serial
crlnumber = db/$ca/crlnumber
new_certs_dir = db/$ca
certificate = $ca.pem
private_key = $ca.key
default_md = sha256
default_days = 60
default_crl_days = 7
policy = any
unique_subject = no
EOF
done > ca.cnf
mkdir -p pub
cat >> ca.cnf <<EOF
[any]
commonName = supplied
[self_signed]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign,digitalSignature
[ca_below_root]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign,digitalSignature
authorityInfoAccess = OCSP;URI:http://$root_ocsp,caIssuers;URI:http://$http/root.der
crlDistributionPoints = URI:http://$http/root.crl
[leaf]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth,clientAuth
subjectAltName = DNS:\$ENV::NAME,DNS:localhost,IP:127.0.0.1
authorityInfoAccess = OCSP;URI:http://$inter_ocsp,caIssuers;URI:http://$http/inter.der
crlDistributionPoints = URI:http://$http/inter.crl
[nameless]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:elsewhere.test
[below]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:below.test,DNS:localhost,IP:127.0.0.1
authorityInfoAccess = OCSP;URI:http://$inter2_ocsp,caIssuers;URI:http://$http/inter2.der
crlDistributionPoints = URI:http://$http/inter2.crl
[ca_silent]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign,digitalSignature
[quiet]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:quiet.test,DNS:localhost,IP:127.0.0.1
authorityInfoAccess = OCSP;URI:http://$private_ocsp
[responder]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = OCSPSigning
EOF

issue() {  # CA SECTION NAME CN
  request "$3" "$4"
  NAME=$4 openssl ca -batch -notext -config ca.cnf -name "$1" -extensions "$2" -in "$3.csr" -out "$3.pem" \
    -startdate "$(at 0)" -enddate "$(at 60)" 2> "$3.log"
}

request root "Test Root"
openssl ca -batch -notext -config ca.cnf -name root -selfsign -keyfile root.key -extensions self_signed -in root.csr \
  -out root.pem -startdate "$(at 0)" -enddate "$(at 365)" 2> root.log
issue root ca_below_root inter "Issuing CA"
issue root ca_below_root inter2 "Withdrawn CA"
issue inter leaf good good.test
issue inter leaf revoked revoked.test
issue inter nameless nameless elsewhere.test
issue inter leaf agent agent.test
issue inter leaf agent-revoked agent-revoked.test
issue inter responder responder "Issuing CA OCSP"
issue inter2 below below below.test
issue root ca_silent private "Private CA"
issue private quiet quiet quiet.test
cp db/inter/index.txt db/inter/before-revocation.txt
openssl ca -config ca.cnf -name inter -revoke revoked.pem -crl_reason keyCompromise 2> revoke.log
openssl ca -config ca.cnf -name inter -revoke agent-revoked.pem -crl_reason affiliationChanged 2>> revoke.log
openssl ca -config ca.cnf -name root -revoke inter2.pem -crl_reason cACompromise 2>> revoke.log

for ca in root inter inter2; do
  openssl ca -gencrl -config ca.cnf -name $ca -crl_lastupdate "$(at 0)" -crl_nextupdate "$(at 7)" \
    -out $ca.crl.pem 2>> crl.log
  openssl crl -in $ca.crl.pem -outform DER -out pub/$ca.crl
  openssl x509 -in $ca.pem -outform DER -out pub/$ca.der
done
openssl ca -gencrl -config ca.cnf -name inter -crl_lastupdate 20000101000000Z \
  -crl_nextupdate "$(at -1)" -out expired.crl 2>> crl.log

for leaf in good revoked nameless agent agent-revoked; do cat $leaf.pem inter.pem > $leaf-chain.pem; done
cat below.pem inter2.pem > below-chain.pem
cat quiet.pem private.pem > quiet-chain.pem
echo "revocation-pki" > password
for agent in agent agent-revoked; do
  openssl pkcs12 -export -in $agent.pem -inkey $agent.key -certfile inter.pem -passout file:password -out $agent.p12
done

respond() {  # LEAF OUT VALIDITY... (as openssl ocsp's -ndays/-nmin), signed by the delegated responder
  leaf=$1 out=$2
  shift 2
  openssl ocsp -index db/inter/index.txt -CA inter.pem -rsigner responder.pem -rkey responder.key \
    -issuer inter.pem -cert "$leaf" -respout "$out" "$@" > /dev/null 2>&1
}
respond good.pem good.ocsp -ndays 1
respond revoked.pem revoked.ocsp -ndays 1
respond good.pem soon.ocsp -nmin 30
for age in aged:30 early:2; do  # a clock stopped that many days before NOW
  TZ=UTC faketime "$(date -u -d "@$((now - ${age#*:} * 86400))" '+%Y-%m-%d %H:%M:%S')" openssl ocsp -index db/inter/before-revocation.txt -CA inter.pem -rsigner responder.pem \
    -rkey responder.key -issuer inter.pem -cert revoked.pem -respout "${age%:*}-good.ocsp" > /dev/null 2>&1
done
key forger
openssl req -x509 -new -key forger.key -subj "/CN=Issuing CA OCSP" -days 30 -out forger.pem
openssl ocsp -index db/inter/index.txt -CA inter.pem -rsigner forger.pem -rkey forger.key \
  -issuer inter.pem -cert good.pem -respout forged.ocsp -ndays 1 > /dev/null 2>&1
