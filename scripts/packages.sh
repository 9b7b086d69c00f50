# Sourced by the set-up scripts. install_packages TAG PACKAGE... installs
# with apt-get (as root) the packages that are missing; a package of another
# architecture (name:i386) has its architecture added first. Returns 0 when
# all are there, 3 when some are missing and cannot be installed here.
install_packages() {
  local tag=$1 p arch
  shift
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "$tag: missing packages: ${missing[*]} (run as root to install them)" >&2
    return 3
  fi
  echo "$tag: installing ${missing[*]}"
  for p in "${missing[@]}"; do
    [[ $p == *:* ]] || continue
    arch=${p#*:}
    dpkg --print-foreign-architectures | grep -qx "$arch" || dpkg --add-architecture "$arch" || return 3
  done
  export DEBIAN_FRONTEND=noninteractive
  # A list that fails to download (a mirror in the middle of a sync) leaves
  # the others usable: the install below says whether they were enough.
  apt-get update -q || echo "$tag: some package lists could not be updated; going on with the others" >&2
  apt-get install -y -q --no-install-recommends "${missing[@]}" || return 3
}
