#!/bin/sh
# Makes the setups the setup tests install, from the build in BUILD, into OUT:
#   the setup of this build, signed (both programs, the setup and its uninstaller) with a throwaway
#   code-signing certificate made now, whose key and password live only while this script runs;
#   an unsigned setup of the same build numbered OLDER, the earlier version of the upgrade test, which
#   also installs retired.txt (a file a later version no longer ships).
# cpack keeps what it staged in OUT/_CPack_Packages, where the tests read what the setup must install.
# Usage: make_setups.sh BUILD OUT OLDER
set -eu
build=$1
older=$3
rm -rf "$2"
mkdir -p "$2"
out=$(cd "$2" && pwd)
CORVANE_SIGN_PASSWORD=$(openssl rand -hex 16)
export CORVANE_SIGN_PASSWORD
openssl req -x509 -newkey rsa:2048 -noenc -days 2 -subj /CN=Corvane-test -addext extendedKeyUsage=codeSigning \
  -keyout "$out/key.pem" -out "$out/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$out/key.pem" -in "$out/cert.pem" -out "$out/sign.pfx" \
  -passout env:CORVANE_SIGN_PASSWORD
rm -f "$out/key.pem"
cpack -G NSIS --config "$build/CPackConfig.cmake" -B "$out" -D "CPACK_CORVANE_SIGN_PFX=$out/sign.pfx" >/dev/null
rm -f "$out/sign.pfx"
unset CORVANE_SIGN_PASSWORD
cpack -G NSIS --config "$build/CPackConfig.cmake" -B "$out/older" -D "CPACK_PACKAGE_VERSION=$older" \
  -D "CPACK_PRE_BUILD_SCRIPTS=$(cd "$(dirname "$0")" && pwd)/retired_file.cmake" >/dev/null
mv "$out"/older/*.exe "$out/"
rm -rf "$out/older"
ls "$out"/*.exe
