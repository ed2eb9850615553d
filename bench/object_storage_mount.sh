#!/bin/bash
# object_storage_mount.sh up DIR MOUNTPOINT MILLISECONDS DELAY_LINE STATE_DIR
# object_storage_mount.sh down STATE_DIR
# Serves DIR over HTTP with nginx in one network namespace and mounts it at MOUNTPOINT with
# rclone in another, caching off, as object storage is often reached; the two namespaces are
# joined through DELAY_LINE (bench/delay_line.c), which delays each frame MILLISECONDS each
# way. All traffic stays between the two namespaces made here. `up` says on stderr what is
# missing and fails when it cannot be done (rclone, nginx, ethtool, /dev/fuse, namespaces);
# `down` undoes whatever `up` did. The server's log, in STATE_DIR/sent, gets the bytes of each
# response.
set -uo pipefail
net=lzma2bench server=10.213.7.2 client=10.213.7.1

down() {
  local state=$1
  [[ -f $state/mountpoint ]] && { fusermount -u "$(cat "$state/mountpoint")" 2> /dev/null || true; }
  for pidfile in "$state"/*.pid; do
    [[ -f $pidfile ]] && kill "$(cat "$pidfile")" 2> /dev/null
  done
  ip netns del ${net}_server 2> /dev/null
  ip netns del ${net}_client 2> /dev/null
  ip link del ${net}_s0 2> /dev/null
  ip link del ${net}_c0 2> /dev/null
  return 0
}

up() {
  local dir mount_point=$2 delay=$3 delay_line=$4 state=$5 missing=""
  for command in rclone nginx ethtool ip; do
    command -v $command > /dev/null || PATH=$PATH:/usr/sbin command -v $command > /dev/null ||
      missing+=" $command"
  done
  [[ -e /dev/fuse ]] || missing+=" /dev/fuse"
  [[ -x $delay_line ]] || missing+=" $delay_line"
  if [[ -n $missing ]]; then
    echo "object storage mount: missing$missing" >&2
    return 1
  fi
  export PATH=$PATH:/usr/sbin
  dir=$(realpath "$1")
  mkdir -p "$state" "$mount_point"
  echo "$mount_point" > "$state/mountpoint"
  down "$state"
  if ! ip netns add ${net}_server 2> "$state/netns.log" || ! ip netns add ${net}_client; then
    echo "object storage mount: no network namespaces here ($(cat "$state/netns.log"))" >&2
    return 1
  fi
  # Two veth pairs, one end of each in a namespace and the other out here for the delay line;
  # whole frames, since the delay line passes them on as they are.
  local pair side ns outer inner
  for pair in s:server c:client; do
    side=${pair%%:*} ns=${net}_${pair#*:}
    outer=${net}_${side}0 inner=${net}_${side}1
    ip link add "$outer" type veth peer name "$inner" || return 1
    ip link set "$inner" netns "$ns"
    ip netns exec "$ns" ip addr add "$([[ $side == s ]] && echo $server || echo $client)/24" \
      dev "$inner"
    ip netns exec "$ns" ip link set lo up
    ip netns exec "$ns" ip link set "$inner" up
    ip netns exec "$ns" ethtool -K "$inner" tso off gso off gro off tx off rx off &> /dev/null
    ip link set "$outer" up
    ethtool -K "$outer" tso off gso off gro off tx off rx off &> /dev/null
  done
  "$delay_line" ${net}_s0 ${net}_c0 "$delay" 2> "$state/delay_line.log" &
  echo $! > "$state/delay_line.pid"
  cat > "$state/nginx.conf" << EOF
daemon off;
pid $state/nginx.pid;
error_log $state/nginx.log;
worker_processes 1;
events { worker_connections 256; }
http {
  log_format sent \$bytes_sent;
  access_log $state/sent sent;
  sendfile on;
  server {
    listen $server:8080;
    root $dir;
    autoindex on;
  }
}
EOF
  ip netns exec ${net}_server nginx -c "$state/nginx.conf" -e "$state/nginx.log" &
  echo $! > "$state/nginx_launcher.pid"
  # rclone in the client's network namespace alone, so that its mount is seen from here.
  nsenter --net=/run/netns/${net}_client rclone mount :http: "$mount_point" \
    --http-url "http://$server:8080/" --vfs-cache-mode off --buffer-size 0 --read-only \
    --dir-cache-time 1h 2> "$state/rclone.log" &
  echo $! > "$state/rclone.pid"
  local _
  for _ in $(seq 100); do
    [[ -n $(ls "$mount_point" 2> /dev/null) ]] && return 0
    sleep 0.1
  done
  echo "object storage mount: rclone mounted nothing (see $state/rclone.log)" >&2
  return 1
}

case ${1:-} in
  up) shift && up "$@" ;;
  down) shift && down "$@" ;;
  *) echo "usage: object_storage_mount.sh up DIR MOUNTPOINT MILLISECONDS DELAY_LINE STATE_DIR | down STATE_DIR" >&2 && exit 2 ;;
esac
