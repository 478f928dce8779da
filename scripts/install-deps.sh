#!/usr/bin/env bash
# Installs what building and testing the Windows programs and the native update server need on
# Debian 12 (run as root).
# Idempotent: returns at once when everything is already there.
set -euo pipefail
self="bash $(realpath "${BASH_SOURCE[0]}")"

packages=(g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix mingw-w64-tools cmake ninja-build googletest wine wine32:i386 wine64
          xvfb x11-apps xauth fonts-wqy-microhei fonts-wine imagemagick locales python3
          g++ pkg-config libgtest-dev libevent-dev liblief-dev libssl-dev openssl nginx-light wrk curl prometheus-cpp-dev libjemalloc-dev
          bsdiff libbz2-dev zlib1g-dev libz-mingw-w64-dev
          x11-utils)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: packages missing: ${missing[*]}" >&2
    echo "install-deps: as root, run: $self" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine turns file names into the Unix locale's charset: without these locales every
# non-ASCII path arrives mangled.
need_locales=()
for l in zh_CN.UTF-8 en_US.UTF-8; do
  locale -a 2>/dev/null | grep -qix "${l/UTF-8/utf8}" || need_locales+=("$l")
done
if ((${#need_locales[@]})); then
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: locales missing: ${need_locales[*]} (Wine needs them for non-ASCII paths)" >&2
    echo "install-deps: as root, run: $self" >&2
    echo "install-deps: (it enables them in /etc/locale.gen and runs locale-gen)" >&2
    exit 1
  fi
  for l in "${need_locales[@]}"; do
    sed -i "s/^# *\(${l} UTF-8\)/\1/" /etc/locale.gen
    grep -q "^${l} UTF-8" /etc/locale.gen || echo "${l} UTF-8" >>/etc/locale.gen
  done
  locale-gen >/dev/null
fi
