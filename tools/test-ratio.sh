#!/bin/sh
# Counts code lines (not blank, not only a comment) of the tracked .c, .cpp
# and .h files: test code (tests/, fuzz/) against the rest, and the ratio.
# Usage: tools/test-ratio.sh   (from the source root, in a git checkout)
set -eu
count() {
    # Drops blank lines, // lines and lines wholly inside or made of /* */ comments.
    awk '
        { line = $0; sub(/^[ \t]+/, "", line) }
        inblock { if (line ~ /\*\//) { inblock = 0; rest = line; sub(/.*\*\//, "", rest);
                  sub(/^[ \t]+/, "", rest); if (rest != "" && rest !~ /^\/\//) n++ } next }
        line == "" { next }
        line ~ /^\/\// { next }
        line ~ /^\/\*/ { if (line !~ /\*\//) { inblock = 1; next }
                         rest = line; sub(/^\/\*.*\*\//, "", rest); sub(/^[ \t]+/, "", rest)
                         if (rest == "" || rest ~ /^\/\//) next }
        { n++ }
        END { print n + 0 }' "$@" /dev/null
}
files=$(git ls-files -- '*.c' '*.cpp' '*.h')
tests=$(count $(printf '%s\n' $files | grep -E '^(tests|fuzz)/'))
rest=$(count $(printf '%s\n' $files | grep -vE '^(tests|fuzz)/'))
echo "test lines: $tests"
echo "other lines: $rest"
awk -v t="$tests" -v r="$rest" 'BEGIN { printf "ratio: %.2f\n", t / r }'
