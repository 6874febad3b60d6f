# Real POP3 (Dovecot) and SMTP (aiosmtpd) servers on loopback for the tests; sourced by
# scripts/test and scripts/bench. Ports are picked at run time.
#   ZELM_TEST_POP3_PORT   Dovecot's POP3 port (STLS offered); users u01..u50, password "pw"
#   ZELM_TEST_POP3S_PORT  Dovecot's POP3 port with TLS from the first byte
#   ZELM_TEST_MAILROOT    user uNN's maildir is $ZELM_TEST_MAILROOT/uNN/Maildir (owned by nobody)
#   ZELM_TEST_SMTP_PORT   the SMTP sink's port (plain, no AUTH)
#   ZELM_TEST_SMTP_STARTTLS_PORT  the sink requiring STARTTLS, then AUTH as smtpuser/smtppw
#   ZELM_TEST_SMTPS_PORT  the sink with TLS from the first byte, requiring AUTH
#   ZELM_TEST_SMTP_SPOOL  every received message is NNNNNN.eml (the data) + NNNNNN.env
#                         (line 1 MAIL FROM, then one RCPT TO per line)
#   ZELM_TEST_CA_FILE     the CA that signed the servers' certificate (CN localhost,
#                         DNS:localhost, IP:127.0.0.1), made anew each run; SSL_CERT_FILE
#                         points at it, so every client of the run trusts it and nothing else
# shellcheck shell=bash

_zelm_support_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

_zelm_free_port() {
  /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
}

_zelm_wait_port() {
  local port=$1 i
  for i in $(seq 1 100); do
    if /usr/bin/python3 -c "import socket,sys; socket.create_connection(('127.0.0.1',$port),0.2).close()" 2>/dev/null; then
      return 0
    fi
    sleep 0.1
  done
  echo "server on port $port did not start" >&2
  return 1
}

start_test_servers() {
  ZELM_TEST_ROOT=$(mktemp -d /tmp/zelm-servers.XXXXXX)
  chmod 755 "$ZELM_TEST_ROOT"
  export ZELM_TEST_ROOT

  # A CA and a server certificate for this run only.
  local tls=$ZELM_TEST_ROOT/tls
  mkdir -p "$tls"
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Zelm Test CA" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
    -keyout "$tls/ca.key" -out "$tls/ca.pem" 2>/dev/null
  openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" \
    -keyout "$tls/server.key" -out "$tls/server.csr" 2>/dev/null
  printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=serverAuth\n' >"$tls/ext"
  openssl x509 -req -in "$tls/server.csr" -CA "$tls/ca.pem" -CAkey "$tls/ca.key" \
    -CAcreateserial -days 2 -extfile "$tls/ext" -out "$tls/server.pem" 2>/dev/null
  export ZELM_TEST_CA_FILE=$tls/ca.pem
  export SSL_CERT_FILE=$ZELM_TEST_CA_FILE

  # Dovecot: its own configuration, passwd-file and maildirs; mail belongs to nobody because
  # Dovecot refuses uid 0.
  local dov=$ZELM_TEST_ROOT/dovecot
  export ZELM_TEST_MAILROOT=$ZELM_TEST_ROOT/mail
  mkdir -p "$dov/base" "$dov/state" "$ZELM_TEST_MAILROOT"
  local i user
  : >"$dov/passwd"
  for i in $(seq -w 1 50); do
    user=u$i
    mkdir -p "$ZELM_TEST_MAILROOT/$user/Maildir/new" "$ZELM_TEST_MAILROOT/$user/Maildir/cur" \
      "$ZELM_TEST_MAILROOT/$user/Maildir/tmp"
    echo "$user:{PLAIN}pw:65534:65534::$ZELM_TEST_MAILROOT/$user" >>"$dov/passwd"
  done
  chown -R 65534:65534 "$ZELM_TEST_MAILROOT"
  chmod -R 777 "$ZELM_TEST_MAILROOT"
  export ZELM_TEST_POP3_PORT ZELM_TEST_POP3S_PORT
  ZELM_TEST_POP3_PORT=$(_zelm_free_port)
  ZELM_TEST_POP3S_PORT=$(_zelm_free_port)
  cat >"$dov/dovecot.conf" <<CONF
protocols = pop3
listen = 127.0.0.1
base_dir = $dov/base
state_dir = $dov/state
log_path = $dov/dovecot.log
info_log_path = $dov/dovecot.log
# Loopback counts as secure to Dovecot, so a plain login still works there: the tests of plain
# mailboxes keep passing, and the TLS tests check what the client sends, not what it refuses.
ssl = required
ssl_cert = <$tls/server.pem
ssl_key = <$tls/server.key
disable_plaintext_auth = no
auth_mechanisms = plain
auth_failure_delay = 0
default_internal_user = dovecot
default_login_user = dovenull
first_valid_uid = 1
mail_location = maildir:~/Maildir
pop3_uidl_format = %08Xu%08Xv
service pop3-login {
  inet_listener pop3 {
    address = 127.0.0.1
    port = $ZELM_TEST_POP3_PORT
  }
  inet_listener pop3s {
    address = 127.0.0.1
    port = $ZELM_TEST_POP3S_PORT
    ssl = yes
  }
}
service imap-login {
  inet_listener imap {
    port = 0
  }
  inet_listener imaps {
    port = 0
  }
}
# Failed logins must not slow every later login from loopback: the tests log in wrongly on purpose.
service anvil {
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
passdb {
  driver = passwd-file
  args = $dov/passwd
}
userdb {
  driver = passwd-file
  args = $dov/passwd
}
CONF
  /usr/sbin/dovecot -c "$dov/dovecot.conf" -F >"$dov/stdout.log" 2>&1 &
  ZELM_TEST_DOVECOT_PID=$!

  # SMTP: aiosmtpd writing what it receives into the spool.
  export ZELM_TEST_SMTP_SPOOL=$ZELM_TEST_ROOT/smtp-spool
  mkdir -p "$ZELM_TEST_SMTP_SPOOL"
  export ZELM_TEST_SMTP_PORT ZELM_TEST_SMTP_STARTTLS_PORT ZELM_TEST_SMTPS_PORT
  ZELM_TEST_SMTP_PORT=$(_zelm_free_port)
  ZELM_TEST_SMTP_STARTTLS_PORT=$(_zelm_free_port)
  ZELM_TEST_SMTPS_PORT=$(_zelm_free_port)
  /usr/bin/python3 "$_zelm_support_dir/smtp_sink.py" "$ZELM_TEST_SMTP_SPOOL" \
    "$ZELM_TEST_SMTP_PORT" "$ZELM_TEST_SMTP_STARTTLS_PORT" "$ZELM_TEST_SMTPS_PORT" \
    "$tls/server.pem" "$tls/server.key" >"$ZELM_TEST_ROOT/smtp.log" 2>&1 &
  ZELM_TEST_SMTP_PID=$!

  local port
  for port in "$ZELM_TEST_POP3_PORT" "$ZELM_TEST_POP3S_PORT"; do
    _zelm_wait_port "$port" || { cat "$dov"/*.log >&2; return 1; }
  done
  for port in "$ZELM_TEST_SMTP_PORT" "$ZELM_TEST_SMTP_STARTTLS_PORT" "$ZELM_TEST_SMTPS_PORT"; do
    _zelm_wait_port "$port" || { cat "$ZELM_TEST_ROOT/smtp.log" >&2; return 1; }
  done
  echo "Test servers on 127.0.0.1: POP3 $ZELM_TEST_POP3_PORT, POP3S $ZELM_TEST_POP3S_PORT," \
    "SMTP $ZELM_TEST_SMTP_PORT, STARTTLS $ZELM_TEST_SMTP_STARTTLS_PORT, SMTPS $ZELM_TEST_SMTPS_PORT"
}

stop_test_servers() {
  [ -n "${ZELM_TEST_DOVECOT_PID:-}" ] && kill "$ZELM_TEST_DOVECOT_PID" 2>/dev/null
  [ -n "${ZELM_TEST_SMTP_PID:-}" ] && kill "$ZELM_TEST_SMTP_PID" 2>/dev/null
  wait 2>/dev/null
  [ -n "${ZELM_TEST_ROOT:-}" ] && rm -rf "$ZELM_TEST_ROOT"
  return 0
}
