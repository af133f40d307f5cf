"""Real FTP servers on loopback for the interoperability cases: vsftpd, proftpd, pure-ftpd and
pyftpdlib, from Debian's packages.

Each runs in the foreground as a child, inside a PID namespace of its own so that stopping it also
ends the session processes it forked, with a fresh root directory that the login sees as "/". As
Debian packages vsftpd, proftpd and pure-ftpd exclude each other, so proftpd and pure-ftpd are
unpacked from their packages into a cache directory ($VARDEK_CACHE, or build/real-servers) and run
from there; vsftpd and pyftpdlib are installed when missing.
"""
import contextlib
import ctypes
import fcntl
import functools
import glob
import os
import pwd
import random
import shutil
import signal
import socket
import subprocess
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
CACHE = os.environ.get('VARDEK_CACHE') or os.path.normpath(
    os.path.join(HERE, '..', 'build', 'real-servers'))
PASSIVE_PORTS = 16
APT = dict(os.environ, DEBIAN_FRONTEND='noninteractive')


def quiet(*cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, check=True, **kw).stdout


def apt(*args, cwd=None):
    """Runs apt-get, once more after an update when it fails: the package lists may be missing
    or old."""
    cmd = ['apt-get', '-qq'] + list(args)
    if subprocess.run(cmd, cwd=cwd, env=APT, capture_output=True).returncode:
        quiet('apt-get', 'update', '-qq')
        quiet(*cmd, cwd=cwd, env=APT)


def apt_install(*packages):
    apt('install', '-y', '--no-install-recommends', *packages)


def installed(package):
    return subprocess.run(['dpkg-query', '-W', '-f=${db:Status-Status}', package],
                          capture_output=True, text=True).stdout == 'installed'


@contextlib.contextmanager
def cache_lock():
    """Serialises installs and changes to the test login: a native and a wine run may start
    together."""
    os.makedirs(CACHE, exist_ok=True)
    with open(os.path.join(CACHE, '.lock'), 'w') as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        yield


@functools.lru_cache(None)
def unpacked(package):
    """The tree of PACKAGE's .deb, unpacked into the cache, with the libraries it needs."""
    target = os.path.join(CACHE, package)
    with cache_lock():
        if not os.path.isdir(target):
            work = tempfile.mkdtemp(dir=CACHE)
            apt('download', package, cwd=work)
            deb, = glob.glob(os.path.join(work, '*.deb'))
            quiet('dpkg-deb', '-x', deb, os.path.join(work, 'tree'))
            shutil.copy(deb, os.path.join(work, 'tree', 'package.deb'))
            os.rename(os.path.join(work, 'tree'), target)
            shutil.rmtree(work)
        # Only the shared libraries: the rest of Depends is the conflicting server packaging.
        depends = quiet('dpkg-deb', '-f', os.path.join(target, 'package.deb'), 'Depends')
        names = [d.split('|')[0].split('(')[0].strip() for d in depends.split(',')]
        missing = [n for n in names if n.startswith('lib') and not installed(n)]
        if missing:
            apt_install(*missing)
    return target


def system_user(login, password):
    """The login as a user of this machine, for vsftpd: no shell, and "/" as its home, which
    vsftpd wants to exist."""
    with cache_lock():
        if subprocess.run(['id', login], capture_output=True).returncode:
            quiet('useradd', '--system', '--no-create-home', '--home-dir', '/',
                  '--shell', '/usr/sbin/nologin', login)
        quiet('chpasswd', input='%s:%s\n' % (login, password))
    return pwd.getpwnam(login)


def ensure_installed(kind):
    with cache_lock():
        if kind == 'vsftpd' and not os.path.exists('/usr/sbin/vsftpd'):
            apt_install('vsftpd')
        if kind == 'pyftpdlib' and subprocess.run(
                ['/usr/bin/python3', '-c', 'import pyftpdlib'], capture_output=True).returncode:
            apt_install('python3-pyftpdlib')


def bindable(port):
    with socket.socket() as s:
        try:
            s.bind(('127.0.0.1', port))
            return True
        except OSError:
            return False


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def passive_range():
    """The first of PASSIVE_PORTS free ports in a row, picked at random so that servers that run
    at the same time rarely share one."""
    while True:
        low = random.randrange(20000, 60000, PASSIVE_PORTS)
        if all(bindable(p) for p in range(low, low + PASSIVE_PORTS)):
            return low


def listening(port):
    wanted = '0100007F:%04X' % port
    with open('/proc/net/tcp') as table:
        return any(f[1] == wanted and f[3] == '0A' for f in (l.split() for l in table))


def die_with_parent():
    ctypes.CDLL(None).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG: no server outlives the tests


PYFTPDLIB = '''
import sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
root, port, login, password, low, high = sys.argv[1:]
FTPHandler.authorizer = DummyAuthorizer()
FTPHandler.authorizer.add_user(login, password, root, perm='elradfmwMT')
FTPHandler.auth_failed_timeout = 0
FTPHandler.passive_ports = range(int(low), int(high) + 1)
FTPServer(('127.0.0.1', int(port)), FTPHandler).serve_forever()
'''


def vsftpd(s, login, password):
    # vsftpd asks PAM only, and hangs when a PAM module forks (pam_exec), so the login is a system
    # user, checked by pam_unix without its delay.
    user = system_user(login, password)
    s.uid, s.gid = user.pw_uid, user.pw_gid
    s.pam = '/etc/pam.d/' + os.path.basename(s.base)
    with open(s.pam, 'w') as f:
        f.write('auth required pam_unix.so nodelay\naccount required pam_unix.so\n'
                'session required pam_permit.so\n')
    os.makedirs(os.path.join(s.base, 'empty'))
    s.write('vsftpd.conf', '\n'.join([
        'listen=YES', 'listen_ipv6=NO', 'background=NO', 'listen_address=127.0.0.1',
        'listen_port=%d' % s.port, 'anonymous_enable=NO', 'local_enable=YES', 'write_enable=YES',
        'local_root=' + s.root, 'chroot_local_user=YES', 'allow_writeable_chroot=YES',
        'local_umask=022', 'pasv_min_port=%d' % s.low, 'pasv_max_port=%d' % s.high,
        'pam_service_name=' + os.path.basename(s.pam), 'delay_failed_login=0',
        'delay_successful_login=0', 'seccomp_sandbox=NO', 'secure_chroot_dir=%s/empty' % s.base,
        'xferlog_enable=YES', 'xferlog_std_format=NO', 'log_ftp_protocol=YES',
        'vsftpd_log_file=%s/server.log' % s.base, '']))
    return ['/usr/sbin/vsftpd', s.base + '/vsftpd.conf']


def proftpd(s, login, password):
    hashed = quiet('openssl', 'passwd', '-1', password).strip()
    s.write('passwd', '%s:%s:%d:%d::%s:/bin/sh\n' % (login, hashed, s.uid, s.gid, s.root))
    s.write('group', 'nogroup:x:%d:\n' % s.gid)
    s.write('proftpd.conf', '\n'.join([
        'ServerType standalone', 'DefaultAddress 127.0.0.1', 'SocketBindTight on',
        'Port %d' % s.port, 'UseIPv6 off', 'User nobody', 'Group nogroup',
        'PidFile %s/proftpd.pid' % s.base, 'ScoreboardFile %s/proftpd.scoreboard' % s.base,
        'DelayEngine off', 'WtmpLog off', 'UseReverseDNS off', 'AuthOrder mod_auth_file.c',
        'AuthUserFile %s/passwd' % s.base, 'AuthGroupFile %s/group' % s.base,
        'RequireValidShell off', 'DefaultRoot ~', 'PassivePorts %d %d' % (s.low, s.high),
        'AllowOverwrite on', 'Umask 022', 'TransferLog none',
        'SystemLog %s/server.log' % s.base, 'ExtendedLog %s/server.log ALL' % s.base, '']))
    return [unpacked('proftpd-core') + '/usr/sbin/proftpd', '-n', '-q', '-c',
            s.base + '/proftpd.conf']


def pure_ftpd(s, login, password):
    tree = unpacked('pure-ftpd')
    # A hash of openssl's: pure-pw's own would cost seconds at every login.
    hashed = quiet('openssl', 'passwd', '-6', password).strip()
    s.write('passwd', '%s:%s:%d:%d::%s/./::::::::::::\n' % (login, hashed, s.uid, s.gid, s.root))
    quiet(tree + '/usr/bin/pure-pw', 'mkdb', s.base + '/pure.pdb', '-f', s.base + '/passwd')
    return [tree + '/usr/sbin/pure-ftpd', '-S', '127.0.0.1,%d' % s.port,
            '-l', 'puredb:%s/pure.pdb' % s.base, '-E', '-A', '-j', '-H',
            '-p', '%d:%d' % (s.low, s.high), '-O', 'clf:%s/server.log' % s.base]


def pyftpdlib(s, login, password):
    return ['/usr/bin/python3', '-c', PYFTPDLIB, s.root, str(s.port), login, password,
            str(s.low), str(s.high)]


KINDS = {'vsftpd': vsftpd, 'proftpd': proftpd, 'pure-ftpd': pure_ftpd, 'pyftpdlib': pyftpdlib}


class RealServer:
    """dirs holds the remote directories that exist at the start, as absolute paths; an entry
    (path, bytes) is a file that does. After close(), files maps the remote path of every file to
    its bytes and log holds what the server logged."""

    def __init__(self, kind, dirs, login, password):
        ensure_installed(kind)
        self.commands, self.connections, self.files, self.log = None, 0, {}, ''
        self.proc, self.pam = None, None
        self.base = tempfile.mkdtemp(prefix='vardek-%s-' % kind)
        os.chmod(self.base, 0o755)
        self.root = os.path.join(self.base, 'root')
        nobody = pwd.getpwnam('nobody')
        self.uid, self.gid = nobody.pw_uid, nobody.pw_gid
        try:
            self.port, self.low = free_port(), passive_range()
            self.high = self.low + PASSIVE_PORTS - 1
            cmd = KINDS[kind](self, login, password)
            self._make_root(dirs)
            # A shell is the namespace's first process: vsftpd in that place is sent the
            # exits of its sessions' orphans too, and dies of a segmentation fault.
            with open(os.path.join(self.base, 'server.out'), 'wb') as out:
                self.proc = subprocess.Popen(
                    ['unshare', '-p', '-f', '--mount-proc', '--kill-child', 'sh', '-c',
                     '"$@" & wait', 'sh'] + cmd,
                    stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                    preexec_fn=die_with_parent)
            deadline = time.monotonic() + 10
            while not listening(self.port):
                if self.proc.poll() is not None or time.monotonic() > deadline:
                    raise RuntimeError('%s did not start: %s' % (kind, self._read_log()))
                time.sleep(0.01)
        except BaseException:
            self.close()
            raise

    def write(self, name, text):
        # Readable by root alone: proftpd refuses a password file that others can read.
        with open(os.open(os.path.join(self.base, name), os.O_WRONLY | os.O_CREAT, 0o600),
                  'w') as f:
            f.write(text)

    def _make_root(self, dirs):
        os.makedirs(self.root)
        for entry in dirs:
            path, data = entry if isinstance(entry, tuple) else (entry, None)
            local = os.path.join(self.root, path.lstrip('/'))
            os.makedirs(local if data is None else os.path.dirname(local), exist_ok=True)
            if data is not None:
                with open(local, 'wb') as f:
                    f.write(data)
        # The login writes as nobody, on vsftpd as itself, on pyftpdlib as root.
        for top, subdirs, files in os.walk(self.root):
            for name in [top] + [os.path.join(top, n) for n in subdirs + files]:
                os.chown(name, self.uid, self.gid)

    def _read_log(self):
        texts = []
        for name in ('server.out', 'server.log'):
            try:
                with open(os.path.join(self.base, name), errors='replace') as f:
                    texts.append(f.read())
            except OSError:
                pass
        return ''.join(texts)

    def _stop(self):
        """Ends the namespace's first process, and so every process in it, then unshare."""
        pid = self.proc.pid
        try:
            with open('/proc/%d/task/%d/children' % (pid, pid)) as f:
                children = [int(c) for c in f.read().split()]
        except OSError:
            children = []
        for child in children:
            try:
                os.kill(child, signal.SIGKILL)
            except ProcessLookupError:
                pass
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()

    def close(self):
        if self.proc is not None:
            self._stop()
            self.proc = None
        if self.pam is not None:
            os.remove(self.pam)
            self.pam = None
        if os.path.isdir(self.base):
            self.log = self._read_log()
            for top, _, files in os.walk(self.root):
                for name in files:
                    path = os.path.join(top, name)
                    if os.path.isfile(path) and not os.path.islink(path):
                        with open(path, 'rb') as f:
                            self.files['/' + os.path.relpath(path, self.root)] = f.read()
            shutil.rmtree(self.base, ignore_errors=True)


def start_real_server(kind, dirs, login, password):
    return RealServer(kind, dirs, login, password)
