#!/usr/bin/env bash
# Builds the benchmarks in a release build and runs them. Every figure is a
# ratio of a subject to its baseline measured in alternating batches in the
# same time window (the median of per-pair ratios, with its quartiles), so it
# reproduces on a machine whose speed drifts. Arguments go to both benchmark
# programs (for example --benchmark_filter=Query). Not part of CI.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/bench -j "$(nproc)" --target decoding_bench manager_bench process_pairs certctl >/dev/null
status=0
for bench in build/bench/bench/decoding_bench build/bench/bench/manager_bench; do
  echo "== $bench"
  "$bench" "$@" 2>&1 | sed -n '/^paired ratio/,$p' || status=1
done

echo "== certctl as a process, against the command an operator runs instead"
# A CA, a peer it issued (openssl s_server, requiring a client certificate
# the CA issued) and a listener that never answers, all on the loopback
# address; process_pairs times the processes with no harness in between.
root=$PWD
work=$(mktemp -d)
peers=()
trap 'kill "${peers[@]}" 2>/dev/null; rm -rf "$work"' EXIT
cd "$work"
make_certificate() {  # NAME SUBJECT [extensions]: NAME.pem and NAME.key, issued by ca
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$1.key" -out "$1.csr" -subj "$2" 2>/dev/null
  openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -out "$1.pem" -days 60 -extfile <(echo "${3:-}") 2>/dev/null
}
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 365 -subj "/CN=Bench CA" \
  -addext basicConstraints=critical,CA:TRUE 2>/dev/null
make_certificate peer /CN=peer.test "subjectAltName=DNS:peer.test,IP:127.0.0.1"
make_certificate agent /CN=agent.test
openssl pkcs12 -export -in agent.pem -inkey agent.key -out agent.p12 -passout pass:bench
openssl req -x509 -newkey rsa:2048 -nodes -keyout server.key -outform DER -out server.der \
  -days 365 -subj "/C=US/O=Example Corp/CN=server.example.com" 2>/dev/null
certctl=("$root/build/bench/tools/certctl" --store store.db)
pairs=$root/build/bench/bench/process_pairs
# query-server's store holds one server certificate, as it always has here:
# the manager's start-up check decodes every stored record.
"$root/build/bench/tools/certctl" --store query.db set-server sandbox server.der >/dev/null
"${certctl[@]}" set-server edr ca.pem >/dev/null
BENCH_PASSWORD=bench "${certctl[@]}" set-client edr agent.p12 --password-env BENCH_PASSWORD >/dev/null
openssl s_server -accept 127.0.0.1:0 -www -cert peer.pem -key peer.key -Verify 1 -CAfile ca.pem \
  -verify_return_error >server.out 2>&1 &
peers+=($!)
python3 -c 'import socket, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(16)
print(s.getsockname()[1], flush=True); time.sleep(900)' >silent.port &
peers+=($!)
closed=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
for _ in $(seq 100); do grep -q ACCEPT server.out && [ -s silent.port ] && break; sleep 0.1; done
peer=$(grep -o '127\.0\.0\.1:[0-9]*' server.out) || { echo "openssl s_server did not start" >&2; exit 1; }
silent=127.0.0.1:$(cat silent.port)
eight=()
for _ in 1 2 3 4 5 6 7; do eight+=(--probe "edr=$peer"); done
eight+=(--probe "edr=$silent")

printf '%-44s %8s %17s %8s\n' "paired wall-time ratio" median p25..p75 goal
# What a command pays for before its work: a command loads the component,
# opens the store or starts a manager only when it uses them.
"$pairs" ratio "certctl --version/openssl version" 1.0 101 "${certctl[@]}" --version -- openssl version || status=1
"$pairs" ratio "certctl list/certctl --version" 2.0 101 "${certctl[@]}" list -- "${certctl[@]}" --version || status=1
"$pairs" ratio "certctl inspect/openssl x509" 0.30 101 "${certctl[@]}" inspect server.der -- \
  openssl x509 -inform DER -noout -subject -issuer -serial -dates -fingerprint -sha256 -in server.der || status=1
"$pairs" ratio "certctl query-server/openssl x509" 0.30 101 \
  "$root/build/bench/tools/certctl" --store query.db query-server sandbox -- \
  openssl x509 -inform DER -noout -subject -issuer -serial -dates -fingerprint -sha256 -in server.der || status=1
"$pairs" ratio "certctl probe/openssl s_client" 1.0 101 "${certctl[@]}" probe edr "$peer" -- \
  openssl s_client -connect "$peer" -CAfile ca.pem -cert agent.pem -key agent.key -verify_return_error || status=1
# The client certificate's renewal: a new key and its request, against
# openssl making the same; the signed certificate installed (checked, wrapped
# and stored through the component) against openssl wrapping it alone. Each
# install uses up the pending key, so each starts from a copy of the store
# that holds it.
"$pairs" ratio "certctl request/openssl req" 1.0 101 \
  "${certctl[@]}" request siem --subject /CN=agent.test --new-key -o request.csr -- \
  openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj /CN=agent.test -keyout request.key \
  -out openssl.csr || status=1
"$root/build/bench/tools/certctl" --store pending.db request siem --subject /CN=agent.test -o pending.csr >/dev/null
openssl x509 -req -in pending.csr -CA ca.pem -CAkey ca.key -copy_extensions copy -days 60 -out pending.pem 2>/dev/null
openssl x509 -req -in openssl.csr -CA ca.pem -CAkey ca.key -days 60 -out openssl.pem 2>/dev/null
"$pairs" ratio "certctl install/openssl pkcs12 -export" 1.5 101 \
  "$root/build/bench/tools/certctl" --store install.db install siem pending.pem -- \
  openssl pkcs12 -export -in openssl.pem -inkey request.key -out openssl.p12 -passout pass:bench \
  --setup cp -p pending.db install.db || status=1
# Renewal over CMP against OpenSSL's mock CA: certctl renew (the exchange,
# the checks, the container, the swap through the component) against what
# an operator runs instead, openssl cmp then openssl pkcs12 -export. Each
# mock answers with the certificate of its side's new key; each renew starts
# from a copy of the store that holds that key pending. Then the timer's
# run with nothing due against certctl list.
make_certificate cmp /CN=cmp.test
openssl pkcs12 -export -in agent.pem -inkey agent.key -out agent-renew.p12 -passout pass:bench
renewing=("$root/build/bench/tools/certctl" --store renew-base.db)
"${renewing[@]}" set-server siem ca.pem >/dev/null
BENCH_PASSWORD=bench "${renewing[@]}" set-client siem agent-renew.p12 --password-env BENCH_PASSWORD >/dev/null
"${renewing[@]}" request siem -o renew.csr >/dev/null 2>&1
openssl x509 -req -in renew.csr -CA ca.pem -CAkey ca.key -copy_extensions copy -days 60 -out renew.pem 2>/dev/null
openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj /CN=agent.test -keyout cmp-new.key \
  -out cmp-new.csr 2>/dev/null
openssl x509 -req -in cmp-new.csr -CA ca.pem -CAkey ca.key -days 60 -out cmp-new.pem 2>/dev/null
# Not run in a command substitution: its subshell's peers+= would be lost,
# and the server left running after the benchmark.
start_cmp() {  # VARIABLE RSP_CERT: a mock CA answering with RSP_CERT; its HOST:PORT in VARIABLE
  openssl cmp -port 0 -srv_cert cmp.pem -srv_key cmp.key -srv_trusted ca.pem -rsp_cert "$2" >"$2.out" 2>&1 &
  peers+=($!)
  for _ in $(seq 100); do grep -q ACCEPT "$2.out" && break; sleep 0.1; done
  printf -v "$1" '127.0.0.1:%s' "$(grep -o 'ACCEPT \[::\]:[0-9]*' "$2.out" | grep -o '[0-9]*$')"
}
start_cmp renew_ca renew.pem
start_cmp openssl_ca cmp-new.pem
"$pairs" ratio "certctl renew --cmd cr/openssl cmp + pkcs12" 1.0 101 \
  "$root/build/bench/tools/certctl" --store renew.db renew siem --server "$renew_ca" --cmd cr -- \
  openssl cmp -cmd cr -server "$openssl_ca" -cert agent.pem -key agent.key -trusted ca.pem -newkey cmp-new.key \
  -subject /CN=agent.test -certout cmp-out.pem \
  --and openssl pkcs12 -export -in cmp-out.pem -inkey cmp-new.key -out cmp-out.p12 -passout pass:bench \
  --setup cp -p renew-base.db renew.db || status=1
cp -p renew-base.db due.db
"$root/build/bench/tools/certctl" --store due.db renew-config siem --server "$renew_ca" >/dev/null
"$pairs" ratio "certctl renew --all --due (none due)/list" 1.2 101 --exit 1 \
  "$root/build/bench/tools/certctl" --store due.db renew --all --due -- \
  "$root/build/bench/tools/certctl" --store due.db list || status=1
# Revocation: the small PKI of the revocation tests, its responders and CRLs
# served on the loopback address. A probe that checks a stapled response
# against one that gets none from the same certificate; probe --ocsp against
# check_ssl_cert asking the same responders about the same peer.
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
wait_for() { for _ in $(seq 100); do grep -q "$1" "$2" 2>/dev/null && return; sleep 0.1; done; echo "$2: no $1" >&2; exit 1; }
mkdir revocation && cd revocation
root_ocsp=$(free_port) inter_ocsp=$(free_port) files=$(free_port)
sh "$root/tests/data/certctl/revocation_pki.sh" "127.0.0.1:$root_ocsp" "127.0.0.1:$inter_ocsp" 127.0.0.1:1 \
  "127.0.0.1:$files" "$(date +%s)" 2>pki.log
openssl ocsp -port "$root_ocsp" -index db/root/index.txt -CA root.pem -rsigner root.pem -rkey root.key -nmin 60 \
  >root-ocsp.out 2>&1 &
peers+=($!)
openssl ocsp -port "$inter_ocsp" -index db/inter/index.txt -CA inter.pem -rsigner responder.pem -rkey responder.key \
  -nmin 60 >inter-ocsp.out 2>&1 &
peers+=($!)
python3 -u -m http.server --bind 127.0.0.1 "$files" --directory pub >http.out 2>&1 &
peers+=($!)
for status_file in good.ocsp ""; do
  openssl s_server -accept 127.0.0.1:0 -www -cert good.pem -key good.key -cert_chain inter.pem \
    ${status_file:+-status_file "$status_file"} >"server${status_file:+-stapled}.out" 2>&1 &
  peers+=($!)
done
wait_for ACCEPT root-ocsp.out && wait_for ACCEPT inter-ocsp.out && wait_for ACCEPT server.out
wait_for ACCEPT server-stapled.out && wait_for Serving http.out
stapled=$(grep -o '127\.0\.0\.1:[0-9]*' server-stapled.out) plain=$(grep -o '127\.0\.0\.1:[0-9]*' server.out)
revoking=("$root/build/bench/tools/certctl" --store revocation.db)
"${revoking[@]}" set-server edr root.pem >/dev/null
"$pairs" ratio "probe, stapled response checked/none stapled" 1.10 101 "${revoking[@]}" probe edr "$stapled" -- \
  "${revoking[@]}" probe edr "$plain" || status=1
"$pairs" ratio "probe --ocsp/check_ssl_cert (OCSP)" 0.10 21 "${revoking[@]}" probe edr "$plain" --ocsp -- \
  /usr/lib/nagios/plugins/check_ssl_cert -H 127.0.0.1 -p "${plain##*:}" --rootcert-file root.pem --ignore-sct || status=1
cd ..
"$pairs" time "probe, nothing listens" 0 1 11 2 "${certctl[@]}" probe edr "127.0.0.1:$closed" || status=1
"$pairs" time "probe, no answer, --timeout 2" 2 4 3 2 "${certctl[@]}" probe edr "$silent" --timeout 2 || status=1
"$pairs" time "metrics, 8 probes (1 no answer), --timeout 2" 0 2.5 3 0 \
  "${certctl[@]}" metrics "${eight[@]}" --timeout 2 || status=1
exit $status
