#!/bin/sh
# Lists the longest function (lines from its first to its last line, as
# Universal Ctags sees them) in each product folder, or in the folders given.
# Usage: tools/longest-functions.sh [--top N] [folder ...]   (from the source root)
set -eu
top=1
if [ "${1:-}" = "--top" ]; then top=$2; shift 2; fi
[ $# -gt 0 ] || set -- toolkit console programmer velk430 serial app resources
for dir in "$@"; do
    find "$dir" -name '*.cpp' -o -name '*.c' -o -name '*.h' | sort |
        xargs ctags --languages=C++ --map-C++=+.c --kinds-C++=f --fields=+ne -o - 2>/dev/null |
        awk -F'\t' -v dir="$dir" '{
            start = 0; end = 0
            for (i = 4; i <= NF; i++) {
                if ($i ~ /^line:/) start = substr($i, 6)
                if ($i ~ /^end:/) end = substr($i, 5)
            }
            if (start && end) printf "%d\t%s\t%s:%d\t%s\n", end - start + 1, dir, $2, start, $1
        }' | sort -t"$(printf '\t')" -k1,1nr | head -n "$top"
done
