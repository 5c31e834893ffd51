#!/usr/bin/env bash
# Registers with unixODBC the ODBC driver names that the client's connection strings use:
#   "Microsoft Access Driver (*.mdb)" -> mdbtools' driver
#   "SQL Server"                      -> FreeTDS's driver
# Idempotent: an entry that already names the same library is left alone, and other
# entries of odbcinst.ini are never touched. Honours ODBCSYSINI like unixODBC itself,
# so a private driver list can be written for tests.
set -euo pipefail

command -v odbcinst >/dev/null || { echo "register-odbc-drivers: odbcinst not found (install unixodbc)" >&2; exit 1; }

# Finds a driver library by file name: the multiarch ODBC folder first, then wherever
# the package manager or the linker cache knows it.
find_driver() {
  local name=$1 dir path
  for dir in "/usr/lib/$(gcc -print-multiarch 2>/dev/null || echo x86_64-linux-gnu)/odbc" \
             /usr/lib/x86_64-linux-gnu/odbc /usr/lib/odbc /usr/local/lib/odbc /usr/lib64; do
    if [ -f "$dir/$name" ]; then echo "$dir/$name"; return 0; fi
  done
  path=$(dpkg -S "/$name" 2>/dev/null | sed -n 's/^[^:]*: //p' | head -n1 || true)
  if [ -n "$path" ] && [ -f "$path" ]; then echo "$path"; return 0; fi
  path=$(ldconfig -p 2>/dev/null | awk -v n="$name" '$1 == n { print $NF; exit }')
  if [ -n "$path" ] && [ -f "$path" ]; then echo "$path"; return 0; fi
  return 1
}

# The library currently registered for a driver name, empty when none.
registered_library() {
  odbcinst -q -d -n "$1" 2>/dev/null | sed -n 's/^[[:space:]]*Driver[[:space:]]*=[[:space:]]*//p' | head -n1
}

register() {
  local name=$1 file=$2 description=$3 lib current tmp
  if ! lib=$(find_driver "$file"); then
    echo "register-odbc-drivers: $file not found; \"$name\" not registered" >&2
    return 1
  fi
  current=$(registered_library "$name")
  if [ "$current" = "$lib" ]; then
    return 0
  fi
  # Same name, other library: remove just this section (odbcinst -u lowers the usage
  # count and drops the section at zero), then add ours.
  local tries=0
  while [ -n "$current" ] && [ $tries -lt 20 ]; do
    odbcinst -u -d -n "$name" >/dev/null || break
    current=$(registered_library "$name")
    tries=$((tries + 1))
  done
  tmp=$(mktemp)
  printf '[%s]\nDescription = %s\nDriver = %s\nUsageCount = 1\n' "$name" "$description" "$lib" > "$tmp"
  odbcinst -i -d -r < "$tmp" >/dev/null || { rm -f "$tmp"; return 1; }
  rm -f "$tmp"
  echo "register-odbc-drivers: \"$name\" -> $lib"
}

status=0
register "Microsoft Access Driver (*.mdb)" libmdbodbc.so "Access databases (mdbtools)" || status=1
register "SQL Server" libtdsodbc.so "SQL Server (FreeTDS)" || status=1
exit $status
