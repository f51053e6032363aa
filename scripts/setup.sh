#!/usr/bin/env bash
# Installs everything the build and the tests need, as root, on Debian 12.
# Quick and quiet when everything is already in place.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
deps=${TIDE_DEPS_DIR:-/opt/tidestart/deps}
log=/tmp/tidestart-setup.log
# What the set-up found about this machine, read by the harness and the
# main job: wine32=yes|no, i386=native|qemu.
status=${TIDE_SETUP_STATUS:-/opt/tidestart/setup-status}
mkdir -p "$(dirname "$status")"

say() { echo "setup: $*"; }
run() { "$@" >>"$log" 2>&1 || { echo "setup: failed: $* (see $log)"; tail -n 30 "$log"; exit 1; }; }

# The package index can fail for one architecture or one server while the
# rest loads: try a few times, then go on with what is there. The installs
# that follow tell whether it was enough.
apt_update() {  # [tries]
  local i tries=${1:-3}
  for ((i = 1; i <= tries; i++)); do
    apt-get update -qq >>"$log" 2>&1 && return 0
    say "apt-get update failed (try $i of $tries)"
    [ "$i" -lt "$tries" ] && sleep $((i * 5))
  done
  say "going on with the package index as it is"
}
# Installs with a few tries (a mirror can drop a connection).
apt_install() {
  local i
  for ((i = 1; i <= ${apt_install_tries:-3}; i++)); do
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" >>"$log" 2>&1 && return 0
    sleep $((i * 3))
  done
  return 1
}

packages=(
  cmake make g++ ninja-build pkg-config googletest libgtest-dev libgmock-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-i686-dev mingw-w64-x86-64-dev
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64 qemu-user-static
  xvfb xauth x11-utils imagemagick nginx-light curl zip unzip dpkg-dev file python3
  fonts-wine libjpeg62-turbo-dev  # Wine's Tahoma (the main window's font); libjpeg for the native tests
  tinyproxy  # the forward proxy of the downloads-through-a-proxy test
  libsodium-dev  # the native tests' signatures and SHA-256 (the MinGW trees build their own: setup.d/30-libsodium.sh)
)
# The 32-bit Wine is optional: without it the 32-bit product cannot run
# here, and only what needs it is skipped.
wine32=wine32:i386

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
have_i386=$(dpkg --print-foreign-architectures | grep -c '^i386$' || true)
if [ "${#missing[@]}" -gt 0 ] || [ "$have_i386" = 0 ]; then
  say "installing ${#missing[@]} Debian packages and the 32-bit Wine (log: $log)"
  [ "$have_i386" = 0 ] && run dpkg --add-architecture i386
  apt_update 3
  if [ "${#missing[@]}" -gt 0 ]; then
    apt_install "${missing[@]}" || { say "failed: apt-get install ${missing[*]} (see $log)"; tail -n 30 "$log"; exit 1; }
  fi
  wine32_tries=3
elif ! installed "$wine32"; then
  # Only the 32-bit Wine is missing (an earlier run could not install it):
  # one quick try, so that a run stays quick while its index is broken.
  apt_update 1
  wine32_tries=1
fi
# The main suite's codename, from the machine's own apt sources: the suite
# named without a "-updates"/"-security" suffix.
main_suite() {
  { { cat /etc/apt/sources.list.d/*.sources 2>/dev/null || true; } | sed -n 's/^[[:space:]]*Suites://p' | tr ' \t' '\n\n'
    { cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null || true; } |
      sed -n -E 's/^[[:space:]]*deb[[:space:]]+(\[[^]]*\][[:space:]]+)?[^[:space:]]+[[:space:]]+([^[:space:]]+).*/\2/p'
  } | awk '$0 != "" && $0 !~ /-/ {n[$0]++} END {for (s in n) if (n[s] > m) {m = n[s]; b = s}; print b}'
}
# When the i386 index of a suite (often the security suite) fails to load,
# wine32's Multi-Arch libraries cannot match amd64 ones that came from that
# suite. Installing from the main suite works when those amd64 packages move
# to the main suite's version with their i386 twins. Prints "PKG/CODENAME"
# for each: installed amd64 packages of wine32's dependency closure whose
# version is newer than the main suite's i386 one, and the packages built
# from the same source at the same version (they depend on each other's
# exact version).
wine32_twins() {  # CODENAME
  local cn=$1 p v mv src
  local closure
  closure=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
              --no-replaces --no-enhances "$wine32" 2>/dev/null | grep -E '^[^ <].*:i386$' | sed 's/:i386$//' | sort -u || true)
  for p in $closure; do
    v=$(dpkg-query -W -f='${Version}' "$p:amd64" 2>/dev/null) || continue
    [ -n "$v" ] || continue
    mv=$(apt-cache madison "$p:i386" | awk -F'|' -v cn=" $cn/" '$3 ~ cn {gsub(/ /, "", $2); print $2; exit}' || true)
    [ -n "$mv" ] && dpkg --compare-versions "$v" gt "$mv" || continue
    src=$(dpkg-query -W -f='${source:Package}' "$p:amd64")
    dpkg-query -W -f='${binary:Package} ${source:Package} ${Version} ${db:Status-Abbrev}\n' 2>/dev/null |
      awk -v s="$src" -v v="$v" '$2 == s && $3 == v && $4 ~ /^ii/ && $1 !~ /:i386$/ {sub(/:amd64$/, "", $1); print $1}'
  done | sort -u | while read -r p; do
    # (no grep -q: under pipefail apt-cache's broken pipe would fail the test)
    apt-cache madison "$p" 2>/dev/null | grep " $cn/" >/dev/null && echo "$p/$cn"
  done
}
# A failed attempt is not repeated against the same package index (it would
# fail again, and takes minutes): its index is remembered.
index_key() { ls -l --time-style=+%s /var/lib/apt/lists/*Packages* /var/lib/apt/lists/*Release 2>/dev/null | md5sum | cut -d' ' -f1; }
wine32_failed=/var/cache/tidestart/wine32-failed-index
if ! installed "$wine32" && [ -n "${wine32_tries:-}" ] && [ "$(cat "$wine32_failed" 2>/dev/null)" = "$(index_key)" ]; then
  say "the 32-bit Wine ($wine32) could not be installed from this package index before; not tried again until it changes"
elif ! installed "$wine32" && [ -n "${wine32_tries:-}" ]; then
  if ! apt_install_tries=$wine32_tries apt_install "$wine32"; then
    cn=$(main_suite)
    twins=()
    [ -n "$cn" ] && mapfile -t twins < <(wine32_twins "$cn")
    if [ -n "$cn" ]; then
      say "installing the 32-bit Wine from the $cn suite${twins[*]:+, with ${twins[*]} moved to its versions}"
      apt_install_tries=1 apt_install -t "$cn" --allow-downgrades "$wine32" "${twins[@]}" || true
    fi
  fi
  if installed "$wine32"; then
    rm -f "$wine32_failed"
  else
    mkdir -p "$(dirname "$wine32_failed")"; index_key > "$wine32_failed"
    say "the 32-bit Wine ($wine32) cannot be installed here; the tests that run 32-bit programs are skipped and the main job runs the x86_64 build (see $log)"
  fi
fi
if installed "$wine32"; then echo wine32=yes > "$status"; else echo wine32=no > "$status"; fi

# Wine's 32-bit loader is an i386 Linux program. Some kernels here refuse
# i386 executables (IA-32 emulation off); then run them through qemu-i386,
# registered with binfmt_misc. The check is whether the loader starts.
if installed "$wine32"; then
  if /lib/ld-linux.so.2 --version >/dev/null 2>&1 && ! grep -qs enabled /proc/sys/fs/binfmt_misc/qemu-i386-tide; then
    echo i386=native >> "$status"
  else
    if [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386-tide ]; then
      [ -e /proc/sys/fs/binfmt_misc/register ] || mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
      say "registering qemu-i386 for i386 executables (this kernel does not run them)"
      magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
      mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
      echo ":qemu-i386-tide:M::${magic}:${mask}:/usr/bin/qemu-i386-static:F" > /proc/sys/fs/binfmt_misc/register
      # Position-independent executables and the loader itself are ET_DYN.
      magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x03\x00\x03\x00'
      echo ":qemu-i386-tide-dyn:M::${magic}:${mask}:/usr/bin/qemu-i386-static:F" > /proc/sys/fs/binfmt_misc/register
    fi
    if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
      echo i386=qemu >> "$status"
    else
      say "this machine cannot run i386 executables, not even through qemu; the tests that run 32-bit programs are skipped"
      echo i386=none >> "$status"
    fi
  fi
fi

# Whether a 32-bit Windows program starts at all: where the i386 loader runs
# only through qemu, Wine's 32-bit processes fail to start (CreateProcess
# error 1359). Found out once, with a trivial program in a prefix of its
# own, within about two minutes; kept while Wine and the i386 mode stay as
# they were. Recorded as win32=yes, or win32=no with the reason, which the
# tests that need a 32-bit program print when they skip.
probe32() {
  local dir=/var/cache/tidestart/probe32 key out rc
  key="$(dpkg-query -W -f='${Version}' wine32:i386 2>/dev/null) $(grep '^i386=' "$status")"
  if [ -s "$dir/result" ] && [ "$(head -1 "$dir/result")" = "$key" ]; then
    tail -n +2 "$dir/result" >> "$status"
    return
  fi
  say "finding out whether 32-bit Windows programs start under Wine here (once, at most 2 minutes)"
  rm -rf "$dir"; mkdir -p "$dir"
  printf '#include <stdio.h>\nint main(void) { puts("tidestart 32-bit probe"); return 0; }\n' > "$dir/probe.c"
  if ! i686-w64-mingw32-gcc -O1 -s -o "$dir/probe32.exe" "$dir/probe.c" >>"$log" 2>&1; then
    echo "win32=no the 32-bit probe program could not be built (see $log)" >> "$status"
    return  # not recorded: the next run tries again
  fi
  rc=0
  out=$(WINEPREFIX=$dir/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY= \
        timeout --kill-after=5 120 /usr/lib/wine/wine64 "$dir/probe32.exe" </dev/null 2>"$dir/stderr") || rc=$?
  WINEPREFIX=$dir/prefix timeout 30 wineserver -k >/dev/null 2>&1 || true
  if [ "$rc" = 0 ] && [[ $out == *"tidestart 32-bit probe"* ]]; then
    printf '%s\n%s\n' "$key" "win32=yes" > "$dir/result"
  else
    local why="a trivial 32-bit Windows program does not start under Wine here (exit $rc: $(tr -d '\r' < "$dir/stderr" | grep -v '^$' | tail -1 | cut -c1-120))"
    [ "$rc" = 124 ] && why="a trivial 32-bit Windows program did not start under Wine within 120 s here"
    printf '%s\n%s\n' "$key" "win32=no $why" > "$dir/result"
    say "$why; the tests that need one are skipped"
  fi
  rm -rf "$dir/prefix"
  tail -n +2 "$dir/result" >> "$status"
}
if installed "$wine32" && ! grep -qs '^i386=none' "$status"; then
  probe32
elif installed "$wine32"; then
  echo "win32=no this machine cannot run i386 executables, not even through qemu" >> "$status"
else
  echo "win32=no the 32-bit Wine (wine32:i386) could not be installed here (see $log)" >> "$status"
fi

# Debian's source packages, for the libraries and tools built for MinGW: the
# same servers and suites as the machine's own binary entries.
derive_deb_src() {
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] || continue
    [ "$(basename "$f")" = tidestart-src.sources ] && continue
    # One stanza per blank-line-separated block; keep those of type deb.
    awk 'BEGIN { RS=""; ORS="\n\n" }
         /(^|\n)Types:[^\n]*(^|[ \t])deb([ \t]|\n|$)/ {
           out=""; n=split($0, l, "\n")
           for (i=1; i<=n; i++) {
             if (l[i] ~ /^#/) continue
             if (l[i] ~ /^Types:/) l[i]="Types: deb-src"
             if (l[i] ~ /^Architectures:/) continue
             out=out l[i] "\n"
           }
           printf "%s\n", out
         }' "$f"
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -e "$f" ] || continue
    sed -n -E 's/^[[:space:]]*deb[[:space:]]+(\[[^]]*\][[:space:]]+)?/deb-src \1/p' "$f" | sed -E 's/arch=[^] ]+ ?//'
  done
}
if ! grep -rqs '^[[:space:]]*\(deb-src\|Types:.*deb-src\)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  src_entries=$(derive_deb_src)
  if [ -n "$src_entries" ]; then
    if grep -q '^deb-src ' <<<"$src_entries"; then
      grep '^deb-src ' <<<"$src_entries" > /etc/apt/sources.list.d/tidestart-src.list
      grep -v '^deb-src ' <<<"$src_entries" | grep -q . &&
        grep -v '^deb-src ' <<<"$src_entries" > /etc/apt/sources.list.d/tidestart-src.sources
    else
      printf '%s\n' "$src_entries" > /etc/apt/sources.list.d/tidestart-src.sources
    fi
    wrote_src=1
  else
    say "no binary package entries in /etc/apt to derive source entries from"
  fi
fi
[ "${wrote_src:-0}" = 1 ] && apt_update

for script in "$here"/scripts/setup.d/*.sh; do
  [ -e "$script" ] || continue
  TIDE_DEPS_DIR="$deps" TIDE_SETUP_LOG="$log" bash "$script"
done
