#!/usr/bin/env python3
"""Prints a call log of tq72uninst (the hosted --log, or tq72uninst.exe's
/LOG) folded so that the logs of the same run on the hosted build and on
Windows compare line by line: text in small letters, the system folder as
the hosted machine names it (Wine's is C:\\windows\\system32), a directory
query's length as the length of its folded answer, and file handles as the
order of the opens that made them (their numbers are the system's own).

usage: fold_log.py LOG
"""
import json
import sys

handles = {}
opened = 0
with open(sys.argv[1], "rb") as log:
    for raw in log.read().decode("ascii").splitlines():
        if not raw.strip():
            continue
        line = json.loads(raw)
        for name, value in line.items():
            if isinstance(value, str) and name != "call":
                line[name] = value.lower().replace("c:\\windows\\system32", "c:\\windows\\system")
        call = line["call"]
        if call in ("GetWindowsDirectoryA", "GetSystemDirectoryA") and line["directory"]:
            line["result"] = len(line["directory"])
        if call == "CreateFileA" and line["result"] != -1:
            opened += 1
            handles[line["result"]] = opened
            line["result"] = "handle %d" % opened
        if "handle" in line:
            line["handle"] = "handle %s" % handles.get(line["handle"], "?")
        print(json.dumps(line))
