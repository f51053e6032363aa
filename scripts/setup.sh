#!/usr/bin/env bash
# Installs everything the build and the tests need, as root, on Debian 12.
# Quick and quiet when everything is already in place.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
deps=${TIDE_DEPS_DIR:-/opt/tidestart/deps}
log=/tmp/tidestart-setup.log

say() { echo "setup: $*"; }
run() { "$@" >>"$log" 2>&1 || { echo "setup: failed: $* (see $log)"; tail -n 30 "$log"; exit 1; }; }

packages=(
  cmake make g++ ninja-build pkg-config googletest libgtest-dev libgmock-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-i686-dev mingw-w64-x86-64-dev
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64 wine32:i386 qemu-user-static
  xvfb xauth x11-utils imagemagick nginx-light curl zip unzip nasm dpkg-dev file python3
)

missing=()
have_i386=$(dpkg --print-foreign-architectures | grep -c '^i386$' || true)
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ] || [ "$have_i386" = 0 ]; then
  say "installing ${#missing[@]} Debian packages (log: $log)"
  [ "$have_i386" = 0 ] && run dpkg --add-architecture i386
  run apt-get update -qq
  DEBIAN_FRONTEND=noninteractive run apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Wine's 32-bit loader is an i386 Linux program. Some kernels here refuse
# i386 executables (IA-32 emulation off); then run them through qemu-i386,
# registered with binfmt_misc. The check is whether the loader starts.
if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  [ -e /proc/sys/fs/binfmt_misc/register ] || mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  if [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386-tide ]; then
    say "registering qemu-i386 for i386 executables (this kernel does not run them)"
    magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    echo ":qemu-i386-tide:M::${magic}:${mask}:/usr/bin/qemu-i386-static:F" > /proc/sys/fs/binfmt_misc/register
    # Position-independent executables and the loader itself are ET_DYN.
    magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x03\x00\x03\x00'
    echo ":qemu-i386-tide-dyn:M::${magic}:${mask}:/usr/bin/qemu-i386-static:F" > /proc/sys/fs/binfmt_misc/register
  fi
  /lib/ld-linux.so.2 --version >/dev/null 2>&1 || { say "cannot run i386 executables"; exit 1; }
fi

# Debian's source packages, for the libraries and tools built for MinGW.
if ! grep -rqs 'deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  cat > /etc/apt/sources.list.d/tidestart-src.sources <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  run apt-get update -qq
fi

for script in "$here"/scripts/setup.d/*.sh; do
  [ -e "$script" ] || continue
  TIDE_DEPS_DIR="$deps" TIDE_SETUP_LOG="$log" bash "$script"
done
