#!/usr/bin/env python3
"""Which write(2) calls of the installer's main thread the disk-full sweep
fails, read from strace's output (scripts/sweep.sh).

strace counts a tracee's calls of one system call from 1, all of them: the
file writes and the requests that Wine sends its server through a pipe alike
(both are write(2)). A file write is one whose descriptor strace shows (-y)
as a path below drive_c.

    sweep-writes.py targets <calibration trace> ends|first|all
        One line per write to fail: "<ordinal> <count> <file>", where ordinal
        is the write's place among the file writes and count its place among
        all write calls of the calibration run. "all": every file write;
        "first": the first write of each file, and every write of the run's
        journal (run.qvj: each write is one record); "ends": as "first", but
        of the files written into one folder (the same steps for each) only
        the first and the last one, and the journal's writes that announce
        them, with every journal write after the last file.

    sweep-writes.py check <trace of the run> <ordinal> <count> <calibration trace>
        Whether the call strace failed (marked INJECTED) is the file write of
        that ordinal: "hit <file>", or "retry <count>" with the count to try
        instead (the number of server requests before the first file write
        differs from one run to another by a few), or "missed <what>".
"""
import re
import sys

WRITE = re.compile(r"^(?:\[pid\s+\d+\]\s+|\d+\s+)?write\((\d+)<([^>]*)>")


def writes(path):
    """Every write call of the trace, in order: (descriptor's path, injected)."""
    calls = []
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            m = WRITE.match(line)
            if m:
                calls.append((m.group(2), "(INJECTED)" in line))
            elif re.match(r"^(?:\d+\s+)?write\(", line):
                calls.append(("?", "(INJECTED)" in line))
    return calls


def is_file(path):
    return "/drive_c/" in path


def short(path):
    name = path.split("/drive_c/", 1)[-1]
    name = re.sub(r"orvane_\{[^}]*\}", "orvane_{*}", name)
    return "C:/" + re.sub(r"~qv[0-9A-Fa-f]+", "~qv*", name)


def file_writes(calls):
    """(ordinal, count, path) of each file write; ordinal and count from 1."""
    result = []
    for count, (path, _) in enumerate(calls, 1):
        if is_file(path):
            result.append((len(result) + 1, count, path))
    return result


def targets(trace, mode):
    writes_ = file_writes(writes(trace))
    # The file whose step a journal write announces: the next other file
    # written after it (None after the last one).
    announces, following = [], None
    for _, _, path in reversed(writes_):
        if not path.endswith("/run.qvj"):
            following = path
        announces.append(following)
    announces.reverse()
    # Of the files written in one folder, the first and the last one.
    ends = {}
    for _, _, path in writes_:
        if not path.endswith("/run.qvj"):
            folder = path.rsplit("/", 1)[0]
            first, _ = ends.get(folder, (path, path))
            ends[folder] = (first, path)
    kept = {p for pair in ends.values() for p in pair}
    seen = set()
    for (ordinal, count, path), file in zip(writes_, announces):
        journal = path.endswith("/run.qvj")
        if mode == "all":
            take = True
        elif mode == "first":
            take = journal or path not in seen
        else:  # "ends"
            take = (file is None or file in kept) if journal else (path not in seen and path in kept)
        if take:
            print(ordinal, count, short(path))
        seen.add(path)
    return 0


def check(trace, ordinal, count, calibration):
    calls = writes(trace)
    injected = [i for i, (_, inj) in enumerate(calls, 1) if inj]
    if not injected:
        print("missed: the run made fewer write calls than", count)
        return 0
    at = injected[0]
    before = file_writes(calls[:at - 1])
    reference = {o: c for o, c, _ in file_writes(writes(calibration))}
    path = calls[at - 1][0]
    if is_file(path) and len(before) + 1 == ordinal:
        print("hit", short(path))
        return 0
    known = before + ([(len(before) + 1, at, path)] if is_file(path) else [])
    if known:
        # The run and the calibration differ by a constant number of server
        # requests once the files are being written.
        last_ordinal, last_count, _ = known[-1]
        shift = last_count - reference[last_ordinal]
        if ordinal in reference and reference[ordinal] + shift != count:
            print("retry", reference[ordinal] + shift)
            return 0
    elif ordinal == 1:
        # A request before the first file write: that write comes later.
        print("retry", count + 1)
        return 0
    print("missed:", "file write of ordinal %d" % (len(before) + 1) if is_file(path) else "a request to the server",
          short(path) if is_file(path) else path)
    return 0


def main(argv):
    if len(argv) == 4 and argv[1] == "targets" and argv[3] in ("ends", "first", "all"):
        return targets(argv[2], argv[3])
    if len(argv) == 6 and argv[1] == "check":
        return check(argv[2], int(argv[3]), int(argv[4]), argv[5])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
