#!/bin/sh
# The revocation session's PKI, made with the sessions' pki script:
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
#   ISSUER.crl.pem  the CRLs of root, inter and inter2, due in 7 days
#   expired.crl     inter's CRL whose next update was due yesterday
#   pub/            what the HTTP server publishes: the CRLs (DER) and the
#                   issuers' certificates
# Usage: revocation_pki.sh ROOT_OCSP INTER_OCSP INTER2_OCSP PRIVATE_OCSP HTTP NOW: the
# addresses (HOST:PORT) named in the certificates' Authority Information
# Access and CRL distribution points, and the moment (seconds since 1970)
# the certificates start at: the root holds a year, the others 60 days. The
# password of the PKCS#12 files is in `password`.
set -eu
root_ocsp=$1 inter_ocsp=$2 inter2_ocsp=$3 private_ocsp=$4 http=$5
export NOW=$6 FROM=0 DAYS=60
pki() { sh "$(dirname "$0")/pki" "$@"; }
published() {  # ISSUER RESPONDER: where a certificate of ISSUER says its status is told
  echo "authorityInfoAccess=OCSP;URI:http://$2,caIssuers;URI:http://$http/$1.der crlDistributionPoints=URI:http://$http/$1.crl"
}
leaf() {  # NAME CN ISSUER EXT...: a certificate that may sign nothing but with its key, and EXT
  name=$1 cn=$2 issuer=$3 && shift 3
  pki cert "$name" "$cn" "$issuer" basicConstraints=critical,CA:FALSE keyUsage=critical,digitalSignature "$@"
}
server() {  # NAME ISSUER EXT...: a TLS peer named NAME.test
  name=$1 issuer=$2 && shift 2 && leaf "$name" "$name.test" "$issuer" "$@"
}
here="DNS:localhost,IP:127.0.0.1"

pki ca root "Test Root"
pki ca inter "Issuing CA" root inter.pem $(published root "$root_ocsp")
pki ca inter2 "Withdrawn CA" root inter2.pem $(published root "$root_ocsp")
pki ca private "Private CA" root
for name in good revoked agent agent-revoked; do
  server "$name" inter extendedKeyUsage=serverAuth,clientAuth "subjectAltName=DNS:$name.test,$here" \
    $(published inter "$inter_ocsp")
done
server nameless inter extendedKeyUsage=serverAuth subjectAltName=DNS:elsewhere.test
server below inter2 extendedKeyUsage=serverAuth "subjectAltName=DNS:below.test,$here" $(published inter2 "$inter2_ocsp")
server quiet private extendedKeyUsage=serverAuth "subjectAltName=DNS:quiet.test,$here" \
  "authorityInfoAccess=OCSP;URI:http://$private_ocsp"
leaf responder "Issuing CA OCSP" inter extendedKeyUsage=OCSPSigning

cp pki.db/inter/index before-revocation.index
pki revoke revoked inter keyCompromise
pki revoke agent-revoked inter affiliationChanged
pki revoke inter2 root cACompromise
mkdir -p pub
for ca in root inter inter2; do
  pki crl $ca $ca.crl.pem $((7 * 86400))
  openssl crl -in $ca.crl.pem -outform DER -out pub/$ca.crl
  openssl x509 -in $ca.pem -outform DER -out pub/$ca.der
done
pki crl inter expired.crl -86400 $((-30 * 86400))

for leaf in good revoked nameless agent agent-revoked; do cat $leaf.pem inter.pem > $leaf-chain.pem; done
cat below.pem inter2.pem > below-chain.pem
cat quiet.pem private.pem > quiet-chain.pem
echo "revocation-pki" > password
for agent in agent agent-revoked; do
  openssl pkcs12 -export -in $agent.pem -inkey $agent.key -certfile inter.pem -passout file:password -out $agent.p12
done

respond() {  # LEAF OUT SIGNER VALIDITY... (as openssl ocsp's -ndays/-nmin): inter's answer on LEAF
  leaf=$1 out=$2 signer=$3 && shift 3
  openssl ocsp -index pki.db/inter/index -CA inter.pem -rsigner "$signer.pem" -rkey "$signer.key" -issuer inter.pem \
    -cert "$leaf.pem" -respout "$out" "$@" > /dev/null 2>&1
}
respond good good.ocsp responder -ndays 1
respond revoked revoked.ocsp responder -ndays 1
respond good soon.ocsp responder -nmin 30
for age in aged:30 early:2; do  # a clock stopped that many days before NOW, the index before the revocation
  TZ=UTC faketime "$(date -u -d "@$((NOW - ${age#*:} * 86400))" '+%Y-%m-%d %H:%M:%S')" openssl ocsp \
    -index before-revocation.index -CA inter.pem -rsigner responder.pem -rkey responder.key -issuer inter.pem \
    -cert revoked.pem -respout "${age%:*}-good.ocsp" > /dev/null 2>&1
done
openssl req -x509 -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout forger.key -subj "/CN=Issuing CA OCSP" \
  -days 30 -out forger.pem 2> /dev/null
respond good forged.ocsp forger -ndays 1
