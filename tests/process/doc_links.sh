#!/usr/bin/env bash
# Checks every relative link in the project's Markdown files: the file it
# names exists, and so does the heading its anchor names. Links to the web
# are not followed.
#   doc_links.sh <source dir>
set -euo pipefail
cd "$1"

# Prints a file's lines outside fenced code blocks.
outside_code() {
  awk '/^```/ { fenced = !fenced; next } !fenced' "$1"
}

# The anchors a file's headings make, one a line, as GitHub makes them from
# headings in ASCII: lower case, punctuation dropped, blanks as hyphens, and
# -1, -2 … after a heading that came before.
anchors() {
  outside_code "$1" | sed -n 's/^#\{1,6\} \{1,\}//p' | tr '[:upper:]' '[:lower:]' | sed 's/[^a-z0-9 _-]//g; s/ /-/g' |
    awk '{ n = seen[$0]++; print (n ? $0 "-" n : $0) }'
}

broken=0
links=0
declare -A headings # a file's anchors, worked out once
for file in README.md docs/*.md; do
  while IFS= read -r link; do
    links=$((links + 1))
    target=${link%%#*}
    anchor=
    [ "$target" != "$link" ] && anchor=${link#*#}
    path=$file
    [ -n "$target" ] && path=$(dirname "$file")/$target
    if [ ! -e "$path" ]; then
      echo "$file: ($link): there is no $path"
      broken=1
      continue
    fi
    [ -n "$anchor" ] || continue
    [ -n "${headings[$path]+made}" ] || headings[$path]=$(anchors "$path")
    if ! grep -qx -- "$anchor" <<<"${headings[$path]}"; then
      echo "$file: ($link): $path has no heading that makes #$anchor"
      broken=1
    fi
  done < <(outside_code "$file" | grep -o '](\([^)]*\))' | sed 's/^](//; s/)$//' | grep -v '^[a-z]*:' || true)
done
[ "$broken" -eq 0 ] && echo "$links links, all pointing at files and headings that exist"
exit $broken
