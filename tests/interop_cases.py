"""End-to-end cases against real FTP servers on loopback: vsftpd, proftpd, pure-ftpd, pyftpdlib,
aioftp, and servers set up as hosting providers have them."""
import glob
import os
import random
import re
import signal
import time

from harness import LOGIN, PASSWORD, certificates
from login_cases import AUTH, CERT_REFUSED, LOGIN_REFUSED, LOST, OPEN, STOP, retry_line
from real_servers import READ_ONLY
from upload_cases import (CWD, MADE, NO_C, NOT_FOUND, NOT_SENT, NOW, RESUMED, SAVED, SEND,
                          YESTERDAY, args, console_text, U_TREE, differs_run, p_out, run, sent)

SERVERS = ('vsftpd', 'proftpd', 'pure-ftpd', 'pyftpdlib', 'aioftp')

_random = random.Random(7)
BIG = _random.randbytes(64 << 20)


def data(size):
    return _random.randbytes(size)


# Three levels under the top, each directory named to match the mask. Every file but the touched
# one is a day old, so that the /t run that follows sends exactly that one.
L1, L2, L3 = 'level one.dat', 'level one.dat/данные.dat', 'level one.dat/данные.dat/three.dat'
TOUCHED = L2 + '/1300.dat'
FIXTURE = {
    'Big.dat': BIG, 'one.dat': data(1), 'with blank.dat': data(511), 'zero.dat': b'',
    'notes.txt': data(10), '.hidden.dat': data(3),
    L1 + '/512.dat': data(512), L1 + '/skip.bin': data(5), L1 + '/отчёт.dat': data(513),
    TOUCHED: data(1300), L2 + '/mega.dat': data(1 << 20),
    L3 + '/last.dat': data(7),
    'other/x.dat': data(2), '.git.dat/y.dat': data(2),
}
TREE = {name: (content, YESTERDAY) for name, content in FIXTURE.items()}
FRESH = data(1300)
DEEP = '/up/new/deep'


def remote(tree, top, touched, kind):
    """What the server holds after /s with the mask *.dat: the matching names, outside hidden
    and non-matching directories."""
    def selected(name):
        parts = name.split('/')
        return all(p.endswith('.dat') and not p.startswith('.') for p in parts)

    def stored(program, name):
        # pyftpdlib reads names as UTF-8 and replaces what is not: a Windows-1251 name from the
        # Windows build arrives as U+FFFD characters.
        if kind != 'pyftpdlib' or program.encoding == 'utf-8':
            return name
        return name.encode('cp1251').decode('utf-8', 'replace').encode().decode('cp1251')
    return lambda program: {stored(program, top + '/' + name): (
        FRESH if name == touched else tree[name]) for name in tree if selected(name)}


def local(rel):
    return rel.replace('/', '{/}')


def cut_short(server, root, end='stop'):
    """Stops the server (or freezes it) once a few MiB of the big file have arrived."""
    path = os.path.join(server.root, 'Big.dat')
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        if os.path.exists(path) and os.path.getsize(path) >= 4 << 20:
            break
        time.sleep(0.001)
    getattr(server, end)()


def quick_and_short(case, r):
    problems = [] if r['seconds'] < 30 else ['took %.1f s' % r['seconds']]
    arrived = len(r['server'].files.get('/Big.dat', b''))
    return problems + ([] if arrived < len(BIG) else ['the whole file arrived'])


def cases_for(kind):
    # aioftp drops a connection whose command line is not UTF-8, as the Windows build's names
    # are: its tree has ASCII names, and a row of its own shows the drop.
    rename = (lambda t: t.replace('данные', 'dannye').replace('отчёт', 'otchet')
              if kind == 'aioftp' else t)
    l1, l2, l3, touched = map(rename, (L1, L2, L3, TOUCHED))
    fixture = {rename(name): content for name, content in FIXTURE.items()}
    tree = {rename(name): content for name, content in TREE.items()}
    return [
        dict(name=kind + ': a tree into a missing nested path, then /t', real=kind,
             args=args('*.dat', DEEP, '/s', '/c'), tree=tree, dirs=('/', '/up'),
             out=run(CWD(DEEP), MADE('/up/new'), MADE(DEEP),
                     *sent('Big.dat', 'one.dat', 'with blank.dat', 'zero.dat'),
                     CWD(DEEP + '/' + l1), MADE(DEEP + '/' + l1),
                     *sent(local(l1 + '/512.dat'), local(rename(l1 + '/отчёт.dat'))),
                     CWD(DEEP + '/' + l2), MADE(DEEP + '/' + l2),
                     *sent(local(l2 + '/1300.dat'), local(l2 + '/mega.dat')),
                     CWD(DEEP + '/' + l3), MADE(DEEP + '/' + l3), SEND(local(l3 + '/last.dat'))),
             code=0,
             then=[dict(tree={touched: (FRESH, NOW)}, args=args('*.dat', DEEP, '/s', '/t'),
                        out=run(CWD(DEEP), CWD(DEEP + '/' + l1), CWD(DEEP + '/' + l2),
                                SEND(local(touched))), code=0)],
             files=remote(fixture, DEEP, touched, kind)),
        dict(name=kind + ': an existing file is overwritten, others are kept', real=kind,
             args=args('*', '/site'), tree={'a.bin': b'new'},
             dirs=('/', '/site', ('/site/a.bin', data(3000)), ('/site/keep.txt', b'kept')),
             out=run(CWD('/site'), SEND('a.bin')), code=0,
             files={'/site/a.bin': b'new', '/site/keep.txt': b'kept'}),
        dict(name=kind + ': a wrong password', real=kind,
             args=['{L}*', '{H}', LOGIN, PASSWORD + 'x', '/'], tree={'a.bin': b'a'},
             out=LOGIN_REFUSED, code=2, files={}),
        dict(name=kind + ': a missing directory without /c', real=kind,
             args=args('*', '/missing'), tree={'a.bin': b'a'},
             out=run(CWD('/missing'), NOT_FOUND('/missing'), NO_C, STOP), code=3, files={}),
        dict(name=kind + ': a directory the login may not write to', real=kind,
             args=args('*', '/ro'), tree={'a.bin': b'a', 'b.bin': b'b'},
             dirs=('/', ('/ro', READ_ONLY)),
             out=run(CWD('/ro'), SEND('a.bin'), NOT_SENT('a.bin'), STOP), code=5, files={}),
        dict(name=kind + ': the server stops in the middle of 64 MiB', real=kind,
             args=args('*', '/'), tree={'Big.dat': BIG, 'later.dat': b'x'}, during=cut_short,
             out=run(CWD('/'), SEND('Big.dat'), NOT_SENT('Big.dat'), STOP), code=5,
             check=quick_and_short),
    ]


CASES = [case for kind in SERVERS for case in cases_for(kind)]

NESTED = {'a.txt': b'a', 'sub/b.txt': b'b'}


def passive_by(command):
    """Every data connection was asked for with this command, and none with the other."""
    def check(case, result):
        verbs = [c.split(' ')[0].upper() for c in result['server'].commands or []]
        other = 'PASV' if command == 'EPSV' else 'EPSV'
        return ([] if verbs.count(command) == 2 and other not in verbs
                else ['passive commands: %r' % [v for v in verbs if v in ('PASV', 'EPSV')]])
    return check
BANNERS = (('a TAB', 'Welcome\tto FTP'), ('ANSI colours', '\x1b[1;32mWelcome\x1b[0m to FTP'))
CASES += [
    dict(name='aioftp: a name that is not UTF-8 ends the connection', real='aioftp',
         args=args('*', '/'), tree={'отчёт.dat': b'r', 'z.dat': b'z'},
         out=run(CWD('/'), SEND('z.dat'), SEND('отчёт.dat'), NOT_SENT('отчёт.dat'), STOP), code=5,
         files={'/z.dat': b'z'},
         only='wine'),
] + [
    dict(name='vsftpd: a banner with ' + label, real='vsftpd', options=dict(banner=banner),
         args=args('*', '/', '/s', '/c'), tree=NESTED,
         out=run(CWD('/'), SEND('a.txt'), CWD('/sub'), MADE('/sub'), SEND('sub{/}b.txt')), code=0,
         files={'/a.txt': b'a', '/sub/b.txt': b'b'})
    for label, banner in BANNERS
] + [
    # The root of a chrooted login, and a path relative to a login's home that is not "/".
    dict(name='vsftpd: the root with /s /c', real='vsftpd', args=args('*', '/', '/s', '/c'),
         tree=NESTED, out=run(CWD('/'), SEND('a.txt'), CWD('/sub'), MADE('/sub'),
                              SEND('sub{/}b.txt')), code=0,
         files={'/a.txt': b'a', '/sub/b.txt': b'b'}),
    dict(name='vsftpd without chroot: www under the home', real='vsftpd',
         options=dict(chroot=False), args=args('*', 'www', '/s', '/c'), tree=NESTED,
         out=lambda server: run(CWD(server.root + '/www'), MADE(server.root + '/www'), SEND('a.txt'),
                                CWD(server.root + '/www/sub'), MADE(server.root + '/www/sub'),
                                SEND('sub{/}b.txt')), code=0,
         files={'/www/a.txt': b'a', '/www/sub/b.txt': b'b'}),
    # An IPv6 server: EPSV, since PASV cannot name an IPv6 address.
] + [
    dict(name=kind + ' on ::1 only: a tree', real=kind, options=dict(ipv6=True),
         args=args('*', '/up', '/s', '/c'), tree=NESTED,
         out=run(CWD('/up'), MADE('/up'), SEND('a.txt'), CWD('/up/sub'), MADE('/up/sub'),
                 SEND('sub{/}b.txt')), code=0,
         files={'/up/a.txt': b'a', '/up/sub/b.txt': b'b'}, check=passive_by('EPSV'))
    for kind in ('vsftpd', 'pyftpdlib')
] + [
    # proftpd repeats the name in its 150: a TAB there must not hide the 552 that follows.
    dict(name='proftpd: a file over MaxStoreFileSize, its name with a TAB', real='proftpd',
         options=dict(max_store='1 Mb'), args=args('*', '/'), tree={'t\t2.bin': data(1049600)},
         out=run(CWD('/'), SEND('t\t2.bin'), NOT_SENT('t\t2.bin'), STOP), code=5,
         only='native'),
]

# Explicit FTPS ("/e"), the login and every data connection under TLS, with certificates of the
# test's own CA. vsftpd and proftpd refuse a data connection that does not resume the control
# connection's session, and TLS 1.3 servers may take each session ticket once.
TLS_TREE = {'d%d/f%02d.dat' % (d, f): data(97 * f + d) for d in range(3) for f in range(20)}
TRUST = {'SSL_CERT_FILE': '{CA}'}


def encrypted(case, result):
    """AUTH TLS came first, PBSZ 0 and PROT P right after the login (where the server logs)."""
    commands = result['server'].commands
    if commands is None:
        return []
    return ([] if commands[:1] == ['AUTH TLS'] and commands[3:5] == ['PBSZ 0', 'PROT P']
            else ['commands: %r' % commands[:6]])


def tls_tree(kind, version, **options):
    dirs = sorted({name.split('/')[0] for name in TLS_TREE})
    out = [CWD('/up'), MADE('/up')]
    for d in dirs:
        out += [CWD('/up/' + d), MADE('/up/' + d)]
        out += sent(*(local(name) for name in sorted(TLS_TREE) if name.startswith(d + '/')))
    return dict(name='%s with TLS %s: a tree of %d files' % (kind, version, len(TLS_TREE)),
                real=kind, options=dict(tls='server', tls_version=version, **options),
                args=args('*', '/up', '/s', '/c', '/e'), tree=TLS_TREE, env=TRUST,
                out=run(*out), code=0, files={'/up/' + n: v for n, v in TLS_TREE.items()},
                check=encrypted)


def refused(certificate, env, label):
    """A certificate that must not be accepted: nothing goes out after AUTH TLS."""
    def nothing_sent(case, result):
        commands = result['server'].commands
        return [] if commands == ['AUTH TLS'] else ['commands: %r' % commands]
    return dict(name='vsftpd with TLS: ' + label, real='vsftpd', options=dict(tls=certificate),
                args=args('*', '/', '/e'), tree={'a.bin': b'a'}, env=env,
                out=[OPEN, CERT_REFUSED, STOP], code=2, files={}, check=nothing_sent)


# SChannel under wine resumes no TLS session, so there vsftpd and proftpd are set not to require
# it, and a server that does refuses the data connection; wine's SChannel speaks TLS 1.2 only.
CASES += [
    dict(tls_tree(kind, version), only='native')
    for kind in ('vsftpd', 'proftpd') for version in ('1.2', '1.3')
] + [
    dict(tls_tree(kind, '1.3'), only='native') for kind in ('pure-ftpd', 'pyftpdlib')
] + [
    dict(tls_tree(kind, '1.2', **options), only='wine')
    for kind, options in (('vsftpd', dict(ssl_reuse=False)), ('proftpd', dict(ssl_reuse=False)),
                          ('pure-ftpd', {}), ('pyftpdlib', {}))
] + [
    # "/e:i": TLS from the first byte, no AUTH TLS; the data connections as with "/e".
    dict(tls_tree(kind, '1.2', ssl_reuse=False, implicit=True),
         name='%s with implicit TLS: a tree of %d files' % (kind, len(TLS_TREE)),
         args=args('*', '/up', '/s', '/c', '/e:i'), check=lambda case, result: [] if (
             result['server'].commands[2:4] == ['PBSZ 0', 'PROT P'] and
             'AUTH TLS' not in result['server'].commands) else [
             'commands: %r' % result['server'].commands[:6]])
    for kind in ('vsftpd', 'proftpd')
] + [
    dict(name='vsftpd with implicit TLS: a certificate of an unknown CA is refused before the login',
         real='vsftpd', options=dict(tls='unknown_ca', implicit=True), args=args('*', '/', '/e:i'),
         tree={'a.bin': b'a'}, env=TRUST, out=[OPEN, CERT_REFUSED, STOP], code=2, files={},
         check=lambda case, result: [] if not result['server'].commands else ['commands sent']),
] + [
    dict(name='vsftpd with TLS: reuse required, which wine cannot give', real='vsftpd',
         options=dict(tls='server', tls_version='1.2'), args=args('*', '/', '/e'),
         tree={'a.bin': b'a'}, env=TRUST, out=run(CWD('/'), SEND('a.bin'), NOT_SENT('a.bin'), STOP),
         code=5, files={'/a.bin': b''}, only='wine'),  # vsftpd makes the file, then says 522
    refused('unknown_ca', TRUST, 'a certificate of an unknown CA'),
    refused('other_name', TRUST, 'a certificate for another name'),
    refused('expired', TRUST, 'an expired certificate'),
    refused('self_signed', {'VARDEK_TLS_PIN': '{PIN:server}'}, 'a pin of another certificate'),
    # What the openssl command prints, pasted whole.
    dict(name='vsftpd with TLS: a pin pasted with its prefix', real='vsftpd',
         options=dict(tls='self_signed', ssl_reuse=False), args=args('*', '/', '/e'),
         tree={'a.bin': b'a'}, env={'VARDEK_TLS_PIN': 'sha256 Fingerprint={PIN:self_signed}'},
         out=run(CWD('/'), SEND('a.bin')), code=0, files={'/a.bin': b'a'}, check=encrypted),
    # The data connection's handshake goes with STOR; vsftpd never answers it after a refusal,
    # which the reply on the control connection tells.
    dict(name='vsftpd with TLS: a refused STOR ends the handshake that went with it',
         real='vsftpd', options=dict(tls='server', ssl_reuse=False), args=args('*', '/', '/e'),
         tree={'a.bin': b'a'}, dirs=('/', '/a.bin'), env=TRUST,
         out=run(CWD('/'), SEND('a.bin'), NOT_SENT('a.bin'), STOP), code=5,
         check=lambda case, r: [] if r['seconds'] < 10 else ['took %.1f s' % r['seconds']]),
    dict(name='vsftpd with TLS: the pin of a self-signed certificate', real='vsftpd',
         options=dict(tls='self_signed', ssl_reuse=False), args=args('*', '/', '/e'),
         tree={'a.bin': b'a'},
         env={'VARDEK_TLS_PIN': '{PIN:self_signed}'}, out=run(CWD('/'), SEND('a.bin')), code=0,
         files={'/a.bin': b'a'}, check=encrypted),
] + [
    dict(name='vsftpd with TLS: the server %s in the middle of 64 MiB' % label, real='vsftpd',
         options=dict(tls='server', ssl_reuse=False), args=args('*', '/', '/e'),
         tree={'Big.dat': BIG, 'later.dat': b'x'}, env=dict(TRUST, **env),
         during=lambda server, root, end=end: cut_short(server, root, end),
         out=run(CWD('/'), SEND('Big.dat'), NOT_SENT('Big.dat'), STOP), code=5,
         check=quick_and_short)
    for label, end, env in (('stops', 'stop', {}), ('goes silent', 'freeze', {'VARDEK_TIMEOUT': '3'}))
]

# "/d" against each server's own way of listing and of setting times (vsftpd: LIST, MDTM and
# its MDTM form; the others MLSD and MFMT): a publish, an unchanged republish that sends
# nothing, then the changes that fool clients comparing less exactly, and exactly those go.
T0 = int(NOW) // 60 * 60 - 3600  # on a minute: T0 + 20 is the same minute
SITE = {'index.html': (b'<h1>home</h1>', T0), 'same.html': (b'AAAA', T0),
        'restored.html': (b'v2v2', T0), 'minute.html': (b'mmmm', T0),
        'news/a.html': (b'a', T0)}
CHANGES = {'same.html': (b'BBBB', T0 + 120),       # edited to the same size
           'restored.html': (b'v1v1', T0 - 86400),  # an older copy from a backup
           'minute.html': (b'MMMM', T0 + 20),       # edited within the minute of the publish
           'new.html': (b'new', T0), 'sub2/b.html': (b'b', T0)}


def site_files(tree):
    return {'/site/' + name: content[0] for name, content in tree.items()}


def differs(kind, **options):
    d_args = args('*', '/site', '/s', '/c', '/d', *(['/e'] if 'tls' in options else []))
    env = TRUST if options else {}
    final = dict(SITE, **CHANGES)
    return dict(
        name='%s%s: /d publishes only what changed' % (kind, ' with TLS' if options else ''),
        real=kind, options=options, env=env, args=d_args, tree=SITE,
        out=differs_run(CWD('/site'), MADE('/site'), *sent('index.html', 'minute.html',
                        'restored.html', 'same.html'), CWD('/site/news'), MADE('/site/news'),
                        SEND('news{/}a.html'), sent=5, size=13 + 4 * 3 + 1),
        code=0,
        then=[dict(args=d_args, env=env,
                   out=differs_run(CWD('/site'), CWD('/site/news'), unchanged=5), code=0),
              dict(args=d_args, env=env, tree=CHANGES, code=0,
                   out=differs_run(CWD('/site'), *sent('minute.html', 'new.html',
                                   'restored.html', 'same.html'), CWD('/site/news'),
                                   CWD('/site/sub2'), MADE('/site/sub2'), SEND('sub2{/}b.html'),
                                   sent=5, size=4 + 3 + 4 + 4 + 1, unchanged=2)),
              dict(args=d_args, env=env, out=differs_run(CWD('/site'), CWD('/site/news'),
                                                         CWD('/site/sub2'), unchanged=7), code=0)],
        files=site_files(final))


CASES += [differs(kind) for kind in ('vsftpd', 'proftpd', 'pure-ftpd', 'pyftpdlib')] + [
    dict(differs('vsftpd', tls='server', ssl_reuse=False)),
]

# "/d" on servers as hosts configure them: MFMT refused to the login, MLSD refused, listings
# in the server's zone. A republish sends nothing, and one changed file sends one.
def sends(*counts):
    def check(case, result):
        got = [console_text(r['out']).count('Отправляем на сервер файл') for r in
               [result] + result['then']]
        return [] if got == list(counts) else ['files sent in each run: %r' % got]
    return check


CONFIGURED = {'a.html': (b'aaa', T0), 'b.html': (b'bbb', T0), 'sub/c.html': (b'ccc', T0)}
CASES += [
    dict(name='%s: /d publishes, then sends nothing, then one changed file' % label, real=kind,
         options=options, args=args('*', '/site', '/s', '/c', '/d'), tree=CONFIGURED, out=None,
         code=0, then=[dict(args=args('*', '/site', '/s', '/c', '/d'), out=None, code=0),
                       dict(args=args('*', '/site', '/s', '/c', '/d'), out=None, code=0,
                            tree={'b.html': (b'bbbb', T0 + 60)})],
         check=sends(3, 0, 1), files=site_files(dict(CONFIGURED, **{'b.html': (b'bbbb', 0)})))
    for label, kind, options in (
        ('pyftpdlib without the T permission', 'pyftpdlib', dict(deny=('MFMT',))),
        ('proftpd with <Limit MFMT> DenyAll', 'proftpd', dict(deny=('MFMT',))),
        ('proftpd with <Limit MLSD> DenyAll', 'proftpd', dict(deny=('MLSD',))),
        ('pyftpdlib with listings in UTC+3', 'pyftpdlib', dict(zone='XYZ-3')))
]

# "/d /p": each directory listed by another connection in one go with its CWD (and, without
# MLSD, with MDTM of its files): an edit within the listing's minute, of the same size, is found.
P_ARGS = args('*', '/site', '/s', '/c', '/d', '/p:3')
CASES += [
    dict(name='%s: /d /p:3 finds a file edited within the minute, of the same size' % kind,
         real=kind, args=P_ARGS, tree=CONFIGURED, out=None, code=0,
         then=[dict(args=P_ARGS, out=None, code=0),
               dict(args=P_ARGS, out=None, code=0, tree={'b.html': (b'BBB', T0 + 20)})],
         check=sends(3, 0, 1), files=site_files(dict(CONFIGURED, **{'b.html': (b'BBB', 0)})))
    for kind in ('vsftpd', 'pure-ftpd')
]

# "/m" after the three changes a site sees: a page removed, a directory removed, a page renamed;
# the server's .htaccess and a file the mask does not select stay. "/n" after the same changes
# leaves the server byte for byte as it was.
PAGES = {'p1.html': (b'one', T0), 'p2.html': (b'two', T0), 'parts/p3.html': (b'three', T0)}
RENAMED = {'p1.html': None, 'p4.html': (b'one', T0), 'p2.html': None, 'parts': None}
KEPT = (('/site/.htaccess', b'deny'), ('/site/notes.txt', b'notes'))


def mirror(kind, plan):
    m_args = args('p*', '/site', '/s', '/c', '/m', *(['/n'] if plan else []))
    first = differs_run(CWD('/site'), *sent('p1.html', 'p2.html'), CWD('/site/parts'),
                        MADE('/site/parts'), SEND('parts{/}p3.html'), sent=3, size=11)
    first[-2] += ', удалено файлов: 0, каталогов: 0'
    will = 'Будет удалён' if plan else 'На сервере удалён'
    then = differs_run(CWD('/site'), 'Будет отправлен файл "{L}p4.html"' if plan else SEND('p4.html'),
                       *['%s файл "/site/%s"' % (will, name) for name in
                         ('p1.html', 'p2.html', 'parts/p3.html')],
                       '%s каталог "/site/parts"' % will, sent=1, size=3)
    then[-2] = (then[-2].replace('Отправлено', 'Будет отправлено') if plan else then[-2]) + (
        ', %sудалено файлов: 3, каталогов: 1' % ('будет ' if plan else ''))
    final = dict(KEPT, **({'/site/' + n: c[0] for n, c in PAGES.items()} if plan else
                          {'/site/p4.html': b'one'}))
    return dict(name='%s: /m%s after a page, a directory and a name are gone' % (
        kind, ' /n' if plan else ''), real=kind, args=args('p*', '/site', '/s', '/c', '/m'),
        tree=PAGES, dirs=('/', '/site') + KEPT, out=first, code=0,
        then=[dict(args=m_args, tree=RENAMED, out=then, code=0)], files=final)


CASES += [mirror(kind, plan) for kind in ('vsftpd', 'proftpd', 'pure-ftpd', 'pyftpdlib')
          for plan in (False, True)]

# pure-ftpd stops a listing at -L entries ("226 Output truncated to 3 matches"): such a listing
# is no ground for deleting anything.
TRUNCATED = {'/site/p%d.html' % n: b'page' for n in range(6)}


def nothing_deleted(case, result):
    text = console_text(result['out'])
    cut = 'Каталог "/site" на сервере прочитан не полностью: в нём ничего не удаляется'
    return [] if cut in text and 'удалён' not in text else ['%r' % text[-400:]]


CASES += [dict(name='pure-ftpd: /m on a truncated listing deletes nothing', real='pure-ftpd',
               options=dict(max_listed=3), args=args('p*', '/site', '/m'),
               tree={'p%d.html' % n: (b'page', T0) for n in range(4)},
               dirs=('/', '/site') + tuple((p, d, T0) for p, d in TRUNCATED.items()),
               out=None, code=5, files=TRUNCATED, check=nothing_deleted)]

# "/a": the server's copy is replaced only once the new one is whole. A reader on the server sees
# the old file or the new one, never a part; a server stopped in the middle leaves the old file.
A_TREE = {'a.dat': data(1000), 'sub/b.dat': data(2000), 'sub/c.dat': b''}
OLD_BIG = data(3 << 20)


def never_partial(server, root, seen=None):
    """Watches the file on the server while it is replaced: only the old and the new size."""
    path = os.path.join(server.root, 'Big.dat')
    server.sizes = set()
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline and server.proc is not None:
        try:
            server.sizes.add(os.path.getsize(path))
        except OSError:
            server.sizes.add(None)  # the name stood without a file
        if len(BIG) in server.sizes:
            return
        time.sleep(0.0005)


def old_or_new(case, result):
    sizes = getattr(result['server'], 'sizes', set())
    return [] if sizes <= {len(OLD_BIG), len(BIG)} else ['sizes seen: %r' % sorted(sizes, key=str)]


def no_temporary(case, result):
    left = [p for p in result['server'].files if p.endswith('.part')]
    return ['left on the server: %r' % left] if left else []


def stopped_whole(case, result):
    files = result['server'].files
    left = [p for p in files if p.endswith('.part')]
    return (([] if result['seconds'] < 30 else ['took %.1f s' % result['seconds']]) +
            ([] if files.get('/Big.dat') == OLD_BIG else ['the old file was not kept whole']) +
            ([] if len(left) == 1 else ['temporary files: %r' % left]))


def atomic_cases(kind):
    return [
        dict(name=kind + ': /a sends a tree and leaves no temporary name', real=kind,
             args=args('*', '/up', '/s', '/c', '/a'), tree=A_TREE,
             dirs=('/', '/up', ('/up/a.dat', b'old')),
             out=run(CWD('/up'), SEND('a.dat'), CWD('/up/sub'), MADE('/up/sub'),
                     *sent(local('sub/b.dat'), local('sub/c.dat'))), code=0,
             files={'/up/' + name: content for name, content in A_TREE.items()},
             check=no_temporary),
        dict(name=kind + ': /a replaces 64 MiB, a reader sees old or new only', real=kind,
             args=args('*', '/', '/a'), tree={'Big.dat': BIG}, dirs=('/', ('/Big.dat', OLD_BIG)),
             during=never_partial, out=run(CWD('/'), SEND('Big.dat')), code=0,
             files={'/Big.dat': BIG}, check=old_or_new),
        # A stopped server leaves the part it received under the temporary name, which no one
        # links to; the next run stores the file whole again.
        dict(name=kind + ': /a and the server stopped in the middle: the old file stays',
             real=kind, args=args('*', '/', '/a'), tree={'Big.dat': BIG},
             dirs=('/', ('/Big.dat', OLD_BIG)),
             during=lambda server, root: cut_short_temporary(server),
             out=run(CWD('/'), SEND('Big.dat'), NOT_SENT('Big.dat'), STOP), code=5,
             check=stopped_whole),
    ]


def cut_short_temporary(server):
    """Stops the server once a few MiB of the temporary file have arrived."""
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        parts = [n for n in os.listdir(server.root) if n.endswith('.part')]
        if parts and os.path.getsize(os.path.join(server.root, parts[0])) >= 4 << 20:
            break
        time.sleep(0.001)
    server.stop()


CASES += [case for kind in ('vsftpd', 'proftpd', 'pure-ftpd', 'pyftpdlib')
          for case in atomic_cases(kind)] + [
    # proftpd with AllowOverwrite off refuses STOR and RNTO onto a file, aioftp refuses that
    # RNTO always: /a still replaces the file.
    dict(name='%s: /a replaces a file where RNTO onto it is refused' % label, real=kind,
         options=options, args=args('*', '/up', '/a'), tree={'a.dat': b'new'},
         dirs=('/', '/up', ('/up/a.dat', b'old')), out=run(CWD('/up'), SEND('a.dat')), code=0,
         files={'/up/a.dat': b'new'}, check=no_temporary)
    for label, kind, options in (('proftpd without AllowOverwrite', 'proftpd',
                                  dict(allow_overwrite=False)), ('aioftp', 'aioftp', {}))
]

# "/r" on real servers: a server restarted in the middle of a large file, and under "/e" a new
# connection whose certificate is checked like the first one's.


def restart_in_the_middle(server, root, before=None, name='Big.dat', size=4 << 20):
    """Restarts the server once `size` bytes of the file have arrived."""
    path = os.path.join(server.root, name)
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        if os.path.exists(path) and os.path.getsize(path) >= size:
            break
        time.sleep(0.001)
    if before:
        before(server)
    server.restart()


def another_certificate(server):
    """The server frozen where it is, and its certificate replaced by one of a CA nobody
    trusts, for its restart."""
    server.freeze()
    other = certificates().unknown_ca
    conf = os.path.join(server.base, 'vsftpd.conf')
    with open(conf) as f:
        text = f.read()
    text = text.replace(server.tls.cert, other.cert).replace(server.tls.key, other.key)
    with open(conf, 'w') as f:
        f.write(text)


def told(messages, later=False):
    """The run's messages (or the later run's), the texts in quotes and the numbers not
    compared."""
    blank = lambda text: re.sub(r'\d+( \d{3})*', '1', re.sub(r'"[^"]*"', '""', text))
    out = lambda result: console_text((result['then'][0] if later else result)['out'])
    return lambda case, result: [] if blank(out(result)) == blank(
        ''.join(m + '\r\n' for m in messages)) else ['messages: %r' % out(result)]


def on_the_line(check, most=1.2):
    """check, and no more than `most` times the file's bytes went over the line."""
    def both(case, result):
        carried = result['line'].up.carried
        return check(case, result) + ([] if carried <= most * len(BIG) else [
            '%d bytes over the line for a file of %d' % (carried, len(BIG))])
    return both


def part_at(size):
    """Once the part of /a in the server's root holds `size` bytes."""
    def when(server):
        parts = glob.glob(os.path.join(server.root, 'Big.dat.*.part'))
        return bool(parts) and os.path.getsize(parts[0]) >= size
    return when, signal.SIGKILL


def sessions_gone(server, root):
    """Once the run is killed, until the server has closed its sessions: wine's server lets a
    killed program's sockets go only when it notices, and vsftpd's session holds the upload's
    lock until then."""
    when = part_at(HALF)[0]
    while not when(server):
        time.sleep(0.02)
    port = ':%04X' % server.port
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        with open('/proc/net/tcp') as table:
            if not any(f[1].endswith(port) and f[3] == '01' for f in (
                    line.split() for line in table)):
                return
        time.sleep(0.1)


HALF = len(BIG) // 2
ON_LINE = (50, 400)  # a round trip of 50 ms, 400 Mbit/s
CUT = [CWD('/'), SEND('Big.dat'), LOST, retry_line(1, 3, 5), OPEN, AUTH, RESUMED('Big.dat', 1)]
CASES += [
    # What arrived before the sessions ended stays: the rest goes, after REST and STOR or with
    # APPE where REST is refused, and SIZE checks the whole. proftpd without AllowStoreRestart
    # refuses both (451): the file goes again.
    dict(name='%s restarted in the middle of 64 MiB, 50 ms away: /r %s' % (label, how),
         real=kind, options=options, line=ON_LINE, args=args('*', '/', '/r'),
         tree={'Big.dat': BIG, 'later.dat': b'x'}, env={'VARDEK_TIMEOUT': '10'},
         during=lambda server, root: restart_in_the_middle(server, root, size=HALF), out=None,
         code=0, files={'/Big.dat': BIG, '/later.dat': b'x'},
         check=on_the_line(told(run(*CUT, *more)), most))
    for label, kind, options in (
        ('vsftpd', 'vsftpd', {}), ('proftpd', 'proftpd', {}),
        ('proftpd with AllowStoreRestart', 'proftpd', dict(store_restart=True)),
        ('pure-ftpd', 'pure-ftpd', {}), ('pyftpdlib', 'pyftpdlib', {}))
    for how, more, most in (
        [('sends it again', [SEND('Big.dat'), SEND('later.dat')], 2.1)] if label == 'proftpd' else
        [('goes on from where it was cut', [SEND('later.dat'), SAVED(1)], 1.2)])
] + [
    # A run killed half way leaves its part; the next run goes on from it.
    dict(name='%s: /a killed in the middle of 64 MiB, the next run goes on' % kind, real=kind,
         line=ON_LINE, args=args('*', '/', '/a'), tree={'Big.dat': BIG},
         interrupt=part_at(HALF), during=sessions_gone, out=None, code=None,
         then=[dict(args=args('*', '/', '/a'), out=None, code=0)], files={'/Big.dat': BIG},
         check=on_the_line(told(run(CWD('/'), *CUT[-1:], SAVED(1)), later=True), most=1.3))
    for kind in ('vsftpd', 'pyftpdlib')
] + [
    dict(name='vsftpd with TLS: /r checks the certificate of the new connection', real='vsftpd',
         options=dict(tls='server', ssl_reuse=False), args=args('*', '/', '/r', '/e'),
         tree={'Big.dat': BIG}, env=dict(TRUST, VARDEK_TIMEOUT='10'),
         during=lambda server, root: restart_in_the_middle(server, root, another_certificate,
                                                           'Big.dat', 1 << 20),
         out=run(CWD('/'), SEND('Big.dat'), LOST, retry_line(1, 3, 5), OPEN,
                 CERT_REFUSED, STOP), code=2),
]

# "/v": SIZE after each file everywhere; proftpd's mod_digest computes SHA-256 too (HASH takes
# a name with blanks whole).
def digest_asked(case, result):
    commands = result['server'].commands
    return [] if 'HASH a b.dat.' in ' '.join(commands) else ['no HASH: %r' % commands[-12:]]


V_TREE = {'a b.dat': BIG[:3 << 20], 'c.dat': b'c'}
CASES += [
    dict(name='%s: /v /a checks each file before its rename' % label, real=kind, options=options,
         args=args('*', '/up', '/v', '/a'), tree=V_TREE, dirs=('/', '/up'),
         out=run(CWD('/up'), SEND('a b.dat'), *(
             ['Сервер "{H}" не сообщает размеры файлов: они не проверяются']  # aioftp has no SIZE
             if kind == 'aioftp' else []), SEND('c.dat')), code=0,
         files={'/up/' + name: data for name, data in V_TREE.items()},
         **({'check': digest_asked} if options.get('digest') else {}))
    for label, kind, options in (
        ('vsftpd', 'vsftpd', {}), ('proftpd with mod_digest', 'proftpd', dict(digest=True)),
        ('pure-ftpd', 'pure-ftpd', {}), ('pyftpdlib', 'pyftpdlib', {}), ('aioftp', 'aioftp', {}))
]

# "/b": 16 MiB over four connections at once keep together to the cap, 50 ms away.
B_TREE = {'%d.dat' % n: BIG[n << 22:(n + 1) << 22] for n in range(4)}
CASES += [
    dict(name='vsftpd: /b:4096 /p:4 keeps 16 MiB to 4 MiB/s', real='vsftpd', line=ON_LINE,
         args=args('*', '/up', '/p:4', '/b:4096'), tree=B_TREE, dirs=('/', '/up'),
         out=p_out(4, 4, B_TREE, '/up'), unordered=True, code=0,
         files={'/up/' + name: data for name, data in B_TREE.items()},
         check=lambda case, result: [] if result['seconds'] >= 0.9 * 4 else [
             '16 MiB in %.1f s' % result['seconds']]),
]

# "/p:4": 300 files shared among four connections; pure-ftpd lets only two in from one address.
P_TREE = {'d%d/f%02d.dat' % (d, f): data(10 * f + d) for d in range(10) for f in range(30)}


def parallel(kind, working=4, only=None, **options):
    tls = 'tls' in options
    return dict(name='%s%s: /p:4 sends 300 files' % (kind, ' with TLS' if tls else ''), real=kind,
                options=options, args=args('*', '/up', '/s', '/c', '/p:4', *(['/e'] if tls else [])),
                env=TRUST if tls else {}, tree=P_TREE, dirs=('/', '/up'),
                out=p_out(working, 4, P_TREE, top='/up'), unordered=True, code=0,
                files={'/up/' + name: content for name, content in P_TREE.items()},
                **({'only': only} if only else {}))


CASES += [parallel(kind) for kind in ('vsftpd', 'proftpd', 'pyftpdlib')] + [
    parallel('pure-ftpd', working=2, max_per_ip=2),
    parallel('vsftpd', only='native', tls='server'),
    parallel('vsftpd', only='wine', tls='server', ssl_reuse=False),
]


def no_failure_said(case, result):
    return [] if STOP.encode() not in result['out'] and STOP.encode('cp866') not in result['out'] \
        else ['a failure was reported']


# vsftpd answers "500 OOPS: vsf_sysutil_bind" and closes when two sessions want one passive port
# at once: the run goes on with the connections the ports allow.
CASES += [dict(parallel('vsftpd', passive_ports=2),
               name='vsftpd with two passive ports: /p:4 sends 300 files', out=None,
               check=no_failure_said)]


# Stopped in the middle: vsftpd answers the aborted transfer with 426, which must not pass for
# the reply to the DELE of its temporary file, nor the run end before the DELE was answered.
STOPPED_TREE = {'f%d.bin' % n: data(4 << 20) for n in range(8)}


def after(seconds):
    started = []

    def when(server):
        started[:] = started or [time.monotonic()]
        return time.monotonic() - started[0] >= seconds
    return when


def stopped_tidy(case, result):
    server = result['server']
    problems = ['left: %s' % p for p in server.files if p.endswith('.part')]
    problems += ['%s in part' % p for p, got in server.files.items()
                 if not p.endswith('.part') and STOPPED_TREE.get(p[4:]) != got]
    return problems


CASES += [dict(name='vsftpd: /p:4 /a stopped by SIGINT leaves no temporary file', real='vsftpd',
               options=dict(max_rate=4 << 20), args=args('*', '/up', '/p:4', '/a'),
               tree=STOPPED_TREE, dirs=('/', '/up'), interrupt=after(0.5), out=None, code=7,
               check=stopped_tidy)]

# "/u" against servers that read names as UTF-8: the names arrive as they are.


def utf8_announced(case, result):
    """OPTS UTF8 ON right after FEAT, where the server lists UTF8 and logs commands."""
    commands = result['server'].commands or []
    if 'FEAT' not in commands:
        return ['no FEAT: %r' % commands[:6]]
    after = commands[commands.index('FEAT') + 1]
    return [] if after == 'OPTS UTF8 ON' else ['after FEAT: %r' % after]


CASES += [
    dict(name='%s: /u sends names in UTF-8' % kind, real=kind, names='utf-8',
         args=args('*', '/up', '/s', '/c', '/u'), tree=U_TREE, dirs=('/', '/up'),
         env={'LC_ALL': 'en_US.UTF-8'},
         out=run(CWD('/up'), SEND('café.html'), SEND('日本.html'), CWD('/up/новости'),
                 MADE('/up/новости'), SEND('новости{/}отчёт.html')), code=0,
         files={'/up/' + name: content for name, content in U_TREE.items()},
         **({'check': utf8_announced} if kind == 'pyftpdlib' else {}))
    for kind in ('pyftpdlib', 'aioftp')
]

# Host names against certificates, with a hosts file of the test's own: a trailing dot is left out
# of the check and of SNI, a common name names no host, and an internationalised name is looked up
# and checked as its A-label, while messages show it as typed.
def named_host(label, host, certificate, code):
    shown = lambda messages: [m.replace('{H}', host + ':{P}') for m in messages]
    return dict(name='vsftpd with TLS: ' + label, real='vsftpd', hosts=True,
                options=dict(tls=certificate, ssl_reuse=False),
                args=['{L}*', host + ':{P}', LOGIN, PASSWORD, '/', '/e'], tree={'a.bin': b'a'},
                env=TRUST, code=code,
                out=shown(run(CWD('/'), SEND('a.bin')) if code == 0 else [OPEN, CERT_REFUSED, STOP]),
                files={'/a.bin': b'a'} if code == 0 else {})


CASES += [
    named_host('a host name with a trailing dot', 'ftp.example.test.', 'named', 0),
    named_host('a host named only in the common name', 'ftp.example.test', 'cn_only', 2),
    named_host('an internationalised host name', 'ftp.пример.рф', 'named', 0),
]
