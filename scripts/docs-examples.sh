#!/usr/bin/env bash
# Copies each example of docs/examples/ into the documents that show it, between its two markers
#   <!-- example: NAME -->
#   <!-- end example -->
# so that what a reader copies is exactly the file the tests run.
#
#   scripts/docs-examples.sh           rewrite the documents in place
#   scripts/docs-examples.sh --check   change nothing; fail, naming the document, when one is out of date
#
# docs/integration.md may hold no code block outside the markers: every example there is a tested file.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=write
case "${1:-}" in
  "") ;;
  --check) mode=check ;;
  *) echo "usage: scripts/docs-examples.sh [--check]" >&2; exit 2 ;;
esac

# render DOCUMENT STRICT: the document with every marked block filled from its file, on stdout.
render() {
  awk -v dir=docs/examples -v doc="$1" -v strict="$2" '
    function fence(name) {
      if (name ~ /\.py$/) return "```python"
      if (name ~ /\.js$/) return "```javascript"
      if (name ~ /\.sh$/) return "```sh"
      return "```"
    }
    function complain(text) { print "docs-examples: " doc ":" NR ": " text > "/dev/stderr"; failed = 1 }
    /^<!-- example: [^ ]+ -->$/ {
      if (inside) complain("example opened inside another")
      print
      path = dir "/" $3
      print fence($3)
      while ((rc = (getline line < path)) > 0) print line
      if (rc < 0) complain(path " cannot be read")
      close(path)
      print "```"
      inside = 1
      next
    }
    /^<!-- end example -->$/ {
      if (!inside) complain("end of an example that was not opened")
      inside = 0
      print
      next
    }
    inside { next }
    strict && /^```/ { complain("code block outside an example: put it in docs/examples/ and mark it") }
    { print }
    END {
      if (inside) complain("example not closed")
      exit failed
    }
  ' "$1"
}

status=0
for doc in docs/*.md; do
  strict=0
  [ "$doc" = docs/integration.md ] && strict=1
  rendered=$(mktemp)
  if ! render "$doc" "$strict" >"$rendered"; then
    status=1
  elif ! cmp -s "$rendered" "$doc"; then
    if [ "$mode" = check ]; then
      echo "docs-examples: $doc differs from its examples; run scripts/docs-examples.sh" >&2
      diff -u "$doc" "$rendered" | head -40 >&2 || true
      status=1
    else
      cat "$rendered" >"$doc"
      echo "docs-examples: updated $doc"
    fi
  fi
  rm -f "$rendered"
done

# An example nobody shows is an example nobody reads.
for example in docs/examples/*; do
  name=$(basename "$example")
  if ! grep -qxF "<!-- example: $name -->" docs/*.md; then
    echo "docs-examples: docs/examples/$name is shown in no document" >&2
    status=1
  fi
done
exit $status
