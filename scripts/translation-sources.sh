# Sourced by the translation scripts: the window program's sources that lupdate reads (the window
# units F*.cpp/F*.h beside the core code, gui/ and the layouts in forms/), as CMake builds them
# into tovrin_gui, relative to the repository's root.
translation_sources() {
    local dir
    for dir in text comm platform finder ipsettings upload gotoproj memo; do
        ls "$dir"/F*.cpp "$dir"/F*.h 2>/dev/null || true
    done
    ls gui/*.cpp gui/*.h forms/*.ui
}
lupdate_program() {
    command -v lupdate 2>/dev/null || { [ -x /usr/lib/qt6/bin/lupdate ] && echo /usr/lib/qt6/bin/lupdate; } \
        || { echo "lupdate not found: run scripts/setup.sh (qt6-l10n-tools)" >&2; return 1; }
}
