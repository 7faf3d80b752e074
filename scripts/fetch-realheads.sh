#!/usr/bin/env bash
# Fetches the real head meshes that the tests read into $BUILD_DIR/realheads
# (default: build/realheads in the checkout): from Debian's package
# libcgal-demo, head.off and mannequin-devil.off (in its data.tar.gz), from
# python3-mne, fsaverage-head.fif and fsaverage-fiducials.fif. The packages
# are downloaded with apt-get download and unpacked into a scratch folder,
# never installed, and only those four files are kept. Does nothing when the
# four are there. Safe to run again.
#   scripts/fetch-realheads.sh
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dest=${BUILD_DIR:-$root/build}/realheads
files=(head.off mannequin-devil.off fsaverage-head.fif fsaverage-fiducials.fif)
missing=0
for file in "${files[@]}"; do
  [ -s "$dest/$file" ] || missing=1
done
[ "$missing" -eq 1 ] || exit 0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# apt's own user downloads into the folder when it may write there.
chmod 777 "$work"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
download() {
  (cd "$work" && apt-get download "$1" >"$work/apt.log" 2>&1) && return 0
  # The package lists may be missing or old: read them again, then try once more.
  $sudo apt-get update -qq
  (cd "$work" && apt-get download "$1" >"$work/apt.log" 2>&1) || { cat "$work/apt.log"; return 1; }
}
download libcgal-demo
download python3-mne

mkdir -p "$work/cgal" "$work/mne" "$work/out"
dpkg-deb --fsys-tarfile "$work"/libcgal-demo_*.deb | tar -x -C "$work/cgal" ./usr/share/doc/libcgal-dev/data.tar.gz
tar -xzf "$work/cgal/usr/share/doc/libcgal-dev/data.tar.gz" -C "$work/cgal" data/meshes/head.off data/meshes/mannequin-devil.off
fsaverage=./usr/lib/python3/dist-packages/mne/data/fsaverage
dpkg-deb --fsys-tarfile "$work"/python3-mne_*.deb | tar -x -C "$work/mne" "$fsaverage/fsaverage-head.fif" \
  "$fsaverage/fsaverage-fiducials.fif"
cp "$work/cgal/data/meshes/head.off" "$work/cgal/data/meshes/mannequin-devil.off" "$work/mne/$fsaverage"/*.fif "$work/out/"
mkdir -p "$dest"
for file in "${files[@]}"; do
  mv "$work/out/$file" "$dest/$file"
done
echo "Real head meshes in $dest"
