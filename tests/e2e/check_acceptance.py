#!/usr/bin/python3
"""Checks of the engine acceptance run (engine_acceptance.sh).

  check_acceptance.py snapshot PREFIX OUT.json
      every file, folder and link under the prefix's drives and every registry key and value of
      its hives (system.reg, user.reg), taken with the prefix's server stopped
  check_acceptance.py after  CONFIG.json
      the run: notifications, calls file, every product item gone or scheduled, zero collateral,
      the log, the uninstall report on the loopback server
  check_acceptance.py reboot CONFIG.json
      after the reboot: nothing of the product left but what the engine keeps, no temp copies and
      no deferred-deletion records left
  check_acceptance.py unsafe CONFIG.json
      a run on a refused install folder (unsafe_folder.sh): the refusal logged, the steps on the
      folder skipped, nothing outside the product changed

CONFIG.json names the snapshots and the run's outputs; see engine_acceptance.sh.
"""
import fnmatch
import json
import os
import re
import sys
import xml.etree.ElementTree as ET

GUID_TMP = r"\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\}\.tmp"


# ---- snapshots --------------------------------------------------------------------------------

def snapshot_files(prefix):
    files = {}
    for drive in sorted(os.listdir(prefix)):
        if not drive.startswith("drive_"):
            continue
        root = os.path.join(prefix, drive)
        for folder, dirs, names in os.walk(root, followlinks=False):
            for name in dirs + names:
                path = os.path.join(folder, name)
                rel = drive + "/" + os.path.relpath(path, root)
                st = os.lstat(path)
                if os.path.islink(path):
                    entry = ["link", 0, 0, os.readlink(path)]
                elif os.path.isdir(path):
                    entry = ["dir", 0, 0, ""]
                else:
                    entry = ["file", st.st_size, st.st_mtime_ns, "signed" if has_signature(path) else ""]
                files[rel.lower()] = [rel] + entry
    return files


def has_signature(path):
    """A PE file whose certificate table is not empty (Authenticode signed)."""
    try:
        with open(path, "rb") as handle:
            head = handle.read(4096)
    except OSError:
        return False
    if head[:2] != b"MZ" or len(head) < 64:
        return False
    pe = int.from_bytes(head[60:64], "little")
    if head[pe:pe + 4] != b"PE\0\0":
        return False
    optional = pe + 24
    magic = int.from_bytes(head[optional:optional + 2], "little")
    directories = optional + (96 if magic == 0x10B else 112)
    entry = directories + 4 * 8  # the fifth directory: certificates
    if entry + 8 > len(head):
        return False
    return int.from_bytes(head[entry + 4:entry + 8], "little") > 0


def unescape(text):
    """The text of a name or string as the hive files escape it."""
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if c != "\\" or i + 1 == len(text):
            out.append(c)
            i += 1
            continue
        n = text[i + 1]
        if n == "x":
            digits = re.match(r"[0-9a-fA-F]{1,4}", text[i + 2:])
            out.append(chr(int(digits.group(0), 16)) if digits else "x")
            i += 2 + (len(digits.group(0)) if digits else 0)
            continue
        out.append({"0": "\0", "n": "\n", "r": "\r", "t": "\t"}.get(n, n))
        i += 2
    return "".join(out)


def unescape_key(text):
    return unescape(text)


def string_data(raw):
    """The text of a string value's data ("..." or str(N):"..."), None for other types."""
    m = re.match(r'^(?:str\(\d+\):)?"(.*)"$', raw)
    return unescape(m.group(1)) if m else None


def parse_reg(path, root):
    """{lower-cased "ROOT\\key": {"name": key, "values": {lower-cased name: [name, data]}}}"""
    keys = {}
    if not os.path.exists(path):
        return keys
    with open(path, encoding="utf-8", errors="surrogateescape") as handle:
        lines = handle.read().split("\n")
    current = None
    i = 0
    while i < len(lines):
        line = lines[i].rstrip("\r")
        i += 1
        if line.startswith("["):
            end = line.rfind("]")
            name = root + "\\" + unescape_key(line[1:end])
            name = re.sub(r"(?i)^HKLM\\System\\ControlSet001\\", r"HKLM\\System\\CurrentControlSet\\", name)
            current = keys.setdefault(name.lower(), {"name": name, "values": {}})
            continue
        if current is None or not line or line[0] in "#;":
            continue
        while line.endswith("\\") and i < len(lines):  # continued hex data
            line = line[:-1] + lines[i].strip()
            i += 1
        if line.startswith("@="):
            name, data = "@", line[2:]
        elif line.startswith('"'):
            j = 1
            while j < len(line) and line[j] != '"':
                j += 2 if line[j] == "\\" else 1
            name, data = line[1:j], line[j + 2:]
        else:
            continue
        name = unescape(name)
        current["values"][name.lower()] = [name, data]
    return keys


def snapshot(prefix, out):
    registry = parse_reg(os.path.join(prefix, "system.reg"), "HKLM")
    registry.update(parse_reg(os.path.join(prefix, "user.reg"), "HKCU"))
    with open(out, "w", encoding="utf-8") as handle:
        json.dump({"files": snapshot_files(prefix), "registry": registry}, handle)


def load(path):
    with open(path, encoding="utf-8") as handle:
        return json.load(handle)


# ---- what belongs to whom ---------------------------------------------------------------------

class Places:
    """The product's footprint and the run's allowed traces, as lower-case patterns."""

    def __init__(self, config):
        user = config["user"].lower()
        install = config["install_unix"].lower()  # "drive_c/program files (x86)/vorowallpaper"
        pf = "drive_c/program files (x86)"
        programs = "drive_c/programdata/microsoft/windows/start menu/programs"
        temp = "drive_c/users/%s/temp" % user
        self.install = install
        self.product_files = [
            install, install + "/*",
            "drive_c/users/public/desktop/quon壁纸.lnk", "drive_c/users/public/desktop/voro壁纸.lnk",
            "drive_c/users/public/desktop/voro壁纸lite.lnk",
            "drive_c/users/%s/desktop/quon壁纸.lnk" % user, "drive_c/users/%s/desktop/voro壁纸.lnk" % user,
            "drive_c/users/%s/desktop/voro壁纸lite.lnk" % user,
            programs + "/voro壁纸", programs + "/voro壁纸/*",
            programs + "/quon安全中心/quon壁纸", programs + "/quon安全中心/quon壁纸/*",
            "drive_c/users/%s/appdata/roaming/vorowp" % user, "drive_c/users/%s/appdata/roaming/vorowp/*" % user,
            pf + "/quon", pf + "/quon/dererore", pf + "/quon/dererore/uninstall.exe",
            "drive_c/windows/system32/tasks/vorowp-srv",
        ]
        self.log = [temp + "/tesk_uninst.log"]
        self.temp_copy_re = [re.compile(re.escape(temp + "/") + GUID_TMP + "$"),
                             re.compile(re.escape(temp + "/") + r"tvn[0-9a-f]+\.bat$")]
        wow = "hklm\\software\\wow6432node\\microsoft\\windows\\currentversion"
        native = "hklm\\software\\microsoft\\windows\\currentversion"
        # Wine keeps App Paths in one place for both views, as Windows does.
        self.product_keys = [
            wow + "\\uninstall\\vorowp",
            wow + "\\app paths\\divizodaz.exe", native + "\\app paths\\divizodaz.exe",
            "hkcu\\software\\vorowallpaper",
            "hklm\\software\\classes\\vorowallpaper", "hklm\\software\\classes\\wow6432node\\vorowallpaper",
            "hkcu\\software\\classes\\vorowallpaper", "hkcu\\software\\classes\\wow6432node\\vorowallpaper",
        ] + ["hklm\\system\\currentcontrolset\\services\\" + s.lower()
             for s in ("CorvixLock", "CorvixLockWp", "VarorizaVuvorizIr", "RodurevareruZE")]
        self.product_values = [
            ("hkcu\\software\\microsoft\\windows\\currentversion\\run", "vorowp-srv"),
            (wow + "\\run", "vorowp-srv"), (wow + "\\run", "vorowp"), (native + "\\run", "vorowp"),
        ]
        self.deferred_values = [
            ("hklm\\system\\currentcontrolset\\control\\session manager", "pendingfilerenameoperations"),
            (wow + "\\runonce", "tvn*.bat"),
        ]
        self.deferred_keys = [wow + "\\runonce"]
        # Kept on purpose: the record of an earlier installation, the App Paths key and its lists
        # (only read), the per-user programs folder and the parent of the all-users one (only the
        # all-users product folders are removed).
        self.kept_keys = ["hkcu\\software\\vorowallpaperever", wow + "\\app paths\\vorowp.exe",
                          native + "\\app paths\\vorowp.exe"]
        self.kept_files = [
            "drive_c/users/%s/appdata/roaming/microsoft/windows/start menu/programs/voro壁纸" % user,
            "drive_c/users/%s/appdata/roaming/microsoft/windows/start menu/programs/quon安全中心" % user,
            programs + "/quon安全中心",
        ]
        # Wine's own bookkeeping at every start of a prefix: the display driver rewrites its
        # adapter record.
        self.noise_files = []
        self.noise_keys = ["hklm\\system\\currentcontrolset\\control\\class\\{4d36e968-e325-11ce-bfc1-08002be10318}\\*"]

    @staticmethod
    def match(path, patterns):
        return any(path == p or fnmatch.fnmatchcase(path, p) for p in patterns)

    @staticmethod
    def below(key, keys):
        return any(key == k or key.startswith(k + "\\") for k in keys)

    def product_file(self, path):
        return self.match(path, self.product_files)

    def temp_copy(self, path):
        return any(r.match(path) for r in self.temp_copy_re)

    def product_key(self, key):
        return self.below(key, self.product_keys)

    def product_value(self, key, name):
        return self.product_key(key) or any(key == k and fnmatch.fnmatchcase(name, n) for k, n in self.product_values)

    def deferred_value(self, key, name):
        return any(key == k and fnmatch.fnmatchcase(name, n) for k, n in self.deferred_values)

    def noise_file(self, path):
        return self.match(path, self.noise_files)

    def noise_key(self, key):
        return any(fnmatch.fnmatchcase(key, p) for p in self.noise_keys)


# ---- diffs ------------------------------------------------------------------------------------

def file_changes(before, after):
    """(kind, path) for every added, removed or changed entry."""
    changes = []
    for path in sorted(set(before) | set(after)):
        if path not in after:
            changes.append(("removed", path))
        elif path not in before:
            changes.append(("added", path))
        elif before[path][1:] != after[path][1:]:
            changes.append(("changed", path))
    return changes


def registry_changes(before, after):
    """(kind, key, value name or None) for every added or removed key and changed value."""
    changes = []
    for key in sorted(set(before) | set(after)):
        if key not in after:
            changes.append(("removed key", key, None))
            continue
        if key not in before:
            changes.append(("added key", key, None))
        old = before.get(key, {"values": {}})["values"]
        new = after[key]["values"]
        for name in sorted(set(old) | set(new)):
            if old.get(name) != new.get(name):
                kind = "removed value" if name not in new else "added value" if name not in old else "changed value"
                changes.append((kind, key, name))
    return changes


class Checker:
    def __init__(self):
        self.failures = []

    def fail(self, text):
        self.failures.append(text)

    def expect(self, condition, text):
        if not condition:
            self.fail(text)
        return condition

    def finish(self, what):
        if self.failures:
            for failure in self.failures[:60]:
                print("FAIL: " + failure)
            if len(self.failures) > 60:
                print("... and %d more" % (len(self.failures) - 60))
            sys.exit(1)
        print("PASS: " + what)


def collateral(checker, places, before, after, phase):
    """Every difference lies in the product's footprint, the log, or (after the run only) the
    temp copies and the deferred-deletion records."""
    for kind, path in file_changes(before["files"], after["files"]):
        if places.noise_file(path) or places.match(path, places.log):
            continue
        if places.product_file(path) and kind != "added":
            continue
        if phase == "run" and places.temp_copy(path) and kind == "added":
            continue
        checker.fail("collateral file change (%s): %s" % (kind, path))
    for kind, key, name in registry_changes(before["registry"], after["registry"]):
        if places.noise_key(key):
            continue
        if name is None:
            if places.product_key(key) and kind == "removed key":
                continue
            if phase == "run" and kind == "added key" and places.below(key, places.deferred_keys):
                continue
            if kind == "removed key" or kind == "added key":
                # a key whose values were all product values may go with them
                values = (before["registry"].get(key) or after["registry"].get(key))["values"]
                if values and all(places.product_value(key, v) or places.deferred_value(key, v) for v in values):
                    continue
            checker.fail("collateral registry change (%s): %s" % (kind, key))
            continue
        if places.product_value(key, name) and kind != "added value":
            continue
        if phase == "run" and places.deferred_value(key, name):
            continue
        checker.fail("collateral registry change (%s): %s : %s" % (kind, key, name))


# ---- the run ----------------------------------------------------------------------------------

def check_notifications(checker, events_path, per_file=True):
    with open(events_path, encoding="utf-8") as handle:
        events = [line.split() for line in handle.read().splitlines() if line.strip()]
    if not checker.expect(len(events) >= 4, "too few notifications: %r" % events):
        return
    checker.expect(events[0] == ["start", "ui"], "first notification is not the start on the UI thread: %r" % events[0])
    checker.expect(events[-2] == ["end", "ui"], "the end is not the last but one, on the UI thread: %r" % events[-2])
    checker.expect(events[-1] == ["real-end", "worker"], "the real end is not last on the worker: %r" % events[-1])
    middle = events[1:-2]
    checker.expect(all(e[0] == "progress" and e[2] == "ui" for e in middle), "a middle notification is not a UI-thread progress")
    values = [int(e[1]) for e in middle if e[0] == "progress"]
    checker.expect(values[:7] == [1, 4, 5, 6, 7, 8, 9], "progress does not begin 1,4,5,6,7,8,9: %r" % values)
    checker.expect(values[-3:] == [97, 98, 99], "progress does not end 97,98,99: %r" % values)
    files = values[7:-3]
    checker.expect((len(files) > 0) == per_file, "per-file progress %r" % files)
    checker.expect(all(10 <= v <= 98 for v in files), "per-file progress outside 10..98: %r" % files)
    checker.expect(files == sorted(files), "per-file progress goes down: %r" % files)
    checker.expect(max(values) == 99, "a progress value above 99: %r" % values)


def expected_hooks(config, before):
    """(module relative to the install folder or absolute, arguments) of every product hook, in
    the engine's order, for the files that were installed."""
    install = config["install"]
    present = before["files"]

    def installed(relative):
        return (config["install_unix"] + "/" + relative.replace("\\", "/")).lower() in present

    hooks = []
    project = ET.parse(config["package"]).getroot()
    for program in project.findall("CallProgramOnUninst/Program"):
        name = program.get("FileName")
        if not installed(name):
            continue
        if program.get("Type") == "dll":
            hooks.append((name, "%s(%s)" % (program.get("FuncName"), program.get("Para") or "")))
        else:
            hooks.append((name, program.get("Cmdline") or ""))
    for item in project.findall("RundllUnRegisterOnUnInst/Item"):
        if item.get("System") == "64" and installed(item.get("FileName")):  # a 64-bit Windows
            # the fixture's rundll host starts, then calls the entry (fixture/README.md)
            host = "Utils\\rundll64.exe"
            hooks.append((host, '--dll="%s\\%s" --entry=%s %s' % (install, item.get("FileName"), item.get("Entry"),
                                                                   item.get("Cmdline"))))
            hooks.append((item.get("FileName"), "%s(%s)" % (item.get("Entry"), item.get("Cmdline"))))
    if installed("Utils\\tvngamecenter_tesk.dll"):
        hooks.append(("Utils\\tvngamecenter_tesk.dll", "Start4RunDll(/S /PID=tesk /NOUNINSTALL)"))
    plugin = plugin_hook(config, before)
    if plugin:
        hooks.append(plugin)
    # The registry lists in their enumeration order, as the hive holds them.
    lists = app_paths_key(before, "vorowp.exe") + "\\"
    for value in before["registry"].get(lists + "run_list", {"values": {}})["values"].values():
        name, data = value[0], string_data(value[1]) or ""
        if not installed(name) or ".." in name:
            continue
        ext = os.path.splitext(name)[1].lower()
        if ext in (".dll", ".tpi"):
            hooks.append((name, "Uninst(%s) capacity=260" % data))
        elif ext == ".exe" and ("unsigned" not in name.lower() or "/Regtest" in data):
            hooks.append((name, data + " --PRODUCT= --PID="))
    for value in before["registry"].get(lists + "file_pe", {"values": {}})["values"].values():
        name, data = value[0], string_data(value[1]) or ""
        if not installed(name) or ".." in name or "unsigned" in name.lower():
            continue
        ext = os.path.splitext(name)[1].lower()
        if ext == ".dll":
            hooks.append((name, "Uninst(%s)" % data))
        elif ext == ".exe":
            hooks.append((name, data + " /uninstall /product=tesk"))
    hooks.append(("quit", None))
    if installed("wallpaperhelper\\Corvix12.dll"):
        hooks.append(("wallpaperhelper\\Corvix12.dll", "Uninst()"))
    if installed("wallpaperhelper\\vovorir.exe"):
        helper = install + "\\wallpaperhelper\\vovorir.exe"
        hooks.append(("wallpaperhelper\\vovorir.exe", '/UnInstallDesk /LockHomePagePath="%s" /Pid=tesk' % helper))
    return hooks


def app_paths_key(snap, name):
    """Where the hive holds the 32-bit view's App Paths entry of name."""
    for base in ("hklm\\software\\wow6432node\\microsoft\\windows\\currentversion\\app paths\\",
                 "hklm\\software\\microsoft\\windows\\currentversion\\app paths\\"):
        if base + name in snap["registry"]:
            return base + name
    return "hklm\\software\\microsoft\\windows\\currentversion\\app paths\\" + name


def plugin_hook(config, before):
    """The plug-in launcher and the command the plug-in left in config.set, when both are there."""
    key = app_paths_key(before, "convkitmodule.exe")
    launcher = before["registry"].get(key, {"values": {}})["values"].get("launcher")
    command = None
    settings = config.get("settings_before")
    if settings and os.path.exists(settings):
        section = None
        with open(settings, encoding="utf-8", errors="replace") as handle:
            for line in handle.read().splitlines():
                line = line.strip()
                if line.startswith("["):
                    section = line.strip("[]").lower()
                elif section == "plugin_qv" and line.lower().startswith("uninstall_cmd_param="):
                    command = line.split("=", 1)[1]
    if not launcher or not command:
        return None
    return (string_data(launcher[1]), command)


def check_calls(checker, config, before):
    install = config["install"]
    with open(config["calls"], encoding="utf-8") as handle:
        calls = [line.split("\t")[:2] for line in handle.read().splitlines() if line]
    started = [install + "\\" + p if not p[1:2] == ":" else p for p in config["started"]]
    for program in started:  # the programs the driver started, each with its start line
        if not checker.expect(calls and calls[0][0].lower() == program.lower(),
                              "the calls file does not begin with the start of %s: %r" % (program, calls[:1])):
            return
        calls.pop(0)
    polite = [(install + "\\" + p).lower() for p in config.get("polite", [])]
    position = 0
    for module, arguments in expected_hooks(config, before):
        if module == "quit":
            # The broadcast quit message and the configured close message race; a polite program
            # may handle both before it ends, each at most once.
            seen = set()
            while position < len(calls) and calls[position][1] in ("Quonwallpaper_quit", "WM_COMMAND 40011"):
                program, event = calls[position][0].lower(), calls[position][1]
                checker.expect(program in polite and (program, event) not in seen, "unexpected quit line %r" % calls[position])
                seen.add((program, event))
                position += 1
            quitted = set(program for program, _ in seen)
            checker.expect(quitted == set(polite), "polite programs without their quit line: %r" % (set(polite) - quitted))
            continue
        path = module if module[1:2] == ":" else install + "\\" + module
        if not checker.expect(position < len(calls), "hook %s %s was not called" % (path, arguments)):
            return
        line = calls[position]
        checker.expect(line[0].lower() == path.lower() and line[1] == arguments,
                       "call %d: expected %s [%s], got %s [%s]" % (position, path, arguments, line[0], line[1]))
        position += 1
    checker.expect(position == len(calls), "calls beyond the expected hooks: %r" % calls[position:])


def pending_sources(snap):
    key = "hklm\\system\\currentcontrolset\\control\\session manager"
    value = snap["registry"].get(key, {"values": {}})["values"].get("pendingfilerenameoperations")
    if not value:
        return set()
    text = string_data(value[1])
    if text is None:
        return set()
    parts = text.split("\0")
    sources = set()
    for i in range(0, len(parts) - 1, 2):
        if parts[i]:
            sources.add(parts[i].replace("\\??\\", "", 1).lower())
    return sources


def windows_path(unix_rel):
    drive, _, rest = unix_rel.partition("/")
    return drive[len("drive_"):] + ":\\" + rest.replace("/", "\\")


def check_gone_or_scheduled(checker, config, places, before, after, log_lines):
    pending = pending_sources(after)
    left = survivors(config, before, log_lines)
    kept = [k.lower() for k in places.kept_files]
    moved = {}
    for line in log_lines:
        m = re.search(r"cut (.+) to (.+) success$", line)
        if m:
            moved[m.group(1).lower()] = m.group(2).lower()
    for path, entry in before["files"].items():
        if not places.product_file(path) or path not in after["files"]:
            continue
        win = windows_path(path).lower()
        if win in pending or path in left:
            continue
        checker.fail("product item neither gone nor scheduled: %s" % entry[0])
    for path in after["files"]:
        if places.temp_copy(path) and path not in before["files"]:
            win = windows_path(path).lower()
            checker.expect(win in pending or path.endswith(".bat"), "temp copy not scheduled: %s" % win)
    for key in before["registry"]:
        if places.product_key(key):
            checker.expect(key not in after["registry"], "product key left: %s" % key)
    for key, name in places.product_values:
        if name in before["registry"].get(key, {"values": {}})["values"]:
            checker.expect(name not in after["registry"].get(key, {"values": {}})["values"],
                           "product value left: %s : %s" % (key, name))
    for key in places.kept_keys:
        if key in before["registry"]:
            checker.expect(key in after["registry"], "kept key gone: %s" % key)
    for path in kept:
        if path in before["files"]:
            checker.expect(path in after["files"], "kept item gone: %s" % path)
    return moved


def root_list(config):
    document = ET.parse(config["root_list"]).getroot()
    return set(item.get("Name").lower() for item in document.iter("Item"))


def top_entries(config, snap):
    """{lower-cased name: entry} of the install folder's direct entries."""
    prefix = config["install_unix"].lower() + "/"
    return {p[len(prefix):]: e for p, e in snap["files"].items() if p.startswith(prefix) and "/" not in p[len(prefix):]}


def file_list_names(before):
    """Lower-cased names the file_list value names (deleted before the install folder is)."""
    key = app_paths_key(before, "vorowp.exe") + "\\file_list"
    return set(v[0].lower() for v in before["registry"].get(key, {"values": {}})["values"].values())


def refused_names(config, before):
    """Upper-cased names of the direct entries that are neither listed nor signed (and were not
    deleted through file_list before)."""
    listed = root_list(config)
    refused = []
    for name, entry in top_entries(config, before).items():
        if name in listed or (entry[1] == "file" and entry[4] == "signed") or name in file_list_names(before):
            continue
        refused.append(entry[0].rsplit("/", 1)[1].upper())
    return sorted(refused)


def survivors(config, before, log_lines=None):
    """What the engine leaves of the install folder: the refused entries without their ".tmp"
    files, and the folder holding them."""
    listed = root_list(config) | file_list_names(before)
    prefix = config["install_unix"].lower() + "/"
    kept = set()
    for path, entry in before["files"].items():
        if not path.startswith(prefix):
            continue
        top = path[len(prefix):].split("/")[0]
        top_entry = before["files"][prefix + top]
        if top in listed or (top_entry[1] == "file" and top_entry[4] == "signed"):
            continue
        if entry[1] == "file" and path.endswith(".tmp"):
            continue
        kept.add(path)
    for line in log_lines or []:
        if line.startswith("link kept, not followed: "):
            path = line[len("link kept, not followed: "):].lower()
            for p, entry in before["files"].items():
                if entry[1] == "link" and windows_path(p).lower() == path:
                    kept.add(p)
    if kept:
        kept.add(config["install_unix"].lower())
    return kept


def check_log(checker, config, before, log_lines):
    install = config["install"]
    refused = refused_names(config, before)
    expected = [
        "start uninstall thread...", "start call program", "CPluginTask::StartTask result=",
        "start close all processes", "enter KillProcessesInInstallPath szTargetDir=" + install,
        "remove desktop shortcuts", "remove start menu shortcuts", "remove cef cache", "remove appdata",
        "remove file by registry", "remove registry", "remove autorun", "Delete AutoRun Registry, ret = 1",
        "Delete AutoRun Task Schedule, ret = ", "Delete uninstall registry", "delete CorvixLock",
        "delete CorvixLockWp", "delete VarorizaVuvorizIr", "start delete all files in " + install,
        "remove directory %s %s" % (install, "failed." if survivors(config, before, log_lines) else "suceess"),
        "end delete all files in " + install, "start uninstall RodurevareruZE.", "start create runonce bat",
        "re unistinfo ret=",
    ]
    position = 0
    found = []
    for text in expected:
        start = position
        while position < len(log_lines) and not log_lines[position].startswith(text):
            position += 1
        if not checker.expect(position < len(log_lines), "log line missing or out of order: %r" % text):
            return
        found.append((start, position))
        position += 1
    # Between the start and the end of the install-folder deletion: each refused name twice
    # (the counting walk and the deletion), nothing else refused.
    first, last = found[18][1], found[19][1]
    named = sorted(line[len("File NOT exists in xml: "):] for line in log_lines[first:last]
                   if line.startswith("File NOT exists in xml: "))
    checker.expect(named == sorted(refused * 2), "refused names logged %r, expected each of %r twice" % (named, refused))
    checker.expect(not any("refuse install folder" in line for line in log_lines), "the install folder was refused")


def read_log(path):
    with open(path, "rb") as handle:
        text = handle.read().decode("gbk", errors="replace")
    # "yyyy-mm-dd hh:mm:ss " before every line
    return [re.sub(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d ", "", line.rstrip("\r")) for line in text.split("\n") if line.strip()]


def check_report(checker, config):
    path = config.get("server_log")
    if not path:
        return
    with open(path, encoding="utf-8") as handle:
        requests = [json.loads(line) for line in handle if line.strip()]
    reports = [r for r in requests if r["path"] == "/pc/udda/dogsun"]
    checker.expect(len(reports) == 1 and reports[0]["method"] == "POST",
                   "expected one POST of the uninstall report, got %r" % [(r["method"], r["path"]) for r in requests])
    checker.expect(all(r["path"] == "/pc/udda/dogsun" for r in requests), "other requests: %r" % requests)
    if reports:
        checker.expect([f[0] for f in reports[0]["fields"]] == ["data"], "report fields: %r" % reports[0]["fields"])


def after_run(config):
    checker = Checker()
    before, after = load(config["before"]), load(config["after"])
    places = Places(config)
    log_lines = read_log(config["log"])
    check_notifications(checker, config["events"])
    check_calls(checker, config, before)
    check_gone_or_scheduled(checker, config, places, before, after, log_lines)
    collateral(checker, places, before, after, "run")
    check_log(checker, config, before, log_lines)
    check_report(checker, config)
    checker.finish("notifications, calls, removal, collateral, log and report of the run")


def after_reboot(config):
    checker = Checker()
    before, rebooted = load(config["before"]), load(config["rebooted"])
    places = Places(config)
    collateral(checker, places, before, rebooted, "reboot")
    left = survivors(config, before, read_log(config["log"]))
    for path, entry in before["files"].items():
        if places.product_file(path) and path in rebooted["files"]:
            checker.expect(path in left, "product item left after the reboot: %s" % entry[0])
    for path in left:
        checker.expect(path in rebooted["files"], "expected survivor missing: %s" % path)
    for path in rebooted["files"]:
        checker.expect(not places.temp_copy(path), "temp copy left after the reboot: %s" % path)
    checker.expect(not pending_sources(rebooted), "reboot operations left: %r" % pending_sources(rebooted))
    for key in places.kept_keys:
        if key in before["registry"]:
            checker.expect(key in rebooted["registry"], "kept key gone: %s" % key)
    checker.finish("after the reboot only what the engine keeps is left")


def after_refusal(config):
    checker = Checker()
    before, after = load(config["before"]), load(config["after"])
    places = Places(config)
    log_lines = read_log(config["log"])
    check_notifications(checker, config["events"], per_file=False)
    folder = config["refused_folder"]
    checker.expect(any(line.startswith("refuse install folder [%s]: %s;" % (folder, config["reason"])) for line in log_lines),
                   "no refusal of %s (%s) in the log" % (folder, config["reason"]))
    for text in ("start delete all files", "Kill process", "enter KillProcessesInInstallPath", "call exe begin",
                 "call dll func start"):
        checker.expect(not any(line.startswith(text) for line in log_lines), "a step on the folder ran: %r" % text)
    for text in ("skip program calls", "skip close all processes", "skip delete all files", "skip temporary files",
                 "skip runonce bat", "re unistinfo ret="):
        checker.expect(any(line.startswith(text) for line in log_lines), "log line missing: %r" % text)
    with open(config["calls"], encoding="utf-8") as handle:
        calls = [line.split("\t")[:2] for line in handle.read().splitlines() if line]
    checker.expect(len(calls) == 1 and calls[0][0].lower().endswith("voro_bait_pendant.exe"),
                   "calls other than the bait's start: %r" % calls)
    collateral(checker, places, before, after, "run")
    checker.finish("refused install folder %s left alone" % folder)


def main(argv):
    if len(argv) == 4 and argv[1] == "snapshot":
        snapshot(argv[2], argv[3])
        return
    if len(argv) == 3 and argv[1] in ("after", "reboot", "unsafe"):
        config = load(argv[2])
        {"after": after_run, "reboot": after_reboot, "unsafe": after_refusal}[argv[1]](config)
        return
    print(__doc__)
    sys.exit(2)


if __name__ == "__main__":
    main(sys.argv)
