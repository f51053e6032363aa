#!/usr/bin/env bash
# Info-ZIP unzip for Windows, built with MinGW from Debian's source package.
# The installer runs it as UNZIP.EXE from the install directory.
#   $TIDE_DEPS_DIR/unzip/UNZIP.EXE         i686, what a release ships
#   $TIDE_DEPS_DIR/unzip/x86_64/UNZIP.EXE  x86_64 copy for the Wine tests
#                                          (64-bit programs start in ~1 s)
set -euo pipefail
deps=$TIDE_DEPS_DIR
log=$TIDE_SETUP_LOG
work=/opt/tidestart/src/unzip
out32=$deps/unzip/UNZIP.EXE
out64=$deps/unzip/x86_64/UNZIP.EXE
[ -s "$out32" ] && [ -s "$out64" ] && exit 0

echo "setup: building Info-ZIP unzip for MinGW"
mkdir -p "$work" && cd "$work"
if [ ! -d unzip60 ]; then
  # apt may exit non-zero over a missing .dsc while the tarballs arrive;
  # the orig tarball is what matters.
  ls unzip_*.orig.tar.gz >/dev/null 2>&1 || apt-get source --download-only unzip >>"$log" 2>&1 || true
  tarball=$(ls unzip_*.orig.tar.gz 2>/dev/null | head -n 1)
  [ -n "$tarball" ] || { echo "setup: no unzip source tarball (see $log)"; exit 1; }
  rm -rf unzip60.tmp && mkdir unzip60.tmp
  tar xzf "$tarball" -C unzip60.tmp
  mv unzip60.tmp/unzip60 unzip60 && rmdir unzip60.tmp
  if ls unzip_*.debian.tar.xz >/dev/null 2>&1; then
    tar xJf "$(ls unzip_*.debian.tar.xz | head -n 1)" -C unzip60
    (cd unzip60 && while read -r p; do
       case "$p" in ''|\#*) continue;; esac
       patch -p1 -s < "debian/patches/$p" >>"$log" 2>&1 || echo "setup: unzip patch $p did not apply" >>"$log"
     done < debian/patches/series)
  fi
fi

build() {  # arch, output
  local arch=$1 dest=$2 b="$work/build-$1"
  rm -rf "$b" && cp -a "$work/unzip60" "$b"
  # unzpriv.h defines CR before <windows.h>, which clashes with a field of
  # mingw-w64's winnt.h: include windows.h first. -mcpu=pentiumpro is not
  # valid for x86_64, so the CPU option is cleared.
  (cd "$b" && make -f win32/Makefile.gcc CC="$arch-w64-mingw32-gcc -include windows.h" \
     AS="$arch-w64-mingw32-as" RC="$arch-w64-mingw32-windres" LD="$arch-w64-mingw32-gcc" \
     NOASM=1 CC_CPU_OPT= LOC="-w" unzip.exe) >>"$log" 2>&1 \
    || { echo "setup: unzip build for $arch failed (see $log)"; exit 1; }
  mkdir -p "$(dirname "$dest")"
  cp "$b/unzip.exe" "$dest"
  rm -rf "$b"
}
[ -s "$out32" ] || build i686 "$out32"
[ -s "$out64" ] || build x86_64 "$out64"
