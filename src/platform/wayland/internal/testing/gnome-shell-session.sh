#!/bin/sh
# A private headless GNOME Shell for tests and the demo: gnome-shell-session.sh DIR EXTENSION_DIR...
#
# DIR (outside /tmp, writable by uid 65534) becomes HOME and XDG_RUNTIME_DIR. As root the shell runs as uid
# 65534 in a mount and network namespace of its own with a fresh /tmp (for Xwayland's sockets). Its system
# and session buses listen on DIR/system_bus and DIR/session_bus and admit every user, so that tests can check
# that the extension itself turns strangers away. The extensions given are copied in and enabled before the
# shell starts; notification banners are off. Writes DIR/pid (the process to end with SIGTERM) at once and
# DIR/ready once the shell owns its bus name. Programs that need the shell's X display (:0) enter its
# namespaces with `nsenter --target $(cat DIR/pid) --mount --net`.
set -eu
dir=$1
shift

if [ "$(id -u)" = 0 ] && [ -z "${TANDREL_GNOME_INNER:-}" ]; then
  chown 65534:65534 "$dir"
  exec unshare --mount --net sh -c '
    mount -t tmpfs -o mode=1777 tmpfs /tmp && mkdir -m 1777 /tmp/.X11-unix
    echo $$ > "$0/pid"
    script=$1
    shift
    exec setpriv --pdeathsig TERM --reuid=65534 --regid=65534 --clear-groups \
      env -i PATH=/usr/bin:/bin TANDREL_GNOME_INNER=1 sh "$script" "$0" "$@"' "$dir" "$(readlink -f "$0")" "$@"
fi
[ -e "$dir/pid" ] || echo $$ > "$dir/pid"

export HOME="$dir" XDG_RUNTIME_DIR="$dir" XDG_CONFIG_HOME="$dir/config" XDG_DATA_HOME="$dir/data"
export XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME NO_AT_BRIDGE=1
for bus in system session; do
  servicedirs=""
  [ $bus = session ] && servicedirs="<standard_session_servicedirs/>"
  cat > "$dir/$bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>$bus</type>
  <listen>unix:path=$dir/${bus}_bus</listen>
  $servicedirs
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow receive_sender="*"/>
    <allow eavesdrop="true"/>
  </policy>
</busconfig>
EOF
done

children=""
trap 'kill $children 2>/dev/null; wait' EXIT
trap 'exit 0' TERM INT
dbus-daemon --config-file="$dir/system.conf" --nofork --nopidfile &
children="$children $!"
dbus-daemon --config-file="$dir/session.conf" --nofork --nopidfile &
children="$children $!"
while [ ! -S "$dir/system_bus" ] || [ ! -S "$dir/session_bus" ]; do sleep 0.05; done
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$dir/system_bus" DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/session_bus"

uuids=""
mkdir -p "$XDG_DATA_HOME/gnome-shell/extensions"
for extension in "$@"; do
  uuid=$(basename "$extension")
  cp -r "$extension" "$XDG_DATA_HOME/gnome-shell/extensions/$uuid"
  uuids="$uuids${uuids:+, }'$uuid'"
done
gsettings set org.gnome.shell enabled-extensions "[$uuids]"
gsettings set org.gnome.shell welcome-dialog-last-shown-version "'999'"
gsettings set org.gnome.desktop.notifications show-banners false

gnome-shell --headless --wayland --virtual-monitor 1280x800 --wayland-display wayland-gnome &
shell=$!
children="$children $shell"
until gdbus call --session --timeout 1 --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.NameHasOwner org.gnome.Shell 2>/dev/null | grep -q true; do
  kill -0 $shell || exit 1
  sleep 0.1
done
touch "$dir/ready"
wait $shell
