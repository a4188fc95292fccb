#!/usr/bin/env bash
# tools/apt-install.sh against tests/setup/fake-apt: the pins it chooses for amd64/i386
# twins at different versions, the warning on a partial index refresh, and the failure
# that names the package and the command when no version is shared.
#   apt_install_test.sh PATH/TO/apt-install.sh
set -uo pipefail
script=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
ln -s "$here/fake-apt" "$work/bin/apt-get"
ln -s "$here/fake-apt" "$work/bin/apt-cache"
failed=0

# A machine whose amd64 OpenSSL, zlib, brotli library and kernel headers came from a suite
# the i386 lists lack (linux-libc-dev even from no list at all); libbrotli-dev itself is at
# one version on both.
base_world() {
  cat <<'WORLD'
libcpp-httplib-dev i386  -                       0.11.4+ds-1                                       libssl-dev,zlib1g-dev,libbrotli-dev
libbrotli-dev      amd64 1.0.9-2+b6              1.0.9-2+b6                                        libbrotli1
libbrotli-dev      i386  -                       1.0.9-2+b6                                        libbrotli1
libbrotli1         amd64 1.0.9-2+deb12u1         1.0.9-2+deb12u1,1.0.9-2+b6                        -
libbrotli1         i386  -                       1.0.9-2+b6                                        -
libyaml-dev        amd64 0.2.5-1                 0.2.5-1                                           -
libyaml-dev        i386  -                       0.2.5-1                                           -
libssl-dev         amd64 3.0.22-1~deb12u2        3.0.22-1~deb12u2,3.0.20-1~deb12u2,3.0.17-1~deb12u2 libssl3=,libc6-dev
libssl-dev         i386  -                       3.0.20-1~deb12u2,3.0.17-1~deb12u2                 libssl3=,libc6-dev
libssl3            amd64 3.0.22-1~deb12u2        3.0.22-1~deb12u2,3.0.20-1~deb12u2,3.0.17-1~deb12u2 -
openssl            amd64 3.0.22-1~deb12u2        3.0.22-1~deb12u2,3.0.20-1~deb12u2                 libssl3=
zlib1g-dev         amd64 1:1.2.13.dfsg-1+deb12u1 1:1.2.13.dfsg-1+deb12u1,1:1.2.13.dfsg-1           zlib1g=
zlib1g-dev         i386  -                       1:1.2.13.dfsg-1                                   zlib1g=
zlib1g             amd64 1:1.2.13.dfsg-1+deb12u1 1:1.2.13.dfsg-1+deb12u1,1:1.2.13.dfsg-1           -
zlib1g             i386  -                       1:1.2.13.dfsg-1                                   -
libc6-dev          amd64 2.36-9+deb12u10         2.36-9+deb12u10                                   linux-libc-dev
libc6-dev          i386  -                       2.36-9+deb12u10                                   linux-libc-dev
linux-libc-dev     amd64 6.1.194-1               6.1.176-1                                         -
linux-libc-dev     i386  -                       6.1.176-1                                         -
WORLD
}

# run NAME UPDATE_FAILURES LIBSSL3_I386_VERSIONS PACKAGE...: the script over the world with
# libssl3:i386 at those versions; its status, stdout and stderr in $work/NAME.*.
run() {
  local name=$1 failures=$2 libssl3_i386=$3
  shift 3
  export FAKE_APT_DIR=$work/$name
  mkdir "$FAKE_APT_DIR"
  { base_world; echo "libssl3 i386 - $libssl3_i386 -"; } >"$FAKE_APT_DIR/world"
  echo "$failures" >"$FAKE_APT_DIR/update-failures"
  PATH="$work/bin:$PATH" APT_RETRY_PAUSE=0 env -u SUDO_USER bash "$script" "$@" \
    >"$work/$name.out" 2>"$work/$name.err"
  echo $? >"$work/$name.status"
}

# expect NAME WHAT ACTUAL EXPECTED
expect() {
  [ "$3" = "$4" ] && return 0
  printf 'FAIL %s: %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$4" "$3"
  failed=1
}

run skew 1 3.0.20-1~deb12u2,3.0.17-1~deb12u2 libcpp-httplib-dev:i386 libyaml-dev:i386
expect skew status "$(cat "$work/skew.status")" 0
expect skew "what setup says (a refresh that fails once is retried quietly)" "$(cat "$work/skew.out")" \
  "setup: amd64 and i386 pinned to the newest version both architectures have: libbrotli1 at 1.0.9-2+b6; libssl-dev, libssl3 at 3.0.20-1~deb12u2 (openssl to match); zlib1g, zlib1g-dev at 1:1.2.13.dfsg-1; linux-libc-dev at 6.1.176-1"
expect skew "apt's calls" "$(cat "$work/skew/log")" "update
update
install -y -qq --no-remove --no-install-recommends --allow-downgrades libcpp-httplib-dev:i386 libyaml-dev:i386 libbrotli1=1.0.9-2+b6 libbrotli1:i386=1.0.9-2+b6 libssl-dev=3.0.20-1~deb12u2 libssl-dev:i386=3.0.20-1~deb12u2 libssl3=3.0.20-1~deb12u2 libssl3:i386=3.0.20-1~deb12u2 linux-libc-dev=6.1.176-1 linux-libc-dev:i386=6.1.176-1 openssl=3.0.20-1~deb12u2 zlib1g-dev=1:1.2.13.dfsg-1 zlib1g-dev:i386=1:1.2.13.dfsg-1 zlib1g=1:1.2.13.dfsg-1 zlib1g:i386=1:1.2.13.dfsg-1"

run partial 2 3.0.20-1~deb12u2 libyaml-dev:i386
expect partial status "$(cat "$work/partial.status")" 0
expect partial "what setup says" "$(cat "$work/partial.out")" \
  "setup: warning: apt-get update failed twice (http://fake/dists/stable/main/binary-i386/Packages.xz: File has unexpected size (10 != 12). Mirror sync in progress?); going on with the package lists there are"
expect partial "apt's calls" "$(cat "$work/partial/log")" "update
update
install -y -qq --no-remove --no-install-recommends libyaml-dev:i386"

run unsolvable 0 3.0.19-1 libcpp-httplib-dev:i386
expect unsolvable status "$(cat "$work/unsolvable.status")" 1
expect unsolvable "the closing lines" "$(tail -n 2 "$work/unsolvable.err")" \
  "setup: cannot install libcpp-httplib-dev:i386: no version is in both architectures' lists for libssl3 (amd64: 3.0.22-1~deb12u2, 3.0.20-1~deb12u2, 3.0.17-1~deb12u2; i386: 3.0.19-1)
setup: try: apt-get update && apt-get install --no-install-recommends --allow-downgrades libcpp-httplib-dev:i386 libbrotli1=1.0.9-2+b6 libbrotli1:i386=1.0.9-2+b6 libssl-dev=3.0.20-1~deb12u2 libssl-dev:i386=3.0.20-1~deb12u2 linux-libc-dev=6.1.176-1 linux-libc-dev:i386=6.1.176-1 zlib1g-dev=1:1.2.13.dfsg-1 zlib1g-dev:i386=1:1.2.13.dfsg-1 zlib1g=1:1.2.13.dfsg-1 zlib1g:i386=1:1.2.13.dfsg-1"
expect unsolvable "nothing installed" "$(grep -c install "$work/unsolvable/log")" 0

[ $failed = 0 ] && echo "apt-install: skew pinned, partial refresh warned, unsolvable install explained"
exit $failed
