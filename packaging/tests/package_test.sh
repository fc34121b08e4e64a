#!/usr/bin/env bash
# The Debian package as a clinic's IT would meet it, in three steps run by ctest:
#   build   BUILD_DIR PACKAGE_DIR VERSION HAS_WINDOW   cpack of this build's programs, its fields
#   install PACKAGE_DIR VERSION HAS_WINDOW             unpacked into a scratch root and run there
#                                                      as an ordinary user (the printer
#                                                      application as root)
#   lintian PACKAGE_DIR                                Debian's package checker finds no error
set -euo pipefail

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

expect_contains() {  # text pattern what
  grep -qF -- "$2" <<<"$1" || fail "$3: \"$2\" missing in: $1"
}

the_package() {  # package dir, version
  local deb
  deb="$1/velloran_$2_$(dpkg --print-architecture).deb"
  [ -f "$deb" ] || fail "no $deb (found: $(ls "$1"))"
  echo "$deb"
}

step_build() {
  local build=$1 out=$2 version=$3 window=$4
  rm -rf "$out"
  mkdir -p "$out"
  cpack --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 ||
    fail "cpack: $(cat "$out/cpack.log")"
  local deb
  deb=$(the_package "$out" "$version")
  [ "$(dpkg-deb -f "$deb" Package)" = velloran ] || fail "package name"
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "version $(dpkg-deb -f "$deb" Version)"
  [ "$(dpkg-deb -f "$deb" Recommends)" = "orthanc, orthanc-dicomweb, libgxps-utils, ghostscript, pkexec, sane-utils" ] || fail "recommends"
  local depends
  depends=$(dpkg-deb -f "$deb" Depends)
  # What the programs link, found by dpkg-shlibdeps, the media library loaded at run time, and
  # the spooler the printer application serves.
  for package in libc6 libstdc++6 libssl3 libopenjp2-7 libjpeg62-turbo libpng16-16 libavformat \
    libpappl1 cups-daemon cups-client cups-filters; do
    expect_contains "$depends" "$package" "Depends"
  done
  local files
  files=$(dpkg-deb -c "$deb")
  for path in ./usr/bin/velloran-cli ./usr/share/man/man1/velloran-cli.1.gz \
    ./usr/share/bash-completion/completions/velloran-cli ./usr/share/velloran/velloran.ini \
    ./usr/share/doc/velloran/copyright ./usr/share/doc/velloran/changelog.gz \
    ./usr/sbin/velloran-printer ./usr/lib/systemd/system/velloran-printer.service \
    ./usr/share/man/man8/velloran-printer.8.gz; do
    expect_contains "$files" " $path" "package contents"
  done
  # The maintainer scripts that start the service, and take it, its queue and spool away.
  local control
  control=$(mktemp -d)
  dpkg-deb -e "$deb" "$control"
  for script in postinst prerm postrm; do
    [ -x "$control/$script" ] || fail "no $script"
    sh -n "$control/$script" || fail "$script does not parse"
  done
  expect_contains "$(cat "$control/postinst")" "deb-systemd-invoke" "postinst"
  expect_contains "$(cat "$control/postrm")" "rm -rf /var/spool/velloran" "postrm"
  rm -rf "$control"
  if [ "$window" = TRUE ]; then
    expect_contains "$depends" libqt6widgets6 "Depends"
    for path in ./usr/bin/velloran ./usr/share/man/man1/velloran.1.gz \
      ./usr/share/applications/velloran.desktop \
      ./usr/share/icons/hicolor/scalable/apps/velloran.svg \
      ./usr/share/icons/hicolor/48x48/apps/velloran.png \
      ./usr/share/icons/hicolor/256x256/apps/velloran.png; do
      expect_contains "$files" " $path" "package contents"
    done
  fi
  # Nothing beside the Debian places.
  local stray
  stray=$(awk '{print $6}' <<<"$files" |
    grep -vE '^\./(usr/((bin|sbin|share)/.*|lib/(systemd/(system/.*)?)?)?)?$' || true)
  [ -z "$stray" ] || fail "files outside /usr/bin, /usr/sbin, /usr/share and systemd's: $stray"
  echo "built $deb; Depends: $depends"
}

# Runs a command as the unprivileged user nobody with the per-user folders in $xdg.
as_user() {
  setpriv --reuid=nobody --regid=nogroup --clear-groups \
    env -i PATH=/usr/bin:/bin HOME="$xdg/home" XDG_CONFIG_HOME="$xdg/config" \
    XDG_DATA_HOME="$xdg/data" XDG_RUNTIME_DIR="$xdg/runtime" QT_QPA_PLATFORM=offscreen \
    ASAN_OPTIONS="${ASAN_OPTIONS:-}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" "$@"
}

step_install() {
  local out=$1 version=$2 window=$3
  local deb
  deb=$(the_package "$out" "$version")
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  chmod 755 "$scratch"
  root=$scratch/root
  xdg=$scratch/user
  dpkg -x "$deb" "$root"
  install -d -m 700 -o nobody -g nogroup "$xdg" "$xdg/home" "$xdg/config" "$xdg/data" \
    "$xdg/runtime"
  local cli=$root/usr/bin/velloran-cli
  touch "$scratch/stamp"
  sleep 1

  # --version and --help of the installed program; exit codes are documented.
  [ "$(as_user "$cli" --version)" = "velloran-cli $version" ] || fail "--version"
  local help
  help=$(as_user "$cli" --help)
  expect_contains "$help" "exit status:" "--help"
  expect_contains "$help" "  2  wrong arguments" "--help"

  # The manual page renders without complaint and says what --help says.
  local page
  page=$(zcat "$root/usr/share/man/man1/velloran-cli.1.gz" |
    groff -man -Tutf8 -ww -P-cbou 2>"$scratch/groff.err")
  [ ! -s "$scratch/groff.err" ] || fail "groff: $(cat "$scratch/groff.err")"
  expect_contains "$page" "EXIT STATUS" "manual page"
  expect_contains "$page" "wrong arguments: an unknown verb or option" "manual page"
  expect_contains "$page" "usage: velloran-cli send" "manual page"

  # Completion offers the verbs, a verb's options, and the values an option takes.
  local completion=$root/usr/share/bash-completion/completions/velloran-cli
  complete_line() {  # words...; the last one is being completed
    bash -c 'source "$0"; COMP_WORDS=("${@}"); COMP_CWORD=$(($# - 1)); _velloran_cli 2>/dev/null
             echo "${COMPREPLY[*]}"' "$completion" "$@"
  }
  [ "$(complete_line velloran-cli s)" = "save send store" ] || fail "completion of verbs"
  [ "$(complete_line velloran-cli echo --pacs-)" = "--pacs-aet --pacs-host --pacs-port" ] ||
    fail "completion of options: $(complete_line velloran-cli echo --pacs-)"
  [ "$(complete_line velloran-cli save --sex '')" = "M F O" ] || fail "completion of --sex"

  # An installed copy reads its settings from, and logs into, the user's folders.
  local port
  port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  install -d -o nobody -g nogroup "$xdg/config/velloran"
  printf '[velloran]\nremoteAET=USERPACS\nremoteIP=127.0.0.1\nremotePort=%s\n' "$port" \
    >"$xdg/config/velloran/velloran.ini"
  local echoed
  echoed=$(as_user "$cli" echo 2>"$scratch/echo.err") && fail "echo to a closed port succeeded"
  [ "$echoed" = "ERROR, USERPACS does not answer!" ] || fail "echo said: $echoed"
  expect_contains "$(head -1 "$scratch/echo.err")" "ERROR, Connecting to Socket: 127.0.0.1:$port" \
    "cause line"
  local log
  log=$(ls "$xdg"/data/velloran/logs/*_doc.log) || fail "no log in $xdg/data/velloran/logs"
  expect_contains "$(cat "$log")" "ERROR, Connecting to Socket: 127.0.0.1:$port" "log"

  if [ "$window" = TRUE ]; then
    local exe=$root/usr/bin/velloran
    [ "$(as_user "$exe" --version)" = "velloran $version" ] || fail "velloran --version"
    expect_contains "$(as_user "$exe" --help)" "usage: velloran" "velloran --help"
    rm -rf "${xdg:?}/data/velloran" "${xdg:?}/config/velloran"
    # The window runs until it is stopped; it must still be running after a few seconds.
    local status=0
    as_user timeout 5 "$exe" >"$scratch/window.log" 2>&1 || status=$?
    [ "$status" = 124 ] || fail "the window ended by itself ($status): $(cat "$scratch/window.log")"
    [ -d "$xdg/data/velloran/logs" ] || fail "the window made no logs folder in XDG_DATA_HOME"
    [ -d "$xdg/data/velloran/work" ] || fail "the window made no work folder in XDG_DATA_HOME"
    [ -d "$xdg/config/velloran" ] || fail "the window made no settings folder in XDG_CONFIG_HOME"
  fi

  # The printer application, run as the service runs it (the test runs as root), describes
  # itself over its socket alone; its manual page renders.
  if [ "$(id -u)" = 0 ] && command -v ipptool >/dev/null; then
    local places=$scratch/printer
    install -d -m 755 "$places"
    "$root/usr/sbin/velloran-printer" --socket "$places/run/printer.sock" \
      --spool "$places/spool" --log "$places/log" &
    local printer=$!
    local uri="ipp://$(sed 's|/|%2F|g' <<<"$places/run/printer.sock")/ipp/print"
    local described=1
    for _ in $(seq 100); do
      ipptool -t "$uri" get-printer-attributes.test >"$places/ipptool.out" 2>&1 &&
        described=0 && break
      sleep 0.1
    done
    kill "$printer"
    wait "$printer" || true
    [ "$described" = 0 ] ||
      fail "velloran-printer: $(cat "$places/ipptool.out" "$places/log" 2>/dev/null)"
  fi
  zcat "$root/usr/share/man/man8/velloran-printer.8.gz" |
    groff -man -Tutf8 -ww >/dev/null 2>"$scratch/groff8.err"
  [ ! -s "$scratch/groff8.err" ] || fail "groff velloran-printer.8: $(cat "$scratch/groff8.err")"
  # The unit has no fault systemd sees; only its program and manual page are not installed here.
  if command -v systemd-analyze >/dev/null; then
    local verified
    verified=$(systemd-analyze verify "$root/usr/lib/systemd/system/velloran-printer.service" 2>&1 |
      grep -vF -e "/usr/sbin/velloran-printer is not executable" \
        -e "'man velloran-printer(8)' failed" || true)
    [ -z "$verified" ] || fail "systemd-analyze verify: $verified"
  fi

  # Nothing was written into the installed tree.
  local written
  written=$(find "$root" -newer "$scratch/stamp")
  [ -z "$written" ] || fail "written beside the installed programs: $written"
  echo "installed copy works"
}

step_lintian() {
  local deb
  deb=$(ls "$1"/velloran_*.deb)
  # Errors fail; warnings and notes are shown for the record.
  lintian --fail-on error --display-level ">=warning" --tag-display-limit 0 "$deb"
  echo "lintian: no errors"
}

step=$1
shift
case $step in
  build) step_build "$@" ;;
  install) step_install "$@" ;;
  lintian) step_lintian "$@" ;;
  *) fail "unknown step $step" ;;
esac
