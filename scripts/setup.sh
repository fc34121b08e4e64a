#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the program need. Safe to run again.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config clang clang-format libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  # toolkit and converters
  libssl-dev zlib1g-dev libjpeg62-turbo-dev libpng-dev libgdcm-dev libopenjp2-7-dev libcharls-dev
  libgsf-1-dev libzip-dev libxml2-dev libavformat-dev libavcodec-dev libavutil-dev
  # DICOMweb client: HTTP(S) and JSON
  libcurl4-openssl-dev nlohmann-json3-dev
  # desktop
  qt6-base-dev libsane-dev fonts-liberation2
  # the window driven as a person would: a private X server and the accessibility bus
  xvfb xauth dbus-daemon at-spi2-core python3-pyatspi imagemagick
  # the Debian package: manual pages and icons made at build time, its dependencies, its checks
  dpkg-dev librsvg2-bin groff-base lintian
  # print capture: the spooler library, the scheduler with its socket backend, lpadmin and lp,
  # the XPS and PostScript converters, pkexec for installing the queue without admin rights
  libcups2-dev cups cups-client libgxps-utils ghostscript pkexec
  # scanner: SANE's runtime, whose `test` backend the scanner tests scan with
  libsane1
  # peers and tools used by tests and benchmarks
  dcmtk dicom3tools orthanc orthanc-dicomweb python3 python3-pydicom python3-numpy libjpeg-turbo-progs ffmpeg openssl
  libopenjp2-tools
  # phone pictures and videos: HEIC, WebP, TIFF, transcoding of streams DICOM cannot carry
  libheif-dev libheif-examples libwebp-dev libtiff-dev libtiff-tools libswscale-dev libswresample-dev
  # paper: PDF pages as images, barcodes, network scanners, test codes
  libpoppler-cpp-dev poppler-utils libzxing-dev sane-airscan qrencode zint
  # print capture as a printer application, and its IPP checks
  libpappl-dev cups-ipp-utils
  # translations of the window
  qt6-tools-dev qt6-l10n-tools qt6-translations-l10n
  time procps curl
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
