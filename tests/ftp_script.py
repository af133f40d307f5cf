"""A scripted FTP server for the end-to-end tests.

It listens on loopback, answers from a script over a small in-memory directory tree, opens a
passive listener of its own, and records every command line and every byte of its data
connections.

A script maps a whole command line ("CWD /a") or a command word ("CWD") to its reply; the whole
line wins. A reply is text whose lines go out with CR LF; the line CLOSE closes the control
connection and SILENT stops answering; "RAW text" sends the text without a line end, "FLOOD text"
sends the line and "STREAM text" the text without end, until the client goes away; "TRICKLE text"
sends the text's bytes one at a time, TRICKLE_SECONDS apart, and then nothing more. A list gives
successive replies, its last one repeating. "greeting" is the reply to the connection and "DONE"
the completion reply of a transfer. "DATA" may be "RESET n", "CLOSE n" or "SILENT n": after n
bytes the data connection is reset, or both connections are closed, or the server stops reading
and answering; or "SLOW", a data connection with a small receive buffer, read in small pieces; or
"TRICKLE", a byte sent back every TRICKLE_SECONDS once the client has ended the file, until it
closes the data connection.
{p1} and {p2} stand for the port of the passive listener ({port} for the whole of it, as EPSV
gives it); {q1}, {q2} and {q} for the port of a listener whose queue is full, which never
answers a connection request.

host is where it listens: 127.0.0.1, or ::1 for a client that must use EPSV.

hooks maps the same keys (and "DATA", for the moment the data connection is accepted) to
functions of the server, called before the reply goes out.
"""
import select
import socket
import struct
import threading
import time

FLOOD_SECONDS = 60
TRICKLE_SECONDS = 0.3

DEFAULTS = {
    'greeting': '220 Ready',
    'USER': '331 Password required',
    'PASS': '230 Logged in',
    'TYPE': '200 Type set to I',
    'PASV': '227 Entering Passive Mode (127,0,0,1,{p1},{p2}).',
    'EPSV': '229 Entering Extended Passive Mode (|||{port}|)',
    'STOR': '150 Opening data connection',
    'DONE': '226 Transfer complete',
}


def family(host):
    return socket.AF_INET6 if ':' in host else socket.AF_INET


def unanswered_listener(host):
    """A listener that never accepts, with one connection waiting in its queue of one: further
    connection requests are dropped, and a connect to it waits until the client gives up."""
    listener = socket.socket(family(host))
    listener.bind((host, 0))
    listener.listen(0)
    waiting = socket.create_connection(listener.getsockname()[:2])
    return listener, waiting


def resolve(cwd, path):
    parts = [] if path.startswith('/') else cwd.strip('/').split('/')
    for part in path.split('/'):
        if part == '..':
            parts = parts[:-1]
        elif part not in ('', '.'):
            parts.append(part)
    return '/' + '/'.join(p for p in parts if p)


class ScriptedServer:
    def __init__(self, script=None, dirs=('/',), encoding='utf-8', port=0, hooks=None,
                 host='127.0.0.1'):
        self.script = dict(DEFAULTS, **(script or {}))
        self.hooks = hooks or {}
        self.dirs = set(dirs)
        self.encoding = encoding
        self.cwd = '/'
        self.commands = []  # command lines as received
        self.files = {}     # remote path -> bytes of its last STOR
        self.connections = 0
        self.silent = False
        self.stalled = False
        self.used = {}
        self.passive = None
        self.unanswered = None
        self.host = host
        self.listener = socket.create_server((host, port), family=family(host))
        self.port = self.listener.getsockname()[1]
        self.address = ('[%s]:%d' if ':' in host else '%s:%d') % (host, self.port)
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _unanswered_port(self):
        if self.unanswered is None:
            self.unanswered = unanswered_listener(self.host)
        return self.unanswered[0].getsockname()[1]

    def close(self):
        for s in self.unanswered or ():
            s.close()
        try:
            self.listener.shutdown(socket.SHUT_RDWR)  # wakes a pending accept
        except OSError:
            pass
        self.listener.close()
        self.thread.join(5)

    def _reply_for(self, key, line):
        value = self.script.get(line, self.script.get(key))
        if isinstance(value, list):
            n = self.used.get(key, 0)
            self.used[key] = n + 1
            value = value[min(n, len(value) - 1)]
        return value

    def _serve(self):
        try:
            conn, _ = self.listener.accept()
        except OSError:
            return
        self.connections += 1
        with conn:
            conn.settimeout(10)
            self.conn = conn
            reader = conn.makefile('rb')
            if not self._send(self._reply_for('greeting', '')):
                return
            try:
                for raw in reader:
                    line = raw.rstrip(b'\r\n').decode(self.encoding, 'surrogateescape')
                    self.commands.append(line)
                    verb, _, arg = line.partition(' ')
                    answer = self._answer(verb.upper(), arg, line)
                    self._hook(verb.upper(), line)
                    if not self._send(answer):
                        return
            except socket.timeout:
                # The client neither sent a command nor closed: it waits for a reply that a
                # server which had answered everything would never send.
                self.stalled = not self.silent
            except OSError:
                pass

    def _hook(self, key, line):
        hook = self.hooks.get(line, self.hooks.get(key))
        if hook:
            hook(self)

    def _send(self, reply):
        """Sends a reply; False when the control connection is to end."""
        for line in (reply or '').split('\n'):
            if line == 'CLOSE':
                return False
            self.silent = self.silent or line == 'SILENT'
            if self.silent or not line:
                continue
            word, _, text = line.partition(' ')
            if word == 'TRICKLE':
                return self._trickle(self.conn, text.encode('latin-1'))
            if word in ('RAW', 'FLOOD', 'STREAM'):
                raw = text.encode(self.encoding, 'surrogateescape')
                return self._flood(raw + b'\r\n' if word == 'FLOOD' else raw, word != 'RAW')
            p = self.passive.getsockname()[1] if self.passive else 0
            q = self._unanswered_port() if '{q' in line else 0
            text = line.format(p1=p // 256, p2=p % 256, port=p, q1=q // 256, q2=q % 256, q=q)
            self.conn.sendall(text.encode(self.encoding, 'surrogateescape') + b'\r\n')
        return True

    def _flood(self, data, endless):
        deadline = time.monotonic() + FLOOD_SECONDS
        try:
            self.conn.sendall(data)
            while endless and time.monotonic() < deadline:
                self.conn.sendall(data)
        except OSError:  # the client has gone
            return False
        return not endless

    def _trickle(self, conn, data):
        """Sends the bytes one at a time; False once the client has gone."""
        try:
            for i in range(len(data)):
                conn.sendall(data[i:i + 1])
                time.sleep(TRICKLE_SECONDS)
        except OSError:
            return False
        return True

    def _answer(self, verb, arg, line):
        scripted = self._reply_for(verb, line)
        if verb in ('PASV', 'EPSV'):
            self.passive = socket.socket(family(self.host))
            if self.script.get('DATA') == 'SLOW':  # a window far smaller than a send
                self.passive.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            self.passive.bind((self.host, 0))
            self.passive.listen()
            self.passive.settimeout(10)
            return scripted
        if verb == 'STOR':
            return self._store(arg, scripted or DEFAULTS['STOR'])
        if scripted is not None:
            return scripted
        path = resolve(self.cwd, arg)
        if verb == 'CWD' and path in self.dirs:
            self.cwd = path
            return '250 Directory changed'
        if verb == 'MKD' and path not in self.dirs and resolve(path, '..') in self.dirs:
            self.dirs.add(path)
            return '257 "%s" created' % path
        return '550 Not possible' if verb in ('CWD', 'MKD') else '502 Not implemented'

    def _store(self, name, preliminary):
        if self.silent or not preliminary.startswith('1') or self.passive is None:
            return preliminary
        if not self._send(preliminary):
            return 'CLOSE'
        received = self._receive_data(self._reply_for('DATA', ''))
        self.files[resolve(self.cwd, name)] = received
        return self._reply_for('DONE', '')

    def _receive_data(self, plan):
        chunks, count = [], 0
        try:
            data, _ = self.passive.accept()
        except OSError:
            return b''
        finally:
            self.passive.close()
            self.passive = None
        self._hook('DATA', '')
        with data:
            data.settimeout(30)
            action, _, limit = (plan or '').partition(' ')
            limit = int(limit) if limit else None
            slow = action == 'SLOW'
            while limit is None or count < limit:
                chunk = data.recv(min(65536, limit - count) if limit else 4096 if slow else 65536)
                if slow:
                    time.sleep(0.0005)
                if not chunk:
                    break
                chunks.append(chunk)
                count += len(chunk)
            if action == 'TRICKLE':
                self._trickle(data, b'x' * int(FLOOD_SECONDS / TRICKLE_SECONDS))
            if action == 'RESET':
                data.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack('ii', 1, 0))
            elif action == 'CLOSE':
                self.conn.shutdown(socket.SHUT_RDWR)  # close() waits for the reader to go
            elif action == 'SILENT':
                self.silent = True
                select.select([self.conn], [], [], FLOOD_SECONDS)  # until the client gives up
        return b''.join(chunks)
