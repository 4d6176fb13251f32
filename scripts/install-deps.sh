#!/usr/bin/env bash
# Installs every Debian package needed to build, test and run Velda.
# Non-interactive and idempotent: packages already present are left alone.
# This is the one list of system packages of the project.
#   --fuzz   also install the clang toolchain for the fuzz targets
set -euo pipefail

PKGS=(
  # build
  build-essential cmake ninja-build pkg-config git clang-format
  # libraries
  qt6-base-dev qt6-base-dev-tools qt6-image-formats-plugins qt6-svg-dev
  libmagick++-6.q16-dev libturbojpeg0-dev libjpeg62-turbo-dev libimagequant-dev libexiv2-dev
  libgif-dev libpng-dev libwebp-dev libheif-dev libjxl-dev liblcms2-dev
  # the Fourier transforms that find an invisible mark's tiles
  libfftw3-dev
  # fonts: text renders the same on every machine
  fonts-dejavu-core
  # and a font with CJK glyphs, so that the fallback of any font draws them
  fonts-wqy-microhei
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev imagemagick exiv2 time bc webp
  # the reference encoders and decoders of HEIF, AVIF and JPEG XL
  libheif-examples libavif-bin libjxl-tools
  # a reader of extended XMP and every metadata block, for the tests
  libimage-exiftool-perl
  # an independent reader and writer for the tests (Debian's Python with PIL)
  python3-pil
  # a profile of Adobe RGB's colours for the colour conversion tests
  icc-profiles-free
  # real photographs for the tests, and libjpeg's own tools to make JPEGs
  # with restart markers or arithmetic coding from them
  lomiri-wallpapers-16.04 libjpeg-turbo-progs
  # running and looking at the desktop program headless
  xvfb xauth x11-apps libgl1 libegl1 libxkbcommon-x11-0 libxcb-cursor0
  libxcb-icccm4 libxcb-image0 libxcb-keysyms1 libxcb-randr0 libxcb-render-util0
  libxcb-shape0 libxcb-xinerama0 libxcb-xkb1 xdg-utils
)
if [[ "${1:-}" == "--fuzz" ]]; then
  PKGS+=(clang-14 libclang-rt-14-dev)
fi

SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO=sudo; fi

missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "install-deps: installing ${missing[*]}" >&2
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
    -o DPkg::Lock::Timeout=600 "${missing[@]}" >/dev/null
fi
