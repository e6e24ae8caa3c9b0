# Sourced after scripts/helper-service.sh: keeps every reply that `request` receives (the request
# line, the headers as received and the body) in $replies, for check_replies to hold against
# docs/openapi.yaml at the end of the test.
replies=$scratch/replies
rm -rf "$replies"; mkdir -p "$replies"
reply_count=0
eval "unrecorded_$(declare -f request)"
request() {
  unrecorded_request "$@"
  local protocol=h1 method=GET previous= arg record
  for arg in "${@:1:$#-1}"; do
    case $arg in
      --http2-prior-knowledge) protocol=h2 ;;
      --data | --data-* | -d) method=POST ;;
    esac
    [ "$previous" = -X ] && method=$arg
    previous=$arg
  done
  reply_count=$((reply_count + 1)); record=$replies/$(printf '%04d' "$reply_count")
  printf '%s %s %s\n' "$protocol" "$method" "${*: -1}" >"$record.request"
  cp "$scratch/headers" "$record.headers" 2>/dev/null || : >"$record.headers"
  cp "$scratch/body" "$record.body" 2>/dev/null || : >"$record.body"
}

# Every recorded reply against the document (tests/e2e/reply-check, installed by scripts/setup).
check_replies() {
  node "$root/tests/e2e/reply-check/check-replies.mjs" "${QUORVEX_OPENAPI:-$root/docs/openapi.yaml}" "$replies"
}
