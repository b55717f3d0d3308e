# Sourced by the signing tests: named checks that go on after a failure and
# an ending that fails the test when one did.
#   pass <what>            reports a check that held
#   fail <what> [details]  reports one that did not, with indented details
#   end_checks <summary>   exits 1 after any failure, else prints summary

failures=0
pass() { echo "ok: $1"; }
fail() {
  echo "FAILED: $1" >&2
  [ $# -lt 2 ] || printf '%s\n' "$2" | sed 's/^/    /' >&2
  failures=$((failures + 1))
}
end_checks() {
  [ "$failures" = 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
  echo "$1"
}
