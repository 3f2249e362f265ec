#!/usr/bin/env bash
# Builds the Debian package from a built tree and checks it as a distribution would: lintian,
# the files where the FHS puts them, the desktop entry, the AppStream metadata, the manual pages
# and the Tab completion. Usage: package.sh BUILD-DIR
set -euo pipefail
data=$(cd "$(dirname "$0")/data/formats" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack --config "$1/CPackConfig.cmake" -B "$work" >/dev/null
deb=("$work"/tessaline_*_"$(dpkg --print-architecture)".deb)
lintian --fail-on error "$deb"

dpkg -x "$deb" "$work/root"
cd "$work/root"
id=io.github.tessaline.Tessaline
expected="./usr/bin/tessaline
./usr/bin/tessaline-convert
./usr/lib/tessaline/tessaline-dvd.so
./usr/lib/tessaline/tessaline-matroska.so
./usr/lib/tessaline/tessaline-media.so
./usr/share/applications/$id.desktop
./usr/share/bash-completion/completions/tessaline-convert
./usr/share/doc/tessaline/changelog.gz
./usr/share/doc/tessaline/copyright
./usr/share/icons/hicolor/scalable/apps/tessaline.svg
./usr/share/man/man1/tessaline-convert.1.gz
./usr/share/man/man1/tessaline.1.gz
./usr/share/metainfo/$id.metainfo.xml"
diff <(echo "$expected") <(find . -type f | sort)

# The installed programs find their format modules: an .mkv, an .mp4, a DVD title set and a playlist
# (no module) are read, three chapters each.
listed=$(usr/bin/tessaline-convert --list "$data"/{matroska/chapters.mkv,media/chapters.mp4,dvd/VTS_01_0.IFO,mpls/playlist.mpls})
[ "$(grep -c '^[0-9]' <<<"$listed")" = 12 ] || { echo "listed: $listed"; exit 1; }

desktop-file-validate "usr/share/applications/$id.desktop"
appstreamcli validate --no-net "usr/share/metainfo/$id.metainfo.xml"
# man-db's seccomp sandbox fails in some containers; the rendering does not need it.
for page in tessaline tessaline-convert; do
    MAN_DISABLE_SECCOMP=1 man -l "usr/share/man/man1/$page.1.gz" | grep -q -- '--version'
done

completion=$(bash -c 'source /usr/share/bash-completion/bash_completion
    source usr/share/bash-completion/completions/tessaline-convert
    COMP_LINE="tessaline-convert --format " COMP_POINT=${#COMP_LINE}
    COMP_WORDS=(tessaline-convert --format "") COMP_CWORD=2
    _tessaline_convert; echo "${COMPREPLY[@]}"')
[ "$completion" = "simple matroska ffmetadata webvtt cue timestamps qpfile json" ] || { echo "completion: '$completion'"; exit 1; }
