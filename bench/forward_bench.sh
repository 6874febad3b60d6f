#!/usr/bin/env bash
# A whole `zelm session` that forwards one 20 MB message (a filter's "Fwd to" action) from the
# real Dovecot (user u38) to the real SMTP sink: prints the time and the session's peak memory
# next to the message size. Figures only, never a pass/fail.
# Needs the servers of tests/support/servers.sh (scripts/bench starts them).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
zelm=${ZELM_BENCH_ZELM:-$root/build-bench/app/zelm}
megabytes=${ZELM_BENCH_MEGABYTES:-20}
user=u38
: "${ZELM_TEST_POP3_PORT:?start the test servers first (scripts/bench does)}"
: "${ZELM_TEST_MAILROOT:?start the test servers first (scripts/bench does)}"
: "${ZELM_TEST_SMTP_PORT:?start the test servers first (scripts/bench does)}"

work=$(mktemp -d /tmp/zelm-forward-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
maildir=$ZELM_TEST_MAILROOT/$user/Maildir
rm -f "$maildir"/new/* "$maildir"/cur/*
/usr/bin/python3 - "$maildir/new/big.bench" "$megabytes" <<'PY'
import os, sys
path, megabytes = sys.argv[1], int(sys.argv[2])
line = "This line of a large message body is seventy-six characters long, padded.\r\n"
with open(path, "w", newline="") as out:
    out.write("From: Big <big@example.com>\r\nTo: bench@example.com\r\nSubject: big one\r\n\r\n")
    for _ in range(megabytes * 1024 * 1024 // len(line)):
        out.write(line)
os.chmod(path, 0o666)
PY
size=$(stat -c %s "$maildir/new/big.bench")

home=$work/home
set_value() { "$zelm" --home "$home" settings set "$@" >/dev/null; }
set_value --type int Mailboxes/box MailboxEnabled 1
set_value Mailboxes/box Host 127.0.0.1
set_value Mailboxes/box Port "$ZELM_TEST_POP3_PORT"
set_value Mailboxes/box UserID "$user"
set_value --type password Mailboxes/box Password pw
set_value Mailboxes/box SMTPHost 127.0.0.1
set_value Mailboxes/box SMTPPort "$ZELM_TEST_SMTP_PORT"
set_value Mailboxes/box SMTPFrom bench@example.com
set_value --type list Mailboxes/box Operation big
set_value --type list Mailboxes/box/Filters/big Rules '      Subject contains `big`'
set_value --type list Mailboxes/box/Filters/big Actions 'Fwd to: copy@example.com'

/usr/bin/time -f '%e %M' -o "$work/time" "$zelm" --home "$home" session
read -r seconds peak <"$work/time"
grep -q ' - sent msg to copy@example.com' "$home"/*.log || { echo "the message was not forwarded" >&2; exit 1; }
echo "zelm session forwarding one message of $((size / 1024)) KB"
echo "time ${seconds} s, peak memory ${peak} KB ($(awk -v p="$peak" -v s="$size" 'BEGIN { printf "%.1f", p * 1024 / s }')x the message)"
