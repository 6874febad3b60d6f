# Shared by the scripts: package installation and the CMake build.
# shellcheck shell=bash

ZELM_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

ZELM_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libsqlite3-dev qt6-base-dev qt6-qpa-plugins qt6-svg-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang clang-format libclang-rt-14-dev
  media-types python3 python3-aiosmtpd dovecot-core dovecot-pop3d
  time
  xvfb dbus at-spi2-core python3-pyatspi fonts-dejavu-core imagemagick
  libssl-dev openssl ca-certificates
)

# Installs whatever of ZELM_PACKAGES is missing (Debian, as root, non-interactive).
ensure_packages() {
  local missing=() pkg
  for pkg in "${ZELM_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  # Package scripts must not start a system Dovecot: the tests run their own on loopback.
  local policy=/usr/sbin/policy-rc.d had_policy=0
  [ -e "$policy" ] && had_policy=1
  if [ $had_policy -eq 0 ]; then
    printf '#!/bin/sh\nexit 101\n' | "${sudo[@]}" tee "$policy" >/dev/null
    "${sudo[@]}" chmod +x "$policy"
  fi
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
  [ $had_policy -eq 1 ] || "${sudo[@]}" rm -f "$policy"
}

# configure_and_build BUILD_DIR [cmake options...]
configure_and_build() {
  local dir=$1
  shift
  cmake -S "$ZELM_ROOT" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}
