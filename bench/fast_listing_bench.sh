#!/usr/bin/env bash
# The per-message dialogue and the "Fast listing" side by side in one run, against the real
# Dovecot (user u39), on loopback and through bench/tools/latency_proxy at 20 ms round trip:
# 200 messages all new, 2000 messages all in the Cache, and on loopback 2000 new beside a raw
# pipelined client (bench/tools/minimal_pop3_client pipelined). Prints medians and ratios.
# Each round runs every case once, so a busy machine slows all of them alike; the figures are
# still noisy on a shared machine. Figures only, never a pass/fail.
# Needs the servers of tests/support/servers.sh (scripts/bench starts them).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
zelm=${ZELM_BENCH_ZELM:-$root/build-bench/app/zelm}
rounds=${ZELM_BENCH_ROUNDS:-3}
one_way_ms=${ZELM_BENCH_ONE_WAY_MS:-10}
user=u39
: "${ZELM_TEST_POP3_PORT:?start the test servers first (scripts/bench does)}"
: "${ZELM_TEST_MAILROOT:?start the test servers first (scripts/bench does)}"

work=$(mktemp -d /tmp/zelm-fast-bench.XXXXXX)
proxy_pid=
cleanup() {
  [ -n "$proxy_pid" ] && kill "$proxy_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
client=$work/minimal_pop3_client
proxy=$work/latency_proxy
c++ -std=c++20 -O2 "$root/bench/tools/minimal_pop3_client.cpp" -o "$client" -lssl -lcrypto
c++ -std=c++20 -O2 "$root/bench/tools/latency_proxy.cpp" -o "$proxy"

"$proxy" "$ZELM_TEST_POP3_PORT" "$one_way_ms" >"$work/proxy.port" &
proxy_pid=$!
for _ in $(seq 50); do [ -s "$work/proxy.port" ] && break; sleep 0.1; done
far_port=$(head -1 "$work/proxy.port")
near_port=$ZELM_TEST_POP3_PORT

# fill N: the mailbox holds N messages of about 3 KB, already indexed by Dovecot.
maildir=$ZELM_TEST_MAILROOT/$user/Maildir
fill() {
  rm -f "$maildir"/new/* "$maildir"/cur/*
  /usr/bin/python3 - "$maildir" "$1" <<'PY'
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
  "$client" "$near_port" "$user" pw cached >/dev/null
}

# configure HOME PORT FAST: the benchmark mailbox in HOME, read from PORT.
configure() {
  local settings=("$zelm" --home "$1" settings set)
  "${settings[@]}" --type int Mailboxes/bench MailboxEnabled 1 >/dev/null
  "${settings[@]}" Mailboxes/bench Host 127.0.0.1 >/dev/null
  "${settings[@]}" Mailboxes/bench Port "$2" >/dev/null
  "${settings[@]}" Mailboxes/bench UserID "$user" >/dev/null
  "${settings[@]}" --type password Mailboxes/bench Password pw >/dev/null
  "${settings[@]}" Mailboxes/bench Cache 10000 >/dev/null
  "${settings[@]}" --type int "" FastListing "$3" >/dev/null
}
for link in near far; do
  for mode in plain fast; do
    port=$near_port
    [ $link = far ] && port=$far_port
    fast=0
    [ $mode = fast ] && fast=1
    configure "$work/$mode-$link" "$port" "$fast"
  done
done

# run LABEL COMMAND...: wall time in ms appended to $work/LABEL.
run() {
  local label=$1 start end
  shift
  start=$(date +%s%N)
  "$@" >/dev/null
  end=$(date +%s%N)
  echo $(((end - start) / 1000000)) >>"$work/$label"
}
# session LABEL HOME [new]: one zelm session, with an empty Cache when new is given.
session() {
  [ "${3:-}" = new ] && rm -f "$2/bench.dat"
  run "$1" "$zelm" --home "$2" session
  grep -h "Summary(bench)" "$2"/???.log | tail -1 | cut -c22- >>"$work/$1.summary"
}
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

fill 200
for _ in $(seq "$rounds"); do
  for link in near far; do
    for mode in plain fast; do
      session "new200-$mode-$link" "$work/$mode-$link" new
    done
  done
done

fill 2000
for link in near far; do
  for mode in plain fast; do
    rm -f "$work/$mode-$link/bench.dat"
  done
done
# The Cache for the cached runs comes from one session; every home takes the same data file.
"$zelm" --home "$work/plain-near" session >/dev/null
cp "$work/plain-near/bench.dat" "$work/cache.dat"
for _ in $(seq "$rounds"); do
  for link in near far; do
    for mode in plain fast; do
      cp "$work/cache.dat" "$work/$mode-$link/bench.dat"
      session "cached2000-$mode-$link" "$work/$mode-$link"
    done
  done
  for mode in plain fast; do
    session "new2000-$mode-near" "$work/$mode-near" new
  done
  run "new2000-client-near" "$client" "$near_port" "$user" pw pipelined
done

# Both dialogues must have come to the same summary in every case.
for case in new200-near new200-far cached2000-near cached2000-far new2000-near; do
  label=${case%-*}
  link=${case##*-}
  if ! cmp -s "$work/$label-plain-$link.summary" "$work/$label-fast-$link.summary"; then
    echo "the two dialogues differ in $case" >&2
    exit 1
  fi
done

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
echo "per-message dialogue vs Fast listing, Dovecot, median of $rounds side-by-side runs (ms)"
printf '%-26s %10s %10s %8s\n' case per-message fast "speed-up"
for label in new200 cached2000; do
  for link in near far; do
    p=$(median "$work/$label-plain-$link")
    f=$(median "$work/$label-fast-$link")
    name="$label, loopback"
    [ $link = far ] && name="$label, $((2 * one_way_ms)) ms RTT"
    printf '%-26s %10s %10s %8s\n' "$name" "$p" "$f" "$(ratio "$p" "$f")x"
  done
done
p=$(median "$work/new2000-plain-near")
f=$(median "$work/new2000-fast-near")
c=$(median "$work/new2000-client-near")
printf '%-26s %10s %10s %8s\n' "new2000, loopback" "$p" "$f" "$(ratio "$p" "$f")x"
echo "new2000 on loopback: raw pipelined client $c ms; Fast listing / client $(ratio "$f" "$c")"
