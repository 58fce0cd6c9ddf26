"""The phase edges of one run of the program, for bench/run_bench.sh.

Inputs: LOG, the program's plain output with each line's arrival time in front ("SECONDS
text"), and SLEEPS, what `strace -f -q -ttt -T -e trace=clock_nanosleep,nanosleep` wrote.
The worker rests 500 ms at a time in each phase handshake, and nothing else in a run asks for
exactly that long but the main thread's rest at its very end. The refresh prints the new
phase's status line while the worker rests, so the line tells which rest ends the handshake:
a phase runs from the end of that rest to the start of the next one (the last phase: to the
worker's exit).

  phases.py times LOG SLEEPS           prints "check download recover" in seconds
  phases.py kill LOG SLEEPS SECONDS PID
                                       kills PID with SIGKILL half of SECONDS into the download
                                       phase; prints how far into it the kill came (per cent)
"""
import os
import re
import signal
import sys
import time

HANDSHAKE_REST = "tv_sec=0, tv_nsec=500000000"


def read_status(log):
    """Each status text with the time it first arrived."""
    status = {}
    with open(log) as lines:
        for line in lines:
            stamp, _, text = line.rstrip("\n").partition(" ")
            # "Downloading files: 12 files, 340 MB": the plan after the colon is not the status.
            text = text.split(": ", 1)[0]
            try:
                status.setdefault(text, float(stamp))
            except ValueError:
                continue  # a line still being written
    return status


def read_rests(sleeps):
    """The worker's 500 ms rests as (start, end), and each thread's exit time.

    strace writes "TID START call(...) = 0 <SECONDS>", or, when threads interleave, an
    "<unfinished ...>" line and a "<... resumed>" one; "TID TIME +++ exited ..." at the end.
    """
    rests, exits, pending = [], {}, {}
    with open(sleeps) as lines:
        for line in lines:
            fields = line.split(None, 2)
            if len(fields) < 3:
                continue
            tid, stamp, rest = fields[0], float(fields[1]), fields[2]
            if rest.startswith("+++"):
                exits[tid] = stamp
                continue
            if rest.startswith("<..."):
                if tid not in pending:
                    continue
                start, asked = pending.pop(tid)
            else:
                start, asked = stamp, HANDSHAKE_REST in rest
                if "<unfinished" in rest:
                    pending[tid] = (start, asked)
                    continue
            took = re.search(r"<([0-9.]+)>\s*$", rest)
            if asked and took:
                rests.append((start, start + float(took.group(1)), tid))
    rests.sort()
    if not rests:
        return [], None, exits
    worker = rests[0][2]  # the first rest is the worker's; the main thread's comes last
    return [(s, e) for s, e, tid in rests if tid == worker], worker, exits


def phase_start(rests, printed):
    """The end of the rest during which the status line was printed, or None."""
    ends = [e for s, e in rests if s <= printed]
    return max(ends) if ends else None


def times(log, sleeps):
    status = read_status(log)
    rests, worker, exits = read_rests(sleeps)

    def next_edge(start):
        later = [s for s, e in rests if s >= start]
        return min(later) if later else exits[worker]

    check = phase_start(rests, status["Checking file integrity"])
    download = phase_start(rests, status["Downloading files"])
    recover = phase_start(rests, status["Recovering files"])
    print("%.3f %.3f %.3f" % (next_edge(check) - check, next_edge(download) - download,
                              exits[worker] - recover))


def kill_mid_download(log, sleeps, full_download, pid):
    """Kills `pid` half-way through the download phase (as long as a full run's took);
    prints how far into the phase the kill came, in per cent."""
    deadline = time.time() + 600
    while time.time() < deadline:
        printed = read_status(log).get("Downloading files")
        # A rest under way when the line came ends within 500 ms of it.
        if printed is not None and time.time() > printed + 0.55:
            start = phase_start(read_rests(sleeps)[0], printed)
            if start is not None:
                time.sleep(max(0.0, start + full_download / 2 - time.time()))
                os.kill(pid, signal.SIGKILL)
                print("%.0f" % ((time.time() - start) / full_download * 100))
                return 0
        time.sleep(0.01)
    return 1


if __name__ == "__main__":
    mode, log_path, sleeps_path = sys.argv[1:4]
    if mode == "times":
        times(log_path, sleeps_path)
    else:
        sys.exit(kill_mid_download(log_path, sleeps_path, float(sys.argv[4]), int(sys.argv[5])))
