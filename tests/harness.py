#!/usr/bin/env python3
"""Runs vardek, natively or as the .exe under wine, through tables of end-to-end cases.

usage: harness.py SUITE[,SUITE...] (--exe PATH [--measured-run PATH]
                                    | --wine PATH --launcher PATH --prefix DIR) [-k TEXT]
                                   [--netns | --hosts]

A case is a dict. args: the command line, with {H} for the server's host:port, {P} for its port, {L}
for the local tree as the program is given it and {/} for the platform's separator; or raw: a whole
Windows command line after the program name, run through the launcher. tree: the local files (see
make_tree). script and dirs: the scripted server's (see ftp_script), or real: the kind of a real
server to run instead, with options (see real_servers; tls may name a certificate of
certificates()); on: hooks of the scripted server, functions of the server and the local tree's
root. out and code: the expected messages (or a function of the server that gives them; None
for messages that depend on timing, which check() then judges) and exit code (None: any, as of
a run killed). Optional: cmds (the command transcript), sessions (the scripted server's transcript of each
connection, in accept order), files (the remote files afterwards, or a function of the program that
gives them), then (later runs) and during (see run_case), env (see fill_env), cwd (the directory the
program runs in, relative to the local tree: '' for the tree itself, so that a bare mask such as
*.html names its files; natively and under wine, which maps it to Z:; later runs inherit it), live
('tty' or 'pipe' for standard output), port (21: the case runs with --netns, in a network namespace
of its own), only ('native' or 'wine'), refused (nothing listens), unanswered (the server's address
is a listener that never answers), host (the scripted server's: ::1 for IPv6), hosts (the case runs
with --hosts, where a hosts file of the test's own names vardek-dual), user (a login to run the
program as), no_threads (the program starts with a stack limit of 1 TiB, which no thread's
stack can get, so that no thread of its own starts), interrupt (a function of the server: once
it says so, the program is sent SIGINT; or (function, signal)), line ((round trip in ms, Mbit/s):
the program reaches the real server through the bench's delay proxy, whose Proxy is the result's
line), closed (standard streams, by number, that the program starts without), check(case,
result) for anything else, whole (the files that fault_cases' check wants whole), unordered (the
messages may come in any order, as files sent over several connections at once start: the same
lines, first and last as given), names (the encoding the server's names are read in: 'utf-8' for
"/u" where the Windows build sends the ANSI code page). An env with LC_ALL runs wine in that
locale: another than ru_RU.UTF-8 is a Windows of another language, whose files and pipes get
UTF-8. result holds the
run's out, code, seconds, then (the later runs' results) and server: the scripted server's commands, sessions, files and mtimes, or
the real server's (see real_servers). A key not named here fails the case, and so does a step of
then with a key that STEP_KEYS does not hold.
"""
import argparse
import atexit
import difflib
import functools
import hashlib
import importlib
import os
import pty
import pwd
import resource
import re
import select
import signal
import shutil
import socket
import ssl
import struct
import subprocess
import sys
import tempfile
import threading
import time
import tty

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from ftp_script import ScriptedServer, unanswered_listener  # noqa: E402

LOGIN, PASSWORD = 'usr_q7', 'pw_k3'
# Whatever the server sends and however many files there are, the native program stays small.
MAX_RSS_KB = 4 * 1024
# OpenSSL, loaded for "/e" only, takes its own.
MAX_TLS_RSS_KB = 16 * 1024
# The keys a step of then may hold, and those of a case.
STEP_KEYS = {'args', 'raw', 'tree', 'out', 'code', 'env', 'cwd', 'live', 'user', 'no_threads', 'interrupt', 'closed',
             'unordered'}
CASE_KEYS = STEP_KEYS | {
    'name', 'script', 'dirs', 'real', 'options', 'on', 'cmds', 'sessions', 'files', 'then',
    'during', 'port', 'only', 'refused', 'unanswered', 'host', 'hosts', 'check', 'whole', 'names',
    'line'}


def send_interrupt(proc, when, measured):
    """SIGINT (or when[1]) to the program once when[0] says so, as Ctrl+C or a scheduler stopping
    a task would: to the program itself, not to the measuring process that runs it."""
    when, sent = when
    while proc.poll() is None and not when():
        time.sleep(0.02)
    pid = proc.pid
    if measured:
        with open('/proc/%d/task/%d/children' % (pid, pid)) as f:
            pid = int(f.read().split()[0])
    try:
        os.kill(pid, sent)
    except (OSError, ValueError):
        pass


def prepare(closed, no_threads):
    """In the child before the program starts: standard streams closed, and the stack limit."""
    for fd in closed:
        os.close(fd)
    if no_threads:
        resource.setrlimit(resource.RLIMIT_STACK, (1 << 40, 1 << 40))


class Program:
    """How to start vardek on one platform, and how that platform writes texts and paths."""

    def __init__(self, exe, wine_prefix=None, launcher=None, measured_run=None):
        # Absolute: a case may run the program in a directory of its own (cwd).
        absolute = lambda path: path and os.path.abspath(path)
        self.exe, self.prefix, self.launcher = map(absolute, (exe, wine_prefix, launcher))
        self.measured_run = absolute(measured_run)
        self.wine = wine_prefix is not None
        self.name = 'wine' if self.wine else 'native'
        self.console_encoding = 'cp866' if self.wine else 'utf-8'
        self.encoding = 'cp1251' if self.wine else 'utf-8'
        self.sep = '\\' if self.wine else '/'
        self.trusted = set()

    def env(self, extra=None):
        env = dict(os.environ)
        if self.wine:
            env.update(WINEPREFIX=self.prefix, WINEDEBUG='-all', LC_ALL='ru_RU.UTF-8',
                       WINEDLLOVERRIDES='mscoree,mshtml=')
        env.update(extra or {})  # a case's own LC_ALL too
        return env

    def console_encoding_for(self, step):
        """A Windows of another language (LC_ALL) writes UTF-8 into files and pipes; wine shows a
        console in a terminal in the Unix locale's, UTF-8."""
        if self.wine and (step.get('live') == 'tty' or
                          step.get('env', {}).get('LC_ALL', 'ru_RU.UTF-8') != 'ru_RU.UTF-8'):
            return 'utf-8'
        return self.console_encoding

    def start_wine(self):
        if self.wine:
            if not os.path.exists(os.path.join(self.prefix, 'system.reg')):
                subprocess.run(['wineboot', '-i'], env=self.env(), capture_output=True)
            subprocess.run(['wineserver', '-p'], env=self.env())

    def trust(self, ca_file):
        """Adds a CA certificate to the trusted roots of the wine prefix's Windows store, where
        SChannel looks (a native run is told SSL_CERT_FILE instead)."""
        if not self.wine or ca_file in self.trusted:
            return
        with open(ca_file) as f:
            der = ssl.PEM_cert_to_DER_cert(f.read())
        blob = struct.pack('<III', 0x20, 1, len(der)) + der  # a certificate property, in the form
        key = ('HKCU\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\'
               + hashlib.sha1(der).hexdigest().upper())
        subprocess.run(['wine', 'reg', 'add', key, '/v', 'Blob', '/t', 'REG_BINARY', '/d',
                        blob.hex(), '/f'], env=self.env(), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        self.trusted.add(ca_file)

    def stop_wine(self):
        if self.wine:
            subprocess.run(['wineserver', '-k'], env=self.env())

    def path(self, unix_path):
        return 'Z:' + unix_path.replace('/', '\\') if self.wine else unix_path

    def console(self, messages, encoding=None):
        return ''.join(m + '\r\n' for m in messages).encode(encoding or self.console_encoding)

    def command(self, args):
        return (['wine', self.exe] if self.wine else [self.exe]) + args

    def run(self, args, env=None, raw=None, timeout=60, user=None, closed=(), cwd=None,
            no_threads=False, interrupt=None):
        """Returns (stdout bytes, exit code, seconds, peak KiB, descriptors open at exit, stderr
        bytes); stdout goes to a file, as wine needs. Peak and descriptors are None when not
        measured. user: a login
        to run as, since root reads every directory; closed: standard streams to start it
        without; cwd: the directory to run in (None: the harness's); interrupt: a function that
        says when the program is sent SIGINT."""
        for attempt in (1, 2):
            result = self._run_once(args, env, raw, timeout, user, closed, cwd, no_threads,
                                    interrupt)
            # The program always says something before it can fail; nothing at all under wine
            # is wine not starting it (seen once in CI, on a busy machine): once more.
            if not (self.wine and attempt == 1 and not result[0] and result[1] != 0 and
                    1 not in closed and interrupt is None):
                return result
            print('     wine printed nothing (exit %s, wine said %r): run again' %
                  (result[1], result[5][-300:]))
            sys.stdout.flush()

    def _run_once(self, args, env, raw, timeout, user, closed, cwd, no_threads, interrupt):
        cmd = self.command(args)
        if raw is not None:
            cmd = ['wine', self.launcher]
            env = dict(env or {}, VARDEK_RAW_COMMAND_LINE='vardek.exe ' + raw,
                       VARDEK_RAW_PROGRAM=self.path(os.path.abspath(self.exe)))
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err, \
                tempfile.NamedTemporaryFile('r') as measured:
            if self.measured_run:
                cmd = [self.measured_run, measured.name] + cmd
            who = {}
            if user:
                os.chmod(measured.name, 0o666)
                who = dict(user=user, group=pwd.getpwnam(user).pw_gid, extra_groups=[])
            started = time.monotonic()
            proc = subprocess.Popen(cmd, stdout=out, stderr=err,
                                    stdin=subprocess.DEVNULL, env=self.env(env), cwd=cwd,
                                    preexec_fn=lambda: prepare(closed, no_threads), **who)
            if interrupt:
                threading.Thread(target=send_interrupt, args=(proc, interrupt, self.measured_run),
                                 daemon=True).start()
            try:
                code = proc.wait(timeout)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
                code = 'no exit within %d s' % timeout
            seconds = time.monotonic() - started
            out.seek(0)
            err.seek(0)
            rss, fds = (int(n) for n in (measured.read().split() or (0, 0)))
            return out.read(), code, seconds, rss, fds, err.read()

    def run_live(self, args, env, kind, cwd=None):
        """Runs with standard output on a terminal ('tty') or a pipe ('pipe'); also returns what
        arrived in the first 1.5 s, long before a run that waits 3 s for a silent server ends."""
        reader, writer = pty.openpty() if kind == 'tty' else os.pipe()
        if kind == 'tty':
            tty.setraw(writer)  # the bytes as the program wrote them, no CR added
        started = time.monotonic()
        proc = subprocess.Popen(self.command(args), stdout=writer, stderr=subprocess.DEVNULL,
                                stdin=subprocess.DEVNULL, env=self.env(env), cwd=cwd)
        os.close(writer)
        early = os.read(reader, 4096) if select.select([reader], [], [], 1.5)[0] else b''
        out = early
        while True:
            try:
                chunk = os.read(reader, 4096)
            except OSError:  # a terminal whose other side has closed
                chunk = b''
            if not chunk:
                break
            out += chunk
        os.close(reader)
        return out, proc.wait(60), time.monotonic() - started, early


def make_tree(root, tree):
    """tree maps a relative path to bytes, to (bytes, mtime), to ('link', target), to ('fifo',),
    to ('socket',), to ('chmod', mode) for a path made by an earlier entry, or to None: what was
    there is removed (a later step's change)."""
    for rel, content in (tree or {}).items():
        path = os.path.join(root, rel)
        if content is None:
            shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)
            continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if isinstance(content, tuple) and content[0] == 'link':
            os.symlink(content[1], path)
        elif isinstance(content, tuple) and content[0] == 'chmod':
            os.chmod(path, content[1])
        elif content == ('fifo',):
            os.mkfifo(path)
        elif content == ('socket',):  # a file that no one, not even root, can open
            with socket.socket(socket.AF_UNIX) as s:
                s.bind(path)
        else:
            data, mtime = content if isinstance(content, tuple) else (content, None)
            with open(path, 'wb') as f:
                f.write(data)
            if mtime is not None:
                os.utime(path, (mtime, mtime))


def fill(text, program, host, local):
    port = host.rsplit(':', 1)[1] if host.count(':') == 1 or host.startswith('[') else '21'
    return (text.replace('{H}', host).replace('{P}', port).replace('{L}', local)
            .replace('{/}', program.sep))


@functools.lru_cache(maxsize=None)
def certificates():
    """The test certificates (see real_servers.make_certs), made once for the process."""
    from real_servers import make_certs
    directory = tempfile.mkdtemp(prefix='vardek-certs-')
    atexit.register(shutil.rmtree, directory, True)
    return make_certs(directory)


def start_server(case, program, root):
    if 'real' in case:
        from real_servers import start_real_server
        options = dict(case.get('options', {}))
        if isinstance(options.get('tls'), str):  # a certificate of certificates(), by name
            options['tls'] = getattr(certificates(), options['tls'])
        return start_real_server(case['real'], case.get('dirs', ('/',)), LOGIN, PASSWORD,
                                 case.get('names', program.encoding), **options)
    hooks = {key: (lambda server, hook=hook: hook(server, root))
             for key, hook in case.get('on', {}).items()}
    return ScriptedServer(case.get('script'), case.get('dirs', ('/',)), case.get('names', program.encoding),
                          case.get('port', 0), hooks, case.get('host', '127.0.0.1'))


def start_line(server, rtt_ms, mbit):
    """The bench's delay proxy before a real server, on 127.0.0.2 at its ports."""
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'bench'))
    from delay_proxy import DelayProxy
    ports = [server.port] + list(range(server.low, server.high + 1))
    return DelayProxy('127.0.0.2', server.host, ports, rtt_ms, mbit).start()


def fill_env(env, program):
    """{CA} stands for the test CA's certificate file, which the program is made to trust, and
    {PIN:name}, also inside a text, for the fingerprint of a test certificate."""
    def value(text):
        if text == '{CA}':
            program.trust(certificates().ca.cert)
            return certificates().ca.cert
        return re.sub(r'\{PIN:(\w+)\}',
                      lambda m: getattr(certificates(), m.group(1)).fingerprint, text)
    return {key: value(text) for key, text in (env or {}).items()}


def screen(raw):
    """What a terminal shows after the bytes, its lines ended by CR LF: CR goes back to the start
    of the line, LF to the next, ESC [ K erases to the end of the line, and other control
    sequences (wine's console hides and shows the cursor) change no text. Blanks at the ends of
    lines and blank lines at the end are not seen."""
    lines, line, column, at = [], [], 0, 0
    text = raw.decode('utf-8', 'replace')
    while at < len(text):
        sequence = re.match(r'\x1b\[[0-9;?]*([A-Za-z])', text[at:])
        if sequence:
            if sequence.group(1) == 'K':
                del line[column:]
            at += sequence.end()
            continue
        c = text[at]
        if c == '\r':
            column = 0
        elif c == '\n':
            lines.append(''.join(line))
            line, column = [], 0
        else:
            line[column:column + 1] = [c]
            column += 1
        at += 1
    lines = [l.rstrip() for l in lines + [''.join(line)]]
    while lines and not lines[-1]:
        lines.pop()
    return ''.join(l + '\r\n' for l in lines).encode()


def run_program(program, step, host, local, root, server=None):
    """One run of the program for a case or one of its later steps."""
    args = [fill(a, program, host, local) for a in step.get('args', [])]
    step = dict(step, env=fill_env(step.get('env'), program))
    cwd = None
    if 'cwd' in step:
        cwd = os.path.join(root, step['cwd'])
        os.makedirs(cwd, exist_ok=True)
    if 'live' in step:
        out, code, seconds, early = program.run_live(args, step.get('env'), step['live'], cwd)
        shown = screen(out) if step['live'] == 'tty' else out
        return dict(out=shown, raw=out, code=code, seconds=seconds, early=early, rss=0, fds=0)
    raw = step.get('raw')
    how = step.get('interrupt')
    when, sent = how if isinstance(how, tuple) else (how, signal.SIGINT)
    out, code, seconds, rss, fds, _ = program.run(args, step.get('env'),
                                               raw and fill(raw, program, host, local),
                                               user=step.get('user'), closed=step.get('closed', ()),
                                               no_threads=step.get('no_threads', False),
                                               interrupt=how and (lambda: when(server), sent),
                                               cwd=cwd)
    return dict(out=out, code=code, seconds=seconds, rss=rss, fds=fds)


def check_run(program, step, result, host, local):
    problems = []
    out = step['out'](result['server']) if callable(step['out']) else step['out']
    encoding = program.console_encoding_for(step)
    # None: the messages depend on timing, and check() judges them.
    expected = result['out'] if out is None else program.console(
        [fill(m, program, host, local) for m in out], encoding)
    got = result['out']
    if step.get('unordered'):
        lines = lambda b: b.split(b'\r\n')
        same = lambda e, g: e[:1] == g[:1] and e[-2:] == g[-2:] and sorted(e) == sorted(g)
        got = expected if same(lines(expected), lines(got)) else got
    if got != expected:
        text = lambda b: b.decode(encoding, 'replace').split('\r\n')
        problems.append('console:\n' + first_difference(text(expected), text(result['out'])))
    if step['code'] is not None and result['code'] != step['code']:
        problems.append('exit code: expected %d, got %s' % (step['code'], result['code']))
    for secret in (LOGIN, PASSWORD):
        if secret.encode() in result['out']:
            problems.append('the console shows %r' % secret)
    tls = any(a.lower().startswith('/e') for a in step.get('args', []))
    # Each connection of "/p:N" beyond the first has a thread and a copy buffer of its own.
    more = max([int(a[3:]) - 1 for a in step.get('args', []) if re.fullmatch(r'/[pP]:\d+', a)]
               or [0])
    if result['rss'] > (MAX_TLS_RSS_KB if tls else MAX_RSS_KB) + 128 * more:
        problems.append('peak resident memory %d KiB' % result['rss'])
    # Standard input, output and error; a killed run closed nothing itself.
    if result['fds'] > 3 and step['code'] is not None:
        problems.append('%d descriptors open at exit' % result['fds'])
    return problems


def run_case(program, case):
    """Runs one case; returns a list of complaints (empty when it passed).

    A case may hold later steps in then: each updates the local tree and runs the program again
    against the same server. during(server, root) runs in a thread of its own while the first
    run lasts."""
    root = tempfile.mkdtemp(prefix='vardek-')
    server = start_server(case, program, root)
    host = case.get('host', '127.0.0.1') if case.get('port') == 21 else server.address
    line = case.get('line') and start_line(server, *case['line'])
    if line:
        host = '127.0.0.2:%d' % server.port
    if case.get('refused'):
        server.close()
    unanswered = case.get('unanswered') and unanswered_listener('127.0.0.1')
    if unanswered:
        host = '127.0.0.1:%d' % unanswered[0].getsockname()[1]
    local = program.path(root + '/')
    if case.get('user'):
        os.chmod(root, 0o755)
    problems = []
    try:
        make_tree(root, case.get('tree'))
        during = case.get('during') and threading.Thread(target=case['during'],
                                                        args=(server, root))
        if during:
            during.start()
        result = run_program(program, case, host, local, root, server)
        result['server'], result['line'] = server, line and line.proxy
        if during:
            during.join()
        problems += check_run(program, case, result, host, local)
        result['then'] = []
        for n, step in enumerate(case.get('then', []), 2):
            make_tree(root, step.get('tree'))
            step = dict({'cwd': case['cwd']} if 'cwd' in case else {}, **step)
            result['then'].append(run_program(program, step, host, local, root, server))
            problems += ['run %d: %s' % (n, p) for p in check_run(
                program, step, result['then'][-1], host, local)]
    finally:
        if line:
            line.stop()
        server.close()
        for s in unanswered or ():
            s.close()
        shutil.rmtree(root, ignore_errors=True)
    result['server'] = server
    if 'cmds' in case:
        want = [fill(c, program, host, local) for c in case['cmds']]
        if server.commands != want:
            problems.append('commands:\n  expected %r\n  got      %r' % (want, server.commands))
    if 'sessions' in case:
        want = [[fill(c, program, host, local) for c in cmds] for cmds in case['sessions']]
        got = getattr(server, 'sessions', 'none: a real server keeps no transcript per session')
        if got != want:
            problems.append('sessions:\n  expected %r\n  got      %r' % (want, got))
    files = case.get('files')
    files = files(program) if callable(files) else files
    if files is not None and server.files != files:
        problems.append('remote files:\n' + first_difference(summary(files), summary(server.files)))
    if getattr(server, 'stalled', False):
        problems.append('the dialogue stalled: the client waited for a reply to no command')
    if 'check' in case:
        problems += case['check'](case, result) or []
    return problems


def key_problems(case):
    """Keys the harness does not know, in the case and in each step of then: a misspelled key
    would otherwise check less in silence."""
    def unknown(keys, known, where):
        return ['%s%s key %r%s' % (
            where, 'a case\'s' if key in CASE_KEYS else 'unknown', key,
            ''.join(" (did you mean %r?)" % m for m in difflib.get_close_matches(key, known, 1)))
            for key in sorted(set(keys) - known)]
    problems = unknown(case, CASE_KEYS, '')
    for n, step in enumerate(case.get('then', []), 2):
        problems += unknown(step, STEP_KEYS, 'run %d: ' % n)
    if case.get('only', 'native') not in ('native', 'wine'):
        problems.append('only: %r is neither native nor wine' % case['only'])
    return problems


def summary(files):
    """Each file as its path, size and checksum, in order."""
    return ['%s %d %s' % (path, len(data), hashlib.sha256(data).hexdigest()[:12])
            for path, data in sorted(files.items())]


def first_difference(expected, got, context=3):
    """The lines around the first that differs: a run of thousands of lines stays readable."""
    at = next((i for i, (e, g) in enumerate(zip(expected, got)) if e != g),
              min(len(expected), len(got)))
    start = max(0, at - context)
    show = lambda lines: '%r%s' % (lines[start:at + context], ' ...' if len(lines) > at + context
                                   else '')
    return ('  from line %d of %d/%d\n  expected %s\n  got      %s'
            % (start + 1, len(expected), len(got), show(expected), show(got)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('suite')
    parser.add_argument('--exe')
    parser.add_argument('--wine')
    parser.add_argument('--launcher')
    parser.add_argument('--prefix')
    parser.add_argument('--measured-run',
                        help='the launcher that measures peak memory and open descriptors')
    parser.add_argument('-k', default='')
    parser.add_argument('--netns', action='store_true',
                        help='run only the cases that need port 21, in a network namespace')
    parser.add_argument('--hosts', action='store_true',
                        help='run only the cases that need the name vardek-dual, in a mount '
                             'namespace whose /etc/hosts gives it ::1 and 127.0.0.1')
    options = parser.parse_args()
    program = (Program(options.wine, options.prefix, options.launcher) if options.wine
               else Program(options.exe, measured_run=options.measured_run))
    global PROGRAM  # for a case that runs a second program of its own
    PROGRAM = program
    cases = [c for suite in options.suite.split(',') for c in importlib.import_module(suite).CASES]
    failed = 0
    program.start_wine()
    try:
        for case in cases:
            if options.k not in case['name']:
                continue
            # Checked whatever the platform and namespace: a case of wine's fails natively too.
            problems = key_problems(case)
            if not problems and (case.get('only', program.name) != program.name
                                 or options.netns != (case.get('port') == 21)
                                 or options.hosts != bool(case.get('hosts'))):
                continue
            problems = problems or run_case(program, case)
            failed += bool(problems)
            print('%s %s' % ('FAIL' if problems else 'ok  ', case['name']))
            for p in problems:
                print('    ' + p.replace('\n', '\n    '))
    finally:
        program.stop_wine()
    print('%s: %d failed' % (program.name, failed))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.modules['harness'] = sys.modules['__main__']  # the suites' harness, with PROGRAM
    sys.exit(main())
