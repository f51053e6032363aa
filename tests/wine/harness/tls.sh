# Sourced after lib.sh by the tests that download over HTTPS.
#
#   tls_make_certs DIR      a test CA and server certificates, made with openssl
#   tls_trust_ca CERT       CERT in the prefix's root store until the test ends
#   start_nginx_tls ROOT    nginx over TLS, one port per server certificate
#
# The certificates live in the test's scratch folder only; the CA is trusted
# by the Wine prefix alone, never by the machine.

# tls_make_certs DIR: writes into DIR
#   ca.pem / ca.key        "Tidestart Test CA", to be trusted
#   good.pem               127.0.0.1 and localhost, from that CA, valid now
#   otherhost.pem          downloads.example.net only, from that CA, valid now
#   expired.pem            127.0.0.1 and localhost, from that CA, ended in 2021
#   unknownca.pem          127.0.0.1 and localhost, from a CA nobody trusts
# (each NAME.pem with its NAME.key).
tls_make_certs() {
  local d=$1
  mkdir -p "$d"
  _tls() { openssl "$@" >>"$d/openssl.log" 2>&1 || fail "openssl $1 failed: $(tail -5 "$d/openssl.log")"; }
  local ca cn
  for ca in ca rogue; do
    cn="Tidestart Test CA"
    [ "$ca" = rogue ] && cn="Unknown Test CA"
    _tls req -x509 -newkey rsa:2048 -nodes -sha256 -days 30 -keyout "$d/$ca.key" -out "$d/$ca.pem" \
      -subj "/CN=$cn" -addext basicConstraints=critical,CA:TRUE \
      -addext keyUsage=critical,keyCertSign,cRLSign
  done
  # name CA SAN [START END]: a server certificate signed by CA; START and END
  # (YYYYMMDDHHMMSSZ) through `openssl ca`, which alone takes past dates.
  _tls_leaf() {
    local name=$1 issuer=$2 san=$3
    local first=${san%%,*}
    _tls req -new -newkey rsa:2048 -nodes -sha256 -keyout "$d/$name.key" -out "$d/$name.csr" -subj "/CN=${first#*:}"
    printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\nsubjectAltName=%s\n' \
      "$san" > "$d/$name.ext"
    if [ -z "${4:-}" ]; then
      _tls x509 -req -in "$d/$name.csr" -CA "$d/$issuer.pem" -CAkey "$d/$issuer.key" -CAcreateserial \
        -days 30 -sha256 -extfile "$d/$name.ext" -out "$d/$name.pem"
    else
      mkdir -p "$d/ca.db"
      : > "$d/ca.db/index.txt"
      cat > "$d/ca.db/ca.cnf" <<CNF
[ca]
default_ca = test
[test]
database = $d/ca.db/index.txt
new_certs_dir = $d/ca.db
serial = $d/ca.db/serial
default_md = sha256
policy = any
[any]
commonName = supplied
CNF
      openssl rand -hex 8 > "$d/ca.db/serial"
      _tls ca -batch -config "$d/ca.db/ca.cnf" -cert "$d/$issuer.pem" -keyfile "$d/$issuer.key" \
        -startdate "$4" -enddate "$5" -extfile "$d/$name.ext" -in "$d/$name.csr" -out "$d/$name.pem" -notext
    fi
  }
  _tls_leaf good ca "DNS:localhost,IP:127.0.0.1"
  _tls_leaf otherhost ca "DNS:downloads.example.net"
  _tls_leaf expired ca "DNS:localhost,IP:127.0.0.1" 20200101000000Z 20210101000000Z
  _tls_leaf unknownca rogue "DNS:localhost,IP:127.0.0.1"
}

# tls_trust_ca CERT: adds CERT to the Root store of the local machine of
# the prefix (HKLM\Software\Microsoft\SystemCertificates\Root, in both
# registry views), as CertAddEncodedCertificateToStore keeps it: a key named
# by the certificate's SHA-1 hash whose Blob is the serialized certificate
# (property 32, the encoded certificate: id, 1, length, DER). Removed again
# when the test ends. Sets TLS_CA_SHA1.
tls_trust_ca() {
  local der=$TEST_TMP/trusted-ca.der view key hex
  openssl x509 -in "$1" -outform DER -out "$der" || fail "cannot read $1"
  TLS_CA_SHA1=$(sha1sum "$der" | cut -c1-40 | tr a-f A-F)
  key="HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\$TLS_CA_SHA1"
  hex=$(python3 - "$der" <<'PY'
import struct, sys
der = open(sys.argv[1], "rb").read()
print((struct.pack("<III", 32, 1, len(der)) + der).hex())
PY
)
  for view in 64 32; do
    wine_run 30 reg add "$key" /v Blob /t REG_BINARY /d "$hex" /f "/reg:$view" </dev/null >/dev/null 2>&1 ||
      fail "the test CA could not be added to the prefix's root store ($view-bit view)"
    on_exit "wine_run 30 reg delete '$key' /f /reg:$view </dev/null >/dev/null 2>&1"
  done
}

# start_nginx_tls ROOT [CERT_DIR]: serves ROOT over TLS on 127.0.0.1, one
# free port per server certificate of tls_make_certs (made into
# $TEST_TMP/tls when no CERT_DIR is given), range requests honoured. Sets
# TLS_URL (the good certificate), TLS_URL_OTHERHOST, TLS_URL_EXPIRED,
# TLS_URL_UNKNOWNCA (https://localhost:PORT: Wine's WinInet matches the
# host against the certificate's DNS names only, never its IP addresses),
# NGINX_ACCESS_LOG (lines as
# start_nginx writes them, then port=PORT from=CLIENT) and NGINX_ERROR_LOG
# (at level info: it names each refused handshake).
start_nginx_tls() {
  local root dir certs name port servers=""
  root=$(readlink -m "$1")
  certs=${2:-$TEST_TMP/tls}
  [ -f "$certs/good.pem" ] || tls_make_certs "$certs"
  dir=$(mktemp -d "$TEST_TMP/nginx-tls.XXXXXX")
  NGINX_ACCESS_LOG=$dir/access.log
  NGINX_ERROR_LOG=$dir/error.log
  mkdir -p "$dir/tmp"
  for name in good otherhost expired unknownca; do
    port=$(free_port)
    case $name in
      good) TLS_URL=https://localhost:$port ;;
      otherhost) TLS_URL_OTHERHOST=https://localhost:$port ;;
      expired) TLS_URL_EXPIRED=https://localhost:$port ;;
      unknownca) TLS_URL_UNKNOWNCA=https://localhost:$port ;;
    esac
    servers+="
  server {
    listen 127.0.0.1:$port ssl;
    ssl_certificate $certs/$name.pem;
    ssl_certificate_key $certs/$name.key;
    root $root;
    access_log $NGINX_ACCESS_LOG tide;
  }"
    eval "_tls_port_$name=$port"
  done
  local user=""
  [ "$(id -u)" = 0 ] && user="user root;"
  cat > "$dir/nginx.conf" <<CONF
$user
worker_processes 1;
pid $dir/nginx.pid;
error_log $NGINX_ERROR_LOG info;
events { worker_connections 64; }
http {
  access_log off;
  log_format tide '"\$request" \$status \$body_bytes_sent range="\$http_range" ua="\$http_user_agent" port=\$server_port from=\$remote_addr';
  client_body_temp_path $dir/tmp;
  proxy_temp_path $dir/tmp;
  fastcgi_temp_path $dir/tmp;
  uwsgi_temp_path $dir/tmp;
  scgi_temp_path $dir/tmp;
  types { application/octet-stream bin; text/plain ini; }
$servers
}
CONF
  /usr/sbin/nginx -p "$dir" -c "$dir/nginx.conf" -e "$NGINX_ERROR_LOG" 2>>"$NGINX_ERROR_LOG" \
    || fail "nginx did not start: $(cat "$NGINX_ERROR_LOG")"
  on_exit "kill \$(cat '$dir/nginx.pid') 2>/dev/null"
  for name in good otherhost expired unknownca; do
    eval "port=\$_tls_port_$name"
    _wait_port "$port" || fail "nginx does not listen on $port"
  done
  # curl, trusting the test CA, sees the good server; its line is not kept.
  curl -s --max-time 10 --noproxy '*' --cacert "$certs/ca.pem" -o /dev/null "$TLS_URL/" ||
    fail "curl cannot reach $TLS_URL with the test CA"
  : > "$NGINX_ACCESS_LOG"
}

# The connections that ended without a request, from line N of nginx's
# error log on: a client that rejects the server's certificate closes the
# connection after the handshake (Wine's WinInet), or fails the handshake
# with an alert.
tls_refused_handshakes() {
  tail -n +"${1:-1}" "$NGINX_ERROR_LOG" |
    grep -E 'closed connection while waiting for request|SSL_do_handshake\(\) failed' || true
}
