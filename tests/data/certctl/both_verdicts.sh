#!/bin/sh
# The states certctl probe and check_ssl_cert (monitoring-plugins-contrib)
# give the same peers, each judging them with the same anchor (root.pem):
#   both_verdicts.sh "NAME|PORT|CERTCTL PROBE OPTIONS|CHECK_SSL_CERT OPTIONS" ...
# prints "NAME: certctl STATE, check_ssl_cert STATE" per row, in order. The
# rows are judged at once (check_ssl_cert takes seconds a peer); what each
# printed is left in both.N/certctl.out and both.N/check_ssl_cert.out.
# check_ssl_cert's check of Signed Certificate Timestamps, which a private PKI
# has none of, is off.
state() { case $1 in 0) echo OK ;; 1) echo WARNING ;; 2) echo CRITICAL ;; *) echo "UNKNOWN ($1)" ;; esac }
judge() {  # FOLDER NAME PORT OURS THEIRS
  # shellcheck disable=SC2086 # the options are words
  certctl probe edr "127.0.0.1:$3" $4 > "$1/certctl.out" 2>&1
  ours=$?
  # shellcheck disable=SC2086
  /usr/lib/nagios/plugins/check_ssl_cert -H 127.0.0.1 -p "$3" --rootcert-file root.pem --ignore-sct $5 \
    > "$1/check_ssl_cert.out" 2>&1
  echo "$2: certctl $(state $ours), check_ssl_cert $(state $?)" > "$1/verdict"
}
n=0
for row in "$@"; do
  n=$((n + 1))
  mkdir -p "both.$n"
  IFS='|' read -r name port ours theirs <<ROW
$row
ROW
  judge "both.$n" "$name" "$port" "$ours" "$theirs" &
done
wait
i=0
while [ $i -lt $n ]; do
  i=$((i + 1))
  cat "both.$i/verdict"
done
