#!/usr/bin/env bash
# Sets up dagl on a Debian 12 machine and runs it or its tests.
#
#   scripts/dagl.sh run    install what is missing, build, prepare build/program, start the program
#   scripts/dagl.sh test   install what is missing, build, prepare build/program, run every test
#   scripts/dagl.sh bench  the same set-up, then the benchmarks
#   scripts/dagl.sh pg     start a throwaway PostgreSQL 15 on 127.0.0.1 (data in build/pg, on the
#                          same port at every start) for trying the catalogue on a server;
#                          `scripts/dagl.sh pg-stop` stops it
#
# DAGL_SAMPLE=N fills N generated catalogue records into a newly made database.
set -euo pipefail

cd "$(dirname "$0")/.."
root=$(pwd)
build="$root/build"
mode=${1:-run}

packages=(build-essential cmake pkg-config
          qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libgl-dev
          libsqlcipher-dev zlib1g-dev libxlsxwriter-dev libharfbuzz-dev python3-openpyxl
          fonts-noto-cjk xvfb xauth poppler-utils
          postgresql-15 libpq-dev)
# The benchmarks also time the engine's own shell.
if [ "$mode" = bench ]; then packages+=(sqlcipher); fi

install_missing() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

build_all() {
  local werror=OFF
  [ -n "${CI:-}" ] && werror=ON
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDAGL_WERROR=$werror
  cmake --build "$build" -j"$(nproc)"
}

prepare_folder() {
  # The program folder: the executable with its database and branding beside it; an
  # existing database or InitDir/Init.ini is kept as it is. Excel/ is where exports go;
  # the program never makes it.
  mkdir -p "$build/program/Excel"
  local db
  db=$(find "$build/program" -maxdepth 2 -ipath "*/data/kdmx.mdb" 2>/dev/null | head -n 1)
  if [ -z "$db" ]; then
    if [ -n "${DAGL_SAMPLE:-}" ]; then
      "$build/tools/dagl-initdb" "$build/program" --fill "$DAGL_SAMPLE"
    else
      "$build/tools/dagl-initdb" "$build/program"
    fi
  else
    echo "Keeping the existing database $db"
    # A folder made before the set-up wrote the branding gets it now; one it has is kept.
    "$build/tools/dagl-initdb" "$build/program" --branding
  fi
}

install_missing
case "$mode" in
  pg)
    "$root/scripts/pg-cluster.sh" start "$build/pg"
    echo "  create the tables: PGPASSFILE=$build/pg/pgpass $build/tools/dagl-initdb --server \"host=127.0.0.1 port=$(cat "$build/pg/port") dbname=dagl user=dagl\" [--copy-from $build/program]"
    printf '  then in the program folder'"'"'s myini.ini:\n    [catalogue]\n    kind=server\n    host=127.0.0.1\n    port=%s\n    dbname=dagl\n    user=dagl\n    passfile=%s\n' "$(cat "$build/pg/port")" "$build/pg/pgpass"
    exit 0
    ;;
  pg-stop)
    exec "$root/scripts/pg-cluster.sh" stop "$build/pg"
    ;;
esac
build_all
prepare_folder

case "$mode" in
  run)
    if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
      exec "$build/program/dagl"
    else
      echo "No display: starting the program on a virtual screen (xvfb)."
      exec xvfb-run -a -s "-screen 0 1280x800x24" "$build/program/dagl"
    fi
    ;;
  test)
    (cd "$build" && ctest --output-on-failure -j2)
    # Once more in a debug build under AddressSanitizer and UBSan, where Qt's own range
    # checks are on as well.
    cmake -S "$root" -B "$root/build-check" -DCMAKE_BUILD_TYPE=Debug -DDAGL_SANITIZE=ON
    cmake --build "$root/build-check" -j"$(nproc)"
    (cd "$root/build-check" && ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure -j2)
    ;;
  bench)
    # Every benchmark on one generated catalogue (made once, kept in build/bench-data).
    records=${DAGL_BENCH_RECORDS:-1000000}
    export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
    data="$build/bench-data"
    if [ ! -f "$data/data/kdmx.mdb" ]; then
      rm -rf "$data"
      "$build/tools/dagl-initdb" "$data" --fill "$records"
      cp "$data/data/kdmx.mdb" "$data/kdmx.pristine"
    fi
    "$build/bench/dagl-bench-query" "$data"
    "$build/bench/dagl-bench-grid" --records "$records"
    "$build/bench/dagl-bench-export"
    "$build/bench/dagl-bench-reports" "$data"
    "$build/bench/dagl-bench-forms" "$data"
    # A million rows to .xlsx beside .csv.
    "$build/bench/dagl-bench-export" 1000000 csv,xlsx
    "$build/bench/dagl-bench-import"
    "$build/bench/dagl-bench-ini"
    "$build/bench/dagl-bench-numbers" "$records" "$data"
    cp "$data/kdmx.pristine" "$data/data/kdmx.mdb"
    "$build/bench/dagl-bench-maintenance" "$records" "$data/data/kdmx.mdb"
    # Last: it deletes rows of the catalogue.
    cp "$data/kdmx.pristine" "$data/data/kdmx.mdb"
    "$build/bench/dagl-bench" "$records" "$data"
    ;;
  *)
    echo "usage: scripts/dagl.sh run|test|bench|pg|pg-stop" >&2
    exit 2
    ;;
esac
