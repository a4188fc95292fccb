#!/usr/bin/env bash
# ./x's fuzz runs (./x fuzz and the short pass of ./x test):
#   x-fuzz.sh TARGET SECONDS [libFuzzer flags]
# runs the fuzz preset's built TARGET under libFuzzer for SECONDS. The corpus grows in
# $BUILD_ROOT/fuzz/corpus/<target>; findings land in $BUILD_ROOT/fuzz/artifacts/<target>/.
# Exits 1 when the target found a fault, 2 when it is not built.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_ROOT=${BUILD_ROOT:-$(pwd)/build}

# The seed corpus of a fuzz target, rebuilt from the project's test data, the committed
# seeds and the saved regressions.
fuzz_seeds() {
  local target=$1 dir=$2 file line=0 hex rest
  rm -rf "$dir"
  mkdir -p "$dir"
  case $target in
    read_json)
      cp tests/data/json/test_parsing/* tests/data/corpora/jsonchecker/* \
        tests/data/corpora/roundtrip/* "$dir"/ ;;
    read_yaml)
      while IFS= read -r file; do
        cp "$file" "$dir/$(printf '%s' "${file#tests/data/yaml/}" | tr / _)"
      done < <(find tests/data/yaml -name in.yaml)
      cp tests/data/corpora/yaml/appveyor.yml tests/data/corpora/yaml/travis.yml "$dir"/ ;;
    read_msgpack)
      # Every encoding of the suite, from its hex column (bytes separated by "-").
      while IFS=$'\t' read -r _ _ _ _ hex rest; do
        line=$((line + 1))
        [ $line = 1 ] && continue
        # shellcheck disable=SC2059
        printf "$(printf '%s' "$hex" | sed 's/^/\\x/; s/-/\\x/g')" > "$dir/encoding-$line"
      done < tests/data/msgpack/encodings.tsv ;;
  esac
  [ -d "fuzz/seeds/$target" ] && cp "fuzz/seeds/$target"/* "$dir"/
  for file in "fuzz/regressions/$target"/*; do
    case $file in *.shape | *.md | *'*') ;; *) cp "$file" "$dir"/ ;; esac
  done
  return 0
}

# One libFuzzer run of a built target, from a seed corpus rebuilt each time.
run_fuzz_target() {
  local target=$1 seconds=$2 root="$BUILD_ROOT/fuzz" log
  shift 2
  [ -x "$root/fuzz/hxa-fuzz-$target" ] || { echo "fuzz: no target $target"; return 2; }
  fuzz_seeds "$target" "$root/seeds/$target"
  mkdir -p "$root/corpus/$target" "$root/artifacts/$target"
  log="$root/artifacts/$target/last-run.log"
  echo "== fuzz $target (${seconds} s)"
  # -timeout catches what costs more than n log n at libFuzzer's input sizes; the
  # target's own meter holds every input to its memory bound.
  local dictionary=() status=0
  [ -f "fuzz/dictionaries/$target.dict" ] && dictionary=(-dict="fuzz/dictionaries/$target.dict")
  if ! "$root/fuzz/hxa-fuzz-$target" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2560 "${dictionary[@]}" -print_final_stats=1 \
    -artifact_prefix="$root/artifacts/$target/" "$@" \
    "$root/corpus/$target" "$root/seeds/$target" >"$log" 2>&1; then
    status=1
    tail -n 60 "$log"
    echo "fuzz: $target found a fault; the input is in $root/artifacts/$target/"
  fi
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' \
    "$log" | tr '\n' ' ' || true
  echo "corpus: $(find "$root/corpus/$target" -type f | wc -l) inputs"
  return $status
}

run_fuzz_target "$@"
