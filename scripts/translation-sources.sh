# Sourced by the translation scripts: the window program's sources that lupdate reads (the window
# units F*.cpp/F*.h beside the core code, gui/ and the layouts in forms/), as CMake builds them
# into tovrin_gui, relative to the repository's root.
translation_sources() {
    local dir file
    for dir in text comm platform finder ipsettings upload gotoproj memo; do
        for file in "$dir"/F*.cpp "$dir"/F*.h; do
            [ -f "$file" ] && echo "$file"
        done
    done
    for file in gui/*.cpp gui/*.h forms/*.ui; do
        [ -f "$file" ] && echo "$file"
    done
    return 0
}
lupdate_program() {
    command -v lupdate 2>/dev/null || { [ -x /usr/lib/qt6/bin/lupdate ] && echo /usr/lib/qt6/bin/lupdate; } \
        || { echo "lupdate not found: run scripts/setup.sh (qt6-l10n-tools)" >&2; return 1; }
}
# lupdate reads each file alone: it notes classes declared in headers it did not follow, and the
# exported header's extern "C" braces; neither changes what it finds.
lupdate_noise_filtered() {
    grep -v -e 'Qualifying with unknown namespace/class' -e 'Ignoring definition of undeclared qualified class' \
        -e 'brace mismatch between #if and #else' || true
}
