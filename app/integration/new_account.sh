# A fresh account for a test, as a new user has it: a home of its own, no display and no XDG
# folder set. Sourced by the tests that need one:
#   new_account          a temporary home for this user (account_home)
#   new_account --real   (root only) a throw-away user of the system with a home and sudo rights
#                        without a password, as a developer's account has them (account_name);
#                        its commands get a login's environment, whose PATH lacks /usr/sbin
#   as_new_user CMD...   runs CMD in the account
#   remove_account       takes the account, its home and its sudo rights away again; call it from
#                        an EXIT trap, so that a failed test removes them too

account_home= account_name= account_sudoers=

new_account() {
  if [[ "${1:-}" != --real ]]; then
    account_home=$(mktemp -d)
    return
  fi
  # Short, lower case and unlikely to be taken: kt and six random hexadecimal digits.
  account_name=kt$(od -An -N3 -tx1 /dev/urandom | tr -d ' \n')
  useradd --create-home --shell /bin/bash --comment "kasse test account" "$account_name"
  account_home=$(getent passwd "$account_name" | cut -d: -f6)
  account_sudoers=/etc/sudoers.d/kasse-test-$account_name
  local draft
  draft=$(mktemp)
  echo "$account_name ALL=(ALL) NOPASSWD: ALL" >"$draft"
  visudo -cqf "$draft"
  install -m 0440 "$draft" "$account_sudoers"
  rm -f "$draft"
}

as_new_user() {
  if [[ -n "$account_name" ]]; then
    # A login's environment, nothing of the caller's.
    runuser -u "$account_name" -- env -i HOME="$account_home" USER="$account_name" \
      LOGNAME="$account_name" SHELL=/bin/bash PATH=/usr/local/bin:/usr/bin:/bin \
      LANG="${LANG:-C.UTF-8}" "$@"
    return
  fi
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_DATA_HOME -u XDG_STATE_HOME \
    -u XDG_CONFIG_HOME -u XDG_CACHE_HOME -u XDG_RUNTIME_DIR HOME="$account_home" "$@"
}

remove_account() {
  if [[ -n "$account_name" ]]; then
    rm -f "$account_sudoers"
    userdel --remove "$account_name" 2>/dev/null || userdel --remove --force "$account_name" || true
  elif [[ -n "$account_home" ]]; then
    rm -rf "$account_home"
  fi
}
