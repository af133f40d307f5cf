#!/usr/bin/python3
"""A wide-area line on loopback for bench/run --wan: a TCP proxy that listens on one address at
an FTP server's control port and every port of its passive range, forwards each connection to
the server's address at the same port, delays every byte by half the round trip in each
direction and holds each direction of all connections together to one bandwidth.

  bench/delay_proxy.py --listen 127.0.0.2 --to 127.0.0.1 --ports 2121,30000-30015 \\
                       --rtt-ms 50 --mbit 100
  bench/delay_proxy.py --self-check [--rtt-ms 50 --mbit 100]

The kernel here has no netem, so the line is made in userspace. Each direction of a connection
keeps its pieces in one FIFO that one timer serves, so bytes, the end of the stream and a reset
leave in the order they came (a timer per piece would reorder pieces that fall due at the same
instant, and an end of stream due with the last piece could cut a file short). Each direction
has one token bucket shared by all connections, and a connection stops reading while a
bandwidth-delay product of its bytes waits in the proxy, so that a sender feels the line.

What it cannot model: the client's connect() completes at once (the kernel answers the
handshake), so a new connection costs no round trip of its own before its first bytes.

As a module: spawn(...) starts it as a process and returns once it listens (bench/run's way);
DelayProxy(...).start() / .stop() runs it in a thread of the caller.
"""
import argparse
import asyncio
import collections
import hashlib
import os
import signal
import socket
import struct
import subprocess
import sys
import threading
import time

PIECE = 16 << 10  # the unit the line carries: 1.3 ms at 100 Mbit/s
RCVBUF = 64 << 10  # bytes the kernel may hold for the proxy unread, beyond its own bound
EOF, RESET = 'eof', 'reset'
READY = 'listening'
PING = b'PING'


def parse_ports(text):
    ports = []
    for part in text.split(','):
        low, _, high = part.strip().partition('-')
        ports += range(int(low), int(high or low) + 1)
    return ports


class Bucket:
    """One direction's bandwidth, shared by every connection. Tokens may be owed: a piece
    taken from an empty bucket leaves the line when the debt is paid, so the next piece of any
    connection queues behind it."""

    def __init__(self, loop, bytes_per_second):
        self.loop, self.rate, self.free_at = loop, bytes_per_second, 0.0

    def take(self, size):
        """When a piece of size bytes, offered now, has left the sender's end of the line."""
        self.free_at = max(self.free_at, self.loop.time()) + size / self.rate
        return self.free_at


class Direction:
    """One direction of one connection: pieces wait in one FIFO for their arrival time, and one
    timer hands them, then the end of stream or a reset, to the receiving side in order."""

    def __init__(self, line, source, sink):
        self.line, self.source, self.sink = line, source, sink
        self.fifo = collections.deque()  # (due, bytes | EOF | RESET)
        self.waiting = 0  # bytes in the FIFO
        self.last_due = 0.0
        self.timer = None
        self.done = False  # the end or a reset has been handed on

    def push(self, item, size=0, sent_at=None):
        if self.done:
            return  # the receiver is gone: the bytes are lost, as on a real line
        loop = self.line.loop
        due = max((sent_at if sent_at is not None else loop.time()) + self.line.delay,
                  self.last_due)
        self.last_due = due
        self.fifo.append((due, item))
        self.waiting += size
        self.schedule()

    def schedule(self):
        if self.timer is None and self.fifo and self.sink.ready():
            self.timer = self.line.loop.call_at(self.fifo[0][0], self.deliver)

    def deliver(self):
        self.timer = None
        now = self.line.loop.time()
        data = []
        while self.fifo and self.fifo[0][0] <= now:
            _, item = self.fifo.popleft()
            if isinstance(item, bytes):
                data.append(item)
                self.waiting -= len(item)
                continue
            self.sink.write(b''.join(data))
            data = []
            if item is EOF:
                self.sink.write_eof()
            else:
                self.sink.reset()
            self.finish()
            break
        if data:
            self.sink.write(b''.join(data))
        self.source.maybe_resume()
        self.schedule()

    def finish(self):
        """Nothing more goes this way: the end was handed on, or the receiver is gone."""
        self.done = True
        self.fifo.clear()
        self.waiting = 0
        self.source.conn.check_done()


class Side(asyncio.Protocol):
    """One socket of a proxied connection: the client's accepted one or the one to the server."""

    def __init__(self, conn):
        self.conn, self.transport = conn, None
        self.out = None  # the Direction this side reads into
        self.paused_for = set()  # 'line' (the bucket is owed) and 'full' (the bound is reached)
        self.blocked = False  # its transport's write buffer is full
        self.ended = False  # its end of stream has been read
        self.closed = False

    # Reading: pieces into the FIFO of the other way, at the line's pace.
    def connection_made(self, transport):
        self.transport = transport
        self.conn.made(self)

    def data_received(self, data):
        line = self.out.line
        line.carried += len(data)
        # A round trip: the client speaks again after the server spoke (greetings and replies on
        # control connections; a data connection that only the client writes has none).
        conn = self.conn
        if self is conn.server:
            conn.answered = True
        elif conn.answered:
            conn.answered = False
            conn.proxy.turns += 1
        for at in range(0, len(data), PIECE):
            piece = data[at:at + PIECE]
            self.out.push(piece, len(piece), line.bucket.take(len(piece)))
        if line.bucket.free_at > line.loop.time() + 0.001:
            self.pause('line')
            line.loop.call_at(line.bucket.free_at, self.resume, 'line')
        if self.out.waiting >= self.conn.proxy.bound:
            self.pause('full')

    def eof_received(self):
        self.ended = True
        self.out.push(EOF)
        return True  # half-close: the other way may still carry bytes

    def connection_lost(self, exc):
        self.closed = True
        if exc is not None and not self.out.done:
            self.out.push(RESET)
        # Nothing more can be written here: drop what is on its way.
        towards = self.conn.other(self).out
        if not towards.done:
            towards.finish()

    def pause(self, why):
        if not self.paused_for and not self.closed and not self.ended:
            self.transport.pause_reading()
        self.paused_for.add(why)

    def resume(self, why):
        self.paused_for.discard(why)
        if not self.paused_for and not self.closed and not self.ended:
            self.transport.resume_reading()

    def maybe_resume(self):
        if 'full' in self.paused_for and self.out.waiting < self.conn.proxy.bound:
            self.resume('full')

    # Writing: what the other side's Direction delivers.
    def ready(self):
        return self.transport is not None and not self.blocked

    def write(self, data):
        if data and not self.closed:
            self.transport.write(data)

    def write_eof(self):
        if not self.closed:
            try:
                self.transport.write_eof()
            except OSError:
                # The peer has reset already: a client that closed its socket answers the
                # server's last reply with RST. Nothing more can be handed over.
                self.transport.abort()

    def reset(self):
        if self.transport is not None and not self.closed:
            # Linger 0: the socket ends with RST instead of FIN, as the peer's did.
            self.transport.get_extra_info('socket').setsockopt(
                socket.SOL_SOCKET, socket.SO_LINGER, struct.pack('ii', 1, 0))
            self.transport.abort()

    def pause_writing(self):
        self.blocked = True

    def resume_writing(self):
        self.blocked = False
        self.conn.other(self).out.schedule()


class Connection:
    """A client's connection and the proxy's own to the server, with a Direction each way."""

    def __init__(self, proxy, port):
        self.proxy, self.port = proxy, port
        self.client, self.server = Side(self), Side(self)
        self.answered = False  # the server spoke since the client last did
        self.client.out = Direction(proxy.up, self.client, self.server)
        self.server.out = Direction(proxy.down, self.server, self.client)

    def other(self, side):
        return self.server if side is self.client else self.client

    def made(self, side):
        if side is self.client:
            self.proxy.loop.create_task(self.connect())
        else:
            self.client.out.schedule()  # what the client sent while the connect went on

    async def connect(self):
        sock = socket.socket(socket.AF_INET6 if ':' in self.proxy.to else socket.AF_INET)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, RCVBUF)
        sock.setblocking(False)
        try:
            await self.proxy.loop.sock_connect(sock, (self.proxy.to, self.port))
            await self.proxy.loop.create_connection(lambda: self.server, sock=sock)
        except OSError:
            sock.close()
            self.client.reset()  # as the server's refusal would reach the client
            for way in (self.client.out, self.server.out):
                if not way.done:
                    way.finish()

    def check_done(self):
        if self.client.out.done and self.server.out.done:
            for side in (self.client, self.server):
                if side.transport is not None and not side.closed:
                    side.transport.close()  # after its write buffer has gone out


class Line:
    """One direction of the line: its bucket and its one-way delay."""

    def __init__(self, loop, mbit, rtt_ms):
        self.loop = loop
        self.bucket = Bucket(loop, mbit * 1e6 / 8)
        self.delay = rtt_ms / 2000.0
        self.carried = 0  # bytes taken in, all connections together


class Proxy:
    def __init__(self, loop, listen, to, ports, rtt_ms, mbit):
        self.loop, self.listen, self.to, self.ports = loop, listen, to, ports
        self.up, self.down = Line(loop, mbit, rtt_ms), Line(loop, mbit, rtt_ms)
        # About a bandwidth-delay product, and never less than a few pieces.
        self.bound = max(int(mbit * 1e6 / 8 * rtt_ms / 1000), 4 * PIECE)
        self.servers = []
        self.turns = 0  # round trips the clients waited for, all connections together

    async def start(self):
        family = socket.AF_INET6 if ':' in self.listen else socket.AF_INET
        for port in self.ports:
            sock = socket.socket(family)
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, RCVBUF)  # accepted ones inherit
            sock.bind((self.listen, port))
            sock.listen(128)
            self.servers.append(await self.loop.create_server(
                lambda port=port: Connection(self, port).client, sock=sock))

    def close(self):
        for server in self.servers:
            server.close()


class DelayProxy:
    """The proxy in a thread of the caller: start() returns once every port listens."""

    def __init__(self, listen, to, ports, rtt_ms, mbit):
        self.args = (listen, to, ports, rtt_ms, mbit)
        self.loop = self.thread = self.proxy = None

    def start(self):
        started, failed = threading.Event(), []

        def run():
            self.loop = asyncio.new_event_loop()
            proxy = self.proxy = Proxy(self.loop, *self.args)
            try:
                self.loop.run_until_complete(proxy.start())
            except OSError as e:
                failed.append(e)
                started.set()
                return
            started.set()
            self.loop.run_forever()
            proxy.close()

        self.thread = threading.Thread(target=run, daemon=True)
        self.thread.start()
        started.wait()
        if failed:
            raise failed[0]
        return self

    def stop(self):
        self.loop.call_soon_threadsafe(self.loop.stop)
        self.thread.join()


def spawn(listen, to, ports, rtt_ms, mbit):
    """The proxy as a process of its own (no lock shared with the caller's Python); returns the
    Popen once every port listens. End it with terminate()."""
    port_list = ','.join(str(p) for p in ports)
    proc = subprocess.Popen([sys.executable, os.path.abspath(__file__), '--listen', listen,
                             '--to', to, '--ports', port_list, '--rtt-ms', str(rtt_ms),
                             '--mbit', str(mbit)], stdout=subprocess.PIPE, text=True)
    line = proc.stdout.readline()
    if not line.startswith(READY):
        proc.wait()
        raise RuntimeError('delay proxy did not start (exit %s)' % proc.returncode)
    return proc


def serve(listen, to, ports, rtt_ms, mbit):
    loop = asyncio.new_event_loop()
    proxy = Proxy(loop, listen, to, ports, rtt_ms, mbit)
    loop.run_until_complete(proxy.start())
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, loop.stop)
    # The count of round trips so far, for a caller that measures a run between two asks.
    loop.add_signal_handler(signal.SIGUSR1, lambda: print('turns %d' % proxy.turns, flush=True))
    print('%s on %s, %d port(s), to %s; RTT %g ms, %g Mbit/s' % (
        READY, listen, len(ports), to, rtt_ms, mbit), flush=True)
    loop.run_forever()
    proxy.close()


# The self-check: a sink on the server's side hashes what arrives and answers with the digest.

def free_port(host):
    with socket.socket() as probe:
        probe.bind((host, 0))
        return probe.getsockname()[1]


def sink(listener, results):
    """Per connection: echo a connection that begins with PING; of any other, read to the end
    (or a reset) and answer with the count and the SHA-256."""
    def one(conn):
        digest, count, how = hashlib.sha256(), 0, 'eof'
        try:
            while True:
                block = conn.recv(1 << 16)
                if not block:
                    break
                if count == 0 and block.startswith(PING):
                    while block:
                        conn.sendall(block)
                        block = conn.recv(1 << 16)
                    conn.close()
                    return
                digest.update(block)
                count += len(block)
        except ConnectionResetError:
            how = 'reset'
        results.append((count, digest.hexdigest(), how))
        try:
            conn.sendall(struct.pack('!Q', count) + digest.digest())
        except OSError:
            pass
        conn.close()

    while True:
        try:
            conn, _ = listener.accept()
        except OSError:
            return
        threading.Thread(target=one, args=(conn,), daemon=True).start()


def send_all(address, data, timings, index):
    start = time.monotonic()
    with socket.create_connection(address) as s:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 64 << 10)
        s.sendall(data)
        sent = time.monotonic()
        s.shutdown(socket.SHUT_WR)
        reply = b''
        while len(reply) < 40:
            block = s.recv(40 - len(reply))
            if not block:
                break
            reply += block
    done = time.monotonic()
    count = struct.unpack('!Q', reply[:8])[0] if len(reply) == 40 else -1
    timings[index] = (sent - start, done - start, count, reply[8:].hex())


def self_check(rtt_ms, mbit, size=16 << 20):
    """Byte-exact and on time, through a proxy process as bench/run starts it."""
    port = free_port('127.0.0.1')
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(('127.0.0.1', port))
    listener.listen(16)
    results = []
    threading.Thread(target=sink, args=(listener, results), daemon=True).start()
    proc = spawn('127.0.0.2', '127.0.0.1', [port], rtt_ms, mbit)
    address, rtt, rate = ('127.0.0.2', port), rtt_ms / 1000.0, mbit * 1e6 / 8
    failures = []

    def check(name, ok, text):
        print('  %-44s %s  %s' % (name, 'ok' if ok else 'FAILED', text), flush=True)
        if not ok:
            failures.append(name)

    try:
        # Ten round trips of a few bytes each way.
        with socket.create_connection(address) as s:
            s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            s.sendall(PING)
            s.recv(len(PING))
            start = time.monotonic()
            for _ in range(10):
                s.sendall(b'?')
                s.recv(1)
            took = time.monotonic() - start
        check('10 round trips', 10 * rtt <= took < 10 * rtt + 0.05,
              '%.3f s (expected %.3f s)' % (took, 10 * rtt))

        data = os.urandom(size)
        expected = hashlib.sha256(data).hexdigest()
        for n in (1, 4):
            timings = [None] * n
            part = size // n
            threads = [threading.Thread(target=send_all, args=(
                address, data[k * part:(k + 1) * part], timings, k)) for k in range(n)]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
            want = size / rate + rtt
            took = max(t[1] for t in timings)
            exact = all(t[2] == part and t[3] == hashlib.sha256(
                data[k * part:(k + 1) * part]).hexdigest() for k, t in enumerate(timings))
            if n == 1:
                exact = exact and timings[0][3] == expected
            check('%d MiB over %d connection(s), byte-exact' % (size >> 20, n), exact,
                  '%s' % ', '.join('%d bytes' % t[2] for t in timings))
            # Each sender's clock starts with its own thread, a little after the first one's.
            check('  in size/bandwidth + RTT', want * 0.98 <= took < want * 1.1 + 0.05,
                  '%.3f s (expected %.3f s)' % (took, want))
            # A sender's writes end about when its last bytes enter the line: the kernel's
            # buffers and a read of the proxy's (some 512 KiB a connection) may be ahead of it.
            early = n * (512 << 10) / rate + 0.02
            sent = min(t[0] for t in timings)
            check('  the senders felt the line', sent >= size / rate - early,
                  'writes done after %.3f s (at least %.3f s)' % (sent, size / rate - early))

        # A reset after some bytes arrives after them.
        results.clear()
        with socket.create_connection(address) as s:
            s.sendall(b'x' * 32768)
            time.sleep(0.1)
            s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack('ii', 1, 0))
        deadline = time.monotonic() + 5
        while not results and time.monotonic() < deadline:
            time.sleep(0.01)
        got = results[0] if results else None
        check('a reset after 32768 bytes', got is not None and got[0] == 32768
              and got[2] == 'reset', repr(got and got[::2]))
    finally:
        proc.terminate()
        proc.wait()
        listener.close()
    return not failures


def main():
    parser = argparse.ArgumentParser(description='TCP delay proxy: a wide-area line on loopback')
    parser.add_argument('--listen', default='127.0.0.2')
    parser.add_argument('--to', default='127.0.0.1')
    parser.add_argument('--ports', help='e.g. 2121,30000-30015')
    parser.add_argument('--rtt-ms', type=float, default=50)
    parser.add_argument('--mbit', type=float, default=100)
    parser.add_argument('--self-check', action='store_true',
                        help='16 MiB through the proxy: byte-exact, size/bandwidth + RTT')
    args = parser.parse_args()
    if args.self_check:
        print('self-check: RTT %g ms, %g Mbit/s' % (args.rtt_ms, args.mbit))
        sys.exit(0 if self_check(args.rtt_ms, args.mbit) else 1)
    if not args.ports:
        parser.error('--ports is needed')
    serve(args.listen, args.to, parse_ports(args.ports), args.rtt_ms, args.mbit)


if __name__ == '__main__':
    main()
