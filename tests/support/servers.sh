# Real POP3 (Dovecot) and SMTP (aiosmtpd) servers on loopback for the tests; sourced by
# scripts/test and scripts/bench. Ports are picked at run time.
#   ZELM_TEST_POP3_PORT   Dovecot's POP3 port; users u01..u40, password "pw"
#   ZELM_TEST_MAILROOT    user uNN's maildir is $ZELM_TEST_MAILROOT/uNN/Maildir (owned by nobody)
#   ZELM_TEST_SMTP_PORT   the SMTP sink's port
#   ZELM_TEST_SMTP_SPOOL  every received message is NNNNNN.eml (the data) + NNNNNN.env
#                         (line 1 MAIL FROM, then one RCPT TO per line)
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

  # Dovecot: its own configuration, passwd-file and maildirs; mail belongs to nobody because
  # Dovecot refuses uid 0.
  local dov=$ZELM_TEST_ROOT/dovecot
  export ZELM_TEST_MAILROOT=$ZELM_TEST_ROOT/mail
  mkdir -p "$dov/base" "$dov/state" "$ZELM_TEST_MAILROOT"
  local i user
  : >"$dov/passwd"
  for i in $(seq -w 1 40); do
    user=u$i
    mkdir -p "$ZELM_TEST_MAILROOT/$user/Maildir/new" "$ZELM_TEST_MAILROOT/$user/Maildir/cur" \
      "$ZELM_TEST_MAILROOT/$user/Maildir/tmp"
    echo "$user:{PLAIN}pw:65534:65534::$ZELM_TEST_MAILROOT/$user" >>"$dov/passwd"
  done
  chown -R 65534:65534 "$ZELM_TEST_MAILROOT"
  chmod -R 777 "$ZELM_TEST_MAILROOT"
  export ZELM_TEST_POP3_PORT
  ZELM_TEST_POP3_PORT=$(_zelm_free_port)
  cat >"$dov/dovecot.conf" <<CONF
protocols = pop3
listen = 127.0.0.1
base_dir = $dov/base
state_dir = $dov/state
log_path = $dov/dovecot.log
info_log_path = $dov/dovecot.log
ssl = no
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
    port = 0
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
  export ZELM_TEST_SMTP_PORT
  ZELM_TEST_SMTP_PORT=$(_zelm_free_port)
  /usr/bin/python3 "$_zelm_support_dir/smtp_sink.py" "$ZELM_TEST_SMTP_PORT" "$ZELM_TEST_SMTP_SPOOL" \
    >"$ZELM_TEST_ROOT/smtp.log" 2>&1 &
  ZELM_TEST_SMTP_PID=$!

  _zelm_wait_port "$ZELM_TEST_POP3_PORT" || { cat "$dov"/*.log >&2; return 1; }
  _zelm_wait_port "$ZELM_TEST_SMTP_PORT" || { cat "$ZELM_TEST_ROOT/smtp.log" >&2; return 1; }
  echo "Test servers: POP3 127.0.0.1:$ZELM_TEST_POP3_PORT, SMTP 127.0.0.1:$ZELM_TEST_SMTP_PORT"
}

stop_test_servers() {
  [ -n "${ZELM_TEST_DOVECOT_PID:-}" ] && kill "$ZELM_TEST_DOVECOT_PID" 2>/dev/null
  [ -n "${ZELM_TEST_SMTP_PID:-}" ] && kill "$ZELM_TEST_SMTP_PID" 2>/dev/null
  wait 2>/dev/null
  [ -n "${ZELM_TEST_ROOT:-}" ] && rm -rf "$ZELM_TEST_ROOT"
  return 0
}
