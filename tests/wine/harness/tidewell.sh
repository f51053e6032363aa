# Sourced after lib.sh by tests that need the stand-in Tidewell application
# (tools/fixtures/tidewell, see its README).
#
# make_tw_archive DIR VERSION: writes DIR/tidewell-VERSION.zip, which
# unpacks to tidewell-VERSION\.
# make_tw_installed INSTALL_DIR VERSION [KIND]: lays out
# INSTALL_DIR/tidewell-VERSION as an earlier installer left it, with its
# configuration naming the database KIND (AccessDB, DerbyDB, ...) and data.
make_tw_archive() {
  bash "$TIDE_SOURCE_DIR/tools/fixtures/tidewell/make_tw.sh" "$2" "$1" >"$1.tw.log" 2>&1 \
    || fail "Tidewell $2 archive not made: $(cat "$1.tw.log")"
}
make_tw_installed() {
  bash "$TIDE_SOURCE_DIR/tools/fixtures/tidewell/make_tw.sh" --installed "$2" "$1" ${3:+"$3"} >"$1.tw.log" 2>&1 \
    || fail "Tidewell $2 folder not made: $(cat "$1.tw.log")"
}

# make_tidewell_release DIR VERSION [ARCH]: the stand-in release plus the
# Tidewell VERSION archive as component TW, manifest completed with
# tiderelease make-manifest and signed (sign_manifest).
make_tidewell_release() {
  local dir=$1
  mkdir -p "$dir"
  make_standin_release "$dir" ${3:+"$3"}
  make_tw_archive "$dir" "$2"
  printf '%s\r\n' '' '[TW]' "FILE_NAME=tidewell-$2.zip" "FILE_VERSION=$2" >> "$dir/downloader.ini"
  "$TIDE_NATIVE_BUILD/tiderelease" make-manifest "$dir/downloader.ini" "$dir" >/dev/null || fail "manifest of $dir not completed"
  sign_manifest "$dir/downloader.ini"
}

# serve_tidewell_release VERSION [ARCH]: make_tidewell_release into
# $TEST_TMP/served/release, served by start_nginx, its BINARY_BASE pointing
# there and signed again; sets served, rel and manifest (the manifest's URL).
serve_tidewell_release() {
  served=$TEST_TMP/served
  rel=$served/release
  make_tidewell_release "$rel" "$@"
  start_nginx "$served"
  sed -i "s|^BINARY_BASE=.*|BINARY_BASE=$NGINX_URL/release/\r|" "$rel/downloader.ini"
  sign_manifest "$rel/downloader.ini"
  manifest=$NGINX_URL/release/downloader.ini
}
