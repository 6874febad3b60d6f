#!/usr/bin/env bash
# A whole `zelm session` against the real Dovecot (user u39) over 2000 messages of about 3 KB,
# side by side with a minimal POP3 client doing the same dialogue: (a) every message new
# (UIDL, LIST, TOP n 0 each), (b) every message already in the Cache (UIDL each); then the
# same two sessions over POP3S (TLS from the first byte) beside the plain ones. Prints the
# median times, their ratios and the session's peak memory. Figures only, never a pass/fail.
# Needs the servers of tests/support/servers.sh (scripts/bench starts them).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
zelm=${ZELM_BENCH_ZELM:-$root/build-bench/app/zelm}
messages=${ZELM_BENCH_MESSAGES:-2000}
rounds=${ZELM_BENCH_ROUNDS:-5}
user=u39
: "${ZELM_TEST_POP3_PORT:?start the test servers first (scripts/bench does)}"
: "${ZELM_TEST_MAILROOT:?start the test servers first (scripts/bench does)}"

work=$(mktemp -d /tmp/zelm-session-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
client=$work/minimal_pop3_client
c++ -std=c++20 -O2 "$root/bench/tools/minimal_pop3_client.cpp" -o "$client" -lssl -lcrypto

# The mailbox: messages of about 3 KB, as a mail client would leave them.
maildir=$ZELM_TEST_MAILROOT/$user/Maildir
rm -f "$maildir"/new/* "$maildir"/cur/*
/usr/bin/python3 - "$maildir" "$messages" <<'PY'
import os, sys
maildir, count = sys.argv[1], int(sys.argv[2])
body = "".join("Line %02d of a message body that is about three kilobytes long, padded.\r\n" % i
               for i in range(36))
for n in range(1, count + 1):
    text = ("Return-Path: <sender%d@example.com>\r\nFrom: Sender %d <sender%d@example.com>\r\n"
            "To: bench@example.com\r\nSubject: Benchmark message %d\r\n"
            "Message-Id: <%d.bench@example.com>\r\nDate: Mon, 7 Jun 1999 10:15:02 +0000\r\n"
            "\r\n" % (n, n, n, n, n)) + body
    name = os.path.join(maildir, "new", "%010d.bench" % n)
    with open(name, "w", newline="") as out:
        out.write(text)
    os.chmod(name, 0o666)
PY

home=$work/home
tls_home=$work/home-tls
# configure HOME PORT [SECURITY]: the benchmark mailbox in HOME, read from PORT.
configure() {
  local settings=("$zelm" --home "$1" settings set)
  "${settings[@]}" --type int Mailboxes/bench MailboxEnabled 1 >/dev/null
  "${settings[@]}" Mailboxes/bench Host 127.0.0.1 >/dev/null
  "${settings[@]}" Mailboxes/bench Port "$2" >/dev/null
  "${settings[@]}" Mailboxes/bench UserID "$user" >/dev/null
  "${settings[@]}" --type password Mailboxes/bench Password pw >/dev/null
  "${settings[@]}" Mailboxes/bench Cache 10000 >/dev/null
  "${settings[@]}" Mailboxes/bench Pop3Security "${3:-none}" >/dev/null
}
configure "$home" "$ZELM_TEST_POP3_PORT"
# The same mailbox over POP3S (trusted through SSL_CERT_FILE, which servers.sh sets).
configure "$tls_home" "$ZELM_TEST_POP3S_PORT" tls

# Dovecot indexes the new messages at the first login; keep that out of every measurement.
"$client" "$ZELM_TEST_POP3_PORT" "$user" pw new >/dev/null

# run LABEL COMMAND...: wall time in ms appended to $work/LABEL, peak RSS in KB to LABEL.rss.
run() {
  local label=$1
  shift
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f "%M" -o "$work/rss" "$@" >/dev/null
  end=$(date +%s%N)
  echo $(((end - start) / 1000000)) >>"$work/$label"
  cat "$work/rss" >>"$work/$label.rss"
}
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
largest() { sort -n "$1" | tail -1; }

# The fixed cost of starting zelm and a session with nothing to visit, to read the ratios by.
empty=$work/empty
for _ in $(seq "$rounds"); do
  run session-empty "$zelm" --home "$empty" session
  rm -f "$home/bench.dat"
  run session-new "$zelm" --home "$home" session
  run client-new "$client" "$ZELM_TEST_POP3_PORT" "$user" pw new
  run session-cached "$zelm" --home "$home" session
  run client-cached "$client" "$ZELM_TEST_POP3_PORT" "$user" pw cached
  rm -f "$tls_home/bench.dat"
  run tls-new "$zelm" --home "$tls_home" session
  run tls-client-new "$client" "$ZELM_TEST_POP3S_PORT" "$user" pw new tls
  run tls-cached "$zelm" --home "$tls_home" session
  run tls-client-cached "$client" "$ZELM_TEST_POP3S_PORT" "$user" pw cached tls
done

for dir in "$home" "$tls_home"; do
  grep -q "Summary(bench): Tot:$messages New:0 " "$dir"/???.log ||
    { echo "the cached session in $dir did not find every message in the Cache" >&2; exit 1; }
done

echo "zelm session vs minimal POP3 client, $messages messages of ~3 KB, median of $rounds runs"
printf '%-22s %10s %10s %7s %14s\n' case "zelm ms" "client ms" ratio "zelm peak KB"
for case in new cached; do
  s=$(median "$work/session-$case")
  c=$(median "$work/client-$case")
  printf '%-22s %10s %10s %7s %14s\n' "($case)" "$s" "$c" \
    "$(awk -v s="$s" -v c="$c" 'BEGIN { printf "%.2f", (c > 0 ? s / c : 0) }')" \
    "$(largest "$work/session-$case.rss")"
done
printf '%-22s %10s %10s %7s %14s\n' "(no mailbox: start-up)" "$(median "$work/session-empty")" \
  - - "$(largest "$work/session-empty.rss")"

echo
echo "POP3S (TLS from the first byte) vs plain POP3, $messages messages, median of $rounds runs"
printf '%-10s %9s %9s %7s %10s %10s %7s %12s\n' case "zelm TLS" plain ratio "client TLS" plain ratio \
  "TLS peak KB"
for case in new cached; do
  zt=$(median "$work/tls-$case")
  zp=$(median "$work/session-$case")
  ct=$(median "$work/tls-client-$case")
  cp=$(median "$work/client-$case")
  ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
  printf '%-10s %9s %9s %7s %10s %10s %7s %12s\n' "($case)" "$zt" "$zp" "$(ratio "$zt" "$zp")" \
    "$ct" "$cp" "$(ratio "$ct" "$cp")" "$(largest "$work/tls-$case.rss")"
done
