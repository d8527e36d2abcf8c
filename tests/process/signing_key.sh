#!/usr/bin/env bash
# A throwaway signing key for the release's apt repository, for tests and
# CI, which must never hold the maintainer's:
#   signing_key.sh <GnuPG home>
# makes that GnuPG home afresh with one key, Ed25519, without a passphrase,
# its self-signature made with SHA-512 (Debian 13's apt refuses SHA-1
# anywhere in a key). RANGING_SIGNING_GNUPGHOME=<GnuPG home> then signs.
set -euo pipefail
home=$1
rm -rf "$home"
mkdir -p "$(dirname "$home")"
mkdir -m 700 "$home"
gpg --homedir "$home" --batch --quiet --passphrase '' --pinentry-mode loopback --cert-digest-algo SHA512 \
  --quick-gen-key "ranging test signing key <signing-test@ranging.invalid>" ed25519 sign never 2>/dev/null
