#!/usr/bin/env bash
# Browser tests of the web page, as CI runs them (a stage of scripts/test).
# Installs what is missing (chromium, node and npm, a C++ build), builds the
# page (scripts/web --build-only), the qk program when no build of it is at
# hand ($QK_NATIVE_BUILD, default build/ or else build-web/native) and the
# test's archive writer, installs playwright-core with npm ci, then runs
# web.test.mjs against Debian's chromium.
#   QK_VECTORS_DIR     reference archives (default tests/data/vectors)
#   QK_WEB_SCREENSHOT  where the screenshot goes (default build-web/web.png)
set -euo pipefail
cd "$(dirname "$0")/../.."

# A Japanese font, so that the screenshot shows the names.
packages=(chromium fonts-ipafont-gothic cmake make g++)
command -v node >/dev/null || packages+=(nodejs)
command -v npm >/dev/null || packages+=(npm)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi

scripts/web --build-only

native=${QK_NATIVE_BUILD:-}
if [ -z "$native" ]; then
    if [ -x build/programs/qk ] && [ -f build/lib/libqk1.a ]; then native=build; else native=build-web/native; fi
fi
if [ ! -x "$native/programs/qk" ] || [ ! -f "$native/lib/libqk1.a" ]; then
    cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=Release -DQK_BUILD_TESTS=OFF >/dev/null
    cmake --build "$native" -j 2 --target qk
fi
g++ -std=c++20 -O1 -Iinclude web/test/MakeArchive.cpp "$native/lib/libqk1.a" -pthread -o build-web/make-archive

(cd web/test && npm ci --no-audit --no-fund --loglevel=error)

export QK_WEB_PAGE=$PWD/build-web/page
export QK_TOOL=$PWD/$native/programs/qk
export QK_MAKE_ARCHIVE=$PWD/build-web/make-archive
export QK_VECTORS_DIR=${QK_VECTORS_DIR:-$PWD/tests/data/vectors}
node --test --test-reporter=tap web/test/web.test.mjs
