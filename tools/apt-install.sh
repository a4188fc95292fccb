#!/usr/bin/env bash
# ./x setup's apt step: installs Debian packages (amd64 and :i386) and rides out the
# registry's bad days: an index refresh that fails in part, and amd64/i386 twins whose
# versions differ (a Multi-Arch: same package must have one version on both architectures,
# and a security update may reach one architecture's list before the other's).
#   apt-install.sh [--simulate] PACKAGE...
# Runs as root, with the i386 architecture already enabled. It refreshes the lists (a failed
# refresh is retried once, then warned about), then solves the install in simulation: while
# apt cannot, each twin pair its report names (with their direct dependencies) that would
# end up at two versions is pinned on both architectures to the newest version both lists
# have, for at most ROUNDS rounds. The solved install is run (never removing a package);
# --simulate prints it instead. An install that stays unsolved fails naming the package, the
# reason and the command to try. APT_RETRY_PAUSE is the seconds between the two refreshes.
set -euo pipefail
# apt's reports are read as text: in English, and sorted byte-wise.
export DEBIAN_FRONTEND=noninteractive LC_ALL=C

ROUNDS=8
RETRY_PAUSE=${APT_RETRY_PAUSE:-10}
SIMULATE=0
if [ "${1:-}" = --simulate ]; then SIMULATE=1; shift; fi
REQUESTED=("$@")

# Package state by "name:arch" (amd64 or i386): installed and candidate versions, every
# version the lists hold; filled by learn() for the names asked about.
declare -A INSTALLED=() CANDIDATE=() VERSIONS=() KNOWN=()
# Pins so far: "name:arch" -> version. PAIRS are the twin pairs pinned on both
# architectures, COMPANIONS the single packages pinned to match one (in the order pinned).
declare -A PIN=()
PAIRS=()
COMPANIONS=()
# Pairs found with no version in common: base -> "amd64: ...; i386: ...".
declare -A NO_COMMON=()

# "name", "name:amd64" and "name:i386" as "name:arch".
qualify() {
  case $1 in *:i386 | *:amd64) echo "$1" ;; *:*) echo "${1%%:*}:amd64" ;; *) echo "$1:amd64" ;; esac
}
# "name:arch" as apt takes it on the command line.
apt_name() { [ "${1##*:}" = amd64 ] && echo "${1%:*}" || echo "$1"; }

refresh_lists() {
  local out
  out=$(apt-get update -qq 2>&1) && return 0
  sleep "$RETRY_PAUSE"
  out=$(apt-get update -qq 2>&1) && return 0
  # "E: Failed to fetch URL  reason [IP: ...]" per index; apt's first error line otherwise.
  local failed
  failed=$(printf '%s\n' "$out" | sed -n 's/^[EW]: Failed to fetch \([^ ]*\) *\(.*\)$/\1: \2/p' |
    sed 's/ *\[IP: [^]]*\]$//' | paste -sd ';' -)
  [ -n "$failed" ] || failed=$(printf '%s\n' "$out" | grep -m 1 '^E: ' || echo "exit status only")
  echo "setup: warning: apt-get update failed twice ($failed); going on with the package lists there are"
}

# Fills the state tables for the "name:arch" keys given.
learn() {
  local keys=() key name arch line
  for key in "$@"; do [ -n "${KNOWN[$key]:-}" ] || { keys+=("$(apt_name "$key")"); KNOWN[$key]=1; }; done
  [ ${#keys[@]} -gt 0 ] || return 0
  while read -r key name line; do
    case $name in
      Installed:) [ "$line" = "(none)" ] || INSTALLED[$key]=$line ;;
      Candidate:) [ "$line" = "(none)" ] || CANDIDATE[$key]=$line ;;
    esac
  done < <(apt-cache policy "${keys[@]}" 2>/dev/null |
    awk '/^[^ ].*:$/ { key = substr($0, 1, length($0) - 1); if (key !~ /:/) key = key ":amd64" }
         /^  (Installed|Candidate):/ { print key, $1, $2 }')
  # madison: "name | version | URL suite/component ARCH Packages"; the row's list, not
  # the name asked, says the architecture.
  while IFS='|' read -r name line arch; do
    name=${name// /}
    arch=$(echo "$arch" | awk '$NF == "Packages" { print $(NF - 1) }')
    [ -n "$arch" ] || continue
    key="${name%%:*}:$arch"
    VERSIONS[$key]="${VERSIONS[$key]:+${VERSIONS[$key]} }${line// /}"
  done < <(apt-cache madison "${keys[@]}" 2>/dev/null)
}

# The packages apt's report names: each unmet line's package and what it depends on, breaks
# or conflicts with, and every package the plan would remove. With "blocked", only the
# packages that cannot stay or be installed as they are: unmet lines' own and removed ones.
named_in_report() {
  awk -v blocked="${1:-}" '
    /^ ?[a-z0-9][a-z0-9+.:-]* : / { print $1 }
    /^Remv / { print $2 }
    blocked == "" { for (i = 1; i < NF; i++) if ($i ~ /^((Pre)?Depends|Breaks|Conflicts):$/) print $(i + 1) }' |
    sort -u
}

# The newest of the versions given.
newest() {
  local best="" v
  for v in "$@"; do
    if [ -z "$best" ] || dpkg --compare-versions "$v" gt "$best"; then best=$v; fi
  done
  echo "$best"
}

# Records the packages read from stdin (by name as apt writes them) as wanted, and learns
# the state of both architectures of each. Works on pin_from_report's tables.
want() {
  local key base
  while read -r key; do
    [ -n "$key" ] || continue
    key=$(qualify "$key")
    wanted[$key]=1
    bases[${key%:*}]=1
  done
  keys=()
  for base in "${!bases[@]}"; do keys+=("$base:amd64" "$base:i386"); done
  learn "${keys[@]}"
}

# Pins, from apt's report: each twin pair among the packages it names and their direct
# dependencies that is wanted on both architectures and would not end up at one version;
# then each single package it says cannot stay or be installed whose list has the version
# of such a pin (a -dev package tied to its library's exact version). Fails when it pins
# nothing new.
pin_from_report() {
  local report=$1 key base v common amd i386 settled pinned=0 present=() keys=()
  local -A wanted=() bases=()
  for key in "${REQUESTED[@]}"; do wanted[$(qualify "$key")]=1; done
  want < <(printf '%s\n' "$report" | named_in_report)
  # One level of dependencies of what is wanted or installed: the split pair may be a
  # named package's own dependency.
  for key in "${keys[@]}"; do
    if [ -n "${wanted[$key]:-}" ] || [ -n "${INSTALLED[$key]:-}" ]; then present+=("$(apt_name "$key")"); fi
  done
  if [ ${#present[@]} -gt 0 ]; then
    want < <(apt-cache depends "${present[@]}" 2>/dev/null |
      awk '$1 == "Depends:" || $1 == "PreDepends:" { gsub(/[<>]/, "", $2); print $2 }' | sort -u)
  fi
  while read -r base; do
    if [ -z "$base" ] || [ -n "${PIN[$base:amd64]:-}" ]; then continue; fi
    amd=${VERSIONS[$base:amd64]:-} i386=${VERSIONS[$base:i386]:-}
    # Only twins matter: both architectures in the lists, both wanted or installed.
    if [ -z "$amd" ] || [ -z "$i386" ]; then continue; fi
    { [ -n "${wanted[$base:amd64]:-}" ] || [ -n "${INSTALLED[$base:amd64]:-}" ]; } || continue
    { [ -n "${wanted[$base:i386]:-}" ] || [ -n "${INSTALLED[$base:i386]:-}" ]; } || continue
    # shellcheck disable=SC2046
    common=$(newest $(comm -12 <(tr ' ' '\n' <<<"$amd" | sort -u) <(tr ' ' '\n' <<<"$i386" | sort -u)))
    if [ -z "$common" ]; then
      NO_COMMON[$base]="amd64: ${amd// /, }; i386: ${i386// /, }"
      continue
    fi
    # Pinned unless both candidates and whatever is installed are that version already
    # (apt moves a dependency to its candidate, so an amd64 candidate the i386 list lacks
    # splits the pair even when both are installed at one version).
    settled=1
    for v in "${CANDIDATE[$base:amd64]:-}" "${CANDIDATE[$base:i386]:-}" \
      "${INSTALLED[$base:amd64]:-$common}" "${INSTALLED[$base:i386]:-$common}"; do
      [ "$v" = "$common" ] || settled=0
    done
    [ $settled = 0 ] || continue
    PIN[$base:amd64]=$common
    PIN[$base:i386]=$common
    PAIRS+=("$base")
    pinned=1
  done < <(printf '%s\n' "${!bases[@]}" | sort)
  while read -r key; do
    [ -n "$key" ] || continue
    key=$(qualify "$key")
    [ -z "${PIN[$key]:-}" ] || continue
    # shellcheck disable=SC2046
    v=$(newest $(comm -12 <(tr ' ' '\n' <<<"${VERSIONS[$key]:-}" | sort -u) \
      <(printf '%s\n' "${PIN[@]}" | sort -u)))
    if [ -z "$v" ] || [ "$v" = "${INSTALLED[$key]:-}" ]; then continue; fi
    PIN[$key]=$v
    COMPANIONS+=("$key")
    pinned=1
  done < <(printf '%s\n' "$report" | named_in_report blocked)
  [ $pinned = 1 ]
}

# The install's arguments: the requested packages and every pin (a requested package that
# is pinned comes with its pin), with --allow-downgrades when a pin is older than what is
# installed.
install_args() {
  local args=(--no-install-recommends) key
  for key in "${!PIN[@]}"; do
    if [ -n "${INSTALLED[$key]:-}" ] && dpkg --compare-versions "${PIN[$key]}" lt "${INSTALLED[$key]}"; then
      args+=(--allow-downgrades)
      break
    fi
  done
  for key in "${REQUESTED[@]}"; do [ -n "${PIN[$(qualify "$key")]:-}" ] || args+=("$key"); done
  while read -r key; do
    [ -z "$key" ] || args+=("$(apt_name "$key")=${PIN[$key]}")
  done < <(printf '%s\n' "${!PIN[@]}" | sort)
  echo "${args[*]}"
}

# One line for the pins: "setup: amd64 and i386 pinned to ...: a, b at V (c to match); d at W".
report_pins() {
  [ ${#PAIRS[@]} -gt 0 ] || return 0
  local -A pairs=() companions=()
  local versions=() base key v groups=()
  for base in "${PAIRS[@]}"; do
    v=${PIN[$base:amd64]}
    [ -n "${pairs[$v]:-}" ] || versions+=("$v")
    pairs[$v]="${pairs[$v]:+${pairs[$v]}, }$base"
  done
  for key in "${COMPANIONS[@]}"; do
    v=${PIN[$key]}
    companions[$v]="${companions[$v]:+${companions[$v]}, }$(apt_name "$key")"
  done
  for v in "${versions[@]}"; do
    groups+=("${pairs[$v]} at $v${companions[$v]:+ (${companions[$v]} to match)}")
  done
  echo "setup: amd64 and i386 pinned to the newest version both architectures have:" \
    "$(printf '%s\n' "${groups[@]}" | paste -sd ';' - | sed 's/;/; /g')"
}

# Gives up: apt's last report, then which package (the first apt could not install as
# asked), why, and what to run by hand.
fail() {
  local report=$1 plan=$2 package=$FIRST_BLOCKED reason base
  printf '%s\n' "$report" | sed -n '/unmet dependencies:/,$p; /^Remv /p' | sed 's/^/  apt: /' >&2
  reason=$(printf '%s\n' "$report" | grep -m 1 '^E: ' | sed 's/^E: //' || true)
  if [ ${#NO_COMMON[@]} -gt 0 ]; then
    reason="no version is in both architectures' lists for"
    for base in "${!NO_COMMON[@]}"; do reason+=" $base (${NO_COMMON[$base]})"; done
  elif printf '%s\n' "$report" | grep -q '^Remv '; then
    reason="apt would remove $(printf '%s\n' "$report" | sed -n 's/^Remv \([^ ]*\) .*/\1/p' | paste -sd ' ' -)"
  fi
  [ -n "$package" ] || package=$(sed -n 's/^E: Unable to locate package //p' <<<"$report" | head -n 1)
  [ -n "$package" ] || package=${REQUESTED[*]}
  echo "setup: cannot install $package: ${reason:-apt failed}" >&2
  echo "setup: try: ${SUDO_USER:+sudo }apt-get update && ${SUDO_USER:+sudo }apt-get install $plan" >&2
  exit 1
}

refresh_lists
report=""
FIRST_BLOCKED=""
for ((round = 0; round < ROUNDS; round++)); do
  plan=$(install_args)
  # shellcheck disable=SC2086
  if report=$(apt-get -s -y install $plan 2>&1) && ! grep -q '^Remv ' <<<"$report"; then
    report_pins
    if [ $SIMULATE = 1 ]; then
      echo "setup: would run: apt-get install $plan"
      exit 0
    fi
    # shellcheck disable=SC2086
    report=$(apt-get install -y -qq --no-remove $plan 2>&1) || fail "$report" "$plan"
    exit 0
  fi
  [ -n "$FIRST_BLOCKED" ] ||
    FIRST_BLOCKED=$(awk '/^ ?[a-z0-9][a-z0-9+.:-]* : / { print $1; exit } /^Remv / { print $2; exit }' <<<"$report")
  pin_from_report "$report" || break
done
fail "$report" "$(install_args)"
