#!/usr/bin/env bash
# Makes the README's pictures from the shipped example: the template, one
# page as written, and the same page merged by tembrix, each as headless
# Chromium shows it. Needs a built build/tembrix and Debian's chromium.
#   bash doc/screenshots.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
site=$(mktemp -d)
trap 'rm -rf "$site"' EXIT
cp -r example/. "$site"
(cd "$site" && printf 'a template.html news.html q' | "$root/build/tembrix" > /dev/null)
for shot in template:template.html page:news.html merged:temb/news.html; do
  chromium --headless --no-sandbox --disable-gpu --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --hide-scrollbars --user-data-dir="$site/profile" --window-size=480,300 \
    --screenshot="$root/doc/${shot%%:*}.png" "file://$site/${shot#*:}" 2>/dev/null
done
ls -l doc/*.png
