#!/bin/sh
# Signs FILE in place with the code-signing certificate and key in PFX (PKCS#12), SHA-256, through
# osslsigncode. The key's password comes from the environment variable CORVANE_SIGN_PASSWORD and reaches
# osslsigncode through a pipe, never on a command line. CORVANE_SIGN_TIMESTAMP_URL, when set, names an
# RFC 3161 time-stamp server (a release machine with network).
# Usage: sign_file.sh PFX FILE
set -eu
pfx=$1
file=$2
if [ -z "${CORVANE_SIGN_PASSWORD+set}" ]; then
  echo "sign_file.sh: CORVANE_SIGN_PASSWORD is not set (the password of $pfx)" >&2
  exit 2
fi
set -- -pkcs12 "$pfx" -readpass /dev/fd/3 -h sha256 -n Corvane
if [ -n "${CORVANE_SIGN_TIMESTAMP_URL:-}" ]; then
  set -- "$@" -ts "$CORVANE_SIGN_TIMESTAMP_URL"
fi
rm -f "$file.signed"
printf '%s' "$CORVANE_SIGN_PASSWORD" | osslsigncode sign "$@" -in "$file" -out "$file.signed" 3<&0 </dev/null >/dev/null
mv -f "$file.signed" "$file"
