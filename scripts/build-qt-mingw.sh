#!/usr/bin/env bash
# Builds a static Qt 6 (Core, Gui, Widgets, the Windows platform plugin, Qt Test) for
# x86_64-w64-mingw32 from Debian's own qt6-base source package, with the host tools of Debian's
# Qt 6, and installs it into a cache folder keyed by the Qt version and the configure options, so
# a second run with the same options is a no-op. Prints the install prefix on its last line.
#
#   QT_MINGW_CACHE   the cache folder (default: ~/.cache/plumeria/qt-mingw)
#   JOBS             parallel compile jobs (default: nproc)
#
# Static because the self-update replaces one executable: PlumeriaBridge.exe carries Qt, the C and
# C++ runtimes and the platform plugin inside itself.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

JOBS=${JOBS:-$(nproc)}
CACHE=${QT_MINGW_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/plumeria/qt-mingw}
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"

# The host tools (moc, rcc, uic) must be the very version of the source.
QT_VERSION=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools 2>/dev/null || true)
if [ -z "$QT_VERSION" ]; then
    echo "build-qt-mingw: Debian's qt6-base-dev-tools is not installed (scripts/install-deps.sh)" >&2
    exit 1
fi

# Everything the program does not use stays out: no SQL, network, D-Bus, printing, XML or
# concurrency modules. Debian's tarball has no wintab headers (no tablet events), and the Windows
# plugin of this version needs OpenGL on (it is then loaded at run time only).
OPTIONS=(
    -DBUILD_SHARED_LIBS=OFF
    -DCMAKE_BUILD_TYPE=Release
    -DQT_BUILD_TESTS=OFF
    -DQT_BUILD_EXAMPLES=OFF
    -DQT_BUILD_BENCHMARKS=OFF
    -DFEATURE_sql=OFF
    -DFEATURE_network=OFF
    -DFEATURE_dbus=OFF
    -DFEATURE_printsupport=OFF
    -DFEATURE_concurrent=OFF
    -DFEATURE_xml=OFF
    -DFEATURE_tabletevent=OFF
    -DFEATURE_system_zlib=OFF
    -DFEATURE_system_pcre2=OFF
    -DFEATURE_system_freetype=OFF
    -DFEATURE_system_harfbuzz=OFF
    -DFEATURE_system_libpng=OFF
    -DFEATURE_system_jpeg=OFF
    -DFEATURE_sql_sqlite=OFF
    # Nothing of ours creates these, and no widget we create needs them: the FreeType engine (the
    # Windows platform draws with DirectWrite and GDI), JPEG, GIF and ICO images (our pictures are
    # PNG, the program's icon comes from the resource file), graphics views, style sheets, PDF,
    # ODF and the rarer widgets and dialogs.
    -DFEATURE_freetype=OFF
    -DFEATURE_jpeg=OFF
    -DFEATURE_gif=OFF
    -DFEATURE_ico=OFF
    -DFEATURE_graphicsview=OFF
    -DFEATURE_style_stylesheet=OFF
    -DFEATURE_pdf=OFF
    -DFEATURE_textodfwriter=OFF
    -DFEATURE_mdiarea=OFF
    -DFEATURE_calendarwidget=OFF
    -DFEATURE_datetimeedit=OFF
    -DFEATURE_dial=OFF
    -DFEATURE_lcdnumber=OFF
    -DFEATURE_splashscreen=OFF
    -DFEATURE_wizard=OFF
    -DFEATURE_fontcombobox=OFF
    -DFEATURE_fontdialog=OFF
    -DFEATURE_colordialog=OFF
    -DFEATURE_keysequenceedit=OFF
    -DFEATURE_commandlinkbutton=OFF
    -DFEATURE_toolbox=OFF
    -DFEATURE_syntaxhighlighter=OFF
    -DFEATURE_undoview=OFF
    # Qt's own code at -O1 instead of -O2 (-O3 for Core and Gui): the program waits on files and
    # scales, not on Qt, and a first build on a new machine takes markedly less time.
    -DQT_USE_DEFAULT_CMAKE_OPTIMIZATION_FLAGS=ON
    "-DCMAKE_C_FLAGS_RELEASE=-O1 -DNDEBUG"
    "-DCMAKE_CXX_FLAGS_RELEASE=-O1 -DNDEBUG"
)
KEY=$(printf '%s\n' "$QT_VERSION" "${OPTIONS[@]}" "$(cat "$ROOT/cmake/mingw-w64-x86_64.cmake")" |
    sha256sum | cut -c1-12)
PREFIX="$CACHE/${QT_VERSION//[^0-9A-Za-z.+-]/_}-$KEY"

if [ -x "$PREFIX/bin/qt-cmake" ] && [ -f "$PREFIX/.complete" ]; then
    echo "Qt for MinGW-w64 is cached (no-op)"
    echo "$PREFIX"
    exit 0
fi

START=$(date +%s)
WORK="$CACHE/work-$KEY"
rm -rf "$WORK"
mkdir -p "$WORK"

# The source package, through a sources list of our own beside apt's: the same archive and
# suites as the system's deb entries, as deb-src.
APT_DIR="$WORK/apt"
mkdir -p "$APT_DIR/lists/partial"
: >"$APT_DIR/sources.list"
for Sources in /etc/apt/sources.list.d/*.sources; do
    [ -f "$Sources" ] || continue
    sed -n 's/^Types:.*\bdeb\b.*/Types: deb-src/p; /^Types:/!p' "$Sources" >>"$APT_DIR/debian-src.sources"
    echo >>"$APT_DIR/debian-src.sources"
done
if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb \(.*\)/deb-src \1/p' /etc/apt/sources.list >>"$APT_DIR/sources.list"
fi
mkdir -p "$APT_DIR/parts"
[ -f "$APT_DIR/debian-src.sources" ] && mv "$APT_DIR/debian-src.sources" "$APT_DIR/parts/"
APT_OPTS=(-o "Dir::Etc::SourceList=$APT_DIR/sources.list" -o "Dir::Etc::SourceParts=$APT_DIR/parts"
    -o "Dir::State::Lists=$APT_DIR/lists" -o "APT::Sandbox::User=root")
echo "== fetching the qt6-base source package ($QT_VERSION)"
$SUDO apt-get "${APT_OPTS[@]}" update -q >"$WORK/apt-update.log" 2>&1 ||
    { cat "$WORK/apt-update.log" >&2; exit 1; }
(cd "$WORK" && $SUDO apt-get "${APT_OPTS[@]}" source -q "qt6-base=$QT_VERSION" >apt-source.log 2>&1) ||
    { cat "$WORK/apt-source.log" >&2; exit 1; }
SRC=$(find "$WORK" -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)
[ -n "$SRC" ] || { echo "build-qt-mingw: the source package did not unpack" >&2; exit 1; }
T_FETCH=$(date +%s)

echo "== configuring Qt for x86_64-w64-mingw32 into $PREFIX"
cmake -S "$SRC" -B "$WORK/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_CROSSCOMPILING_EMULATOR= \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_INSTALL_PREFIX="$PREFIX" "${OPTIONS[@]}" >"$WORK/configure.log" 2>&1 ||
    { tail -n 60 "$WORK/configure.log" >&2; exit 1; }
T_CONFIGURE=$(date +%s)

echo "== building Qt ($JOBS jobs; about 25-30 minutes on two cores)"
cmake --build "$WORK/build" -j "$JOBS" >"$WORK/build.log" 2>&1 ||
    { tail -n 60 "$WORK/build.log" >&2; exit 1; }
T_BUILD=$(date +%s)
rm -rf "$PREFIX"
cmake --install "$WORK/build" >"$WORK/install.log" 2>&1 ||
    { tail -n 30 "$WORK/install.log" >&2; exit 1; }
touch "$PREFIX/.complete"
rm -rf "$WORK"
END=$(date +%s)

echo "Qt for MinGW-w64 built in $((END - START)) s (fetch $((T_FETCH - START)) s," \
    "configure $((T_CONFIGURE - T_FETCH)) s, build $((T_BUILD - T_CONFIGURE)) s," \
    "install $((END - T_BUILD)) s)"
echo "$PREFIX"
