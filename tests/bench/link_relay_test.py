"""The benchmark's link relay end to end: what crosses it arrives whole and in order each way,
for connections at the same time, and the counts it writes on SIGTERM are the bytes it relayed.
Times are held to lower bounds only (a byte cannot arrive before the delays and the rate
allow), which a slow machine cannot break.

  link_relay_test.py LINK_RELAY
"""
import hashlib
import os
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

DELAY_MS = 5
RATE_MBIT = 200
# (bytes the client sends, bytes the server answers with) per connection
CASES = [(0, 1_000_000), (300, 5), (700_000, 200_000), (1, 0)]


def pattern(seed, size):
    out = bytearray()
    block = 0
    while len(out) < size:
        out += hashlib.sha256(b"%d:%d" % (seed, block)).digest()
        block += 1
    return bytes(out[:size])


def read_all(sock):
    parts = []
    while True:
        data = sock.recv(65536)
        if not data:
            return b"".join(parts)
        parts.append(data)


def serve(listener, received):
    """Answers each connection, once the client has sent all it will, with the pattern the
    first line of the request names ("<index>\\n"): the answer size and the seed."""
    threads = []

    def answer(conn):
        with conn:
            data = read_all(conn)
            index = int(data.split(b"\n", 1)[0])
            received[index] = data
            conn.sendall(pattern(1000 + index, CASES[index][1]))

    for _ in CASES:
        conn, _ = listener.accept()
        t = threading.Thread(target=answer, args=(conn,))
        t.start()
        threads.append(t)
    for t in threads:
        t.join()


def main():
    relay_path = sys.argv[1]
    failures = []
    upstream = socket.socket()
    upstream.bind(("127.0.0.1", 0))
    upstream.listen(16)
    received = {}
    server = threading.Thread(target=serve, args=(upstream, received))
    server.start()

    stats = os.path.join(tempfile.mkdtemp(), "stats")
    relay = subprocess.Popen(
        [relay_path, "--listen", "127.0.0.1:0", "--upstream", str(upstream.getsockname()[1]),
         "--delay-ms", str(DELAY_MS), "--rate-mbit", str(RATE_MBIT), "--stats", stats],
        stdout=subprocess.PIPE, text=True)
    announced = relay.stdout.readline().split()
    port = int(announced[1].rsplit(":", 1)[1])

    requests = [b"%d\n" % i + pattern(i, max(0, size - len(b"%d\n" % i)))
                for i, (size, _) in enumerate(CASES)]
    answers, first_byte = {}, {}

    def client(index):
        start = time.monotonic()
        with socket.create_connection(("127.0.0.1", port)) as sock:
            sock.sendall(requests[index])
            sock.shutdown(socket.SHUT_WR)
            parts = []
            while True:
                data = sock.recv(65536)
                if not data:
                    break
                first_byte.setdefault(index, time.monotonic() - start)
                parts.append(data)
            first_byte.setdefault(index, time.monotonic() - start)
            answers[index] = b"".join(parts)

    started = time.monotonic()
    clients = [threading.Thread(target=client, args=(i,)) for i in range(len(CASES))]
    for t in clients:
        t.start()
    for t in clients:
        t.join(60)
    took = time.monotonic() - started
    server.join(60)
    relay.send_signal(signal.SIGTERM)
    relay.wait(30)

    for i, (_, answer_size) in enumerate(CASES):
        if received.get(i) != requests[i]:
            failures.append("connection %d: the server got %d bytes, not the %d sent" %
                            (i, len(received.get(i, b"")), len(requests[i])))
        if answers.get(i) != pattern(1000 + i, answer_size):
            failures.append("connection %d: the client got %d bytes, not the %d answered" %
                            (i, len(answers.get(i, b"")), answer_size))
        # The handshake's round trip, the request's way there and the answer's way back.
        if first_byte.get(i, 0) < 4 * DELAY_MS / 1000 * 0.99:
            failures.append("connection %d: answered after %.4f s, sooner than the delays allow"
                            % (i, first_byte.get(i, 0)))
    down = sum(size for _, size in CASES)
    floor = down * 8 / (RATE_MBIT * 1e6)
    if took < floor:
        failures.append("%d bytes crossed in %.3f s, faster than %d Mbit/s" % (down, took, RATE_MBIT))

    expected = {"connections": len(CASES),
                "bytes_to_upstream": sum(len(r) for r in requests),
                "bytes_to_client": down}
    with open(stats) as f:
        got = {k: int(v) for k, v in (line.split() for line in f if line.strip())}
    if got != expected:
        failures.append("stats %s, expected %s" % (got, expected))

    for f in failures:
        print("FAIL:", f)
    print("link relay: %d checks failed" % len(failures) if failures else "link relay: all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
