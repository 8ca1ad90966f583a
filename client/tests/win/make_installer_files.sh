#!/bin/sh
# Lays out what the driver installer's tests need and only the Linux side can make, in FOLDER:
#   host/drivers -> ../elsewhere       a drivers folder re-pointed by a symbolic link (Wine resolves
#                                      links in final paths but cannot make them);
#   linked-host -> real-host           a host folder reached through a link, whose drivers is real;
#   signed-installer.exe               FAKE_INSTALLER signed with a throwaway self-signed certificate
#                                      made now (no key is kept in the repository).
# Usage: make_installer_files.sh FOLDER FAKE_INSTALLER
set -eu
folder=$1
installer=$2
rm -rf "$folder"
mkdir -p "$folder/host" "$folder/elsewhere" "$folder/real-host/drivers"
ln -s ../elsewhere "$folder/host/drivers"
ln -s real-host "$folder/linked-host"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Corvane-test \
  -keyout "$folder/key.pem" -out "$folder/cert.pem" 2>/dev/null
osslsigncode sign -certs "$folder/cert.pem" -key "$folder/key.pem" -in "$installer" \
  -out "$folder/signed-installer.exe" >/dev/null
rm -f "$folder/key.pem"
