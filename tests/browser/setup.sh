#!/bin/sh
# Installs what the browser tests need, only what is missing: Debian's
# Chromium and lighttpd, Node.js with npm, and playwright-core and axe-core
# (which the accessibility test injects into the page) as pinned in
# tests/browser/package-lock.json, into tests/browser/node_modules. Quick
# when everything is in place.
set -e
cd "$(dirname "$0")/../.."
./scripts/deps.sh chromium fonts-liberation lighttpd
command -v node >/dev/null 2>&1 || ./scripts/deps.sh nodejs
command -v npm >/dev/null 2>&1 || ./scripts/deps.sh npm
cd tests/browser
if [ ! -d node_modules/playwright-core ] || [ ! -d node_modules/axe-core ] || [ package-lock.json -nt node_modules/.package-lock.json ]; then
    npm ci --no-audit --no-fund
fi
