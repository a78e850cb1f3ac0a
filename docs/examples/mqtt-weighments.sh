#!/bin/sh
# Prints every weighment the Veltranes of a company publish to an MQTT broker, once each, as
# "SITE SLNO WEIGHT DATE TIME". Usage: mqtt-weighments.sh BROKER_HOST [PORT]   (needs mosquitto-clients)
host=${1:?usage: mqtt-weighments.sh BROKER_HOST [PORT]}
port=${2:-1883}
# A lasting session (-c with a fixed client id) at QoS 1: the broker keeps what arrives while this
# subscriber is away and hands it over when it comes back.
mosquitto_sub -h "$host" -p "$port" -t 'veltrane/+/weighment' -q 1 -c -i "weighments-$(hostname)" |
  sed -u -n 's/^{"slno": \([0-9]*\), "weight": "\([^"]*\)", "datetime": "\([^"]*\)", "logid": "\([0-9a-f]*\)", "digest": [^,]*, "site": "\(.*\)"}$/\1 \2 \3 L\4 \5/p' |
  while read -r slno weight date time logid site; do
    # Each log's weighments first arrive in slno order, so one not above the highest seen is a repeat.
    # A site's log made anew numbers from 1 again under a new log id: the key is the site and the log
    # (the log id comes with an "L" before it, so that an empty one still fills its field).
    key=highest_${logid}_$(printf %s "$site" | od -An -tx1 | tr -d ' \n')
    eval "highest=\${$key:-0}"
    [ "$slno" -gt "$highest" ] || continue
    eval "$key=$slno"
    printf '%s %s %s %s %s\n' "$site" "$slno" "$weight" "$date" "$time"
  done
