#!/usr/bin/env bash
# journal-harness.sh: runs one command beside a private systemd-journald, so that tests can write to a real
# journal and read it back without touching the machine's own journal.
#
# Usage:   tests/integration/journal-harness.sh COMMAND [ARG...]
#
# The command runs as root in a private mount namespace with tmpfs over /run and /var/log and a journald of
# its own (volatile storage, no rate limit, no forwarding). Inside, everything reaches that journald the
# usual way: sd_journal_send/print (/run/systemd/journal/socket), syslog(3) (/dev/log), stdout streams;
# sd_journal_open(SD_JOURNAL_LOCAL_ONLY) and `journalctl -D "$JOURNAL_HARNESS_DIR" -o json` read it.
# Everything else of /run (XDG_RUNTIME_DIR included) starts empty: create what the command needs.
#
# The command always runs, and learns from its environment whether the journal is there:
#   JOURNAL_HARNESS=ready          the private journald is up and answered a probe record;
#                                  JOURNAL_HARNESS_DIR is the directory it writes (/run/log/journal).
#   JOURNAL_HARNESS=unavailable    it could not be set up (not root, no unshare, no journald, ...);
#                                  JOURNAL_HARNESS_REASON says why. The command then runs outside any
#                                  namespace and must not write to the journal: it should report a skip
#                                  (GoogleTest: see JournalHarness.h, GTEST_SKIP with the reason).
# The exit status is the command's. journald's own output is in $JOURNAL_HARNESS_LOG while the command runs
# and is printed when the setup fails.
#
# CTest: add_test(NAME x COMMAND ${CMAKE_SOURCE_DIR}/tests/integration/journal-harness.sh $<TARGET_FILE:x>)
# and set_tests_properties(x PROPERTIES SKIP_REGULAR_EXPRESSION "journal harness unavailable") so that a
# skip shows as skipped, never as passed. A shell test checks "$JOURNAL_HARNESS" = ready (exit 77 otherwise
# and give SKIP_RETURN_CODE 77).
set -uo pipefail

journald=${JOURNAL_HARNESS_JOURNALD:-/lib/systemd/systemd-journald}
self=$(readlink -f "$0")

if [ $# -eq 0 ]; then
    echo "usage: $0 COMMAND [ARG...]" >&2
    exit 2
fi

# Stage 1, outside: check what we can, then re-enter ourselves in a private mount namespace.
if [ "${JOURNAL_HARNESS_STAGE:-}" != inside ]; then
    reason=""
    if [ "$(id -u)" -ne 0 ]; then
        reason="needs root for a private mount namespace and journald (running as uid $(id -u))"
    elif ! command -v unshare >/dev/null; then
        reason="unshare (util-linux) is not installed"
    elif [ ! -x "$journald" ]; then
        reason="$journald is missing (Debian package systemd)"
    elif ! command -v journalctl >/dev/null || ! command -v systemd-cat >/dev/null; then
        reason="journalctl or systemd-cat is missing (Debian package systemd)"
    elif ! unshare -m --propagation private true 2>/dev/null; then
        reason="cannot create a private mount namespace (unshare -m failed)"
    fi
    if [ -n "$reason" ]; then
        echo "journal harness unavailable: $reason" >&2
        JOURNAL_HARNESS=unavailable JOURNAL_HARNESS_REASON="$reason" exec "$@"
    fi
    JOURNAL_HARNESS_STAGE=inside exec unshare -m --propagation private "$self" "$@"
fi
unset JOURNAL_HARNESS_STAGE

# Stage 2, inside the namespace. A failure from here on still runs the command, but in this namespace with
# /run possibly replaced: it must then skip, which it will since JOURNAL_HARNESS says so.
fail() {
    echo "journal harness unavailable: $1" >&2
    [ -n "${JOURNAL_HARNESS_LOG:-}" ] && [ -s "$JOURNAL_HARNESS_LOG" ] && sed 's/^/journald: /' "$JOURNAL_HARNESS_LOG" >&2
    [ -n "${journald_pid:-}" ] && kill "$journald_pid" 2>/dev/null && wait "$journald_pid" 2>/dev/null
    JOURNAL_HARNESS=unavailable JOURNAL_HARNESS_REASON="$1" exec "${command[@]}"
}
command=("$@")

mount -t tmpfs -o mode=0755,nosuid,nodev tmpfs /run || fail "cannot mount a tmpfs over /run"
mount -t tmpfs -o mode=0755,nosuid,nodev tmpfs /var/log || fail "cannot mount a tmpfs over /var/log"
mkdir -p /run/systemd/journal /run/systemd/journald.conf.d /run/journal-harness
export JOURNAL_HARNESS_LOG=/run/journal-harness/journald.log

# /run/systemd/journald.conf.d is read after /etc's drop-ins, so these settings win.
cat >/run/systemd/journald.conf.d/90-journal-harness.conf <<'EOF'
[Journal]
Storage=volatile
ReadKMsg=no
ForwardToSyslog=no
ForwardToKMsg=no
ForwardToConsole=no
ForwardToWall=no
RateLimitIntervalSec=0
RateLimitBurst=0
EOF

# journald names its directory after the machine id; a container may come with an empty one.
if [ ! -s /etc/machine-id ]; then
    [ -e /etc/machine-id ] || fail "/etc/machine-id is missing"
    tr -d '-' </proc/sys/kernel/random/uuid >/run/journal-harness/machine-id
    mount --bind /run/journal-harness/machine-id /etc/machine-id || fail "cannot provide a machine id"
fi

# syslog(3) writes to /dev/log. Where that is the usual link into /run nothing is needed; a socket of some
# other daemon is covered by a bind mount; where it is missing, /dev is rebuilt on a tmpfs (every entry of
# the real /dev bound back) so that the link can be added without touching the real /dev.
devlog_target=/run/systemd/journal/dev-log
link_dev_log() {
    if [ "$(readlink /dev/log 2>/dev/null)" = "$devlog_target" ]; then
        return 0
    fi
    if [ -e /dev/log ] || [ -L /dev/log ]; then
        [ -S /dev/log ] || return 1
        touch /run/journal-harness/dev-log-placeholder
        # Bound once journald has made its socket (below).
        bind_dev_log=1
        return 0
    fi
    local host=/run/journal-harness/host-dev
    mkdir -p "$host" && mount --rbind /dev "$host" || return 1
    mount -t tmpfs -o mode=0755,nosuid tmpfs /dev || return 1
    local entry name
    for entry in "$host"/* "$host"/.[!.]*; do
        [ -e "$entry" ] || [ -L "$entry" ] || continue
        name=${entry##*/}
        if [ -L "$entry" ]; then
            cp -P "$entry" "/dev/$name" || return 1
        elif [ -d "$entry" ]; then
            mkdir -p "/dev/$name" && mount --rbind "$entry" "/dev/$name" || return 1
        else
            touch "/dev/$name" && mount --bind "$entry" "/dev/$name" || return 1
        fi
    done
    umount -l "$host"
    ln -s "$devlog_target" /dev/log
}
bind_dev_log=0
link_dev_log || fail "cannot make /dev/log reach the private journald"

unset NOTIFY_SOCKET WATCHDOG_PID WATCHDOG_USEC LISTEN_FDS LISTEN_PID LISTEN_FDNAMES
"$journald" >"$JOURNAL_HARNESS_LOG" 2>&1 &
journald_pid=$!
trap 'kill "$journald_pid" 2>/dev/null; wait "$journald_pid" 2>/dev/null' EXIT

for _ in $(seq 100); do
    [ -S /run/systemd/journal/socket ] && [ -S "$devlog_target" ] && break
    kill -0 "$journald_pid" 2>/dev/null || fail "systemd-journald exited at start"
    sleep 0.05
done
[ -S /run/systemd/journal/socket ] || fail "systemd-journald did not create its socket within 5 s"
if [ "$bind_dev_log" = 1 ]; then
    mount --bind "$devlog_target" /dev/log || fail "cannot bind /dev/log to the private journald"
fi

# A probe record through the stream socket proves that records are written where readers look.
export JOURNAL_HARNESS_DIR=/run/log/journal
probe="journal-harness probe $$ $RANDOM"
echo "$probe" | systemd-cat -t journal-harness || fail "systemd-cat could not reach the private journald"
found=0
for _ in $(seq 100); do
    if journalctl -q -D "$JOURNAL_HARNESS_DIR" SYSLOG_IDENTIFIER=journal-harness -o cat 2>/dev/null |
        grep -qxF "$probe"; then
        found=1
        break
    fi
    sleep 0.05
done
[ "$found" = 1 ] || fail "the probe record did not appear in $JOURNAL_HARNESS_DIR within 5 s"

export JOURNAL_HARNESS=ready
unset JOURNAL_HARNESS_REASON
"${command[@]}"
status=$?
exit "$status"
