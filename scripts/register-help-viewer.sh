#!/usr/bin/env bash
# Makes xchm the user's viewer for .chm files, the client's help, for each .chm type that has
# no installed viewer yet. Idempotent: a viewer already set (by the user, the system or an
# earlier run) stays, and only the user's own mimeapps.list is written (by xdg-mime).
set -euo pipefail

viewer=xchm.desktop
types=(application/vnd.ms-htmlhelp application/x-chm)

command -v xdg-mime >/dev/null ||
  { echo "register-help-viewer: xdg-mime not found (install xdg-utils); nothing registered" >&2; exit 0; }

# Whether a desktop entry is installed where the desktop looks for them.
installed() {
  local dirs dir
  IFS=: read -ra dirs <<<"${XDG_DATA_HOME:-$HOME/.local/share}:${XDG_DATA_DIRS:-/usr/local/share:/usr/share}"
  for dir in "${dirs[@]}"; do
    [ -n "$dir" ] && [ -f "$dir/applications/$1" ] && return 0
  done
  return 1
}

installed "$viewer" ||
  { echo "register-help-viewer: $viewer is not installed (install xchm); nothing registered" >&2; exit 0; }

for type in "${types[@]}"; do
  current=$(xdg-mime query default "$type" 2>/dev/null || true)
  current=${current%%;*}
  if [ -n "$current" ] && installed "$current"; then continue; fi
  xdg-mime default "$viewer" "$type"
  echo "register-help-viewer: $viewer now opens $type"
done
