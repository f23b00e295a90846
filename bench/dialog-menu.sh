#!/bin/bash
# The camera menu as a dialog(1) script, to compare with the program: the menus of [CONFIG]
# (Harrowlight.ini) with their chosen items, each a radio list; choices kept in dialog-menu.state.
set -u

STATE=dialog-menu.state ON_OFF=(off on)
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

current=0
while :; do
  args=()
  for n in "${!TITLES[@]}"; do
    IFS=',' read -r -a items <<<"${ITEMS[n]}"
    args+=("$n" "$(printf '%-12s %s' "${TITLES[n]}" "${items[CHOSEN[n] - 1]}")")
  done
  current=$(dialog --stdout --default-item "$current" --title "Camera" \
    --menu "" 0 0 0 "${args[@]}") || break
  IFS=',' read -r -a items <<<"${ITEMS[current]}"
  args=()
  for i in "${!items[@]}"; do
    args+=("$((i + 1))" "${items[i]}" "${ON_OFF[i + 1 == CHOSEN[current]]}")
  done
  choice=$(dialog --stdout --title "${TITLES[current]}" --radiolist "" 0 0 0 "${args[@]}") ||
    continue
  CHOSEN[current]=$choice
  echo "${CHOSEN[@]}" >"$STATE"
done
clear
