"""The span of a run's check phase, for bench/wan_bench.sh: from the first open of a listed
client file to the last close of one, read from what
`strace -f -ttt -e trace=openat,close -o TRACE` recorded of the run.

  check_span.py TRACE NAMES     NAMES: the listed files, one a line, relative to the client
                                folder; prints the span in seconds

strace writes "TID SECONDS call(...) = RESULT", or, when threads interleave, the call's start
as "... <unfinished ...>" and its end as "TID SECONDS <... call resumed>...".
"""
import re
import sys


def span(lines, names):
    def listed(path):
        parts = path.split("/")
        return any("/".join(parts[-n:]) in names for n in range(1, len(parts) + 1))

    pending, opened = {}, set()
    first = last = None
    for line in lines:
        fields = line.rstrip("\n").split(None, 2)
        if len(fields) < 3:
            continue
        tid, stamp, call = fields[0], float(fields[1]), fields[2]
        if call.startswith("<... "):
            head = pending.pop(tid, None)
            if head is None:
                continue
            call = head + call.split("resumed>", 1)[1]
        elif call.endswith("<unfinished ...>"):
            pending[tid] = call[: -len("<unfinished ...>")]
            continue
        opening = re.match(r'openat\(AT_FDCWD, "([^"]*)".*\) = (\d+)', call)
        if opening and listed(opening.group(1)):
            opened.add(int(opening.group(2)))
            first = stamp if first is None else first
            continue
        closing = re.match(r"close\((\d+)\)", call)
        if closing and int(closing.group(1)) in opened:
            opened.discard(int(closing.group(1)))
            last = stamp
    return first, last


if __name__ == "__main__":
    with open(sys.argv[2]) as f:
        names = {line.strip() for line in f if line.strip()}
    with open(sys.argv[1]) as f:
        first, last = span(f, names)
    if first is None or last is None:
        sys.exit("no listed file was opened and closed")
    print("%.2f" % (last - first))
