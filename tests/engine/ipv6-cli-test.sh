#!/usr/bin/env bash
# Black-box: orvane-cli's IPv6 options. Wrong addresses, families mixed between
# group and source, options for groups with a unicast destination and unknown
# interfaces end with status 2 and a message that names them; a destination
# without a route ends the play with status 1 and "no route to ADDR" (checked
# in a network namespace of its own, which has no route but loopback: root).
source "$(dirname "$0")/../support/cli-test.sh"
"$cli" generate "$work/good.ts" --rate 2000000 --duration 1 >/dev/null
play=("$cli" play "$work/good.ts")
expect 2 'bad destination "::1:5000": expected IPv4ADDRESS:PORT or [IPv6ADDRESS]:PORT' "${play[@]}" --to ::1:5000
expect 2 'bad destination "[10.0.0.1]:5000"' "${play[@]}" --to '[10.0.0.1]:5000'
expect 2 '--ttl and --interface are for a multicast destination (224.0.0.0/4 or ff00::/8)' \
    "${play[@]}" --to '[::1]:5000' --ttl 3
expect 2 'bad --interface "no-such-if9": no such IPv6 address or interface' \
    "${play[@]}" --to '[ff15::1]:5000' --interface no-such-if9

record=("$cli" record --port 5000 --out "$work/rec.ts")
expect 2 '--group fd00::1 is not a multicast address (IPv4 224.0.0.0/4 or IPv6 ff00::/8)' "${record[@]}" --group fd00::1
expect 2 '--source 10.0.0.1 and --group ff15::1 are not of one family (IPv4, IPv6)' \
    "${record[@]}" --group ff15::1 --source 10.0.0.1
expect 2 '--interface no-such-if9: no such interface or interface address' \
    "${record[@]}" --group ff15::1 --interface no-such-if9
[ ! -e "$work/rec.ts" ] || { echo "a refused record created its file" >&2; exit 1; }

for tool in unshare:util-linux ip:iproute2; do
    command -v "${tool%%:*}" >/dev/null || { echo "${tool%%:*} is not installed (Debian package ${tool#*:})" >&2; exit 1; }
done
# With loopback up the address has no route (with it down, no source address).
expect 1 'no route to 2001:db8::1' unshare -n sh -c 'ip link set lo up && exec "$@"' sh "${play[@]}" --to '[2001:db8::1]:5000'
echo "IPv6 refusals as expected"
