#!/usr/bin/env python3
"""Checks a site's weight log against the weighments its broker delivered.

    chain_check.py MESSAGES [SITE_ROWS]

MESSAGES: the weighment messages a subscriber kept, one JSON object a line (mosquitto_sub output).
SITE_ROWS: optional, the site's rows as "slno|digest" lines, e.g. from
    sqlcipher scale.mdb "PRAGMA key='qd584'; select slno, digest from weightlog;"

Each delivered digest is recomputed from its message and the digest delivered before it, and each of
the site's digests is compared with the delivered one of the same log id and slno. Exit status 0 when
everything matches, 1 when anything does not.
"""
import hashlib
import json
import sys


def digest(logid, slno, weight, datetime, previous):
    text = "\n".join([logid, str(slno), weight, datetime, previous])
    return hashlib.sha256(text.encode("utf-8")).hexdigest()


def main(argv):
    logs = {}  # logid -> {slno: message}; repeats are dropped by (logid, slno)
    with open(argv[1], encoding="utf-8") as lines:
        for line in lines:
            if line.strip():
                m = json.loads(line)
                logs.setdefault(m["logid"], {}).setdefault(m["slno"], m)
    problems = 0
    for logid, rows in logs.items():
        previous, previous_slno = "", None
        for slno in sorted(rows):
            m = rows[slno]
            if m["digest"] is None:
                continue  # written before the site's log was chained
            if previous_slno is None or previous_slno == slno - 1 or previous == "":
                if previous_slno is not None and previous_slno != slno - 1:
                    print(f"{logid} slno {slno}: not checked, slno {slno - 1} was not delivered")
                elif digest(logid, slno, m["weight"], m["datetime"], previous) != m["digest"]:
                    print(f"{logid} slno {slno}: the delivered digest does not match the message")
                    problems += 1
            previous, previous_slno = m["digest"], slno
    if len(argv) > 2:
        # The site's file holds one log; its rows are matched with the log whose slno they share.
        site = {}
        with open(argv[2], encoding="utf-8") as lines:
            for line in lines:
                slno, _, value = line.strip().partition("|")
                if slno:
                    site[int(slno)] = value
        logid = max(logs, key=lambda k: len(set(logs[k]) & set(site)), default=None)
        for slno, m in sorted(logs.get(logid, {}).items()):
            if slno not in site:
                print(f"{logid} slno {slno}: delivered, not in the site's log (see its event log)")
            elif m["digest"] is not None and site[slno] != m["digest"]:
                print(f"{logid} slno {slno}: the site's digest differs from the one delivered")
                problems += 1
    print("everything matches" if problems == 0 else f"{problems} mismatches")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
