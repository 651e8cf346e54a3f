#!/bin/sh
# The states certctl probe and check_ssl_cert (monitoring-plugins-contrib)
# give the same peers, each judging them with the same anchor (root.pem):
#   both_verdicts.sh "NAME|PORT|CERTCTL PROBE OPTIONS|CHECK_SSL_CERT OPTIONS" ...
# prints "NAME: certctl STATE, check_ssl_cert STATE" per row. check_ssl_cert's
# check of Signed Certificate Timestamps, which a private PKI has none of, is
# off; what each printed last is left in certctl.out and check_ssl_cert.out.
state() { case $1 in 0) echo OK ;; 1) echo WARNING ;; 2) echo CRITICAL ;; *) echo "UNKNOWN ($1)" ;; esac }
for row in "$@"; do
  IFS='|' read -r name port ours theirs <<ROW
$row
ROW
  # shellcheck disable=SC2086 # the options are words
  certctl probe edr "127.0.0.1:$port" $ours > certctl.out 2>&1
  ours=$?
  # shellcheck disable=SC2086
  /usr/lib/nagios/plugins/check_ssl_cert -H 127.0.0.1 -p "$port" --rootcert-file root.pem --ignore-sct $theirs \
    > check_ssl_cert.out 2>&1
  echo "$name: certctl $(state $ours), check_ssl_cert $(state $?)"
done
