#!/bin/sh
# Run by ctest after the tests: lists the skipped tests with their reasons,
# which ctest itself shows only with -V. Shell built-ins only.
notes=$1
[ -s "$notes" ] || exit 0
echo "Skipped tests and why (tools/install-test-deps installs the programs they need):"
while IFS= read -r line; do printf '  %s\n' "$line"; done <"$notes"
