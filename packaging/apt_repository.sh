#!/usr/bin/env bash
# The release's apt repository, which any static web host serves as it is:
#   apt_repository.sh <dist dir> <date> [earlier repository]
# makes <dist dir>/apt from the packages in <dist dir> and, so that a user
# can go back to them with apt install ranging=<version>, those of an
# earlier release's repository:
#   pool/main/r/ranging/*.deb
#   dists/stable/main/binary-{armhf,arm64}/Packages and Packages.gz
#   dists/stable/Release, with the indexes' SHA-256 and SHA-512 sums
#   dists/stable/InRelease and Release.gpg, the Release signed, where a key is given
#   ranging-archive-keyring.gpg  the signing key, for apt's Signed-By
#   ranging.sources              the source for /etc/apt/sources.list.d
# One suite, stable, for every Raspberry Pi OS, 32-bit and 64-bit, Debian 11
# to 13: one package runs on all of them. Debian's apt-ftparchive makes the
# indexes, and sorts what it lists; the Release's date is <date> (the
# changelog's), so the same packages give the same bytes, and only the
# signatures differ from one run to the next.
#
# The key stays outside the clone: RANGING_SIGNING_GNUPGHOME names a GnuPG
# home that holds it, RANGING_SIGNING_KEY the key (by default the home's
# only secret key). Without them the repository is left unsigned, which apt
# refuses, and one line says so. RANGING_APT_URL is the address the
# repository will be served at, which ranging.sources names.
set -euo pipefail
dist=$1 date=$2 earlier=${3:-}
repository=$dist/apt
suite=stable
pool=pool/main/r/ranging
keyring=ranging-archive-keyring.gpg
url=${RANGING_APT_URL:-https://ranging.example.org/apt}
# Neither MD5 nor SHA-1 anywhere: apt trusts neither.
ftparchive=(apt-ftparchive -o APT::FTPArchive::MD5=false -o APT::FTPArchive::SHA1=false)

rm -rf "$repository"
mkdir -p "$repository/$pool"
if [ -n "$earlier" ]; then
  [ -d "$earlier/pool" ] || { echo "no earlier repository in $earlier (it has no pool/)" >&2; exit 1; }
  find "$earlier/pool" -name '*.deb' -exec cp -t "$repository/$pool" {} +
fi
cp "$dist"/*.deb "$repository/$pool/"

cd "$repository"
for arch in armhf arm64; do
  index=dists/$suite/main/binary-$arch
  mkdir -p "$index"
  "${ftparchive[@]}" --arch "$arch" packages pool >"$index/Packages"
  gzip -9n <"$index/Packages" >"$index/Packages.gz"
done
"${ftparchive[@]}" \
  -o APT::FTPArchive::Release::Origin=ranging -o APT::FTPArchive::Release::Label=ranging \
  -o APT::FTPArchive::Release::Suite=$suite -o APT::FTPArchive::Release::Codename=$suite \
  -o "APT::FTPArchive::Release::Architectures=armhf arm64" -o APT::FTPArchive::Release::Components=main \
  -o "APT::FTPArchive::Release::Description=ranging, distance readings from an ultrasonic module" \
  -o "APT::FTPArchive::Release::Date=$date" \
  release "dists/$suite" >Release
mv Release "dists/$suite/Release"

cat >ranging.sources <<SOURCES
Types: deb
URIs: $url
Suites: $suite
Components: main
Signed-By: /usr/share/keyrings/$keyring
SOURCES

if [ -z "${RANGING_SIGNING_GNUPGHOME:-}" ]; then
  echo "== the apt repository is unsigned, and apt refuses it: RANGING_SIGNING_GNUPGHOME=<a GnuPG home with the key> signs it (docs/building.md)"
  exit 0
fi
# SHA-512 for every signature: Debian 13's apt refuses SHA-1 anywhere.
gpg=(gpg --homedir "$RANGING_SIGNING_GNUPGHOME" --batch --yes --digest-algo SHA512)
key=${RANGING_SIGNING_KEY:-$("${gpg[@]}" --list-secret-keys --with-colons 2>/dev/null |
  sed -n 's/^fpr:*\([0-9A-F]*\):$/\1/p' | head -n 1)}
[ -n "$key" ] || { echo "no secret key in $RANGING_SIGNING_GNUPGHOME" >&2; exit 1; }
"${gpg[@]}" --export --export-options export-minimal "$key" >"$keyring"
"${gpg[@]}" --local-user "$key" --clearsign --output "dists/$suite/InRelease" "dists/$suite/Release"
"${gpg[@]}" --local-user "$key" --detach-sign --armor --output "dists/$suite/Release.gpg" "dists/$suite/Release"
gpgconf --homedir "$RANGING_SIGNING_GNUPGHOME" --kill gpg-agent # started for the signing; nothing left running
echo "== the apt repository is signed by $key"
