# Sourced: apt_update [COMMAND PREFIX...] refreshes apt's package lists. A
# mirror caught mid-sync answers with lists of the wrong size, and apt-get
# update then fails for a minute or two: it is tried again, and when it still
# fails the install goes on with the lists apt has (it fails on its own if a
# package cannot be had).
apt_update() {
  local try
  for try in 1 2 3 4; do
    if "$@" apt-get -o DPkg::Lock::Timeout=600 update -qq; then
      return 0
    fi
    [ "$try" -lt 4 ] && sleep $((try * 20))
  done
  echo "apt-get update kept failing; going on with the package lists apt has" >&2
  return 0
}
