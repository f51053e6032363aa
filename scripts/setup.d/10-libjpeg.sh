#!/usr/bin/env bash
# Static libjpeg (libjpeg-turbo from Debian's source package) for both
# MinGW targets, into $TIDE_DEPS_DIR/<arch>/{include,lib}.
#
# The installer decodes one picture, its own baseline artwork, once: the
# library is built for size, not speed. No SIMD (the assembly comes whole,
# encoder included), no arithmetic coding, every function in a section of
# its own for the product's --gc-sections, and no unwind tables (C code that
# no exception crosses: errors leave through the caller's longjmp). No
# JPEGMEM from the environment (it brings a scanf in), and the messages are
# formatted by the C runtime's printf (plain %d, %u and %s) rather than
# MinGW's own, larger one.
# libjpeg.recipe beside the library records how it was built; a change here
# rebuilds it.
set -euo pipefail
deps=$TIDE_DEPS_DIR
log=$TIDE_SETUP_LOG
work=/opt/tidestart/src
options="-DCMAKE_BUILD_TYPE=Release -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DWITH_SIMD=0"
options+=" -DWITH_ARITH_DEC=0 -DWITH_ARITH_ENC=0"
cflags="-Os -DNDEBUG -ffunction-sections -fdata-sections -fno-asynchronous-unwind-tables -DNO_GETENV"
cflags+=" -D__USE_MINGW_ANSI_STDIO=0"
recipe="libjpeg-turbo $options $cflags"
need=()
for arch in i686 x86_64; do
  [ -f "$deps/$arch/lib/libjpeg.a" ] && [ "$(cat "$deps/$arch/lib/libjpeg.recipe" 2>/dev/null)" = "$recipe" ] ||
    need+=("$arch")
done
[ "${#need[@]}" -eq 0 ] && exit 0

echo "setup: building libjpeg-turbo for MinGW (${need[*]})"
mkdir -p "$work" && cd "$work"
if ! ls -d libjpeg-turbo-*/ >/dev/null 2>&1; then
  # apt may exit non-zero over a missing .dsc while the tarballs arrive.
  apt-get source --download-only libjpeg-turbo >>"$log" 2>&1 || true
  tarball=$(ls libjpeg-turbo_*.orig.tar.gz | head -n 1)
  tar xzf "$tarball"
  dir=$(ls -d libjpeg-turbo-*/ | head -n 1)
  if ls libjpeg-turbo_*.debian.tar.xz >/dev/null 2>&1; then
    tar xJf libjpeg-turbo_*.debian.tar.xz -C "$dir"
    (cd "$dir" && while read -r p; do
       case "$p" in ''|\#*) continue;; esac
       patch -p1 -s < "debian/patches/$p" >>"$log" 2>&1 || true
     done < debian/patches/series)
  fi
fi
src=$(cd "$(ls -d libjpeg-turbo-*/ | head -n 1)" && pwd)
for arch in "${need[@]}"; do
  tc="$work/mingw-$arch.cmake"
  cat > "$tc" <<TC
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR $([ "$arch" = i686 ] && echo X86 || echo AMD64))
set(CMAKE_C_COMPILER $arch-w64-mingw32-gcc-posix)
set(CMAKE_RC_COMPILER $arch-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$arch-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
TC
  b="$work/build-jpeg-$arch"
  rm -rf "$b" && mkdir -p "$b" && cd "$b"
  # shellcheck disable=SC2086  # the options are words
  cmake "$src" -DCMAKE_TOOLCHAIN_FILE="$tc" -DCMAKE_INSTALL_PREFIX="$deps/$arch" $options \
    -DCMAKE_C_FLAGS_RELEASE="$cflags" >>"$log" 2>&1
  make -j"$(nproc)" jpeg-static >>"$log" 2>&1
  mkdir -p "$deps/$arch/lib" "$deps/$arch/include"
  # The recipe goes last: an interrupted install is rebuilt next time.
  rm -f "$deps/$arch/lib/libjpeg.recipe"
  cp libjpeg.a "$deps/$arch/lib/libjpeg.a.new" && mv "$deps/$arch/lib/libjpeg.a.new" "$deps/$arch/lib/libjpeg.a"
  cp jconfig.h "$deps/$arch/include/"
  cp "$src"/jpeglib.h "$src"/jmorecfg.h "$src"/jerror.h "$deps/$arch/include/"
  echo "$recipe" > "$deps/$arch/lib/libjpeg.recipe"
done
