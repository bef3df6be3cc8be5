"""Reads what `strace -f -xx` recorded of a launcher's run and tells whether
the install reached the disk in the right order: every file written below the
data directory flushed (fsync or fdatasync of that file, or a syncfs after
its last write) before the stamp's temporary is renamed over the stamp, the
temporary itself flushed before, and the data directory flushed after the
rename, before anything in it changes again.

The trace is read as the kernel saw it: descriptors are followed from the
call that made them to the one that closed them (a number is reused for
another file at once), per process and shared by threads, across -f's pid
prefixes and calls split into "<unfinished ...>" and "<... resumed>"."""

import os
import re

STRACE_OPTIONS = ["-f", "-xx", "-e", "trace=%file,%desc,%process"]

LINE = re.compile(r"^(?P<pid>\d+)\s+(?P<rest>.*)$")
RESUMED = re.compile(r"^<\.\.\. (?P<name>\w+) resumed>(?P<tail>.*)$")
CALL = re.compile(r"^(?P<name>\w+)\((?P<args>.*)\)\s+=\s+(?P<ret>-?\d+|0x[0-9a-f]+|\?)")

WRITES = {"write", "pwrite64", "writev", "pwritev", "pwritev2", "ftruncate", "fallocate",
          "copy_file_range", "sendfile"}
FLUSHES = {"fsync", "fdatasync"}
# Calls that change a folder's entries: where their folder descriptor and the
# path they make or remove stand among the arguments.
CHANGES = {"unlink": (None, 0), "unlinkat": (0, 1), "mkdir": (None, 0), "mkdirat": (0, 1),
           "rmdir": (None, 0), "link": (None, 1), "linkat": (2, 3), "symlink": (None, 1),
           "symlinkat": (1, 2)}


def split_args(text):
    """The top-level arguments of a call: commas inside strings, [...] or {...} stay."""
    args, depth, current, quoted, escaped = [], 0, "", False, False
    for c in text:
        if quoted:
            current += c
            if escaped:
                escaped = False
            elif c == "\\":
                escaped = True
            elif c == '"':
                quoted = False
            continue
        if c == '"':
            quoted = True
        elif c in "[{(":
            depth += 1
        elif c in "]})":
            depth -= 1
        elif c == "," and depth == 0:
            args.append(current.strip())
            current = ""
            continue
        current += c
    if current.strip():
        args.append(current.strip())
    return args


def string_arg(arg):
    """A path argument as -xx prints it ("\\x2e\\x2f..."), back to text."""
    match = re.match(r'^"((?:\\x[0-9a-f]{2})*)"', arg)
    if not match:
        raise ValueError("not a string: " + arg)
    return os.fsdecode(bytes.fromhex(match.group(1).replace("\\x", "")))


def fd_arg(arg):
    """A descriptor argument: a number, or AT_FDCWD (None)."""
    if arg.startswith("AT_FDCWD"):
        return None
    match = re.match(r"^-?\d+", arg)
    return int(match.group(0)) if match else None


def calls(lines):
    """(pid, name, args, ret) of every finished call, in the order they finished."""
    pending = {}
    for raw in lines:
        match = LINE.match(raw.rstrip("\n"))
        if not match:
            continue
        pid, rest = int(match.group("pid")), match.group("rest")
        if rest.startswith("+++") or rest.startswith("---"):
            continue
        if rest.endswith("<unfinished ...>"):
            pending[pid] = rest[: -len("<unfinished ...>")].rstrip()
            continue
        resumed = RESUMED.match(rest)
        if resumed:
            start = pending.pop(pid, None)
            if start is None:
                continue
            rest = start + resumed.group("tail")
        call = CALL.match(rest)
        if not call:
            continue
        ret = call.group("ret")
        value = None if ret == "?" else int(ret, 0)
        yield pid, call.group("name"), split_args(call.group("args")), value


class processes:
    """Each process's descriptors (shared by its threads) and current folder."""

    def __init__(self, cwd):
        self.tables = {}
        self.cwds = {}
        self.first_cwd = cwd

    def table(self, pid):
        if pid not in self.tables:
            self.tables[pid] = {}
        return self.tables[pid]

    def cwd(self, pid):
        return self.cwds.get(pid, self.first_cwd)

    def resolve(self, pid, dirfd, path):
        if os.path.isabs(path):
            return os.path.normpath(path)
        base = self.cwd(pid) if dirfd is None else self.table(pid).get(dirfd, self.cwd(pid))
        return os.path.normpath(os.path.join(base, path))

    def forked(self, parent, child, shares_files):
        if shares_files:
            self.tables[child] = self.table(parent)
        else:
            copy = dict(self.table(parent))
            copy.update(self.tables.get(child, {}))
            self.tables[child] = copy
        self.cwds[child] = self.cwd(parent)


def events(lines, cwd):
    """What happened to files, in order: ("write", path), ("flush", path),
    ("syncfs",), ("rename", old, new), ("change", path)."""
    procs = processes(os.path.normpath(cwd))
    for pid, name, args, ret in calls(lines):
        if ret is None or ret < 0:
            continue
        table = procs.table(pid)
        if name in ("open", "creat", "openat"):
            dirfd = fd_arg(args[0]) if name == "openat" else None
            path = procs.resolve(pid, dirfd, string_arg(args[1] if name == "openat" else args[0]))
            flags = args[2] if name == "openat" else (args[1] if name == "open" else "O_WRONLY")
            table[ret] = path
            if "O_WRONLY" in flags or "O_RDWR" in flags:
                yield ("write", path)
        elif name in ("dup", "dup2", "dup3") or (name == "fcntl" and "F_DUPFD" in args[1]):
            source = fd_arg(args[0])
            if source in table:
                table[ret] = table[source]
        elif name == "close":
            table.pop(fd_arg(args[0]), None)
        elif name in WRITES:
            fd = fd_arg(args[2] if name == "copy_file_range" else args[0])
            if fd in table:
                yield ("write", table[fd])
        elif name in FLUSHES:
            fd = fd_arg(args[0])
            if fd in table:
                yield ("flush", table[fd])
        elif name in ("syncfs", "sync"):
            yield ("syncfs",)
        elif name in ("rename", "renameat", "renameat2"):
            if name == "rename":
                old = procs.resolve(pid, None, string_arg(args[0]))
                new = procs.resolve(pid, None, string_arg(args[1]))
            else:
                old = procs.resolve(pid, fd_arg(args[0]), string_arg(args[1]))
                new = procs.resolve(pid, fd_arg(args[2]), string_arg(args[3]))
            yield ("rename", old, new)
        elif name in CHANGES:
            dirfd_at, path_at = CHANGES[name]
            dirfd = None if dirfd_at is None else fd_arg(args[dirfd_at])
            yield ("change", procs.resolve(pid, dirfd, string_arg(args[path_at])))
        elif name in ("chdir",):
            procs.cwds[pid] = procs.resolve(pid, None, string_arg(args[0]))
        elif name == "fchdir":
            fd = fd_arg(args[0])
            if fd in table:
                procs.cwds[pid] = table[fd]
        elif name in ("clone", "clone3", "fork", "vfork"):
            procs.forked(pid, ret, "CLONE_FILES" in ",".join(args))
        elif name in ("execve", "execveat"):
            pass  # the game: what it does with the launcher's descriptors is its own


def stamp_problems(lines, cwd, data_dir, stamp_name):
    """Everything the trace shows out of order, one text each, and the number
    of times the stamp was renamed into place."""
    data = os.path.normpath(os.path.join(cwd, data_dir))
    return event_problems(events(lines, cwd), data, stamp_name)


def event_problems(events_in_order, data, stamp_name):
    """stamp_problems on events already read (see events())."""
    stamp = os.path.join(data, stamp_name)
    temporary = stamp + ".writing"
    below = lambda path: path.startswith(data + os.sep)
    dirty = {}  # path below the data directory -> not flushed since its last write
    problems = []
    renames = 0
    folder_pending = False  # a stamp renamed, the folder not flushed since
    for event in events_in_order:
        kind = event[0]
        changes_data_dir = (kind in ("write", "change") and below(event[1])) or (
            kind == "rename" and (below(event[1]) or below(event[2])))
        if folder_pending and changes_data_dir:
            problems.append("the data directory changed before the stamp's rename was "
                            "flushed: %s %s" % (kind, event[1]))
            folder_pending = False
        if kind == "write" and below(event[1]):
            dirty[event[1]] = True
        elif kind == "flush":
            dirty.pop(event[1], None)
            if event[1] == data:
                folder_pending = False
        elif kind == "syncfs":
            dirty.clear()
            folder_pending = False
        elif kind == "change":
            dirty.pop(event[1], None)
        elif kind == "rename":
            old, new = event[1], event[2]
            if new == stamp and old == temporary:
                renames += 1
                if temporary in dirty:
                    problems.append("the stamp's temporary was renamed before it was flushed")
                others = sorted(path for path in dirty if path != temporary)
                if others:
                    problems.append("renamed the stamp over %d file(s) not flushed since "
                                    "written: %s" % (len(others),
                                                     ", ".join(os.path.relpath(p, data)
                                                               for p in others[:5])))
                dirty.clear()
                folder_pending = True
            else:
                dirty.pop(new, None)
                if old in dirty:
                    dirty[new] = dirty.pop(old)
    if folder_pending:
        problems.append("the data directory was never flushed after the stamp's last rename")
    return problems, renames


def files_written(lines, cwd, data_dir):
    """Every file below the data directory written during the trace, under the
    name it had at the end (a file written, then renamed, under its new name)."""
    data = os.path.normpath(os.path.join(cwd, data_dir))
    written = set()
    for event in events(lines, cwd):
        if event[0] == "write" and event[1].startswith(data + os.sep):
            written.add(event[1])
        elif event[0] == "rename" and event[1] in written:
            written.discard(event[1])
            written.add(event[2])
        elif event[0] == "change":
            written.discard(event[1])
    return written


# -- under wine -------------------------------------------------------------------
# Wine's server opens, renames and removes files; the program's own process
# writes and flushes them through descriptors the server hands it. Both are
# traced with times (-ttt -T), the program's descriptors named by strace (-y),
# and the two merged by time. Names reach the host's file system through the
# prefix's drive links, so every name is resolved to the file it stands for.

WINE_CLIENT_OPTIONS = ["-f", "-y", "-xx", "-ttt", "-T", "-e", "trace=%desc,%file,%process"]
WINE_SERVER_OPTIONS = ["-f", "-xx", "-ttt", "-T", "-e", "trace=%file"]

TIMED = re.compile(r"^(?P<pid>\d+)\s+(?P<time>\d+\.\d+)\s+(?P<rest>.*)$")
DURATION = re.compile(r"<(?P<seconds>\d+\.\d+)>$")
DECORATED = re.compile(r"^-?\d+<(?P<path>(?:\\x[0-9a-f]{2})*)>")


def timed_calls(lines):
    """(start, end, name, args, ret) of every finished call of a -ttt -T trace."""
    pending = {}
    for raw in lines:
        match = TIMED.match(raw.rstrip("\n"))
        if not match:
            continue
        pid, when, rest = int(match.group("pid")), float(match.group("time")), match.group("rest")
        if rest.startswith("+++") or rest.startswith("---"):
            continue
        if rest.endswith("<unfinished ...>"):
            pending[pid] = (when, rest[: -len("<unfinished ...>")].rstrip())
            continue
        resumed = RESUMED.match(rest)
        if resumed:
            if pid not in pending:
                continue
            when, start = pending.pop(pid)
            rest = start + resumed.group("tail")
        call = CALL.match(rest)
        if not call:
            continue
        ret = call.group("ret")
        duration = DURATION.search(rest)
        end = when + (float(duration.group("seconds")) if duration else 0.0)
        yield when, end, call.group("name"), split_args(call.group("args")), (
            None if ret == "?" else int(ret, 0))


def _real(path, cache={}):
    if path not in cache:
        cache[path] = os.path.realpath(path)
    return cache[path]


def wine_events(client_lines, server_lines, data):
    """The events of events(), from the program's trace and the server's,
    in time order; only names below `data` (a real path) and flushes count."""
    timed = []
    for start, end, name, args, ret in timed_calls(client_lines):
        if ret is None or ret < 0 or not args:
            continue
        decorated = DECORATED.match(args[0])
        if not decorated:
            continue
        path = _real(string_arg('"%s"' % decorated.group("path")))
        if name in WRITES:
            timed.append((start, ("write", path)))
        elif name in FLUSHES:
            timed.append((end, ("flush", path)))
    for start, end, name, args, ret in timed_calls(server_lines):
        if ret is None or ret < 0:
            continue
        if name in ("open", "openat", "creat"):
            at = 1 if name == "openat" else 0
            flags = args[at + 1] if len(args) > at + 1 else ""
            if "O_CREAT" in flags or "O_TRUNC" in flags:
                timed.append((start, ("write", _real(string_arg(args[at])))))
        elif name in ("rename", "renameat", "renameat2"):
            old, new = (args[0], args[1]) if name == "rename" else (args[1], args[3])
            timed.append((start, ("rename", _real(string_arg(old)), _real(string_arg(new)))))
        elif name in CHANGES:
            timed.append((start, ("change", _real(string_arg(args[CHANGES[name][1]])))))
    timed.sort(key=lambda item: item[0])
    below = data + os.sep
    for _, event in timed:
        if any(part == data or part.startswith(below) for part in event[1:]):
            yield event
