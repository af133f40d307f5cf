"""End-to-end cases against real FTP servers on loopback: vsftpd, proftpd, pure-ftpd, pyftpdlib."""
import os
import random
import time

from harness import LOGIN, PASSWORD
from login_cases import LOGIN_REFUSED, STOP
from real_servers import READ_ONLY
from upload_cases import (CWD, MADE, NO_C, NOT_FOUND, NOT_SENT, NOW, SEND, YESTERDAY, args,
                          run, sent)

SERVERS = ('vsftpd', 'proftpd', 'pure-ftpd', 'pyftpdlib')

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


def cut_short(server, root):
    """Stops the server once a few MiB of the big file have arrived."""
    path = os.path.join(server.root, 'Big.dat')
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        if os.path.exists(path) and os.path.getsize(path) >= 4 << 20:
            break
        time.sleep(0.001)
    server.stop()


def quick_and_short(case, r):
    problems = [] if r['seconds'] < 30 else ['took %.1f s' % r['seconds']]
    arrived = len(r['server'].files.get('/Big.dat', b''))
    return problems + ([] if arrived < len(BIG) else ['the whole file arrived'])


def cases_for(kind):
    return [
        dict(name=kind + ': a tree into a missing nested path, then /t', real=kind,
             args=args('*.dat', DEEP, '/s', '/c'), tree=TREE, dirs=('/', '/up'),
             out=run(CWD(DEEP), MADE('/up/new'), MADE(DEEP),
                     *sent('Big.dat', 'one.dat', 'with blank.dat', 'zero.dat'),
                     CWD(DEEP + '/' + L1), MADE(DEEP + '/' + L1),
                     *sent(local(L1 + '/512.dat'), local(L1 + '/отчёт.dat')),
                     CWD(DEEP + '/' + L2), MADE(DEEP + '/' + L2),
                     *sent(local(L2 + '/1300.dat'), local(L2 + '/mega.dat')),
                     CWD(DEEP + '/' + L3), MADE(DEEP + '/' + L3), SEND(local(L3 + '/last.dat'))),
             code=0,
             then=[dict(tree={TOUCHED: (FRESH, NOW)}, args=args('*.dat', DEEP, '/s', '/t'),
                        out=run(CWD(DEEP), CWD(DEEP + '/' + L1), CWD(DEEP + '/' + L2),
                                SEND(local(TOUCHED))), code=0)],
             files=remote(FIXTURE, DEEP, TOUCHED, kind)),
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
