# Turns build/accuracy/results.tsv (made by scripts/accuracy_table.sh) into
# Markdown tables: the RMSE off the contours and the times, a row a method
# and a column a set, then every figure of each set.  Run with -F'\t' and
# -v sets="NAME ..." (the order of the columns; sets absent from the file are
# left out).
NR == 1 { next }
{
  set = $1; key = $2 "\t" $3
  if (!(key in seen)) { seen[key] = 1; keys[++nkeys] = key }
  present[set] = 1
  row[set, key] = $0
}
function cell_rmse(line,   f) {
  if (line == "") return ""
  split(line, f, "\t")
  if (f[4] == "failed") return "failed"
  return sprintf("%.3f", f[8]) (f[6] > 0 ? sprintf(" (%d empty)", f[6]) : "")
}
function cell_time(line,   f) {
  if (line == "") return ""
  split(line, f, "\t")
  if (f[4] == "failed") return "failed"
  return sprintf("%.2f", f[4]) (f[15] == "" ? "" : sprintf(" (%.2f)", f[15]))
}
function header(title,   i) {
  printf "| method | parameters |"
  for (i = 1; i <= ncols; i++) printf " %s |", cols[i]
  printf "\n|---|---|"
  for (i = 1; i <= ncols; i++) printf "---:|"
  printf "\n"
}
END {
  n = split(sets, all, " ")
  for (i = 1; i <= n; i++) if (all[i] in present) cols[++ncols] = all[i]

  print "### RMSE off the contours (m)"
  print ""
  print "Over the pixels that hold no contour in the input. \"N empty\": pixels the method left without a value, left out of the figure."
  print ""
  header()
  for (k = 1; k <= nkeys; k++) {
    split(keys[k], mp, "\t")
    printf "| %s | `%s` |", mp[1], mp[2]
    for (i = 1; i <= ncols; i++) printf " %s |", cell_rmse(row[cols[i], keys[k]])
    printf "\n"
  }

  print ""
  print "### Time (s)"
  print ""
  print "Wall clock of the whole command, reading and writing included, and in brackets its CPU time (user + system, all threads); each the best of 3 runs under 10 s, of 2 under 60 s."
  print ""
  header()
  for (k = 1; k <= nkeys; k++) {
    split(keys[k], mp, "\t")
    printf "| %s | `%s` |", mp[1], mp[2]
    for (i = 1; i <= ncols; i++) printf " %s |", cell_time(row[cols[i], keys[k]])
    printf "\n"
  }

  for (i = 1; i <= ncols; i++) {
    s = cols[i]
    truth = ""; gap = ""
    for (k = 1; k <= nkeys; k++) {
      line = row[s, keys[k]]
      if (line == "") continue
      split(line, f, "\t")
      if (f[4] != "failed") { truth = f[14]; gap = f[5]; break }
    }
    print ""
    printf "### %s\n\n", s
    printf "%s pixels off the contours. Errors in metres; the terrace share is the part of those pixels within 5 %% of an interval of a contour level (the truth's: %s %%).\n\n", gap, truth
    print "| method | parameters | RMSE | MAE | largest | mean | RMSE on the contours | terrace share | empty pixels (gap + contour) | time (s) | CPU (s) |"
    print "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
    for (k = 1; k <= nkeys; k++) {
      line = row[s, keys[k]]
      if (line == "") continue
      split(line, f, "\t")
      split(keys[k], mp, "\t")
      if (f[4] == "failed") {
        printf "| %s | `%s` | failed | | | | | | | | |\n", mp[1], mp[2]
        continue
      }
      printf "| %s | `%s` | %.3f | %.3f | %.2f | %+.3f | %.3f | %.2f %% | %d + %d | %.2f | %.2f |\n",
        mp[1], mp[2], f[8], f[9], f[10], f[11], f[12], f[13], f[6], f[7], f[4], f[15]
    }
  }
}
