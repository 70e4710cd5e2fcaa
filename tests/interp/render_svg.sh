#!/usr/bin/env bash
# Renders the plot of a shipped example's table with a real SVG renderer and
# checks that the picture is not blank.
#   render_svg.sh PROGRAM EXAMPLES_FOLDER [PNG_COPY]
# Without rsvg-convert (Debian: librsvg2-bin) or python3 the test is skipped
# (status 77), except in continuous integration (CI set), where it fails.
set -u
# The program is run from other folders: its path is made absolute.
bin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
examples=$2
copy=${3:-}

for tool in rsvg-convert python3; do
  if ! command -v "$tool" >/dev/null; then
    if [ -n "${CI:-}" ]; then
      echo "$tool is missing"
      exit 1
    fi
    echo "skipped: $tool is not installed"
    exit 77
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
svg=
for model in $(find "$examples" -name '*.crv' | sort); do
  # Run beside a copy of the model's folder, so that its includes resolve.
  rm -rf "$work/run" "$work/svg"
  mkdir -p "$work/run"
  cp -R "$(dirname "$model")"/. "$work/run"/
  (cd "$work/run" && timeout 120 "$bin" -svg "$work/svg" "$(basename "$model")" > /dev/null 2>&1)
  svg=$(find "$work/svg" -name '*.svg' 2>/dev/null | sort | head -1)
  if [ -n "$svg" ]; then
    echo "plot of $(basename "$svg") from $model"
    break
  fi
done
if [ -z "$svg" ]; then
  echo "no example under $examples prints a table"
  exit 1
fi

if ! rsvg-convert -w 800 -h 500 -b white -o "$work/plot.png" "$svg"; then
  echo "rsvg-convert could not render $svg"
  exit 1
fi
python3 "$(dirname "$0")/png_not_blank.py" "$work/plot.png" || exit 1
if [ -n "$copy" ]; then cp "$work/plot.png" "$copy"; fi
exit 0
