#!/bin/sh
# Installs what the browser tests need, only what is missing: Debian's
# Chromium and lighttpd, Node.js with npm, and playwright-core as pinned in
# the repository's package-lock.json. Quick when everything is in place.
set -e
cd "$(dirname "$0")/../.."

missing=""
for pkg in chromium fonts-liberation lighttpd; do
    dpkg -s "$pkg" >/dev/null 2>&1 || missing="$missing $pkg"
done
command -v node >/dev/null 2>&1 || missing="$missing nodejs"
command -v npm >/dev/null 2>&1 || missing="$missing npm"
if [ -n "$missing" ]; then
    echo "browser tests: installing$missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # shellcheck disable=SC2086 # one word per package
    apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi

if [ ! -d node_modules/playwright-core ] || [ package-lock.json -nt node_modules/.package-lock.json ]; then
    npm ci --no-audit --no-fund
fi
