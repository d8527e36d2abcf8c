# shellcheck shell=bash
# Runs a build's CTest suite and reports it in a line, for tools/test and
# tools/oldest (sourced):
#   suite_tests <build directory> <log> [ctest options]
# One line says how it went, then one for each test it skipped, with the
# reason the test gave; where tests failed, their output follows. All of it
# is also in <build directory>/<log>.

# cases_passed <build directory>: the test cases its last CTest run passed:
# a GoogleTest process counts the cases it passed, any other test one,
# unless it said it skipped (CTest's log calls a skip passed too).
cases_passed() {
  awk '/^[0-9]+\/[0-9]+ Testing: / { gtest = 0; skipped = 0 }
       /^skipped: / { skipped = 1 }
       /^\[  PASSED  \] [0-9]+ tests?\.$/ { cases += $4; gtest = 1 }
       /^Test Passed\.$/ && !gtest && !skipped { cases++ }
       END { print cases + 0 }' "$1/Testing/Temporary/LastTest.log"
}

# skipped_tests <build directory>: each test its last run skipped, with the
# line in which it said why ("skipped: ...").
skipped_tests() {
  awk '/^[0-9]+\/[0-9]+ Testing: / { name = $3 }
       /^skipped: / { sub(/^skipped: /, ""); print "   skipped, " name ": " $0 }' \
    "$1/Testing/Temporary/LastTest.log"
}

suite_tests() {
  local dir=$1 log=$2 start=$SECONDS
  shift 2
  if (cd "$dir" && ctest --output-on-failure -j"$(nproc)" "$@") >"$dir/$log" 2>&1; then
    echo "   $dir: $(cases_passed "$dir") test cases passed in $((SECONDS - start)) s"
    skipped_tests "$dir"
  else
    # In one piece, since other suites may be saying something too.
    printf '   %s: FAILED, after %d s:\n%s\n' "$dir" $((SECONDS - start)) "$(sed 's/^/   | /' "$dir/$log")"
    return 1
  fi
}
