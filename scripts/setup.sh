#!/usr/bin/env bash
# Installs what the build, the tests and the example need; only what is missing.
set -euo pipefail
packages=(cmake make g++ googletest libgtest-dev libgmock-dev libbenchmark-dev
          libboost-program-options-dev tnef unrtf coreutils python3
          flex bison clang libclang-rt-14-dev dovecot-pop3d)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" </dev/null
fi
