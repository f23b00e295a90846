#!/bin/bash
# The camera menu as a dialog(1) script, for comparison with the program: the menus of CONFIG
# (Harrowlight.ini) in a list, each showing its chosen item; a menu opens its items as a radio
# list; the choices are kept in dialog-menu.state. Usage: dialog-menu.sh [CONFIG]
set -u

STATE=dialog-menu.state
declare -a TITLES ITEMS CHOSEN
# MENU_n=TITLE,ITEM,ITEM,... ; items are kept comma-separated.
while IFS='=' read -r key value; do
  [[ $key == MENU_[0-9]* ]] || continue
  n=${key#MENU_}
  TITLES[n]=${value%%,*}
  ITEMS[n]=${value#*,}
  CHOSEN[n]=1
done <"${1:-Harrowlight.ini}"
[ ! -r "$STATE" ] || read -r -a CHOSEN <"$STATE"

item_label() { # MENU INDEX (from 1)
  local -a list
  IFS=',' read -r -a list <<<"${ITEMS[$1]}"
  echo "${list[$(($2 - 1))]}"
}

choose_item() { # MENU
  local -a list args
  local i state choice
  IFS=',' read -r -a list <<<"${ITEMS[$1]}"
  for i in "${!list[@]}"; do
    if [ $((i + 1)) -eq "${CHOSEN[$1]}" ]; then state=on; else state=off; fi
    args+=("$((i + 1))" "${list[i]}" "$state")
  done
  choice=$(dialog --stdout --title "${TITLES[$1]}" --radiolist "" 0 0 0 "${args[@]}") || return
  CHOSEN[$1]=$choice
  echo "${CHOSEN[@]}" >"$STATE"
}

current=0
while :; do
  args=()
  for n in "${!TITLES[@]}"; do
    args+=("$n" "$(printf '%-12s %s' "${TITLES[n]}" "$(item_label "$n" "${CHOSEN[n]}")")")
  done
  current=$(dialog --stdout --default-item "$current" --title "Camera" \
    --menu "" 0 0 0 "${args[@]}") || break
  choose_item "$current"
done
clear
