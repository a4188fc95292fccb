#!/usr/bin/env bash
# The text-scraping helpers of ./x: CTest's summary and failed tests, and the lint verdict cache.
#   x-text.sh ctest-summary          CTest's output on stdin: its closing summary line
#   x-text.sh ctest-failures PRESET  CTest's output on stdin: each failed test, headed by PRESET
#   x-text.sh lint DB FILE           clang-tidy over FILE with DB's compile commands, cached
# lint reads ROOT (the checkout), BUILD_ROOT (the build trees) and LINT_CACHE (the verdicts).
set -euo pipefail

# The closing "N% tests passed, ..." line of CTest's output (empty when there is none).
ctest_summary() {
  grep -E 'tests passed|tests failed' | tail -n 1 || true
}

# Each failed test's status line and the last 25 lines it printed, headed by the preset $1.
ctest_failures() {
  awk -v preset="$1" '
    function flush() { if (name != "") { print preset ": " name; for (i = 1; i <= n; i++) print kept[i] }
                       name = ""; n = 0 }
    /^ *[0-9]+\/[0-9]+ Test +#[0-9]+:/ || /^ *Start +[0-9]+:/ || /^[0-9]+% tests passed/ {
      flush()
      if ($0 ~ /Test +#/ && $0 !~ / Passed /) { name = $0; gsub(/ \.\.\.+/, " ", name) }
      next
    }
    name != "" { if (n == 25) { for (i = 1; i < 25; i++) kept[i] = kept[i + 1]; n = 24 } kept[++n] = $0 }
    END { flush() }'
}

# The hash that decides one unit's verdict: clang-tidy's version, .clang-tidy, the compile
# command and the unit as the preprocessor sees it, comments (and so NOLINTs) kept, with
# the checkout's and build tree's paths taken out. Fails when the unit is not in the
# database or does not preprocess.
lint_key() {
  local db=$1 file=$2 found directory command
  found=$(awk -v file="$file" '
    { value = $0; sub(/^ *"[a-z]+": "/, "", value); sub(/",?$/, "", value) }
    /^ *"directory":/ { directory = value }
    /^ *"command":/ { command = value }
    /^ *"file":/ && value == file { print directory; print command; exit }' \
    "$db/compile_commands.json")
  [ -n "$found" ] || return 1
  directory=${found%%$'\n'*}
  # JSON unescaped, then the compile turned into preprocessing to stdout.
  command=$(printf '%s\n' "${found#*$'\n'}" | sed 's/\\\(.\)/\1/g; s/ -o [^ ]* -c / -E -C -P -o - /')
  {
    clang-tidy --version
    cat "$ROOT/.clang-tidy"
    printf '%s\n' "$command"
    (cd "$directory" && eval "$command" 2>/dev/null)
  } | sed "s|$ROOT|@ROOT@|g; s|$BUILD_ROOT|@BUILD@|g" | sha256sum | cut -d ' ' -f 1
}

# One translation unit through clang-tidy, unless the cache holds its clean verdict (one
# empty file per unit under the hash that decided it); its findings are printed only when
# it fails, so that parallel runs do not interleave.
lint() {
  local db=$1 file=$2 key out
  key=$(lint_key "$db" "$file") || key=""
  if [ -n "$key" ] && [ -e "$LINT_CACHE/$key" ]; then return 0; fi
  if ! out=$(clang-tidy -p "$db" --quiet "$file" 2>&1); then
    printf '%s\n' "$out"
    return 1
  fi
  [ -n "$key" ] && mkdir -p "$LINT_CACHE" && : >"$LINT_CACHE/$key"
  return 0
}

case "${1:-}" in
  ctest-summary) ctest_summary ;;
  ctest-failures) ctest_failures "$2" ;;
  lint) lint "$2" "$3" ;;
  *) echo "usage: x-text.sh ctest-summary | ctest-failures PRESET | lint DB FILE" >&2; exit 2 ;;
esac
