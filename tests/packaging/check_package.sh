#!/usr/bin/env bash
# The Debian package made from a built tree: CPack builds it, it holds every
# file a desktop installation needs, lintian and the desktop and AppStream
# validators accept it, and the programs unpacked from it run.
# Usage: check_package.sh BUILD_DIR VERSION APP_ID
set -euo pipefail
build=$1 version=$2 app_id=$3

fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in cpack dpkg-deb dpkg-shlibdeps lintian desktop-file-validate appstreamcli; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/deps test installs it)"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# CPack stages and writes everything below the temporary folder, not in the tree.
if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  fail "cpack could not build the package"
fi
deb=$work/out/arrester-monitor_${version}_$(dpkg --print-architecture).deb
[[ -f "$deb" ]] || fail "no package $deb; cpack made: $(ls "$work/out")"

# Control fields: the version is the project's, the libraries were found by
# dpkg-shlibdeps, the SQLite plug-in is named, the description says what
# Linux needs beyond installing.
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == arrester-monitor ]] || fail "package name $(field Package)"
[[ $(field Version) == "$version" ]] || fail "version $(field Version), project $version"
[[ $(field Maintainer) =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "maintainer '$(field Maintainer)'"
depends=$(field Depends)
for lib in libqt6core6 libqt6widgets6 libqt6serialport6 libqt6sql6-sqlite libc6 "fonts-arphic-uming | fonts-noto-cjk"; do
  [[ $depends == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
done
description=$(field Description)
[[ $(head -n1 <<<"$description") != "" && $(wc -l <<<"$description") -gt 3 ]] ||
  fail "description has no synopsis and long text: $description"
[[ $description == *dialout* ]] || fail "description does not name the dialout group"

# The file list holds each installed file.
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$work/files"
expected=(/usr/bin/arrester-monitor /usr/bin/arrester-cli /usr/bin/meter-sim
  "/usr/share/applications/$app_id.desktop" "/usr/share/metainfo/$app_id.metainfo.xml"
  /usr/share/icons/hicolor/scalable/apps/arrester-monitor.svg
  /usr/share/man/man1/arrester-monitor.1.gz /usr/share/man/man1/arrester-cli.1.gz
  /usr/share/man/man1/meter-sim.1.gz
  /usr/share/doc/arrester-monitor/copyright /usr/share/doc/arrester-monitor/changelog.gz)
for size in 16 22 24 32 48 64 128 256; do
  expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/arrester-monitor.png")
done
for f in "${expected[@]}"; do
  grep -qxF "$f" "$work/files" || fail "the package lacks $f"
done

# lintian: no errors and no warnings (stripped programs, compressed manual
# pages, icon sizes that match their folders, a changelog of this version).
if ! lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1; then
  cat "$work/lintian.log"
  fail "lintian rejects the package"
fi

# Unpacked into a temporary root, the files pass their validators and the
# programs run from there.
root=$work/root
dpkg-deb -x "$deb" "$root"
desktop=$root/usr/share/applications/$app_id.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $app_id.desktop"
for line in Exec=arrester-monitor Icon=arrester-monitor Terminal=false 'Name=氧化锌避雷器带电测试仪软件'; do
  grep -qxF "$line" "$desktop" || fail "the desktop entry lacks $line"
done
grep -q '^Name\[en\]=.' "$desktop" || fail "the desktop entry has no English name"
metainfo=$root/usr/share/metainfo/$app_id.metainfo.xml
appstreamcli validate --no-net "$metainfo" >"$work/appstream.log" 2>&1 ||
  { cat "$work/appstream.log"; fail "appstreamcli rejects the metainfo"; }
grep -qF "<release version=\"$version\"" "$metainfo" || fail "the metainfo's release is not $version"
grep -qF "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
  fail "the metainfo does not launch $app_id.desktop"
grep -q '<image>https://[^<]*</image>' "$metainfo" || fail "the metainfo has no screenshot"

# As from a terminal without a display: --help and --version must not need one.
unset QT_QPA_PLATFORM DISPLAY WAYLAND_DISPLAY
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
bin=$root/usr/bin
expect() {  # expect TEXT COMMAND...: the command succeeds and prints TEXT
  local text=$1
  shift
  local out
  out=$(timeout 60 "$@" 2>&1 </dev/null) || fail "$* failed: $out"
  [[ $out == *"$text"* ]] || fail "$* does not print '$text': $out"
}
qt=$(pkg-config --modversion Qt6Core 2>/dev/null || dpkg-query -W -f='${Version}' libqt6core6 | sed 's/[+-].*//')
for program in arrester-monitor arrester-cli meter-sim; do
  expect "$program $version" "$bin/$program" --version
  expect "Qt $qt" "$bin/$program" --version
done
expect "--no-record" "$bin/arrester-monitor" --help
expect "export ID" "$bin/arrester-cli" --help
expect "--link PATH" "$bin/meter-sim" --help
echo "ok: $(basename "$deb"), $(wc -l <"$work/files") entries"
