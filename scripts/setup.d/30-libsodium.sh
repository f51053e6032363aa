#!/usr/bin/env bash
# Static libsodium (Debian's source package) for both MinGW targets, into
# $TIDE_DEPS_DIR/<arch>/{include,lib}: the release manifest's signature and
# the components' SHA-256 are checked with it. Native builds use Debian's
# libsodium-dev.
set -euo pipefail
deps=$TIDE_DEPS_DIR
log=$TIDE_SETUP_LOG
work=/opt/tidestart/src
# Built for size (the SHA-256 of a download runs as fast as at -O2), every
# function and object in a section of its own, so the product's
# --gc-sections keeps only what it calls; no unwind tables (C code that no
# exception crosses). libsodium.recipe beside the library records the
# flags; a change here rebuilds it.
cflags="-Os -ffunction-sections -fdata-sections -fno-asynchronous-unwind-tables"
recipe="libsodium $cflags"
need=()
for arch in i686 x86_64; do
  [ -f "$deps/$arch/lib/libsodium.a" ] && [ -f "$deps/$arch/include/sodium.h" ] &&
    [ "$(cat "$deps/$arch/lib/libsodium.recipe" 2>/dev/null)" = "$recipe" ] || need+=("$arch")
done
[ "${#need[@]}" -eq 0 ] && exit 0

echo "setup: building libsodium for MinGW (${need[*]})"
mkdir -p "$work" && cd "$work"
if ! ls -d libsodium-*/ >/dev/null 2>&1; then
  # apt may exit non-zero over a missing .dsc while the tarballs arrive.
  ls libsodium_*.orig.tar.* >/dev/null 2>&1 || apt-get source --download-only libsodium >>"$log" 2>&1 || true
  tarball=$(ls libsodium_*.orig.tar.* | head -n 1)
  tar xf "$tarball"
  dir=$(ls -d libsodium-*/ | head -n 1)
  if ls libsodium_*.debian.tar.xz >/dev/null 2>&1; then
    tar xJf libsodium_*.debian.tar.xz -C "$dir"
    if [ -f "$dir/debian/patches/series" ]; then
      (cd "$dir" && while read -r p; do
         case "$p" in ''|\#*) continue;; esac
         patch -p1 -s < "debian/patches/$p" >>"$log" 2>&1 || true
       done < debian/patches/series)
    fi
  fi
fi
src=$(cd "$(ls -d libsodium-*/ | head -n 1)" && pwd)
# Debian's tarball is the upstream git tree without a generated configure
# script (and autotools are not otherwise needed here), so the library is
# compiled directly, as its Visual Studio projects do: every source file of
# src/libsodium with the portable code paths (no SIMD variants, which the
# manifest's few kilobytes and the Ed25519 check do not need) and the
# version header filled in from configure.ac.
major=$(sed -n 's/^SODIUM_LIBRARY_VERSION_MAJOR=//p' "$src/configure.ac")
minor=$(sed -n 's/^SODIUM_LIBRARY_VERSION_MINOR=//p' "$src/configure.ac")
version=$(sed -n 's/^AC_INIT(\[libsodium\],\[\([^]]*\)\].*/\1/p' "$src/configure.ac")
for arch in "${need[@]}"; do
  b="$work/build-sodium-$arch"
  rm -rf "$b" && mkdir -p "$b/include/sodium" "$b/obj" && cd "$b"
  sed -e "s/@VERSION@/$version/" -e "s/@SODIUM_LIBRARY_VERSION_MAJOR@/$major/" \
      -e "s/@SODIUM_LIBRARY_VERSION_MINOR@/$minor/" -e "s/@SODIUM_LIBRARY_MINIMAL_DEF@//" \
      "$src/src/libsodium/include/sodium/version.h.in" > include/sodium/version.h
  cc="$arch-w64-mingw32-gcc-posix"
  flags="$cflags -std=gnu99 -DSODIUM_STATIC=1 -DCONFIGURED=1 -DNATIVE_LITTLE_ENDIAN=1 -DHAVE_STDINT_H=1 -DHAVE_INTTYPES_H=1"
  flags+=" -I$b/include -I$b/include/sodium -I$src/src/libsodium/include -I$src/src/libsodium/include/sodium"
  (cd "$src/src/libsodium" && find . -name '*.c' | sort) > sources.txt
  # One object per source, named after its path (several share a file name).
  while read -r f; do
    echo "$src/src/libsodium/$f obj/$(echo "${f#./}" | tr / _ | sed 's/\.c$/.o/')"
  done < sources.txt |
    xargs -P "$(nproc)" -n 2 sh -c "$cc $flags -c \"\$0\" -o \"\$1\"" >>"$log" 2>&1
  [ "$(ls obj | wc -l)" = "$(wc -l < sources.txt)" ] || { echo "setup: libsodium for $arch did not compile (see $log)"; exit 1; }
  rm -f libsodium.a && "$arch-w64-mingw32-ar" rcs libsodium.a obj/*.o
  mkdir -p "$deps/$arch/lib" "$deps/$arch/include"
  # The recipe goes last: an interrupted install is rebuilt next time.
  rm -f "$deps/$arch/lib/libsodium.recipe"
  (cd "$src/src/libsodium/include" && find sodium.h sodium -name "*.h" ! -path "sodium/private/*" -exec cp --parents {} "$deps/$arch/include" \;)
  cp include/sodium/version.h "$deps/$arch/include/sodium/version.h"
  cp libsodium.a "$deps/$arch/lib/libsodium.a.new" && mv "$deps/$arch/lib/libsodium.a.new" "$deps/$arch/lib/libsodium.a"
  echo "$recipe" > "$deps/$arch/lib/libsodium.recipe"
done
