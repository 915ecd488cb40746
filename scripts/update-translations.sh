#!/usr/bin/env bash
# Brings translations/tovrin_*.ts up to date with the window program's texts: new texts come in
# unfinished (to be translated, e.g. with Qt Linguist: linguist translations/tovrin_de.ts), texts
# no longer in the sources are dropped. Run it after changing any visible text, then translate
# what is new; scripts/check-translations.sh fails until every text is translated.
#   scripts/update-translations.sh [TS_FILE...]   (default: every translations/tovrin_*.ts)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/translation-sources.sh
lupdate=$(lupdate_program)
ts_files=("$@")
if [ ${#ts_files[@]} -eq 0 ]; then
    shopt -s nullglob
    ts_files=(translations/tovrin_*.ts)
    [ ${#ts_files[@]} -gt 0 ] || { echo "no translations/tovrin_*.ts; name a new one, e.g. translations/tovrin_fr.ts" >&2; exit 1; }
fi
mapfile -t sources < <(translation_sources)
for ts in "${ts_files[@]}"; do
    language=$(basename "$ts" .ts)
    language=${language#tovrin_}
    "$lupdate" -silent -locations none -no-obsolete -source-language en -target-language "$language" \
        "${sources[@]}" -ts "$ts" 2> >(lupdate_noise_filtered >&2)
    echo "updated $ts"
done
