#!/usr/bin/env bash
# Builds the Debian package (scripts/package.sh) and checks it on a clean Debian 12 system:
# a minimal root made by mmdebstrap from Debian's packages (cached between runs), booted
# with systemd in a container (systemd-nspawn). There, apt installs the package with what
# it depends on, and an ordinary user renders the sample codes, looks up a pixel, lists the
# maps, draws a region map (when `zembra map` exists), runs `zembra serve` on loopback,
# reads `man zembra` and starts the client on an X server (Xvfb, on this machine). systemd
# starts the service zembra-serve. Then the package is removed and purged, and the root
# must hold nothing that was not there before, but what the user made in their home.
#   scripts/test-package.sh [PACKAGE.deb]   (default: build it)
# Run as root. ZEMBRA_CI_CACHE names the cache folder (default /var/cache/zembra-ci).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

started=$(date +%s)
if [ $# -ge 1 ]; then
  deb=$(realpath "$1")
else
  deb=$(scripts/package.sh)
fi
packaged=$(date +%s)
echo "test-package: package $deb (built in $((packaged - started)) s)"
out=$(dirname "$deb")
for tool in mmdebstrap systemd-nspawn Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "test-package: $tool missing (scripts/setup.sh installs it)" >&2; exit 1; }
done

cache=${ZEMBRA_CI_CACHE:-/var/cache/zembra-ci}
mkdir -p "$cache/archives/partial"

# The clean root: Debian 12's required packages and apt, with systemd to boot it, man-db
# and curl for the checks. Rebuilt when this list or the machine's apt sources change.
suite=bookworm
include=systemd,systemd-sysv,dbus,man-db,curl,procps
sources=/etc/apt/sources.list.d/debian.sources
[ -f "$sources" ] || sources=/etc/apt/sources.list
key=$( (echo "$suite $include"; cat "$sources") | sha256sum | cut -c1-16)
base="$cache/$suite-$key.tar"
if [ ! -f "$base" ]; then
  echo "test-package: making a clean $suite root (mmdebstrap, from $sources)"
  # A folder left by an interrupted or older run goes too; the format is named, because
  # mmdebstrap reads it from the file name and "$base.tmp" would make a folder.
  rm -rf "$cache/$suite"-*.tar "$base.tmp"
  mmdebstrap --quiet --variant=apt --format=tar --include="$include" "$suite" "$base.tmp" - \
    <"$sources"
  mv "$base.tmp" "$base"
fi

work=$(mktemp -d /var/tmp/zembra-ci-root.XXXXXX)
machine="zembra-ci-$$"
nspawn_pid="" leader="" xvfb_pid="" display=""
cleanup() {
  local from=$SECONDS
  if [ -n "$leader" ] && kill -0 "$leader" 2>/dev/null; then
    # Everything worth checking is checked: stop at once, without the services' shutdown.
    nsenter -t "$leader" -a systemctl poweroff --force --force >/dev/null 2>&1 || true
  fi
  if [ -n "$nspawn_pid" ]; then
    for _ in $(seq 60); do kill -0 "$nspawn_pid" 2>/dev/null || break; sleep 0.5; done
    if kill -0 "$nspawn_pid" 2>/dev/null; then kill "$nspawn_pid" 2>/dev/null || true; sleep 2; fi
  fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
  echo "test-package: container stopped and root removed in $((SECONDS - from)) s"
}
trap cleanup EXIT
tar -C "$work" -xf "$base"

passed=0 failed=0
check() {  # check DESCRIPTION COMMAND...: runs the command, counts and reports the outcome
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
    echo "ok - $what"
  else
    failed=$((failed + 1))
    echo "FAIL - $what"
  fi
}

# --- an X server for the client, then boot the root ------------------------------------
for n in $(seq 90 150); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=$n; break; fi
done
Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
[ -e "/tmp/.X11-unix/X$display" ] || { echo "test-package: Xvfb did not start on :$display" >&2; exit 1; }
systemd-nspawn --quiet -D "$work" -M "$machine" --boot --register=no --keep-unit \
  --console=pipe --bind="$cache/archives:/var/cache/apt/archives" \
  --bind-ro="$out:/srv/package" --bind-ro=/tmp/.X11-unix \
  >"$out/test-package-boot.log" 2>&1 </dev/null &
nspawn_pid=$!
for _ in $(seq 100); do
  leader=$(ps -o pid= --ppid "$nspawn_pid" | head -n1 | tr -d ' ' || true)
  [ -n "$leader" ] && [ "$(cat "/proc/$leader/comm" 2>/dev/null)" = systemd ] && break
  leader=""
  sleep 0.2
done
[ -n "$leader" ] || { echo "test-package: the container did not start" >&2; cat "$out/test-package-boot.log" >&2; exit 1; }
in_root() { nsenter -t "$leader" -a -- "$@"; }
# Booted when systemd says so (running, or degraded when a unit of the minimal root failed);
# before, its bus may not answer yet and boot jobs (such as cleaning /tmp) still run.
state=""
for _ in $(seq 120); do
  state=$(in_root systemctl is-system-running 2>/dev/null || true)
  case "$state" in running | degraded) break ;; esac
  sleep 0.5
done
echo "test-package: booted $suite in a container (${state:-no answer})"
case "$state" in running | degraded) ;; *) echo "test-package: the container did not boot" >&2; exit 1 ;; esac
[ "$state" = running ] || in_root systemctl --failed --no-pager || true

# An ordinary user, before anything is installed.
in_root useradd --create-home --shell /bin/bash tester
as_user() {
  in_root runuser -u tester -- env -i HOME=/home/tester USER=tester LOGNAME=tester \
    PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 ${display:+DISPLAY=:$display} "$@"
}
aptlog="$out/test-package-apt.log"
: >"$aptlog"
apt_in_root() {  # apt-get in the root, its output in the log, and its end shown on failure
  echo "# apt-get $*" >>"$aptlog"
  in_root env DEBIAN_FRONTEND=noninteractive apt-get -q -y -o Dpkg::Use-Pty=0 "$@" >>"$aptlog" 2>&1 ||
    { tail -n 30 "$aptlog" | sed 's/^/  /'; return 1; }
}

# What the root holds, apart from what changes by itself (logs, caches, package lists, the
# package database, systemd's own state) and the test user's home: paths, and the content
# of every file under /etc.
snapshot() {
  in_root sh -c '
    find / -xdev \( -path /proc -o -path /sys -o -path /dev -o -path /run -o -path /tmp \
      -o -path /var/tmp -o -path /var/log -o -path /var/cache -o -path /var/lib/apt \
      -o -path /var/lib/dpkg -o -path /home/tester -o -path /srv/package \
      -o -path /var/lib/systemd/catalog -o -path /var/lib/systemd/random-seed \
      -o -path /var/lib/systemd/timers -o -path /var/lib/systemd/coredump \
      -o -path /var/lib/private \) -prune -o -print | LC_ALL=C sort
    find /etc -xdev -type f ! -name "*-" ! -name ld.so.cache -exec md5sum {} + | LC_ALL=C sort -k2'
}

# --- install -------------------------------------------------------------------------------
apt_in_root update
name=$(basename "$deb")
depends=$(dpkg-deb -f "$deb" Depends)
echo "test-package: Depends: $depends"
# What the package depends on first, so that the package's own traces can be told apart.
apt_in_root satisfy --no-install-recommends "$depends"
# What an administrator set up before: "SQL Server" registered to FreeTDS (as scripts/setup.sh
# does) and another viewer chosen for one of the .chm types. Installing must use both as
# they are, and removing must leave them so.
odbc_dir=/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/odbc
in_root sh -c "printf '[SQL Server]\nDescription=set up by hand\nDriver=$odbc_dir/libtdsodbc.so\n' >/root/sqlserver.ini &&
  odbcinst -i -d -f /root/sqlserver.ini >/dev/null && rm /root/sqlserver.ini"
mkdir -p "$work/etc/xdg"
printf '[Default Applications]\napplication/x-chm=other-viewer.desktop;\n' >"$work/etc/xdg/mimeapps.list"
before=$(mktemp) after=$(mktemp)
snapshot >"$before"
# A snapshot that failed would make the comparison at the end pass for nothing.
[ "$(wc -l <"$before")" -gt 1000 ] || { echo "test-package: the snapshot of the root failed" >&2; exit 1; }
check "apt-get installs the package" \
  apt_in_root install --no-install-recommends "/srv/package/$name"
check "the installed files match the package's checksums" in_root dpkg --verify zembra

# --- as an ordinary user -------------------------------------------------------------------
as_user mkdir -p /home/tester/out
render_err=$(as_user zembra render 08873 08232 -o /home/tester/out/nj.png 2>&1 >/dev/null || true)
check "zembra renders the sample codes ($render_err)" \
  test "$render_err" = "placed 2 of 2 zip codes"
check "the picture written is a PNG" \
  sh -c "[ \"\$(head -c 8 '$work/home/tester/out/nj.png' | od -An -tx1 | tr -d ' \n')\" = 89504e470d0a1a0a ]"
lookup=$(as_user zembra lookup 1724 406 2>&1 || true)
check "zembra lookup names the code under a pixel ($lookup)" \
  test "$lookup" = "08873 40.507194 -74.52128 Somerset, NJ"
list=$(as_user zembra list 2>&1 || true)
check "zembra list shows the maps and markers" \
  sh -c 'for w in usa alaska hawaii red_dot_11; do printf "%s\n" "$1" | grep -q "$w" || exit 1; done' _ "$list"
map_err=$(as_user sh -c 'cd /home/tester/out && zembra map --region NJ -o nj-map.png' 2>&1 || true)
check "zembra map draws a region map with its world file ($map_err)" \
  sh -c "[ -s '$work/home/tester/out/nj-map.png' ] && [ -s '$work/home/tester/out/nj-map.pgw' ]"
region_err=$(as_user zembra render 08873 08232 --region NJ -o /home/tester/out/nj-region.png 2>&1 >/dev/null || true)
check "zembra render draws on a region map ($region_err)" test "$region_err" = "placed 2 of 2 zip codes"
# The map generator reads the boundary data installed with it, not a folder of the build.
mapgen_err=$(as_user zembra-mapgen --bounds 40,45,-80,-70 --width 400 --out /home/tester/out/northeast.jpg 2>&1 || true)
check "zembra-mapgen draws from the installed boundary data (${mapgen_err%%$'\n'*})" \
  sh -c "[ -s '$work/home/tester/out/northeast.jpg' ] && [ -s '$work/home/tester/out/northeast.jgw' ]"

# zembra serve on loopback, on a free port, stopped by SIGTERM.
as_user sh -c 'zembra serve --port 0 >/home/tester/serve.out 2>/home/tester/serve.err & echo $! >/home/tester/serve.pid'
url=""
for _ in $(seq 100); do
  url=$(sed -n 's|.*listening on \(http://[^ ]*\)|\1|p' "$work/home/tester/serve.out" 2>/dev/null)
  [ -n "$url" ] && break
  sleep 0.1
done
health=$(as_user curl -sS --max-time 10 "${url}healthz" 2>&1 || true)
check "zembra serve answers /healthz on loopback ($url: $health)" \
  sh -c "printf '%s' '$health' | grep -q '\"status\": *\"ok\"'"
case "$url" in http://127.0.0.1:*) loopback=yes ;; *) loopback=no ;; esac
check "zembra serve listens on the loopback address" test "$loopback" = yes
in_root kill -TERM "$(cat "$work/home/tester/serve.pid")" 2>/dev/null || true
for _ in $(seq 50); do grep -q "stopped" "$work/home/tester/serve.err" && break; sleep 0.1; done
check "zembra serve stops on SIGTERM" grep -q "stopped" "$work/home/tester/serve.err"

# The manual pages, found by man as a user finds them.
man_sections() {
  local text section
  text=$(as_user env MANPAGER=cat MANWIDTH=100 man zembra 2>&1) || return 1
  for section in "ZEMBRA RENDER" "ZEMBRA LOOKUP" "ZEMBRA LIST" "ZEMBRA DB LOAD" "ZEMBRA SERVE" "THE SERVICE"; do
    grep -q "^$section" <<<"$text" || { echo "  man zembra: no section $section"; return 1; }
  done
}
check "man zembra has a section per command" man_sections
page_has() { as_user env MANPAGER=cat man "$1" 2>/dev/null | grep -q "$2"; }
check "man ZembraClient opens" page_has ZembraClient "Batch Data Entry"
whatis_both() { [ "$(as_user whatis zembra ZembraClient 2>/dev/null | grep -c '(1)')" = 2 ]; }
check "whatis knows both pages" whatis_both

# The ODBC driver names and the help viewer, as the client finds them.
drivers_registered() {  # prints nothing; succeeds when both names name an existing library
  local name lib
  for name in "Microsoft Access Driver (*.mdb)" "SQL Server"; do
    lib=$(in_root odbcinst -q -d -n "$name" 2>/dev/null | sed -n 's/^Driver=//p')
    [ -n "$lib" ] && [ -f "$work$lib" ] || { echo "  \"$name\": ${lib:-not registered}"; return 1; }
  done
}
check "the ODBC driver names are registered to existing drivers" drivers_registered
viewer=$(as_user xdg-mime query default application/vnd.ms-htmlhelp 2>&1 || true)
check "the help viewer opens .chm files ($viewer)" test "$viewer" = xchm.desktop
check "a viewer chosen before stays in the system's list" \
  grep -qx 'application/x-chm=other-viewer.desktop;' "$work/etc/xdg/mimeapps.list"

# --- the client's window, on an X server of this machine --------------------------------------
as_user sh -c 'ZembraClient >/home/tester/client.log 2>&1 & echo $! >/home/tester/client.pid'
window=""
for _ in $(seq 60); do
  window=$(DISPLAY=":$display" xdotool search --onlyvisible --name "^Zembra, version" 2>/dev/null | head -n1 || true)
  [ -n "$window" ] && break
  sleep 0.5
done
check "ZembraClient shows its main window" test -n "$window"
if [ -n "$window" ] && command -v import >/dev/null && import -version 2>/dev/null | grep -q ImageMagick; then
  sleep 1
  DISPLAY=":$display" import -window root "$out/test-package-client.png" 2>/dev/null || true
fi
in_root kill "$(cat "$work/home/tester/client.pid")" 2>/dev/null || true
[ -s "$work/home/tester/client.log" ] && { echo "test-package: the client said:"; sed 's/^/  /' "$work/home/tester/client.log"; }

# --- the service ---------------------------------------------------------------------------
unit=zembra-serve.service
is_disabled() { [ "$(in_root systemctl is-enabled "$unit" 2>/dev/null)" = disabled ]; }
check "the service is installed, not enabled" is_disabled
# A free port through its defaults file, as an administrator would set it.
in_root sed -i 's/^ZEMBRA_SERVE_OPTS=.*/ZEMBRA_SERVE_OPTS="--bind 127.0.0.1 --port 0"/' /etc/default/zembra-serve
in_root systemctl start "$unit" || true
service_url=""
for _ in $(seq 100); do
  service_url=$(in_root journalctl -u "$unit" -o cat --no-pager 2>/dev/null | sed -n 's|.*listening on \(http://[^ ]*\)|\1|p' | tail -n1)
  [ -n "$service_url" ] && break
  sleep 0.1
done
service_health=$(in_root curl -sS --max-time 10 "${service_url}healthz" 2>&1 || true)
check "systemd starts zembra-serve and it answers /healthz ($service_url: $service_health)" \
  sh -c "printf '%s' '$service_health' | grep -q '\"status\": *\"ok\"'"
service_user=$(in_root sh -c "ps -o user= -p \$(systemctl show -p MainPID --value $unit)" 2>/dev/null || true)
check "the service runs as its own system user ($service_user)" test "$service_user" = zembra-serve
in_root curl -sS --max-time 30 -H 'Content-Type: application/json' \
  -d '{"map": "usa", "zips": ["08873"], "format": "png"}' "${service_url}api/render" >/dev/null 2>&1 || true
if in_root zembra serve --help 2>/dev/null | grep -q -- --store; then
  check "the service keeps its store in its state folder" \
    sh -c "[ -n \"\$(find '$work/var/lib/zembra-serve' -type f 2>/dev/null | head -n1)\" ]"
fi
state_owner=$(in_root stat -c %U /var/lib/zembra-serve 2>/dev/null || true)
check "the state folder belongs to the service user ($state_owner)" test "$state_owner" = zembra-serve
in_root systemd-analyze security "$unit" --no-pager 2>/dev/null | tail -n1 | sed 's/^/test-package: systemd-analyze security: /' || true
in_root systemctl stop "$unit" || true

# --- remove, then purge --------------------------------------------------------------------
check "apt-get removes the package" apt_in_root remove zembra
check "the programs are gone" sh -c "[ ! -e '$work/usr/bin/zembra' ] && [ ! -e '$work/usr/libexec/zembra' ]"
ours_unregistered() {
  local access sqlserver
  access=$(in_root odbcinst -q -d -n "Microsoft Access Driver (*.mdb)" 2>/dev/null || true)
  sqlserver=$(in_root odbcinst -q -d -n "SQL Server" 2>/dev/null || true)
  [ -z "$(grep '^Driver=' <<<"$access")" ] || { echo "  the Access driver is still registered"; return 1; }
  grep -q '^Description=set up by hand' <<<"$sqlserver" || { echo "  \"SQL Server\" as set up before is gone: $sqlserver"; return 1; }
}
check "the ODBC driver name the package registered is gone, the one set up before stays" ours_unregistered
check "the help viewer default is undone, the viewer chosen before stays" \
  sh -c "! grep -qs xchm '$work/etc/xdg/mimeapps.list' && grep -qx 'application/x-chm=other-viewer.desktop;' '$work/etc/xdg/mimeapps.list'"
check "apt-get purges the package" apt_in_root purge zembra
check "the service user is gone" sh -c "! grep -q '^zembra-serve:' '$work/etc/passwd' '$work/etc/group'"
snapshot >"$after"
left=$(diff "$before" "$after" || true)
check "nothing is left but what the user made" test -z "$left"
[ -n "$left" ] && printf 'test-package: before/after purge:\n%s\n' "$left"
rm -f "$before" "$after"

ended=$(date +%s)
echo "test-package: package built in $((packaged - started)) s, checked in $((ended - packaged)) s"
echo "test-package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
