"""Real FTP servers on loopback for the interoperability cases: vsftpd, proftpd, pure-ftpd,
pyftpdlib and aioftp, from Debian's packages.

Each runs in the foreground inside a PID namespace of its own, so that stopping it also ends the
session processes it forked, with a fresh root directory that the login sees as "/". Debian's
vsftpd, proftpd and pure-ftpd packages exclude each other: proftpd and pure-ftpd run unpacked from
their packages in a cache directory ($VARDEK_CACHE, or build/real-servers).

Keyword options of start_real_server, each for the kinds named in OPTIONS: tls (a Cert of
make_certs: explicit FTPS required for the login and every data connection), tls_version (the
highest: '1.2' or '1.3'), ssl_reuse (False: data connections need not resume the control
connection's TLS session, which vsftpd and proftpd require by default), ipv6 (listen on ::1
only), chroot (False: the login starts in root's absolute path), banner (vsftpd's one-line
greeting), passive_ports (vsftpd's: how many, 16 by default; with fewer than the connections
that want one at once, vsftpd answers "500 OOPS: vsf_sysutil_bind" and closes), max_rate
(vsftpd's local_max_rate: bytes per second for each transfer), implicit (TLS from the first byte), max_listed (pure-ftpd's -L: the
entries a listing stops at, "226 Output truncated to N matches"), max_store
(proftpd's MaxStoreFileSize, e.g. '1 Mb'), max_per_ip (connections from
one address: vsftpd max_per_ip, proftpd MaxConnectionsPerHost, pure-ftpd -C, pyftpdlib
max_cons_per_ip), allow_overwrite (False: proftpd's AllowOverwrite off). For example
start_real_server('vsftpd', ('/',), LOGIN, PASSWORD, tls=make_certs(DIR).server,
tls_version='1.2'). restart() ends the server with its sessions and starts it again on the same
port (30 to 110 ms here): for a client that must reconnect in the middle of an upload.

After close(), commands holds the command lines the server received, in order, from all
connections; vsftpd logs the password as "<password>" and each byte outside printable ASCII as
"?", proftpd logs "PASS (hidden)" and a command only once it has ended (a STOR cut off by stop()
is missing); pure-ftpd keeps none (None).

What they answer, seen with ftplib here (Debian 12):
- FEAT: vsftpd 3.0.3 EPRT EPSV MDTM PASV REST STREAM SIZE TVFS. proftpd 1.3.8 CLNT CSID EPRT EPSV
  HOST LANG MDTM MFF MFMT "MLST modify*;perm*;size*;type*;unique*;UNIX.group*;UNIX.groupname*;
  UNIX.mode*;UNIX.owner*;UNIX.ownername*;" RANG REST SIZE TVFS UTF8. pure-ftpd 1.0.50 ("211-
  Extensions supported:", "211 End.") UTF8 EPRT IDLE MDTM SIZE MFMT REST "MLST type*;size*;sizd*;
  modify*;UNIX.mode*;UNIX.uid*;UNIX.gid*;unique*;" MLSD PRET AUTH TLS PBSZ PROT TVFS ESTA PASV EPSV
  ESTP. pyftpdlib 1.5.7 EPRT EPSV MDTM MFMT "MLST type*;perm*;size*;modify*;unique*;unix.mode;
  unix.uid;unix.gid;" REST SIZE TVFS UTF8. aioftp 0.21.4: 502, no FEAT.
- MLSD: vsftpd 500. proftpd and pure-ftpd list "." (type=cdir) and ".." (type=pdir) too, facts
  in their FEAT order; pyftpdlib lists files and directories only; aioftp's facts are capitalised
  and not in FEAT order ("Size=5;Create=...;Modify=...;Type=file; b.txt").
- Setting a time: vsftpd "MDTM YYYYMMDDHHMMSS name" ("213 File modification time set."), MFMT 500.
  proftpd MFMT ("213 Modify=20200102030405; a.txt"), pure-ftpd MFMT ("213 UTIME OK"), pyftpdlib
  MFMT ("213 Modify=20200102030405; /d/a.txt." with the absolute path); these three take the
  two-argument MDTM for a name and answer 550. aioftp has neither MDTM, MFMT nor SIZE (502).
- SIZE in ASCII mode (TYPE A): proftpd and pyftpdlib 550, vsftpd and pure-ftpd the size.
- OPTS UTF8 ON: vsftpd "200 Always in UTF8 mode.", proftpd "200 UTF8 set to on", pure-ftpd 504,
  pyftpdlib 501, aioftp 502.
- RNTO onto an existing file: vsftpd, pure-ftpd and pyftpdlib replace it (250); aioftp refuses
  ("550 path already exists"); proftpd 1.3.8 replaces it with AllowOverwrite on and refuses it
  with off ("550 b.txt: Rename permission denied"; a STOR over an existing file then gets "550
  b.txt: Overwrite permission denied"), while RNTO to a new name still works (250).
- max_per_ip refuses the connection beyond N at once, instead of the greeting: vsftpd "421 There
  are too many connections from your internet address.", proftpd "530 Sorry, the maximum number of
  connections (N) for your host are already connected.", pure-ftpd "421 Too many connections (N)
  from this IP", pyftpdlib "421 Too many connections from the same IP address."
"""
import ctypes
import glob
import json
import os
import pwd
import random
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
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
    wanted = ('0100007F:%04X' % port, '00000000000000000000000001000000:%04X' % port)  # or ::1
    for name in ('/proc/net/tcp', '/proc/net/tcp6'):
        with open(name) as table:
            if any(f[1] in wanted and f[3] == '0A' for f in (line.split() for line in table)):
                return True
    return False


class Cert:
    """cert and key: PEM files; pem: both in one file; fingerprint: SHA-256, as openssl prints
    it (colons, upper case)."""

    def __init__(self, directory, name):
        self.name = name
        self.cert, self.key, self.pem = (os.path.join(directory, name + ext)
                                         for ext in ('.pem', '.key', '.both.pem'))
        self.fingerprint = None


class Certs:
    """ca signs server, other_name (for other.example only) and expired (a day of 2020), named
    (for the DNS names ftp.example.test and ftp.xn--e1afmkfd.xn--p1ai, the A-label of
    ftp.пример.рф) and cn_only (ftp.example.test in its common name, no subjectAltName); other_ca, which nobody
    trusts, signs unknown_ca; self_signed stands alone. All but other_name, named and cn_only
    are for 127.0.0.1, ::1 and localhost."""
    NAMES = ('ca', 'other_ca', 'self_signed', 'server', 'other_name', 'expired', 'unknown_ca',
             'named', 'cn_only')
    SUBJECTS = {'cn_only': '/CN=ftp.example.test'}


CA_CONF = ('[ca]\ndefault_ca = d\n[d]\ndatabase = index\nnew_certs_dir = .\nserial = serial\n'
           'default_md = sha256\npolicy = p\nunique_subject = no\n[p]\ncommonName = supplied\n')
LOCAL_NAMES = 'subjectAltName=IP:127.0.0.1,IP:::1,DNS:localhost'


def make_certs(directory):
    """Test certificates in directory (about a second)."""
    directory = os.path.abspath(directory)
    os.makedirs(directory, exist_ok=True)
    work = tempfile.mkdtemp(dir=directory)  # openssl ca's database and copies
    run = lambda *cmd: sh('openssl', *cmd, cwd=work)
    certs = Certs()
    for name in Certs.NAMES:
        setattr(certs, name, Cert(directory, name))
    for ca in (certs.ca, certs.other_ca, certs.self_signed):
        run('req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', ca.key, '-out', ca.cert,
            '-days', '3650', '-subj', '/CN=vardek test ' + ca.name,
            *(['-addext', LOCAL_NAMES] if ca is certs.self_signed else []))
    # openssl ca rather than x509 -req: only it sets both dates, for one that has expired.
    with open(os.path.join(work, 'ca.cnf'), 'w') as f:
        f.write(CA_CONF)
    valid = ('-days', '3650')
    for cert, ca, names, dates in (
            (certs.server, certs.ca, LOCAL_NAMES, valid),
            (certs.other_name, certs.ca, 'subjectAltName=DNS:other.example', valid),
            (certs.expired, certs.ca, LOCAL_NAMES,
             ('-startdate', '20200101000000Z', '-enddate', '20200102000000Z')),
            (certs.unknown_ca, certs.other_ca, LOCAL_NAMES, valid),
            (certs.named, certs.ca,
             'subjectAltName=DNS:ftp.example.test,DNS:ftp.xn--e1afmkfd.xn--p1ai', valid),
            (certs.cn_only, certs.ca, 'basicConstraints=CA:FALSE', valid)):
        run('req', '-newkey', 'rsa:2048', '-nodes', '-keyout', cert.key, '-out', 'csr', '-subj',
            Certs.SUBJECTS.get(cert.name, '/CN=vardek test ' + cert.name))
        for name, text in (('ext', names + '\n'), ('index', ''),
                           ('serial', '%016X\n' % random.getrandbits(63))):
            with open(os.path.join(work, name), 'w') as f:
                f.write(text)
        run('ca', '-batch', '-notext', '-config', 'ca.cnf', '-cert', ca.cert, '-keyfile', ca.key,
            '-in', 'csr', '-out', cert.cert, '-extfile', 'ext', *dates)
    for name in Certs.NAMES:
        cert = getattr(certs, name)
        with open(cert.pem, 'w') as both, open(cert.key) as key, open(cert.cert) as pem:
            both.write(key.read() + pem.read())
        cert.fingerprint = run('x509', '-noout', '-fingerprint', '-sha256', '-in',
                               cert.cert).strip().partition('=')[2]
    shutil.rmtree(work)
    return certs


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
    # Else vsftpd fails after PASS, with a clear-text "500 OOPS" even inside TLS.
    up = s.base
    while up != '/':
        up = os.path.dirname(up)
        if not os.stat(up).st_mode & 0o001:
            raise RuntimeError('%s: the login cannot pass through %s' % (s.base, up))
    # The protocol log is written only with xferlog_enable.
    s.transcript = (s.base + '/vsftpd.log', rb'FTP command: Client "[^"]*", "(.*)"\r?\n')
    conf = ('listen=NO\nlisten_ipv6=YES\nlisten_address6=::1\n' if s.ipv6 else
            'listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\n')
    conf += ('background=NO\nlisten_port=%d\nanonymous_enable=NO\nlocal_enable=YES\n'
             'write_enable=YES\nlocal_root=%s\nchroot_local_user=%s\nallow_writeable_chroot=YES\n'
             'pasv_min_port=%d\npasv_max_port=%d\npam_service_name=%s\ndelay_failed_login=0\n'
             'seccomp_sandbox=NO\nsecure_chroot_dir=%s/empty\nxferlog_enable=YES\n'
             'log_ftp_protocol=YES\nvsftpd_log_file=%s\n'
             % (s.port, s.root, 'YES' if s.chroot else 'NO', s.low, s.high,
                os.path.basename(s.pam), s.base, s.transcript[0]))
    if s.banner is not None:
        conf += 'ftpd_banner=%s\n' % s.banner
    if s.max_per_ip is not None:
        conf += 'max_per_ip=%d\n' % s.max_per_ip
    if s.max_rate is not None:
        conf += 'local_max_rate=%d\n' % s.max_rate
    if s.tls:
        conf += ('ssl_enable=YES\nrsa_cert_file=%s\nrsa_private_key_file=%s\n'
                 'force_local_logins_ssl=YES\nforce_local_data_ssl=YES\nrequire_ssl_reuse=%s\n'
                 'debug_ssl=YES\nimplicit_ssl=%s\n'
                 % (s.tls.cert, s.tls.key, 'NO' if s.ssl_reuse is False else 'YES',
                    'YES' if s.implicit else 'NO'))
    s.write('vsftpd.conf', conf)
    return ['/usr/sbin/vsftpd', s.base + '/vsftpd.conf']


def proftpd(s, login, password):
    hashed = sh('openssl', 'passwd', '-1', password).strip()
    s.write('passwd', '%s:%s:%d:%d::%s:/bin/sh\n' % (login, hashed, s.uid, s.gid, s.root))
    s.write('group', 'nogroup:x:%d:\n' % s.gid)
    conf = ('ServerType standalone\nDefaultAddress 127.0.0.1\nPort %d\n'
            'SocketBindTight on\nUseIPv6 off\nUser nobody\nGroup nogroup\nPidFile %s/pid\n'
            'ScoreboardFile %s/scoreboard\nDelayEngine off\nWtmpLog off\nUseReverseDNS off\n'
            'AuthOrder mod_auth_file.c\nAuthUserFile %s/passwd\nAuthGroupFile %s/group\n'
            'RequireValidShell off\nDefaultRoot ~\nPassivePorts %d %d\nAllowOverwrite %s\n'
            % ((s.port,) + (s.base,) * 4 + (s.low, s.high, 'on' if s.allow_overwrite else 'off')))
    s.transcript = (s.base + '/commands', rb'(.*)\n')
    conf += 'LogFormat command "%%r"\nExtendedLog %s ALL command\n' % s.transcript[0]
    if s.max_store is not None:
        conf += 'MaxStoreFileSize %s\n' % s.max_store
    if s.max_per_ip is not None:
        conf += 'MaxConnectionsPerHost %d\n' % s.max_per_ip
    for command in s.deny:
        conf += '<Limit %s>\nDenyAll\n</Limit>\n' % command
    if s.store_restart:
        conf += 'AllowStoreRestart on\n'
    if s.digest:  # HASH and XSHA256, XSHA1, XMD5, XCRC
        conf += ('ModulePath %s/usr/lib/proftpd\nLoadModule mod_digest.c\nDigestEngine on\n'
                 % unpacked('proftpd-core'))
    if s.tls:
        # mod_tls is a package of its own; data connections must reuse the TLS session unless
        # told otherwise.
        flags = (['NoSessionReuseRequired'] if s.ssl_reuse is False else []) + (
            ['UseImplicitSSL'] if s.implicit else [])
        conf += ('ModulePath %s/usr/lib/proftpd\nLoadModule mod_tls.c\nTLSEngine on\n'
                 'TLSRequired on\nTLSRSACertificateFile %s\nTLSRSACertificateKeyFile %s\n'
                 'TLSProtocol %s\nTLSLog %s/tls.log\n%s'
                 % (unpacked('proftpd-mod-crypto'), s.tls.cert, s.tls.key,
                    'TLSv1.2' if s.tls_version == '1.2' else 'TLSv1.2 TLSv1.3', s.base,
                    'TLSOptions %s\n' % ' '.join(flags) if flags else ''))
    s.write('proftpd.conf', conf)
    return [unpacked('proftpd-core') + '/usr/sbin/proftpd', '-n', '-q', '-c',
            s.base + '/proftpd.conf']


def pure_ftpd(s, login, password):
    tree = unpacked('pure-ftpd')
    # openssl's hash: pure-pw's own would cost seconds at every login.
    hashed = sh('openssl', 'passwd', '-6', password).strip()
    s.write('passwd', '%s:%s:%d:%d::%s/./::::::::::::\n' % (login, hashed, s.uid, s.gid, s.root))
    sh(tree + '/usr/bin/pure-pw', 'mkdb', s.base + '/pure.pdb', '-f', s.base + '/passwd')
    # -Y 3: TLS for the login and for every data connection.
    return [tree + '/usr/sbin/pure-ftpd', '-S', '127.0.0.1,%d' % s.port, '-l',
            'puredb:%s/pure.pdb' % s.base, '-E', '-A', '-j', '-H', '-p', '%d:%d' % (s.low, s.high)
            ] + (['-Y', '3', '-2', s.tls.pem] if s.tls else []) + (
            ['-C', str(s.max_per_ip)] if s.max_per_ip is not None else []) + (
            ['-L', '%d:5' % s.max_listed] if s.max_listed is not None else [])


PYFTPDLIB = '''
import json, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, TLS_FTPHandler
from pyftpdlib.servers import FTPServer
o = json.loads(sys.argv[1])
log = open(o['transcript'], 'ab', buffering=0)  # a restarted server goes on with it


class Handler(TLS_FTPHandler if o['cert'] else FTPHandler):
    def decode(self, line):  # every command line, as it arrived
        log.write(line + b'\\n')
        return super().decode(line)


Handler.authorizer = DummyAuthorizer()
Handler.authorizer.add_user(o['login'], o['password'], o['root'],
                            perm='elradfmwM' + ('' if 'MFMT' in o['deny'] else 'T'))
Handler.use_gmt_times = not o['zone']  # its TZ is then the zone of its listings
for path in o['read_only']:  # it serves as root: file modes would not stop the login
    Handler.authorizer.override_perm(o['login'], o['root'] + path, perm='elr', recursive=True)
Handler.auth_failed_timeout = 0
Handler.passive_ports = range(o['low'], o['high'] + 1)
if o['cert']:
    Handler.certfile, Handler.keyfile = o['cert'], o['key']
    Handler.tls_control_required = Handler.tls_data_required = True
    if o['tls_version'] == '1.2':
        from OpenSSL import SSL
        Handler.get_ssl_context().set_max_proto_version(SSL.TLS1_2_VERSION)
server = FTPServer((o['host'], o['port']), Handler)
server.max_cons_per_ip = o['max_per_ip'] or 0
server.serve_forever()
'''


def pyftpdlib(s, login, password):
    if subprocess.run(['/usr/bin/python3', '-c', 'import pyftpdlib, OpenSSL'],
                      capture_output=True).returncode:
        apt('install', '-y', 'python3-pyftpdlib', 'python3-openssl')
    s.transcript = (s.base + '/commands', rb'(.*)\n')
    return ['/usr/bin/python3', '-c', PYFTPDLIB, json.dumps(dict(
        root=s.root, host=s.host, port=s.port, login=login, password=password, low=s.low,
        high=s.high, read_only=s.read_only, cert=s.tls and s.tls.cert, key=s.tls and s.tls.key,
        tls_version=s.tls_version, transcript=s.transcript[0], max_per_ip=s.max_per_ip,
        deny=s.deny, zone=s.zone))]


AIOFTP = '''
import asyncio, json, logging, sys
import aioftp
o = json.loads(sys.argv[1])
log = open(o['transcript'], 'ab', buffering=0)


class Log(logging.Handler):
    def emit(self, record):  # parse_command logs every command line: cmd, rest
        if record.funcName == 'parse_command':
            log.write(' '.join(a for a in record.args if a).encode() + b'\\n')


class Server(aioftp.Server):
    def parse_command(self, stream, censor_commands=()):  # no stars for the password
        return super().parse_command(stream, censor_commands)


logging.getLogger('aioftp.server').addHandler(Log())
logging.getLogger('aioftp.server').setLevel(logging.DEBUG)
# It serves as root: file modes would not stop the login.
user = aioftp.User(o['login'], o['password'], base_path=o['root'], permissions=[
    aioftp.Permission('/')] + [aioftp.Permission(p, writable=False) for p in o['read_only']])
server = Server([user], data_ports=range(o['low'], o['high'] + 1))
asyncio.run(server.run('127.0.0.1', o['port']))
'''


def aioftp(s, login, password):
    if subprocess.run(['/usr/bin/python3', '-c', 'import aioftp'], capture_output=True).returncode:
        apt('install', '-y', 'python3-aioftp')
    s.transcript = (s.base + '/commands', rb'(.*)\n')
    return ['/usr/bin/python3', '-c', AIOFTP, json.dumps(dict(
        root=s.root, port=s.port, login=login, password=password, low=s.low, high=s.high,
        read_only=s.read_only, transcript=s.transcript[0]))]


READ_ONLY = 'read-only'
KINDS = {'vsftpd': vsftpd, 'proftpd': proftpd, 'pure-ftpd': pure_ftpd, 'pyftpdlib': pyftpdlib,
         'aioftp': aioftp}
TLS = ('vsftpd', 'proftpd', 'pure-ftpd', 'pyftpdlib')
OPTIONS = dict(tls=TLS, tls_version=TLS, ssl_reuse=('vsftpd', 'proftpd'),
               ipv6=('vsftpd', 'pyftpdlib'), chroot=('vsftpd',), banner=('vsftpd',),
               max_store=('proftpd',), max_per_ip=('vsftpd', 'proftpd', 'pure-ftpd', 'pyftpdlib'),
               allow_overwrite=('proftpd',), passive_ports=('vsftpd',), max_rate=('vsftpd',),
               max_listed=('pure-ftpd',), store_restart=('proftpd',), digest=('proftpd',),
               implicit=('vsftpd', 'proftpd'), deny=('proftpd', 'pyftpdlib'),
               zone=('pyftpdlib',))
# What OpenSSL negotiates at most, for the servers without an option of their own.
TLS_1_2 = ('openssl_conf = init\n[init]\nssl_conf = ssl\n[ssl]\nsystem_default = tls\n[tls]\n'
           'MaxProtocol = TLSv1.2\n')


class RealServer:
    """dirs holds the remote directories that exist at the start; an entry (path, bytes) or
    (path, bytes, mtime) is a file that does, and (path, READ_ONLY) a directory where the login
    may not write. After close(), files maps the remote path of every file, its name decoded from
    the client's encoding, to its bytes, and mtimes to its modification time in whole seconds.
    host is where it listens, address that with the port, as a URL has it."""
    tls = tls_version = ssl_reuse = banner = max_store = max_per_ip = passive_ports = None
    max_rate = max_listed = None
    deny = ()  # commands the login may not use: proftpd's <Limit>, pyftpdlib's MFMT permission
    zone = None  # pyftpdlib: listings in this TZ (e.g. 'XYZ-3') rather than UTC
    ipv6, chroot, allow_overwrite, store_restart, digest, implicit = (False, True, True, False,
                                                                      False, False)

    def __init__(self, kind, dirs, login, password, encoding='utf-8', **options):
        for name, value in options.items():
            if name not in OPTIONS:
                raise TypeError('no option %s' % name)
            if value != getattr(RealServer, name) and kind not in OPTIONS[name]:
                raise ValueError('%s has no option %s' % (kind, name))
            setattr(self, name, value)
        if self.tls_version not in (None, '1.2', '1.3'):
            raise ValueError('tls_version %r' % self.tls_version)
        if self.max_per_ip is not None and not (isinstance(self.max_per_ip, int)
                                                and self.max_per_ip > 0):
            raise ValueError('max_per_ip %r' % self.max_per_ip)
        self.commands, self.connections, self.files, self.mtimes = None, 0, {}, {}
        self.proc = self.pam = self.transcript = None
        self.encoding = encoding
        self.read_only = [e[0] for e in dirs if isinstance(e, tuple) and e[1] == READ_ONLY]
        self.base = tempfile.mkdtemp(prefix='vardek-%s-' % kind)
        os.chmod(self.base, 0o755)
        self.root = self.base + '/root'
        nobody = pwd.getpwnam('nobody')
        self.uid, self.gid = nobody.pw_uid, nobody.pw_gid
        self.host = '::1' if self.ipv6 else '127.0.0.1'
        with socket.socket(socket.AF_INET6 if self.ipv6 else socket.AF_INET) as probe:
            probe.bind((self.host, 0))
            self.port = probe.getsockname()[1]
        self.address = ('[%s]:%d' if self.ipv6 else '%s:%d') % (self.host, self.port)
        # Below the kernel's own ephemeral ports (32768 on), where a client's socket could hold
        # a passive port.
        self.low = random.randrange(20000, 32768 - 16, 16)
        self.high = self.low + (self.passive_ports or 16) - 1
        self.kind, self.env = kind, dict(os.environ, **({'TZ': self.zone} if self.zone else {}))
        try:
            self.cmd = KINDS[kind](self, login, password)
            if self.tls_version == '1.2':
                self.env['OPENSSL_CONF'] = self.base + '/openssl.cnf'
                with open(self.env['OPENSSL_CONF'], 'w') as f:  # for sessions run as the login
                    f.write(TLS_1_2)
            self._make_root(dirs)
            self._start()
        except BaseException:
            self.close()
            raise

    def _start(self):
        # A shell is the namespace's first process: vsftpd in that place would also be sent the
        # exits of its sessions' orphans, and dies of them.
        # The death signal follows the thread that forks: a server restarted from a case's
        # "during" thread would die with that thread. close() stops it in any case.
        main = threading.current_thread() is threading.main_thread()
        with open(self.base + '/server.out', 'ab') as out:
            self.proc = subprocess.Popen(
                ['unshare', '-p', '-f', '--mount-proc', '--kill-child', 'sh', '-c',
                 '"$@" & wait', 'sh'] + self.cmd, stdin=subprocess.DEVNULL, stdout=out,
                stderr=out, env=self.env, preexec_fn=die_with_parent if main else None)
        deadline = time.monotonic() + 10
        while not listening(self.port):
            if self.proc.poll() is not None or time.monotonic() > deadline:
                with open(self.base + '/server.out', errors='replace') as out:
                    raise RuntimeError('%s did not start: %s' % (self.kind, out.read()))
            time.sleep(0.01)

    def write(self, name, text):
        # Readable by root alone: proftpd refuses a password file that others can read.
        with open(os.open(os.path.join(self.base, name), os.O_WRONLY | os.O_CREAT, 0o600),
                  'w') as f:
            f.write(text)

    def _make_root(self, dirs):
        os.makedirs(self.root)
        times = {}
        for entry in dirs:
            path, data = entry[:2] if isinstance(entry, tuple) else (entry, None)
            local = os.path.join(self.root, path.lstrip('/'))
            os.makedirs(local if data in (None, READ_ONLY) else os.path.dirname(local),
                        exist_ok=True)
            if data not in (None, READ_ONLY):
                with open(local, 'wb') as f:
                    f.write(data)
                if len(entry) > 2:
                    times[local] = entry[2]
        for local, mtime in times.items():
            os.utime(local, (mtime, mtime))
        for top, subdirs, files in os.walk(self.root):  # the login writes as uid/gid
            for name in [top] + [os.path.join(top, n) for n in subdirs + files]:
                os.chown(name, self.uid, self.gid)
        for path in self.read_only:
            os.chown(self.root + path, 0, 0)
            os.chmod(self.root + path, 0o555)

    def freeze(self):
        """Stops the server and its sessions where they are, without closing anything: a server
        that has gone silent."""
        pending = [self.proc.pid]
        while pending:
            pid = pending.pop()
            try:
                with open('/proc/%d/task/%d/children' % (pid, pid)) as f:
                    children = [int(child) for child in f.read().split()]
            except OSError:
                continue
            for child in children:
                os.kill(child, signal.SIGSTOP)
            pending += children

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

    def restart(self):
        """Ends the server and its sessions at once, as stop() does, then starts it again on the
        same port, root and configuration, and waits until it listens."""
        self.stop()
        deadline = time.monotonic() + 10
        while listening(self.port) and time.monotonic() < deadline:  # the old one, dying
            time.sleep(0.01)
        self._start()

    def close(self):
        self.stop()
        if self.transcript and os.path.exists(self.transcript[0]):
            with open(self.transcript[0], 'rb') as f:
                self.commands = [line.decode(self.encoding, 'surrogateescape')
                                 for line in re.findall(self.transcript[1], f.read())]
        if self.pam is not None:
            os.remove(self.pam)
            self.pam = None
        if os.path.isdir(self.base):
            for top, _, files in os.walk(self.root):
                for name in files:
                    with open(os.path.join(top, name), 'rb') as f:
                        remote = os.fsencode('/' + os.path.relpath(f.name, self.root))
                        remote = remote.decode(self.encoding, 'surrogateescape')
                        self.files[remote] = f.read()
                        self.mtimes[remote] = int(os.fstat(f.fileno()).st_mtime)
            shutil.rmtree(self.base, ignore_errors=True)


def start_real_server(kind, dirs, login, password, encoding='utf-8', **options):
    return RealServer(kind, dirs, login, password, encoding, **options)

