#!/bin/sh
# The states certctl probe and check_ssl_cert (monitoring-plugins-contrib)
# give the same peer, each judging it with the same anchor (root.pem):
#   both_verdicts.sh PORT "CERTCTL PROBE OPTIONS" "CHECK_SSL_CERT OPTIONS"
# check_ssl_cert's check of Signed Certificate Timestamps, which a private
# PKI has none of, is off; what each printed is left in certctl.out and
# check_ssl_cert.out.
port=$1
state() { case $1 in 0) echo OK ;; 1) echo WARNING ;; 2) echo CRITICAL ;; *) echo "UNKNOWN ($1)" ;; esac }
# shellcheck disable=SC2086 # the options are words
certctl probe edr "127.0.0.1:$port" $2 > certctl.out 2>&1
ours=$?
# shellcheck disable=SC2086
/usr/lib/nagios/plugins/check_ssl_cert -H 127.0.0.1 -p "$port" --rootcert-file root.pem --ignore-sct $3 \
  > check_ssl_cert.out 2>&1
theirs=$?
echo "certctl $(state $ours), check_ssl_cert $(state $theirs)"
