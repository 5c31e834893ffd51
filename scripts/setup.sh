#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run.
# Idempotent: installs only what is missing and refreshes the package lists only then.
set -euo pipefail

packages=(
  # toolchain
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config binutils file
  clang-format clang-tidy ccache
  libgtest-dev libgmock-dev googletest libbenchmark-dev hyperfine
  # imaging
  libspng-dev libpng-dev zlib1g-dev libjpeg62-turbo-dev libgif-dev
  # map drawing: 2D vector graphics, and the boundary data's JSON
  libcairo2-dev libsimdjson-dev
  # databases and drivers
  libsqlite3-dev sqlite3 unixodbc unixodbc-dev odbc-mdbtools tdsodbc libsqliteodbc libfreexl-dev
  # .xlsx and .ods workbooks (zip archives of XML), and the writers their test files come from
  libzip-dev libexpat1-dev python3-openpyxl python3-odf
  # a shared zip database on a server: the tests start a private PostgreSQL 15 server
  postgresql-15 odbc-postgresql
  # desktop client, command line, help
  qt6-base-dev qt6-base-dev-tools libgl-dev libcli11-dev fp-utils xchm
  xvfb xauth fonts-dejavu-core
  # the desktop check of the real client window under a window manager
  openbox xdotool xclip
  # web server and its browser test
  libboost-dev libcpp-httplib-dev nlohmann-json3-dev chromium nodejs
  # manual pages (groff renders them in the tests), the Debian package (dpkg-shlibdeps) and
  # its check on a clean Debian root booted in a container
  man-db groff-base dpkg-dev mmdebstrap systemd-container
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# npm comes with some builds of nodejs; Debian's own nodejs needs the npm package beside it.
if ! command -v npm >/dev/null; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends npm
fi
# The browser test's driver, pinned in its package-lock.json, into the test's own folder.
browser_test="$here/../cli/tests/serve/browser"
wanted=$(node -p "require('$browser_test/package.json').dependencies['playwright-core']")
installed=$(node -p "require('$browser_test/node_modules/playwright-core/package.json').version" 2>/dev/null || true)
if [ "$installed" != "$wanted" ]; then
  (cd "$browser_test" && npm ci --no-audit --no-fund)
fi
# Register the ODBC drivers under the names the connection strings use.
if [ -x "$here/register-odbc-drivers.sh" ]; then
  "$here/register-odbc-drivers.sh"
fi
# The help viewer for the client's Help > Contents, for this user, unless one is set.
if [ -x "$here/register-help-viewer.sh" ]; then
  "$here/register-help-viewer.sh"
fi
