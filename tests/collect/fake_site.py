#!/usr/bin/env python3
"""A site as the collector meets it, for the tests that run without the real program.
  fake_site.py rows SITE LOGID FIRST LAST    weighment messages with chained digests, one a line
  fake_site.py serve PORT SITE ROWS          answers SITE/resend from the rows in the file ROWS
"""
import hashlib, json, subprocess, sys


def rows(site, logid, first, last):
    previous = ""
    for slno in range(1, last + 1):
        weight, stamp = str(1000 + slno * 10), "2026-03-01 08:%02d:%02d" % (slno // 60 % 60, slno % 60)
        text = "\n".join([logid, str(slno), weight, stamp, previous])
        digest = hashlib.sha256(text.encode()).hexdigest()
        previous = digest
        if slno >= first:
            print(json.dumps({"slno": slno, "weight": weight, "datetime": stamp, "site": site,
                              "logid": logid, "digest": digest}))


def serve(port, site, path):
    sub = subprocess.Popen(["mosquitto_sub", "-p", port, "-t", site + "/resend", "-q", "1"],
                           stdout=subprocess.PIPE, text=True)
    pub = subprocess.Popen(["mosquitto_pub", "-p", port, "-t", site + "/weighment", "-q", "1", "-l"],
                           stdin=subprocess.PIPE, text=True)
    for line in sub.stdout:
        ask = json.loads(line)
        wanted = set(ask["slno"]) if "slno" in ask else set(range(ask["from"], ask["to"] + 1))
        with open(path) as held:
            for row in held:
                m = json.loads(row)
                if m["logid"] == ask["logid"] and m["slno"] in wanted:
                    pub.stdin.write(row)
        pub.stdin.flush()


if __name__ == "__main__":
    if sys.argv[1] == "rows":
        rows(sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5]))
    else:
        serve(sys.argv[2], sys.argv[3], sys.argv[4])
