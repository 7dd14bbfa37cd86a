# Helpers shared by the server benchmarks; sourced, not run.

# A free loopback port: one that no socket in /proc/net/tcp is bound to.
free_port() {
  local port hex
  while :; do
    port=$((20000 + RANDOM % 40000))
    hex=$(printf ':%04X ' "$port")
    grep -q "$hex" /proc/net/tcp /proc/net/tcp6 2>/dev/null || { echo "$port"; return; }
  done
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
m() { printf '%s\n' "$@" | median; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# vendors_csv COUNT: vendors with names of realistic length, a few of them needing XML escapes,
# every 50th inactive, as import-vendors reads them.
vendors_csv() {
  awk -v n="$1" 'BEGIN {
    print "id,name,active"
    split("Atlas Blue Cedar Delta Evergreen Falcon Granite Harbor Iron Juniper Keystone Meridian", a, " ")
    split("Office-Supply Paper-Goods Industrial Electrical Logistics Printing Janitorial Freight", b, " ")
    for (i = 1; i <= n; i++) {
      name = a[i % 12 + 1] " " b[i % 8 + 1] " " i
      gsub("-", " ", name)
      if (i % 97 == 0) name = name " & Sons"
      if (i % 89 == 0) name = "\"\"\"" name " <Ltd>\"\"\""  # CSV for: "name <Ltd>"
      print i "," name "," (i % 50 == 0 ? 0 : 1)
    }
  }'
}

# insert_body EMPLOYEE COUNT: the body the control sends for COUNT inserts of one employee.
insert_body() {
  awk -v employee="$1" -v n="$2" 'BEGIN {
    for (i = 1; i <= n; i++) {
      vendor = i * 31 + 1
      if (vendor % 50 == 0) vendor++
      printf "SQL=INSERT+INTO+VendorEmployeeCrossReference+%%28EmployeeID%%2CVendorID%%2CRecordLastUpdated%%29+VALUES+%%28%d%%2C%d%%2CGETDATE%%28%%29+%%29+&", employee, vendor
    }
  }'
}
