#!/usr/bin/env python3
"""certctl against the command a user would run instead, as whole processes.

Each pair runs the two commands back to back (the order alternating), giving
one wall-time ratio per pair; prints the median ratio and its quartiles.
  process_bench.py CERTCTL STORE CERTIFICATE.der [PAIRS]
"""
import statistics
import subprocess
import sys
import time

certctl, store, certificate = sys.argv[1:4]
pairs = int(sys.argv[4]) if len(sys.argv) > 4 else 101
openssl = ["openssl", "x509", "-inform", "DER", "-noout", "-subject", "-issuer", "-serial", "-dates",
           "-fingerprint", "-sha256", "-in", certificate]
subjects = {
    "certctl inspect": [certctl, "inspect", certificate],
    "certctl query-server": [certctl, "--store", store, "query-server", "edr"],
}


def wall(command):
    start = time.perf_counter()
    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start


subprocess.run([certctl, "--store", store, "set-server", "edr", certificate], stdout=subprocess.DEVNULL, check=True)
print(f"{'paired wall-time ratio':44} {'median':>8} {'p25..p75':>17} {'goal':>8}")
for name, command in subjects.items():
    wall(command), wall(openssl)  # warm the page cache
    ratios = []
    for pair in range(pairs):
        if pair % 2:
            ratios.append(wall(command) / wall(openssl))
        else:
            base = wall(openssl)
            ratios.append(wall(command) / base)
    q = statistics.quantiles(ratios, n=4)
    print(f"{name + '/openssl x509':44} {q[1]:8.3f} {q[0]:8.3f}..{q[2]:<8.3f} {'<=0.30':>8}"
          f"{'' if q[1] <= 0.30 else ' MISSED'}")
