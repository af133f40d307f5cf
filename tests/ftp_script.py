"""A scripted FTP server for the end-to-end tests.

It listens on loopback, answers from a script over a small in-memory directory tree, opens a
passive listener per session, and records every command line and every byte of its data
connections. It takes any number of control connections, one after another or at once, each a
session with a thread, a working directory and a passive listener of its own.

A script maps a whole command line ("CWD /a") or a command word ("CWD") to its reply; the whole
line wins. A reply is text whose lines go out with CR LF; the line CLOSE closes the control
connection and SILENT stops answering; "RAW text" sends the text without a line end, "FLOOD text"
sends the line and "STREAM text" the text without end, until the client goes away; "TRICKLE text"
sends the text's bytes one at a time, TRICKLE_SECONDS apart, and then nothing more. A list gives
successive replies, its last one repeating; its count is the server's, shared by all sessions, so
{'greeting': ['421 Too many connections\\nCLOSE', '220 Ready']} turns the first connection away
and greets the next. "greeting" is the reply to the connection and "DONE" the completion reply of
a STOR. "DATA" may be "RESET n", "CLOSE n" or "SILENT n": after n bytes of a STOR the data
connection is reset, or both connections of that session are closed, or that session stops
reading and answering; or "DROP_LAST" (the file's last byte is not kept) or "FLIP" (its first
byte changes), the 226 as ever; or "SLOW" (or ten times slower, "CRAWL", some 800 KiB/s), a data
connection with a small receive buffer, read in small
pieces; or "TRICKLE", a byte sent back every TRICKLE_SECONDS once the client has ended the file,
until it closes the data connection. {p1} and {p2} stand for the port of the session's passive listener ({port} for the whole
of it, as EPSV gives it); {q1}, {q2} and {q} for the port of a listener whose queue is full, which
never answers a connection request.

Without a reply in the script, the server answers from its tree: CWD, MKD; FEAT (FEAT, which
feat() varies); OPTS UTF8 ON (200); SIZE name (213 bytes, or 550); MDTM name (213
YYYYMMDDHHMMSS, or 550), MDTM YYYYMMDDHHMMSS name (vsftpd's way: sets the time, 213) and MFMT
YYYYMMDDHHMMSS name (sets it, "213 Modify=YYYYMMDDHHMMSS; name"), times in UTC; RNFR name (350 if
the file exists, else 550) and RNTO name (moves the file and its time, replacing a file of that
name: 250; 503 without RNFR just before); DELE name (250 or 550); RMD path (250 for an empty directory, else 550); REST n (350, for
the STOR just after it, which keeps the first n bytes) and APPE name (appends); HASH name (after
OPTS HASH SHA-256, SHA-1, MD5 or CRC32; SHA-1 at first) and XSHA256, XSHA1, XMD5, XCRC name, for
a FEAT that names them (DIGESTS); MLST name (one line of facts);
MLSD [dir] and LIST [-opts] [path] over the passive data connection as STOR uses it: a 150 (or
the script's reply to MLSD or LIST; 550 when the directory does not exist, 425 without a PASV or
EPSV before), the lines with CR LF, the close, then "MLSD_DONE" or "LIST_DONE" (226). MLSD gives
"type=file;size=N;modify=...; name" and "type=dir;modify=...; name"; LIST gives vsftpd's "ls -l"
lines, the year instead of the time after six months. "MLSD_LINES" and "LIST_LINES" may replace
the lines: functions of the server and the directory's absolute path, returning text lines (sent
with CR LF) or bytes (sent as they are), and None where the data connection is reset. Names are
resolved against the session's working directory; other commands get 502 (CWD and MKD 550), as
before.

dirs: the remote directories at the start ("/a"), and files: (path, bytes) or (path, bytes,
mtime), mtime in seconds since the epoch; a file's directories exist too. Afterwards files maps
each remote path to its bytes, and mtimes to its modification time in whole seconds (a stored
file's is when its STOR ended; a directory's is always the server's start).

commands: every command line of every session, in arrival order; sessions: each connection's
command lines, in accept order; accepted: their Session objects (conn, cwd, passive, commands);
connections: how many were accepted. stalled: a session waited for a command while the server
had answered everything and nothing happened on any connection for IDLE_SECONDS (an idle
connection beside a busy one is no stall); that session is then closed.

"ZONE": seconds that MLSD and MFMT's reply show times ahead of UTC by (pyftpdlib with
use_gmt_times off).

"PIPELINING": "LOSE" makes a server that reads one command from what arrived and drops the
rest, as some do with commands sent in one go.

host is where it listens: 127.0.0.1, or ::1 for a client that must use EPSV.

hooks maps the same keys (and "DATA", for the moment a STOR's data connection is accepted) to
functions of the server, called before the reply goes out, in the session's thread: session is
then the Session, and passive the listener of the latest PASV or EPSV of any session.
"""
import calendar
import hashlib
import re
import select
import socket
import struct
import threading
import time
import zlib

FLOOD_SECONDS = 60
TRICKLE_SECONDS = 0.3
IDLE_SECONDS = 10
SIX_MONTHS = 182 * 86400  # vsftpd's limit for showing the time of day in LIST
MONTHS = 'Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec'.split()
FEATURES = ('MDTM', 'MFMT', 'MLST type*;size*;modify*;', 'SIZE', 'UTF8', 'REST STREAM')
DIGESTS = {'SHA-256': ('XSHA256', hashlib.sha256), 'SHA-1': ('XSHA1', hashlib.sha1),
           'MD5': ('XMD5', hashlib.md5),
           'CRC32': ('XCRC', lambda data: '%08X' % zlib.crc32(data))}


def feat(features=FEATURES):
    """A FEAT reply naming features, e.g. a vsftpd-like one without MLST and MFMT."""
    return '211-Features:\n' + ''.join(' %s\n' % f for f in features) + '211 End'


FEAT = feat()

DEFAULTS = {
    'greeting': '220 Ready',
    'USER': '331 Password required',
    'PASS': '230 Logged in',
    'TYPE': '200 Type set to I',
    'PASV': '227 Entering Passive Mode (127,0,0,1,{p1},{p2}).',
    'EPSV': '229 Entering Extended Passive Mode (|||{port}|)',
    'STOR': '150 Opening data connection',
    'DONE': '226 Transfer complete',
    'NOOP': '200 NOOP ok',
    'FEAT': FEAT,
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


def stamp(seconds):
    return time.strftime('%Y%m%d%H%M%S', time.gmtime(seconds))


def parse_stamp(text):
    """Seconds since the epoch of YYYYMMDDHHMMSS[.fraction] in UTC, or None."""
    match = re.fullmatch(r'(\d{14})(\.\d{1,3})?', text)
    try:
        return match and calendar.timegm(time.strptime(match.group(1), '%Y%m%d%H%M%S'))
    except ValueError:
        return None


def literal(text):
    """A name inside a computed reply, safe from the placeholders' formatting."""
    return text.replace('{', '{{').replace('}', '}}')


def mlsd_lines(server, path):
    return ['type=%s;modify=%s; %s' % ('dir' if data is None else 'file;size=%d' % len(data),
                                       stamp(mtime + server.script.get('ZONE', 0)), name)
            for name, data, mtime in server.entries(path)]


def list_lines(server, path):
    now = time.time()

    def line(name, data, mtime):
        t = time.gmtime(mtime)
        recent = mtime <= now and now - mtime <= SIX_MONTHS
        when = '%02d:%02d' % (t.tm_hour, t.tm_min) if recent else ' %d' % t.tm_year
        return '%s %4d %-8s %-8s %8d %s %02d %s %s' % (
            'drwxr-xr-x' if data is None else '-rw-r--r--', 1 + (data is None), '1000', '1000',
            4096 if data is None else len(data), MONTHS[t.tm_mon - 1], t.tm_mday, when, name)
    if path in server.files:
        return [line(path.rsplit('/', 1)[1], server.files[path], server.mtimes[path])]
    return [line(*entry) for entry in server.entries(path)]


class Session:
    """One control connection: its socket, working directory, passive listener and commands."""

    def __init__(self, conn):
        self.conn = conn
        self.cwd = '/'
        self.commands = []
        self.passive = None
        self.silent = False
        self.renaming = None  # the path of an accepted RNFR
        self.restart = None  # the offset of an accepted REST, for the STOR just after it
        self.hash = 'SHA-1'  # what HASH computes
        self.last = time.monotonic()
        self.thread = None


class ScriptedServer:
    def __init__(self, script=None, dirs=('/',), encoding='utf-8', port=0, hooks=None,
                 host='127.0.0.1'):
        self.script = dict(DEFAULTS, **(script or {}))
        self.hooks = hooks or {}
        self.encoding = encoding
        self.lock = threading.RLock()  # the tree, the transcripts and the counts of lists
        self.started = int(time.time())
        self.dirs, self.files, self.mtimes = set(), {}, {}
        for entry in dirs:
            if not isinstance(entry, tuple):
                self.dirs.add(entry)
                continue
            path = entry[0]
            self.files[path] = entry[1]
            self.mtimes[path] = int(entry[2]) if len(entry) > 2 else self.started
            while path != '/':
                path = resolve(path, '..')
                self.dirs.add(path)
        self.commands = []   # command lines as received, from every session
        self.sessions = []   # each session's command lines
        self.accepted = []   # the Session of each connection
        self.connections = 0
        self.stalled = False
        self.used = {}
        self.busy, self.last = 0, time.monotonic()  # sessions inside a command; when one ended
        self.passive = None
        self.unanswered = None
        self.local = threading.local()
        self.host = host
        self.listener = socket.create_server((host, port), family=family(host))
        self.port = self.listener.getsockname()[1]
        self.address = ('[%s]:%d' if ':' in host else '%s:%d') % (host, self.port)
        self.thread = threading.Thread(target=self._accept, daemon=True)
        self.thread.start()

    @property
    def session(self):
        """The session whose thread asks (a hook's), or None."""
        return getattr(self.local, 'session', None)

    def _unanswered_port(self):
        with self.lock:
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
        deadline = time.monotonic() + 5
        self.thread.join(5)
        for session in list(self.accepted):
            session.thread.join(max(0, deadline - time.monotonic()))

    def entries(self, path):
        """(name, bytes or None for a directory, mtime) of what the directory holds, by name."""
        prefix = path.rstrip('/') + '/'
        with self.lock:
            found = [(p[len(prefix):], None, self.started) for p in self.dirs
                     if p != path and p.startswith(prefix)]
            found += [(p[len(prefix):], data, self.mtimes[p]) for p, data in self.files.items()
                      if p.startswith(prefix)]
        return sorted(e for e in found if '/' not in e[0])

    def _reply_for(self, key, line):
        value = self.script.get(line, self.script.get(key))
        if isinstance(value, list):
            with self.lock:
                n = self.used.get(key, 0)
                self.used[key] = n + 1
            value = value[min(n, len(value) - 1)]
        return value

    def _accept(self):
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            session = Session(conn)
            with self.lock:
                self.connections += 1
                self.sessions.append(session.commands)
                self.accepted.append(session)
            session.thread = threading.Thread(target=self._serve, args=(session,), daemon=True)
            session.thread.start()

    def _serve(self, session):
        self.local.session = session
        with session.conn as conn:
            conn.settimeout(10)
            try:
                self._begin(session)
                try:
                    if not self._send(session, self._reply_for('greeting', '')):
                        return
                finally:
                    self._end(session)
                for raw in self._lines(session):
                    line = raw.rstrip(b'\r\n').decode(self.encoding, 'surrogateescape')
                    self._begin(session, line)
                    try:
                        verb, _, arg = line.partition(' ')
                        answer = self._answer(session, verb.upper(), arg, line)
                        self._hook(verb.upper(), line)
                        if not self._send(session, answer):
                            return
                    finally:
                        self._end(session)
            except socket.timeout:
                # The client neither read a reply nor closed within the time-out.
                self.stalled = self.stalled or not session.silent
            except OSError:
                pass

    def _begin(self, session, line=None):
        with self.lock:
            self.busy += 1
            if line is not None:
                self.commands.append(line)
                session.commands.append(line)

    def _end(self, session):
        with self.lock:
            self.busy -= 1
            self.last = session.last = time.monotonic()

    def _lines(self, session):
        """The session's command lines as they arrive, up to the client's close or a stall."""
        pending = b''
        while True:
            while b'\n' not in pending:
                if not self._wait(session):
                    return
                chunk = session.conn.recv(65536)
                if not chunk:
                    if pending:
                        yield pending
                    return
                pending += chunk
            raw, _, pending = pending.partition(b'\n')
            if self.script.get('PIPELINING') == 'LOSE':  # a server that reads one command a time
                pending = b''
            yield raw

    def _wait(self, session):
        """Waits for the client to send or close; False when the session is to end: a silent one
        after IDLE_SECONDS of its own, any other once no session has done anything for that long.
        That client waits for a reply that a server which had answered everything would never
        send: the dialogue has stalled."""
        while not select.select([session.conn], [], [], 0.2)[0]:
            with self.lock:
                now = time.monotonic()
                if session.silent and now - session.last > IDLE_SECONDS:
                    return False
                if not session.silent and not self.busy and now - self.last > IDLE_SECONDS:
                    self.stalled = True
                    return False
        return True

    def _hook(self, key, line):
        hook = self.hooks.get(line, self.hooks.get(key))
        if hook:
            hook(self)

    def _send(self, session, reply):
        """Sends a reply; False when the control connection is to end."""
        for line in (reply or '').split('\n'):
            if line == 'CLOSE':
                return False
            session.silent = session.silent or line == 'SILENT'
            if session.silent or not line:
                continue
            word, _, text = line.partition(' ')
            if word == 'TRICKLE':
                return self._trickle(session.conn, text.encode("latin-1"))
            if word in ('RAW', 'FLOOD', 'STREAM'):
                raw = text.encode(self.encoding, 'surrogateescape')
                return self._flood(session, raw + b'\r\n' if word == 'FLOOD' else raw,
                                   word != 'RAW')
            p = session.passive.getsockname()[1] if session.passive else 0
            q = self._unanswered_port() if '{q' in line else 0
            text = line.format(p1=p // 256, p2=p % 256, port=p, q1=q // 256, q2=q % 256, q=q)
            session.conn.sendall(text.encode(self.encoding, 'surrogateescape') + b'\r\n')
        return True

    def _flood(self, session, data, endless):
        deadline = time.monotonic() + FLOOD_SECONDS
        try:
            session.conn.sendall(data)
            while endless and time.monotonic() < deadline:
                session.conn.sendall(data)
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

    def _answer(self, session, verb, arg, line):
        scripted = self._reply_for(verb, line)
        renaming, session.renaming = session.renaming, None
        restart, session.restart = session.restart, None
        if verb in ('PASV', 'EPSV'):
            if session.passive:
                session.passive.close()
            session.passive = self.passive = socket.socket(family(self.host))
            if self.script.get('DATA') in ('SLOW', 'CRAWL'):  # a window far smaller than a send
                session.passive.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            session.passive.bind((self.host, 0))
            session.passive.listen()
            session.passive.settimeout(10)
            return scripted
        if verb == 'REST' and scripted is None:
            if not arg.isdigit():
                return '501 REST needs a number'
            session.restart = int(arg)
            return '350 Restart position accepted (%s).' % arg
        if verb in ('STOR', 'APPE'):
            keep = restart if verb == 'STOR' else None if scripted else -1
            return self._store(session, arg, scripted or DEFAULTS['STOR'], keep)
        if verb in ('MLSD', 'LIST'):
            return self._list(session, verb, arg, scripted)
        if scripted is not None:
            if verb == 'RNFR' and scripted.startswith('350'):
                session.renaming = resolve(session.cwd, arg)
            return scripted
        with self.lock:
            path = resolve(session.cwd, arg)
            if verb == 'CWD' and path in self.dirs:
                session.cwd = path
                return '250 Directory changed'
            if verb == 'MKD' and path not in self.dirs and resolve(path, '..') in self.dirs:
                self.dirs.add(path)
                return '257 "%s" created' % literal(path)
            if verb == 'RNTO':
                return self._rename(renaming, path)
            reply = self._file_reply(session, verb, arg, path)
        if reply is not None:
            return reply
        return '550 Not possible' if verb in ('CWD', 'MKD') else '502 Not implemented'

    def _file_reply(self, session, verb, arg, path):
        """The default reply of a command on the tree's files, or None for a command it is not."""
        exists = path in self.files
        when, _, name = arg.partition(' ')
        if verb in ('MFMT', 'MDTM') and name and parse_stamp(when) is not None:
            target = resolve(session.cwd, name)
            if target not in self.files:
                return '550 No such file'
            self.mtimes[target] = parse_stamp(when)
            return ('213 Modify=%s; %s' % (stamp(self.mtimes[target] + self.script.get('ZONE', 0)),
                                           literal(name))
                    if verb == 'MFMT' else '213 File modification time set.')
        if verb == 'MFMT':
            return '501 Syntax: MFMT YYYYMMDDHHMMSS name'
        if verb == 'MDTM':
            return '213 ' + stamp(self.mtimes[path]) if exists else '550 No such file'
        if verb == 'SIZE':
            return '213 %d' % len(self.files[path]) if exists else '550 No such file'
        if verb == 'RNFR':
            session.renaming = path if exists else None
            return '350 Ready for RNTO.' if exists else '550 No such file'
        if verb == 'DELE':
            if not exists:
                return '550 No such file'
            del self.files[path], self.mtimes[path]
            return '250 Deleted'
        if verb == 'RMD':
            if path not in self.dirs or path == '/' or self.entries(path):
                return '550 Remove directory operation failed.'
            self.dirs.discard(path)
            return '250 Remove directory operation successful.'
        if verb == 'MLST':
            if not exists and path not in self.dirs:
                return '550 No such file or directory'
            facts = ('type=dir;modify=%s;' % stamp(self.started) if not exists else
                     'type=file;size=%d;modify=%s;' % (len(self.files[path]),
                                                      stamp(self.mtimes[path])))
            return '250-Listing %s\n %s %s\n250 End' % (literal(path), facts, literal(path))
        if verb == 'OPTS' and arg.upper() == 'UTF8 ON':
            return '200 Always in UTF8 mode.'
        return self._digest_reply(session, verb, arg, path)

    def _digest_reply(self, session, verb, arg, path):
        def hex_of(name):
            digest = DIGESTS[name][1](self.files[path])
            return digest if isinstance(digest, str) else digest.hexdigest()
        if verb == 'OPTS' and arg.upper().startswith('HASH '):
            if arg[5:].upper() not in DIGESTS:
                return '501 Unknown algorithm'
            session.hash = arg[5:].upper()
            return '200 ' + session.hash
        if verb == 'HASH' or verb in (x for x, _ in DIGESTS.values()):
            if path not in self.files:
                return '550 %s: No such file or directory' % literal(arg)
            if verb == 'HASH':
                return '213 %s 0-%d %s %s' % (session.hash, len(self.files[path]),
                                              hex_of(session.hash), literal(arg))
            name = next(n for n, (x, _) in DIGESTS.items() if x == verb)
            return '250-Computing %s digest\n250 %s' % (name, hex_of(name).upper())
        return None

    def _rename(self, source, target):
        if source is None:
            return '503 RNFR required first.'
        if (source not in self.files or target in self.dirs
                or resolve(target, '..') not in self.dirs):
            return '550 Rename failed.'
        self.files[target] = self.files.pop(source)
        self.mtimes[target] = self.mtimes.pop(source)
        return '250 Rename successful.'

    def _store(self, session, name, preliminary, keep=None):
        """keep: the bytes of the file that stay before the new ones (REST), -1 all (APPE)."""
        if session.silent or not preliminary.startswith('1') or session.passive is None:
            return preliminary
        if not self._send(session, preliminary):
            return 'CLOSE'
        received = self._receive_data(session, self._reply_for('DATA', ''))
        with self.lock:
            path = resolve(session.cwd, name)
            before = self.files.get(path, b'')
            if keep is not None:
                received = (before if keep < 0 else before[:keep]) + received
            self.files[path] = received
            self.mtimes[path] = int(time.time())
        return self._reply_for('DONE', '')

    def _list(self, session, verb, arg, scripted):
        while verb == 'LIST' and arg.startswith('-'):  # "LIST -la", options vsftpd ignores
            arg = arg.partition(' ')[2]
        path = resolve(session.cwd, arg)
        make = self.script.get(verb + '_LINES')
        with self.lock:
            found = path in self.dirs or (verb == 'LIST' and path in self.files)
        preliminary = scripted or ('150 Here comes the listing' if found or make
                                   else '550 No such directory')
        if session.silent or not preliminary.startswith('1'):
            return preliminary
        if session.passive is None:
            return '425 Use PASV or EPSV first'
        with self.lock:
            lines = (make or (mlsd_lines if verb == 'MLSD' else list_lines))(self, path)
        if not self._send(session, preliminary):
            return 'CLOSE'
        data = self._accept_data(session)
        if data:
            with data:
                cut = None in lines  # the data connection reset where None stands
                lines = lines[:lines.index(None)] if cut else lines
                data.sendall(b''.join(
                    line if isinstance(line, bytes)
                    else line.encode(self.encoding, 'surrogateescape') + b'\r\n'
                    for line in lines))
                if cut:
                    data.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack('ii', 1, 0))
        return self._reply_for(verb + '_DONE', '') or DEFAULTS['DONE']

    def _accept_data(self, session):
        try:
            data, _ = session.passive.accept()
        except OSError:
            return None
        finally:
            session.passive.close()
            session.passive = None
        data.settimeout(30)
        return data

    def _receive_data(self, session, plan):
        chunks, count = [], 0
        data = self._accept_data(session)
        if data is None:
            return b''
        self._hook('DATA', '')
        with data:
            action, _, limit = (plan or '').partition(' ')
            limit = int(limit) if limit else None
            slow = action in ('SLOW', 'CRAWL')
            while limit is None or count < limit:
                chunk = data.recv(min(65536, limit - count) if limit else 4096 if slow else 65536)
                if slow:
                    time.sleep(0.005 if action == 'CRAWL' else 0.0005)
                if not chunk:
                    break
                chunks.append(chunk)
                count += len(chunk)
            if action == 'DROP_LAST':
                chunks = [b''.join(chunks)[:-1]]
            elif action == 'FLIP' and chunks:
                chunks[0] = bytes([chunks[0][0] ^ 1]) + chunks[0][1:]
            if action == 'TRICKLE':
                self._trickle(data, b'x' * int(FLOOD_SECONDS / TRICKLE_SECONDS))
            if action == 'RESET':
                data.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack('ii', 1, 0))
            elif action == 'CLOSE':
                session.conn.shutdown(socket.SHUT_RDWR)  # close() waits for the reader to go
            elif action == 'SILENT':
                session.silent = True
                select.select([session.conn], [], [], FLOOD_SECONDS)  # until the client gives up
        return b''.join(chunks)


def self_check():
    """The default answers, two sessions at once and a list of replies shared by the sessions,
    through Python's ftplib, without vardek."""
    import ftplib
    old, recent = 1000000000, int(time.time()) - 3600  # 2001-09-09 01:46:40 UTC, an hour ago
    server = ScriptedServer({'PASS': ['230 Ok', '230 Ok', '421 Too many\nCLOSE']}, (
        '/', '/d', ('/d/a.txt', b'aaa', old), ('/d/e/b.txt', b'bb', recent), ('/d/e/c', b'c', old)))
    one, two, three = ftplib.FTP(), ftplib.FTP(), ftplib.FTP()
    for ftp in one, two:
        ftp.connect('127.0.0.1', server.port, timeout=5)
        ftp.login('u', 'p')
    three.connect('127.0.0.1', server.port, timeout=5)
    try:
        three.login('u', 'p')
        raise AssertionError('a third login')
    except ftplib.error_temp as e:
        assert str(e) == '421 Too many', e
    assert one.sendcmd('FEAT') == FEAT and one.sendcmd('OPTS UTF8 ON')[:4] == '200 '
    one.cwd('/d')
    assert one.size('a.txt') == 3 and two.sendcmd('SIZE /d/a.txt') == '213 3'
    for ftp, command in ((two, 'SIZE a.txt'), (one, 'MDTM x'), (one, 'RNFR x'), (one, 'DELE x')):
        try:
            raise AssertionError(ftp.sendcmd(command))
        except ftplib.error_perm as e:
            assert str(e).startswith('550 '), (command, e)
    upload = one.transfercmd('STOR n.txt')  # the listing goes on while the upload is open
    assert list(two.mlsd('/d')) == [
        ('a.txt', {'type': 'file', 'size': '3', 'modify': '20010909014640'}),
        ('e', {'type': 'dir', 'modify': stamp(server.started)})]
    lines = []
    two.retrlines('LIST -la d/e', lines.append)
    t = time.gmtime(recent)
    assert lines == ['-rw-r--r--    1 1000     1000            2 %s %02d %02d:%02d b.txt' % (
        MONTHS[t.tm_mon - 1], t.tm_mday, t.tm_hour, t.tm_min),
        '-rw-r--r--    1 1000     1000            1 Sep 09  2001 c'], lines
    upload.sendall(b'new')
    upload.close()
    one.voidresp()
    assert server.files['/d/n.txt'] == b'new' and server.mtimes['/d/n.txt'] >= server.started
    assert one.sendcmd('MDTM a.txt') == '213 20010909014640'
    assert one.sendcmd('MFMT 20200102030405 a.txt') == '213 Modify=20200102030405; a.txt'
    assert server.mtimes['/d/a.txt'] == calendar.timegm((2020, 1, 2, 3, 4, 5))
    assert one.sendcmd('MDTM 20210102030405 n.txt')[:4] == '213 '
    assert one.sendcmd('MDTM /d/n.txt') == '213 20210102030405'
    one.rename('n.txt', 'a.txt')  # replaces a.txt, and takes its time along
    assert server.files['/d/a.txt'] == b'new' and '/d/n.txt' not in server.files
    assert one.sendcmd('MDTM a.txt') == '213 20210102030405'
    one.delete('e/c')
    for ftp in one, two, three:  # QUIT gets 502, as ever
        ftp.close()
    server.close()
    assert server.files == {'/d/a.txt': b'new', '/d/e/b.txt': b'bb'}, server.files
    assert server.connections == 3 and server.sessions[2] == ['USER u', 'PASS p']
    assert server.sessions[1][:3] == ['USER u', 'PASS p', 'SIZE /d/a.txt'], server.sessions
    assert len(server.commands) == sum(map(len, server.sessions)) and not server.stalled

    # Scripted replies win, the lines of MLSD may be anything.
    odd = ['Type=cdir;Perm=el; /d', 'Modify=20200102030405;Size=1;Type=file; a b;c']
    server = ScriptedServer({'RNTO': '553 Rename refused', 'MLSD_LINES': lambda s, path: odd,
                             'greeting': ['220 Ready', '421 Busy\nCLOSE']}, ('/', ('/a', b'a')))
    ftp = ftplib.FTP()
    ftp.connect('127.0.0.1', server.port, timeout=5)
    ftp.login('u', 'p')
    lines = []
    ftp.retrlines('MLSD /nowhere', lines.append)
    assert lines == odd
    try:
        raise AssertionError(ftp.rename('a', 'b'))
    except ftplib.error_perm as e:
        assert str(e) == '553 Rename refused'
    try:
        raise AssertionError(ftplib.FTP().connect('127.0.0.1', server.port, timeout=5))
    except ftplib.error_temp as e:
        assert str(e) == '421 Busy'
    ftp.close()
    server.close()
    assert server.files == {'/a': b'a'} and server.sessions[1] == []
    print('ftp_script: ok')


if __name__ == '__main__':
    self_check()
