"""Real FTP servers on loopback for the interoperability cases: vsftpd, proftpd, pure-ftpd and
pyftpdlib, from Debian's packages.

Each runs in the foreground inside a PID namespace of its own, so that stopping it also ends the
session processes it forked, with a fresh root directory that the login sees as "/". Debian's
vsftpd, proftpd and pure-ftpd packages exclude each other: proftpd and pure-ftpd run unpacked from
their packages in a cache directory ($VARDEK_CACHE, or build/real-servers).
"""
import ctypes
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

CACHE = os.environ.get('VARDEK_CACHE') or os.path.join(
    os.path.dirname(os.path.abspath(__file__)), '..', 'build', 'real-servers')
ENV = dict(os.environ, DEBIAN_FRONTEND='noninteractive')


def sh(*cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, check=True, env=ENV, **kw).stdout


def apt(*args, cwd=None):
    """apt-get, once more after an update when the package lists are missing or old."""
    if subprocess.run(('apt-get', '-qq') + args, cwd=cwd, env=ENV, capture_output=True).returncode:
        sh('apt-get', 'update', '-qq')
        sh('apt-get', '-qq', *args, cwd=cwd)


def unpacked(package):
    """The package's files, unpacked into the cache, with the shared libraries it needs."""
    target = os.path.join(CACHE, package)
    if not os.path.isdir(target):
        os.makedirs(CACHE, exist_ok=True)
        work = tempfile.mkdtemp(dir=CACHE)
        apt('download', package, cwd=work)
        deb, = glob.glob(work + '/*.deb')
        sh('dpkg-deb', '-x', deb, work + '/tree')
        depends = [d.split('|')[0].split('(')[0].strip()
                   for d in sh('dpkg-deb', '-f', deb, 'Depends').split(',')]
        apt('install', '-y', '--no-install-recommends', *[d for d in depends if d.startswith('lib')])
        os.rename(work + '/tree', target)
        shutil.rmtree(work)
    return target


def listening(port):
    wanted = '0100007F:%04X' % port
    with open('/proc/net/tcp') as table:
        return any(f[1] == wanted and f[3] == '0A' for f in (line.split() for line in table))


def die_with_parent():
    ctypes.CDLL(None).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG: no server outlives the tests


def vsftpd(s, login, password):
    # vsftpd asks PAM only: the login is a user of this machine, checked without pam_unix's delay.
    if not os.path.exists('/usr/sbin/vsftpd'):
        apt('install', '-y', 'vsftpd')
    if subprocess.run(['id', login], capture_output=True).returncode:
        sh('useradd', '--system', '--no-create-home', '--home-dir', '/', '--shell',
           '/usr/sbin/nologin', login)
    sh('chpasswd', input='%s:%s\n' % (login, password))
    user = pwd.getpwnam(login)
    s.uid, s.gid = user.pw_uid, user.pw_gid
    s.pam = '/etc/pam.d/' + os.path.basename(s.base)
    with open(s.pam, 'w') as f:
        f.write('auth required pam_unix.so nodelay\naccount required pam_unix.so\n'
                'session required pam_permit.so\n')
    os.makedirs(s.base + '/empty')
    s.write('vsftpd.conf', 'listen=YES\nlisten_ipv6=NO\nbackground=NO\nlisten_address=127.0.0.1\n'
            'listen_port=%d\nanonymous_enable=NO\nlocal_enable=YES\nwrite_enable=YES\n'
            'local_root=%s\nchroot_local_user=YES\nallow_writeable_chroot=YES\n'
            'pasv_min_port=%d\npasv_max_port=%d\npam_service_name=%s\ndelay_failed_login=0\n'
            'seccomp_sandbox=NO\nsecure_chroot_dir=%s/empty\n'
            % (s.port, s.root, s.low, s.high, os.path.basename(s.pam), s.base))
    return ['/usr/sbin/vsftpd', s.base + '/vsftpd.conf']


def proftpd(s, login, password):
    hashed = sh('openssl', 'passwd', '-1', password).strip()
    s.write('passwd', '%s:%s:%d:%d::%s:/bin/sh\n' % (login, hashed, s.uid, s.gid, s.root))
    s.write('group', 'nogroup:x:%d:\n' % s.gid)
    s.write('proftpd.conf', 'ServerType standalone\nDefaultAddress 127.0.0.1\nPort %d\n'
            'SocketBindTight on\nUseIPv6 off\nUser nobody\nGroup nogroup\nPidFile %s/pid\n'
            'ScoreboardFile %s/scoreboard\nDelayEngine off\nWtmpLog off\nUseReverseDNS off\n'
            'AuthOrder mod_auth_file.c\nAuthUserFile %s/passwd\nAuthGroupFile %s/group\n'
            'RequireValidShell off\nDefaultRoot ~\nPassivePorts %d %d\nAllowOverwrite on\n'
            % ((s.port,) + (s.base,) * 4 + (s.low, s.high)))
    return [unpacked('proftpd-core') + '/usr/sbin/proftpd', '-n', '-q', '-c',
            s.base + '/proftpd.conf']


def pure_ftpd(s, login, password):
    tree = unpacked('pure-ftpd')
    # openssl's hash: pure-pw's own would cost seconds at every login.
    hashed = sh('openssl', 'passwd', '-6', password).strip()
    s.write('passwd', '%s:%s:%d:%d::%s/./::::::::::::\n' % (login, hashed, s.uid, s.gid, s.root))
    sh(tree + '/usr/bin/pure-pw', 'mkdb', s.base + '/pure.pdb', '-f', s.base + '/passwd')
    return [tree + '/usr/sbin/pure-ftpd', '-S', '127.0.0.1,%d' % s.port, '-l',
            'puredb:%s/pure.pdb' % s.base, '-E', '-A', '-j', '-H', '-p', '%d:%d' % (s.low, s.high)]


PYFTPDLIB = '''
import sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
root, port, login, password, low, high = sys.argv[1:7]
FTPHandler.authorizer = DummyAuthorizer()
FTPHandler.authorizer.add_user(login, password, root, perm='elradfmwMT')
for path in sys.argv[7:]:  # it serves as root: file modes would not stop the login
    FTPHandler.authorizer.override_perm(login, root + path, perm='elr', recursive=True)
FTPHandler.auth_failed_timeout = 0
FTPHandler.passive_ports = range(int(low), int(high) + 1)
FTPServer(('127.0.0.1', int(port)), FTPHandler).serve_forever()
'''


def pyftpdlib(s, login, password):
    if subprocess.run(['/usr/bin/python3', '-c', 'import pyftpdlib'],
                      capture_output=True).returncode:
        apt('install', '-y', 'python3-pyftpdlib')
    return ['/usr/bin/python3', '-c', PYFTPDLIB, s.root, str(s.port), login, password,
            str(s.low), str(s.high)] + s.read_only


READ_ONLY = 'read-only'
KINDS = {'vsftpd': vsftpd, 'proftpd': proftpd, 'pure-ftpd': pure_ftpd, 'pyftpdlib': pyftpdlib}


class RealServer:
    """dirs holds the remote directories that exist at the start; an entry (path, bytes) is a
    file that does, and (path, READ_ONLY) a directory where the login may not write. After
    close(), files maps the remote path of every file, its name decoded from the client's
    encoding, to its bytes."""

    def __init__(self, kind, dirs, login, password, encoding='utf-8'):
        self.commands, self.connections, self.files = None, 0, {}
        self.proc = self.pam = None
        self.encoding = encoding
        self.read_only = [e[0] for e in dirs if isinstance(e, tuple) and e[1] == READ_ONLY]
        self.base = tempfile.mkdtemp(prefix='vardek-%s-' % kind)
        os.chmod(self.base, 0o755)
        self.root = self.base + '/root'
        nobody = pwd.getpwnam('nobody')
        self.uid, self.gid = nobody.pw_uid, nobody.pw_gid
        with socket.socket() as probe:
            probe.bind(('127.0.0.1', 0))
            self.port = probe.getsockname()[1]
        self.low = random.randrange(20000, 60000, 16)
        self.high = self.low + 15
        try:
            cmd = KINDS[kind](self, login, password)
            self._make_root(dirs)
            # A shell is the namespace's first process: vsftpd in that place would also be sent
            # the exits of its sessions' orphans, and dies of them.
            with open(self.base + '/server.out', 'wb') as out:
                self.proc = subprocess.Popen(
                    ['unshare', '-p', '-f', '--mount-proc', '--kill-child', 'sh', '-c',
                     '"$@" & wait', 'sh'] + cmd, stdin=subprocess.DEVNULL, stdout=out,
                    stderr=out, preexec_fn=die_with_parent)
            deadline = time.monotonic() + 10
            while not listening(self.port):
                if self.proc.poll() is not None or time.monotonic() > deadline:
                    with open(self.base + '/server.out', errors='replace') as out:
                        raise RuntimeError('%s did not start: %s' % (kind, out.read()))
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
            os.makedirs(local if data in (None, READ_ONLY) else os.path.dirname(local),
                        exist_ok=True)
            if data not in (None, READ_ONLY):
                with open(local, 'wb') as f:
                    f.write(data)
        for top, subdirs, files in os.walk(self.root):  # the login writes as uid/gid
            for name in [top] + [os.path.join(top, n) for n in subdirs + files]:
                os.chown(name, self.uid, self.gid)
        for path in self.read_only:
            os.chown(self.root + path, 0, 0)
            os.chmod(self.root + path, 0o555)

    def stop(self):
        """Ends the server and its sessions at once, as a crash or a power cut would."""
        if self.proc is not None:
            # Killing the namespace's first process ends every process in it, then unshare.
            pid = self.proc.pid
            try:
                with open('/proc/%d/task/%d/children' % (pid, pid)) as f:
                    for child in f.read().split():
                        os.kill(int(child), signal.SIGKILL)
            except OSError:  # it has ended already
                pass
            self.proc.wait(10)
            self.proc = None

    def close(self):
        self.stop()
        if self.pam is not None:
            os.remove(self.pam)
            self.pam = None
        if os.path.isdir(self.base):
            for top, _, files in os.walk(self.root):
                for name in files:
                    with open(os.path.join(top, name), 'rb') as f:
                        remote = os.fsencode('/' + os.path.relpath(f.name, self.root))
                        self.files[remote.decode(self.encoding, 'surrogateescape')] = f.read()
            shutil.rmtree(self.base, ignore_errors=True)


def start_real_server(kind, dirs, login, password, encoding='utf-8'):
    return RealServer(kind, dirs, login, password, encoding)
