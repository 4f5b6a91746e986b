#!/usr/bin/env bash
# Runs a command with a home folder and an /opt of its own: a private mount
# namespace in which HOME_DIR is bound over the user's home folder (from the
# password database, as the launcher finds it) and OPT_DIR over /opt, so the
# real ones are never touched.
# Usage: scripts/sandbox.sh [--read-only-opt | --small-opt BYTES] HOME_DIR OPT_DIR WORK_DIR COMMAND [ARGS...]
# With --read-only-opt the bound /opt cannot be written, not even by root.
# With --small-opt /opt is a fresh tmpfs of BYTES (a small disk that fills up)
# that starts with a copy of OPT_DIR; what the command leaves there is copied
# back into OPT_DIR when it ends, and its exit status is kept.
#
# As root this is a plain mount namespace. A normal user gets one inside user
# namespaces of their own where the kernel allows them, otherwise through
# passwordless sudo (dropping back to the user for the command). In a chroot
# (a fresh machine's root made with debootstrap, say) it works too: see below.
set -euo pipefail
arguments=("$@")
usage="usage: scripts/sandbox.sh [--read-only-opt | --small-opt BYTES] HOME_DIR OPT_DIR WORK_DIR COMMAND [ARGS...]"
mount_opt='mount --bind "$3" /opt; '
small_opt=
case "${1-}" in
  --read-only-opt)
    mount_opt=$mount_opt'mount -o remount,bind,ro /opt; '
    shift ;;
  --small-opt)
    small_opt=${2-}
    case "$small_opt" in ''|*[!0-9]*) echo "$usage" >&2; exit 2 ;; esac
    mount_opt='mount -t tmpfs -o size='$small_opt',mode=1777 velmoran-small-opt /opt; cp -a "$3"/. /opt; '
    shift 2 ;;
esac
if [ $# -lt 4 ]; then
  echo "$usage" >&2
  exit 2
fi
home=$1 opt=$2 work=$3
shift 3
uid=$(id -u)
gid=$(id -g)
real_home=$(getent passwd "$uid" | cut -d: -f6)
if [ -z "$real_home" ]; then
  echo "sandbox: user $uid has no home folder in the password database" >&2
  exit 125
fi
binds='set -e; mount --bind "$1" "$2"; '$mount_opt'opt_dir=$3; cd "$4"; shift 4'
# How the namespace's shell runs the command it is given (RUNNER "$@"): in
# place, or with the small /opt copied back once it ends.
run() {
  if [ -z "$small_opt" ]; then
    echo "exec $1 \"\$@\""
  else
    echo "set +e; $1 \"\$@\"; status=\$?; rm -rf \"\$opt_dir\"/* \"\$opt_dir\"/.[!.]*; cp -a /opt/. \"\$opt_dir\"; exit \$status"
  fi
}

# In a chroot "/" is not a mount point: it cannot be made private, and a
# mount made under it would also appear in every namespace that shares the
# mount the chroot lies in (the host's, where mounts are shared). The sandbox
# then first builds a root of its own in a new namespace: a tmpfs over the
# root of the mount at /sys (or /dev), made private first so nothing done on
# it propagates, holding a private copy of the tree, in which "/" is a mount
# point; there it starts itself again, as the user who ran it.
reroot='set -e
anchor=$1 self=$2 cwd=$3 as_user=$4
shift 4
mount --make-private "$anchor"
mount -t tmpfs -o mode=0700 velmoran-sandbox-root "$anchor"
mkdir "$anchor/root"
mount --rbind / "$anchor/root"
mount --make-rprivate "$anchor/root"
umount "$anchor/root$anchor"
exec chroot "$anchor/root" $as_user sh -c '"'"'cd "$1" && shift && exec "$@"'"'"' sh "$cwd" "$self" "$@"'
if ! mountpoint -q /; then
  self=$(readlink -f "$0")
  anchor=
  for candidate in /sys /dev; do
    if mountpoint -q "$candidate"; then anchor=$candidate; break; fi
  done
  if [ -z "$anchor" ]; then
    echo "sandbox: / is not a mount point (a chroot?) and neither /sys nor /dev is one to build a private root on;" \
      "mount /sys or /dev in it" >&2
    exit 125
  fi
  if [ "$uid" -eq 0 ]; then
    exec unshare --mount --propagation unchanged sh -c "$reroot" sh "$anchor" "$self" "$PWD" "" "${arguments[@]}"
  fi
  if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
    exec sudo -n -E unshare --mount --propagation unchanged sh -c "$reroot" sh "$anchor" "$self" "$PWD" \
      "setpriv --reuid=$uid --regid=$gid --init-groups" "${arguments[@]}"
  fi
fi

if [ "$uid" -eq 0 ]; then
  exec unshare --mount --propagation private \
    sh -c "$binds; $(run '')" sh "$home" "$real_home" "$opt" "$work" "$@"
fi
# Mounting needs root in the namespace; a second user namespace inside it
# then maps the user back, so the command runs with its own uid and home.
if unshare --user --map-root-user --mount true 2>/dev/null; then
  exec unshare --user --map-root-user --mount --propagation private \
    sh -c "$binds; $(run "unshare --user --map-user=$uid --map-group=$gid")" \
    sh "$home" "$real_home" "$opt" "$work" "$@"
fi
if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
  exec sudo -n -E unshare --mount --propagation private \
    sh -c "$binds; $(run "setpriv --reuid=$uid --regid=$gid --init-groups")" \
    sh "$home" "$real_home" "$opt" "$work" "$@"
fi
echo "sandbox: cannot make a private mount namespace as $(id -un): this kernel refuses user" \
  "namespaces and sudo asks for a password; run the command as root (sudo $0 ...)" >&2
exit 125
