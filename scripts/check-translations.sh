#!/usr/bin/env bash
# Fails when a visible text of the window program has no finished translation, when a translation
# file keeps texts the sources no longer have, or when a visible text bypasses tr(): lupdate
# brings a copy of each translations/tovrin_*.ts up to date in a temporary folder, and the copy is
# compared with the file in the repository (scripts/check-translations.py). Run by ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/translation-sources.sh
lupdate=$(lupdate_program)
mapfile -t sources < <(translation_sources)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for ts in translations/tovrin_*.ts; do
    language=$(basename "$ts" .ts)
    language=${language#tovrin_}
    cp "$ts" "$work/fresh.ts"
    "$lupdate" -silent -locations none -no-obsolete -source-language en -target-language "$language" \
        "${sources[@]}" -ts "$work/fresh.ts" 2> >(lupdate_noise_filtered >&2)
    python3 scripts/check-translations.py "$work/fresh.ts" "$ts" "${sources[@]}" || status=1
done
exit $status
