#!/usr/bin/env bash
# End-to-end timings of the steady-state methods on the kanban and flexible
# manufacturing nets, from the model text: for every net, size and method the
# sweeps or iterations (from the verbose report), the wall and CPU seconds
# and the peak resident memory of the whole run (GNU time), and the matrix
# bytes per arc the sweeps stream.
#   bench/steady_methods.sh build/corvel [kanban:3,4,5 fms:3,4,5,6] [sor gs bicgstab]
set -u
bin=${1:-build/corvel}
nets=${2:-"kanban:3,4,5 fms:3,4,5,6"}
methods=${3:-"sor gs bicgstab"}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '| net | N | tangible | chain arcs | method | sweeps/iterations | wall s | CPU s | peak MB | B/arc | tput(tout4 or tP12s) |\n'
printf '|---|---|---|---|---|---|---|---|---|---|---|\n'
for entry in $nets; do
  net=${entry%%:*}
  for n in ${entry#*:}; do
    n=${n//,/ }
    for size in $n; do
      model=$work/$net$size.crv
      python3 "$here/steady_nets.py" "$net" "$size" > "$model"
      measure="tput(kanban, tout4)"
      [ "$net" = fms ] && measure="tput(fms, tP12s)"
      echo "expr $measure" >> "$model"
      for method in $methods; do
        out=$work/out.txt
        /usr/bin/time -f '%e %U %S %M' -o "$work/time.txt" "$bin" -v -ss "$method" "$model" > "$out" 2> /dev/null
        read -r wall user sys kb < "$work/time.txt"
        tangible=$(sed -n 's/.*: \([0-9]*\) tangible.*/\1/p' "$out" | head -1)
        arcs=$(sed -n 's/.*tangible chain: [0-9]* states, \([0-9]*\) arcs.*/\1/p' "$out" | head -1)
        count=$(sed -n 's/.*converged after \([0-9]*\) iterations.*/\1/p' "$out" | tail -1)
        [ -z "$count" ] && count="none"
        bpa=$(sed -n 's/.*distinct values, \([0-9.]*\) bytes per arc.*/\1/p' "$out" | head -1)
        value=$(sed -n 's/^tput([a-z]*, [a-zA-Z0-9]*): *//p' "$out" | tail -1)
        cpu=$(python3 -c "print(f'{$user + $sys:.1f}')")
        printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' "$net" "$size" "$tangible" "$arcs" "$method" \
          "$count" "$wall" "$cpu" "$((kb / 1024))" "${bpa:--}" "$value"
      done
    done
  done
done
