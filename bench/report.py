#!/usr/bin/env python3
"""Prints the medians and ratios of a bench/run.sh run: report.py results.tsv costs.tsv"""
import csv
import re
import statistics
import sys

VARIANTS = ("plain", "engine", "nsis", "engine_reopen", "engine_noui")
TARGET_RATIO = 1.3


def read(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f, delimiter="\t"))


def median(values):
    return statistics.median(values) if values else float("nan")


def field(detail, name):
    match = re.search(r"\b%s=([0-9.]+)" % name, detail)
    return float(match.group(1)) if match else None


def main():
    runs = read(sys.argv[1])
    costs = read(sys.argv[2]) if len(sys.argv) > 2 else []
    sizes = sorted({int(r["size"]) for r in runs})
    by = {}
    for r in runs:
        by.setdefault((int(r["size"]), r["variant"]), []).append(r)

    def med(size, variant, key="launch_ms", scale=1.0):
        return median([float(r[key]) * scale for r in by.get((size, variant), [])])

    reps = max((len(v) for v in by.values()), default=0)
    print()
    print("Removal of the padded fixture product: median of %d runs, in ms (each program's whole" % reps)
    print("life from CreateProcessW to its end, timed inside Wine by bench_launch; one CPU, fresh synced payload)")
    print()
    print("%8s %9s %9s %9s   %12s %11s %12s" % ("files", "plain", "engine", "nsis", "engine/plain",
                                                 "nsis/plain", "engine/nsis"))
    for size in sizes:
        p, e, n = (med(size, v) for v in VARIANTS[:3])
        print("%8d %9.1f %9.1f %9.1f   %12.2f %11.2f %12.2f" % (size, p, e, n, e / p, n / p, e / n))
    print()
    print("plain: FindFirstFileW/DeleteFileW deletion of the install folder; engine: our silent removal;")
    print("nsis: NSIS uninstaller of the same footprint, run in place (/S _?=).")
    print()
    print("What-if variants of our removal, same run (median ms, ratio to plain and to nsis):")
    print("  reopen: the log writer that reopens its file for every line (as it was);")
    print("  noui:   the engine with the UI-thread deliveries dropped (no per-file progress round trip).")
    for size in sizes:
        p, n = med(size, "plain"), med(size, "nsis")
        parts = []
        for v, label in (("engine_reopen", "reopen"), ("engine_noui", "noui")):
            x = med(size, v)
            parts.append("%s %.1f (%.2fx plain, %.2fx nsis)" % (label, x, x / p, x / n))
        print("%8d   %s" % (size, ";  ".join(parts)))
    print()
    print("Spread (min-max ms):")
    for size in sizes:
        parts = []
        for v in VARIANTS:
            values = [float(r["launch_ms"]) for r in by.get((size, v), [])]
            if values:
                parts.append("%s %.0f-%.0f" % (v, min(values), max(values)))
        print("%8d   %s" % (size, ",  ".join(parts)))
    print()
    print("Outer wall time (median ms, the `wine bench_launch.exe ...` command as a whole):")
    for size in sizes:
        print("%8d   %s" % (size, ",  ".join("%s %.1f" % (v, med(size, v, "wall_us", 0.001)) for v in VARIANTS)))
    if len(sizes) >= 2:
        lo, hi = sizes[0], sizes[-1]
        print()
        print("Cost per additional file, from %d to %d files (median difference / %d), in microseconds:"
              % (lo, hi, hi - lo))
        print("   " + ",  ".join("%s %.1f" % (v, 1000.0 * (med(hi, v) - med(lo, v)) / (hi - lo)) for v in VARIANTS))
    print()
    print("Our silent removal, phases (median ms: init = start-up to StartUninstall, removal = to")
    print("OnUninstallEnd, report = the uninstall report to OnRealInstallEnd), progress notifications:")
    for variant in ("engine", "engine_reopen", "engine_noui"):
        for size in sizes:
            rows = by.get((size, variant), [])
            phases = {k: median([x for x in (field(r["detail"], k) for r in rows) if x is not None])
                      for k in ("init_ms", "removal_ms", "report_ms", "progress", "log_held")}
            print("%14s %6d   init %.1f  removal %.1f  report %.1f  progress calls %d  log kept open %d" % (
                variant, size, phases["init_ms"], phases["removal_ms"], phases["report_ms"], phases["progress"],
                phases["log_held"]))
    print()
    print("Our silent removal, the steps (median ms, from the progress notifications between them):")
    print("  calls = program calls, kill = process shutdown, shortcuts = helper library and desktop,")
    print("  data = start menu and per-user data, registry = listed files (file_list holds skin\\) and")
    print("  registry keys, services = uninstall entry, guard helper, driver services and the counting")
    print("  walk, files = the install-folder deletion, late = legacy uninstaller, late service and .tmp")
    print("  files, batch = the RunOnce batch, report = the uninstall report")
    for variant in ("engine", "engine_reopen"):
        for size in sizes:
            spans = {}
            for r in by.get((size, variant), []):
                match = re.search(r"steps=(\S+)", r["detail"])
                if not match or match.group(1) == "none":
                    continue
                for part in match.group(1).split(","):
                    name, value = part.split(":")
                    spans.setdefault(name, []).append(float(value))
            if spans:
                print("%14s %6d   %s" % (variant, size, "  ".join(
                    "%s %.0f" % (name, median(values)) for name, values in spans.items() if name != "start")))
    print()
    print("Files left in the install folder afterwards (median):")
    for size in sizes:
        print("%8d   %s" % (size, ",  ".join("%s %d" % (v, med(size, v, "files_left")) for v in VARIANTS)))

    if costs:
        print()
        print("Per-call costs inside Wine (median of %d runs of %s calls each):" % (
            len({c["rep"] for c in costs}), costs[0]["n"]))
        names = []
        for c in costs:
            if c["name"] not in names:
                names.append(c["name"])
        cost = {}
        for name in names:
            rows = [c for c in costs if c["name"] == name]
            cost[name] = (median([float(c["us_each"]) for c in rows]), median([float(c["total_ms"]) for c in rows]))
            print("   %-14s %8.2f us each   %8.1f ms for %s" % (name, cost[name][0], cost[name][1], rows[0]["n"]))
        if "log_reopen" in cost and "log_kept_open" in cost:
            print()
            print("Log writer for %s lines: reopened per line %.0f ms, kept open and flushed per line %.0f ms;"
                  % (costs[0]["n"], cost["log_reopen"][1], cost["log_kept_open"][1]))
            print("WriteLog as built now: %.0f ms (%.1f us a line)." % (cost["writelog"][1], cost["writelog"][0]))

    hi = sizes[-1]
    p, e, n = (med(hi, v) for v in VARIANTS[:3])
    print()
    print("Target at %d files: our removal within %.1fx the plain deletion: %s (%.2fx); faster than NSIS: %s (%.2fx)"
          % (hi, TARGET_RATIO, "met" if e <= TARGET_RATIO * p else "NOT met", e / p,
             "met" if e < n else "NOT met", e / n))
    import datetime
    print("(%s)" % datetime.datetime.now().strftime("%Y-%m-%d %H:%M"))


if __name__ == "__main__":
    main()
