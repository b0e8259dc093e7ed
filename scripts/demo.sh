#!/usr/bin/env bash
# Copies the sample distribution and the installer into a scratch folder and
# starts the installer there, with a scratch root standing in for the
# server's drive.  Everything it installs stays under scratch/demo/root.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
demo="$top/scratch/demo"
rm -rf "$demo"
mkdir -p "$demo/dist" "$demo/root"
cp -R "$top/sample/." "$demo/dist/"
rm -rf "$demo/dist/answers"  # example answers files, not part of a distribution
cp "$top/build/quillor-install" "$demo/dist/"
echo "Distribution folder: $demo/dist"
echo "Scratch root (stands for the server's drive): $demo/root"
cd "$demo/dist"
status=0
QUILLOR_ROOT="$demo/root" ./quillor-install || status=$?
echo
echo "The installer ended with status $status."
echo "Installed tree: $demo/root"
echo "Installer log:  $demo/dist/install.log"
if command -v find >/dev/null; then (cd "$demo/root" && find . -maxdepth 3 | sort | head -40); fi
