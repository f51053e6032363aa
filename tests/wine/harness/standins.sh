# Sourced after lib.sh by tests that need the stand-in server distribution
# (tools/standins, see its README).
#
# make_standin_release DIR [ARCH]: writes the stand-in release (downloader.ini
# and its component files) into DIR. ARCH defaults to x64 where 32-bit
# Windows programs do not start here (win32_status), else to the programs of
# a real release (i686 in JRE, TOMCAT, UNZIP). Extra output goes to DIR.log.
make_standin_release() {
  local dir=$1 arch=${2:-}
  if [ -z "$arch" ]; then
    if [ "$(win32_status)" = yes ]; then arch=default; else arch=x64; fi
  fi
  bash "$TIDE_SOURCE_DIR/tools/standins/make_release.sh" --arch "$arch" "$dir" >"$dir.log" 2>&1 \
    || fail "stand-in release not made: $(cat "$dir.log")"
}
