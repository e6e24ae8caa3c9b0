#!/usr/bin/env bash
# THIRD_PARTY_NOTICES.md against what the shipped binaries (the helper, the control tool and the
# client DLL) really contain: every archive and start-up object the linker took a member from
# (their link maps), and the header-only libraries their objects were compiled with (ninja's
# dependency log). Also installs the payload and checks that the notices lie beside them.
#   third_party_notices_test.sh <build dir> <notices file> <scratch dir>
set -uo pipefail
build=$1; notices=$2; scratch=$3
maps=("$build/src/QuorvexHelper.map" "$build/client/QuorvexHelperCtl.map" "$build/client/QuorvexHelperClient.map")
rm -rf "$scratch"; mkdir -p "$scratch"
failed=0; passed=0
fail() { echo "FAILED: $*" >&2; failed=$((failed + 1)); }

for map in "${maps[@]}"; do
  [ -s "$map" ] || { echo "no link map at $map: build the shipped binaries first" >&2; exit 1; }
done

# Archives with a member linked in ("path(member)" at the start of a line of the map's first
# section), and the object files loaded whole; the project's own files under the build dir are not
# third-party.
{
  sed -n -E 's@^(/[^()[:space:]]+\.a)\(.*@\1@p' "${maps[@]}"
  sed -n -E 's@^LOAD (/[^[:space:]]+\.o)$@\1@p' "${maps[@]}"
} | grep -v -F "$(realpath "$build")/" | sort -u >"$scratch/linked"
# Header-only libraries, from the headers that the product's objects (those under src/ and client/) were
# compiled with, as ninja's dependency log recorded them.
if ninja -C "$build" -t deps 2>/dev/null | awk '/^[^ ]/ { mine = ($1 ~ /^(src|client)\//) } mine' \
     | grep -E '^ +/.*/boost/[^/]+' >/dev/null; then  # reads to the end: no SIGPIPE under pipefail
  echo boost >>"$scratch/linked"
fi

# Every name in backticks on an "Archives:" or "Headers:" line of the notices.
grep -E '^(Archives|Headers):' "$notices" | grep -o -E '`[^`]+`' | tr -d '`' | sort -u >"$scratch/listed"

[ "$(wc -l <"$scratch/linked")" -gt 5 ] || fail "the link map names almost nothing: $(tr '\n' ' ' <"$scratch/linked")"
while read -r path; do
  name=$(basename "$path")
  if grep -qxF "$name" "$scratch/listed"; then passed=$((passed + 1)); else fail "$name ($path) is linked into a shipped binary but missing from $(basename "$notices")"; fi
done <"$scratch/linked"
# A listed library that is no longer linked is a stale entry, not a missing notice: say so.
while read -r name; do
  grep -q -E "(^|/)$(sed 's/[.+]/\\&/g' <<<"$name")\$" "$scratch/linked" || echo "note: $name is listed but not linked" >&2
done <"$scratch/listed"

# The install step puts the notices beside the executable, unchanged.
if cmake --install "$build" --prefix "$scratch/payload" >"$scratch/install.log" 2>&1; then
  for file in QuorvexHelper.exe QuorvexHelperCtl.exe QuorvexHelperClient.dll QuorvexHelperClient.lib quorvex_helper_client.h; do
    [ -f "$scratch/payload/$file" ] || fail "the install step installs no $file"
  done
  if cmp -s "$notices" "$scratch/payload/THIRD_PARTY_NOTICES.md"; then passed=$((passed + 1))
  else fail "THIRD_PARTY_NOTICES.md is not installed beside QuorvexHelper.exe"; fi
else
  fail "cmake --install failed: $(tail -n 5 "$scratch/install.log")"
fi

echo "third_party_notices: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
