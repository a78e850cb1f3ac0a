#!/bin/sh
# Prints one day's weighments per site from the collector's database as
# "SITE COUNT TOTAL FIRST LAST" (FIRST and LAST: the first and last serving's time, site's local time).
# Usage: collect-day-report.sh DAY [CONNINFO]   (DAY as YYYY-MM-DD; needs psql, package postgresql-client)
day=${1:?usage: collect-day-report.sh DAY [CONNINFO]}
psql -X -q -A -t -F ' ' -d "${2:-dbname=veltrane}" -v day="$day" <<'SQL'
select site, count(*), sum(value), min(served_at)::time, max(served_at)::time
from weighment
where served_at >= :'day'::date and served_at < :'day'::date + 1
group by site
order by site;
SQL
