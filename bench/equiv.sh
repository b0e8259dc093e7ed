#!/usr/bin/env bash
# The installer's jobs done with the system's own tools, for the benchmark:
# the same files copied with cp, or deleted with rm, as the scripted run of
# the installer copies or deletes them with its default answers.
#
#   bench/equiv.sh install|update|remove DIST ROOT
#
# DIST is the distribution folder, ROOT the scratch root standing for the
# server's drive.
set -eu
job=$1 dist=$2 root=$3
scripts=$root/inetpub/scripts
templates=$root/quillor
web_img=$root/inetpub/wwwroot/qlimg
backup=$root/backup
cd "$dist"

copy() { # DEST GLOB...: cp of the files into DEST; like the installer's
  # non-recursive copy, cp leaves the directories a glob names alone
  local dest=$1 err
  shift
  err=$(cp -t "$dest" -- "$@" 2>&1) && return 0
  err=$(printf '%s\n' "$err" | grep -v 'omitting directory' || true)
  [ -z "$err" ] || { printf '%s\n' "$err" >&2; exit 1; }
}

case $job in
install)
  mkdir -p "$scripts" "$templates/cache" "$templates/originals" "$templates/img" \
    "$templates/manuals" "$web_img"
  cp quillor.exe quillor.ini "$scripts/"
  copy "$templates" tpl/*
  copy "$templates/originals" tpl/*.tpl
  copy "$templates/img" img/*
  copy "$templates/manuals" manuals/*.htm*
  copy "$web_img" img/*
  ;;
update)
  mkdir -p "$backup"
  cp quillor.exe "$scripts/"
  copy "$backup" "$templates"/*
  mkdir -p "$backup/img" "$backup/manuals"   # the folders beside the templates are kept too
  copy "$backup/img" "$templates/img"/*
  copy "$backup/manuals" "$templates/manuals"/*
  copy "$backup" "$web_img"/*
  copy "$web_img" img/*
  copy "$templates" tpl/*.tpl
  copy "$templates" tpl/*.dat
  copy "$templates/originals" tpl/*.tpl
  copy "$templates/img" img/*
  copy "$templates/manuals" manuals/*.htm*
  ;;
remove)
  rm -f "$scripts"/quillor.*
  rm -rf "$templates"
  ;;
*)
  echo "usage: equiv.sh install|update|remove DIST ROOT" >&2
  exit 2
  ;;
esac
