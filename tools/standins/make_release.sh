#!/usr/bin/env bash
# Packs the stand-in server distribution into a release folder for tests:
#
#   bash tools/standins/make_release.sh [--arch x64] OUT_DIR
#
# writes OUT_DIR/downloader.ini (FILE_SIZE and FILE_MD5SUM by
# "tiderelease make-manifest"), its signature downloader.ini.sig made with
# the test key of tools/fixtures/release-key ("tiderelease sign", release
# serial $TIDE_TEST_RELEASE_SERIAL, default 1; a test that edits the manifest
# signs it again) and the files it lists: the runtime
# installers, UNZIP.EXE, the server base zip and the two Tomcat home zips.
# See tools/standins/README.md. The programs come from the Windows build
# trees ($TIDE_WIN32_BUILD, $TIDE_WIN64_BUILD; default build/win32 and
# build/win64), the release tool from $TIDE_NATIVE_BUILD (default
# build/native), UNZIP.EXE from $TIDE_DEPS_DIR/unzip (default
# /opt/tidestart/deps).
#
# Architecture of the programs packed: by default the i686 ones in JRE,
# TOMCAT and UNZIP and the x86_64 ones in JREx64 and TOMCATx64, as in a real
# release. --arch x64 (or TIDE_STANDIN_ARCH=x64) packs the x86_64 programs
# and the x86_64 UNZIP.EXE into every component, for machines where 32-bit
# Windows programs cannot run.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
arch=${TIDE_STANDIN_ARCH:-default}
if [ "${1:-}" = --arch ]; then
  arch=${2:?--arch needs x64 or default}
  shift 2
fi
out=${1:?usage: make_release.sh [--arch x64] OUT_DIR}
case $arch in default|x64) ;; *) echo "make_release.sh: unknown architecture '$arch' (x64 or default)" >&2; exit 1;; esac

w32=${TIDE_WIN32_BUILD:-$root/build/win32}
w64=${TIDE_WIN64_BUILD:-$root/build/win64}
native=${TIDE_NATIVE_BUILD:-$root/build/native}
deps=${TIDE_DEPS_DIR:-/opt/tidestart/deps}
small=$w32 unzip=$deps/unzip/UNZIP.EXE
if [ "$arch" = x64 ]; then small=$w64 unzip=$deps/unzip/x86_64/UNZIP.EXE; fi
for f in "$small"/standin_{server,tomcat7w,jre_setup}.exe "$w64"/standin_{server,tomcat7w,jre_setup}.exe \
         "$unzip" "$native/tiderelease"; do
  [ -f "$f" ] || { echo "make_release.sh: missing $f (build first: scripts/build.sh)" >&2; exit 1; }
done

mkdir -p "$out"
out=$(cd "$out" && pwd)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
crlf() { sed 's/\r*$/\r/' "$1" > "$2"; }  # text file with CR LF line ends
# Fixed times, so that the same programs give the same archives.
pack() {  # zip, folder (inside $stage/$1.d)
  find "$stage/$1.d" -exec touch -h -d '2026-01-01 00:00:00' {} +
  rm -f "$out/$1"
  (cd "$stage/$1.d" && zip -q -r -X "$out/$1" "$2")
}

# Server base: unpacks to TCBase\.
b=$stage/catalina_base.zip.d/TCBase
mkdir -p "$b/bin/native" "$b/conf/Catalina/localhost" "$b/logs" "$b/webapps" "$b/temp" "$b/work"
crlf "$here/base/bin/service.bat" "$b/bin/service.bat"
crlf "$here/base/conf/server.xml" "$b/conf/server.xml"
crlf "$here/base/conf/uriworkermap.properties" "$b/conf/uriworkermap.properties"
for a in x86 x64 ia64; do
  printf 'isapi_redirect stand-in for %s (a test fixture, never loaded)\r\n' "$a" > "$b/bin/native/isapi_redirect.dll.$a"
done
pack catalina_base.zip TCBase

# Tomcat homes: both unpack to apache-tomcat-standin\.
home() {  # zip, build tree
  local h=$stage/$1.d/apache-tomcat-standin
  mkdir -p "$h/bin" "$h/lib"
  crlf "$here/tomcat/bin/catalina.bat" "$h/bin/catalina.bat"
  crlf "$here/tomcat/README.txt" "$h/README.txt"
  cp "$2/standin_server.exe" "$h/bin/tomcat7.exe"
  cp "$2/standin_tomcat7w.exe" "$h/bin/tomcat7w.exe"
  pack "$1" apache-tomcat-standin
}
home apache-tomcat-standin.zip "$small"
home apache-tomcat-standin-x64.zip "$w64"

cp "$small/standin_jre_setup.exe" "$out/jre-standin-setup.exe"
cp "$w64/standin_jre_setup.exe" "$out/jre-standin-x64-setup.exe"
cp "$unzip" "$out/UNZIP.EXE"

printf '%s\r\n' \
  '; Release manifest of the stand-in server distribution (a test fixture made by' \
  '; tools/standins/make_release.sh). Tests replace BINARY_BASE with the address' \
  '; of their own server.' \
  '[GENERAL]' \
  'BINARY_BASE=http://127.0.0.1:8080/release/' \
  'MIN_JRE_VERSION=1.8' \
  '' \
  '[JRE]' \
  'FILE_NAME=jre-standin-setup.exe' \
  'INSTALL_ARGS=/s' \
  '' \
  '[JREx64]' \
  'FILE_NAME=jre-standin-x64-setup.exe' \
  'INSTALL_ARGS=/s' \
  '' \
  '[UNZIP]' \
  'FILE_NAME=UNZIP.EXE' \
  '' \
  '[CATALINA_BASE]' \
  'FILE_NAME=catalina_base.zip' \
  '' \
  '[TOMCAT]' \
  'FILE_NAME=apache-tomcat-standin.zip' \
  'UNPACK_PATH=apache-tomcat-standin' \
  '' \
  '[TOMCATx64]' \
  'FILE_NAME=apache-tomcat-standin-x64.zip' > "$out/downloader.ini"
"$native/tiderelease" make-manifest "$out/downloader.ini" "$out" >/dev/null
"$native/tiderelease" verify "$out/downloader.ini" "$out"
"$native/tiderelease" sign --serial "${TIDE_TEST_RELEASE_SERIAL:-1}" "$out/downloader.ini" "$root/tools/fixtures/release-key/release-key" >/dev/null
echo "stand-in release ($arch) in $out"
