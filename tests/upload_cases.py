"""End-to-end cases of the upload: file selection, the directory walk and the transfer."""
import os
import re
import signal
import socket
import tempfile
import time

from ftp_script import DEFAULTS, FEATURES, feat, stamp
from harness import LOGIN, PASSWORD, fill
from login_cases import (AUTH, END, LOGIN_CMDS, LOST, NO_CONNECTION, OPEN, START, STOP, quick,
                         retry_line)


def CWD(path): return 'Переходим в каталог "%s"' % path
def SEND(rel): return 'Отправляем на сервер файл "{L}%s"' % rel
def MADE(path): return 'На сервере создан каталог "%s"' % path
def NOT_FOUND(path): return 'На сервере каталог "%s" не обнаружен' % path
def NOT_SENT(rel): return 'Не удалось отправить файл "{L}%s"' % rel
def UNREADABLE(rel): return 'Не удается прочитать каталог "{L}%s"' % rel


NO_C = 'Разрешение на создание каталогов (ключ "/c") отсутствует'
PASSIVE_REFUSED = 'Сервер "{H}" отказывается работать в пассивном режиме'
NO_DATA = 'Не удается установить связь с сокетом данных'

NOW = time.time()
YESTERDAY = NOW - 2 * 86400
EVERY_BYTE = bytes(range(256))
BIG = EVERY_BYTE * (3 * 4096)  # 3 MiB
M1300 = (EVERY_BYTE * 6)[:1300]
UNITS = (64 << 10, 1 << 20)  # what the program reads and sends at once: natively, and on Windows


def args(mask, remote, *switches):
    return ['{L}' + mask, '{H}', LOGIN, PASSWORD, remote] + list(switches)


def run(*messages):
    return [OPEN, AUTH, START] + list(messages) + [END]


def summary(sent, size, unchanged):
    """The line that ends a "/d" run; numbers in groups of three."""
    group = lambda n: '{:,}'.format(n).replace(',', ' ')
    return 'Отправлено файлов: %s (%s байт), без изменений: %s' % (group(sent), group(size),
                                                                  group(unchanged))


def differs_run(*messages, sent=0, size=0, unchanged=0):
    return run(*messages)[:-1] + [summary(sent, size, unchanged), END]


def xfer(*names):
    return [c for n in names for c in ('TYPE I', 'PASV', 'STOR ' + n)]


def sent(*names):
    return [SEND(n) for n in names]


TYPICAL_TREE = {
    'index.html': (b'<h1>today</h1>', NOW),
    'about.html': (b'old', YESTERDAY),
    '.secret.html': (b'hidden', NOW),
    'notes.txt': (b'not html', NOW),
    'pages/p.html': (b'not a matching directory', NOW),
    'old.html/a.html': (b'nested today', NOW),
    'old.html/b.html': (b'nested yesterday', YESTERDAY),
    'old.html/deep.html/c.html': (b'deep yesterday', YESTERDAY),
    'y.html/d.html': (b'only yesterday', YESTERDAY),
}
TWO = {'a.bin': b'first', 'b.bin': b'second'}
SUBDIRS = {'a/x.txt': b'a', 'b/y.txt': b'b', 'c/z.txt': b'c'}
NESTED = {'a.txt': b'a', 'sub/b.txt': b'b'}
DEEP_DIR = '/'.join('directory-level-%02d-abcdef' % n for n in range(1, 13))


def deep_remote(depth):
    return '/deep/' + '/'.join(DEEP_DIR.split('/')[:depth])

ONE = {'a.bin': EVERY_BYTE}


def summer_time_ended_today():
    """A zone whose summer time ended today at 01:00 summer time, about ten hours ago in local
    time, and the time of a file written there at 00:30 summer time today."""
    hour = int(NOW // 3600 % 24)
    offset = 10 - hour  # standard time is UTC + offset
    local = time.gmtime(NOW + offset * 3600)
    zone = 'XST%dXDT,0/0,%d/1' % (-offset, local.tm_yday - 1)
    midnight = NOW + offset * 3600 - (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec)
    return zone, midnight - offset * 3600 - 3600 + 1800


DST_ZONE, DST_FILE = summer_time_ended_today()

CASES = [
    dict(name='the typical run', args=args('*.html', '/pub/site', '/s', '/t'), tree=TYPICAL_TREE,
         dirs=('/', '/pub', '/pub/site', '/pub/site/old.html', '/pub/site/y.html'),
         out=run(CWD('/pub/site'), SEND('index.html'), CWD('/pub/site/old.html'),
                 SEND('old.html{/}a.html')),
         code=0, cmds=LOGIN_CMDS + ['CWD /pub/site'] + xfer('index.html') +
         ['CWD /pub/site/old.html'] + xfer('a.html'),
         files={'/pub/site/index.html': b'<h1>today</h1>',
                '/pub/site/old.html/a.html': b'nested today'}),

    # Transfer.
    dict(name='0, 1300 and 3 MiB bytes arrive unchanged', args=args('*.bin', '/'),
         tree={'e.bin': b'', 'm.bin': M1300, 'z.bin': BIG}, out=run(CWD('/'), *sent(
             'e.bin', 'm.bin', 'z.bin')), code=0,
         files={'/e.bin': b'', '/m.bin': M1300, '/z.bin': BIG}),
    dict(name='one copy unit, one byte less and one more', args=args('*.bin', '/'),
         tree={'%s%d.bin' % (n, u): BIG[:u + d] for u in UNITS for n, d in zip('abc', (-1, 0, 1))},
         out=run(CWD('/'), *sent(*sorted('%s%d.bin' % (n, u) for u in UNITS for n in 'abc'))),
         code=0,
         files={'/%s%d.bin' % (n, u): BIG[:u + d] for u in UNITS for n, d in zip('abc', (-1, 0, 1))}),
    dict(name='a server that reads slowly', args=args('*.bin', '/'), tree={'z.bin': BIG},
         script={'DATA': 'SLOW'}, out=run(CWD('/'), SEND('z.bin')), code=0, files={'/z.bin': BIG}),
    dict(name='a file that cannot be opened is not announced', args=args('*', '/'),
         tree={'a.bin': ('socket',), 'b.bin': b'x'},
         out=run(CWD('/'), SEND('a.bin'), NOT_SENT('a.bin'), STOP), code=5,
         cmds=LOGIN_CMDS + ['CWD /', 'TYPE I'], files={}),
    dict(name='a named pipe is not read', args=args('*', '/'), tree={'a.bin': ('fifo',), 'b': b''},
         out=run(CWD('/'), SEND('a.bin'), NOT_SENT('a.bin'), STOP), code=5,
         cmds=LOGIN_CMDS + ['CWD /', 'TYPE I']),
] + [
    dict(name='STOR refused with ' + reply, args=args('*', '/'), tree=TWO, script={'STOR': reply},
         out=run(CWD('/'), SEND('a.bin'), NOT_SENT('a.bin'), STOP), code=5,
         cmds=LOGIN_CMDS + ['CWD /'] + xfer('a.bin'), files={})
    for reply in ("553 Can't open that file: Permission denied", '550 Not enough privileges.',
                  '450 Busy')
] + [
    dict(name='completion 451', args=args('*', '/'), tree=TWO, script={'DONE': '451 Failed'},
         out=run(CWD('/'), SEND('a.bin'), NOT_SENT('a.bin'), STOP), code=5,
         cmds=LOGIN_CMDS + ['CWD /'] + xfer('a.bin')),
    dict(name='multi-line 150 and 226', args=args('*', '/'), tree=TWO,
         script={'STOR': '150-Opening\n150 now', 'DONE': '226-Done\n226 Bye'},
         out=run(CWD('/'), *sent('a.bin', 'b.bin')), code=0,
         cmds=LOGIN_CMDS + ['CWD /'] + xfer('a.bin', 'b.bin'),
         files={'/a.bin': b'first', '/b.bin': b'second'}),
    # proftpd repeats the name in its 150; a TAB there must not end the line early and leave the
    # rest to pass for the completion reply.
    dict(name='a 150 repeating a name with a TAB, then 552', args=args('*', '/'),
         tree={'t\t2.bin': BIG, 'u.bin': b'u'},
         script={'STOR': '150 Opening BINARY mode data connection for t\t2.bin',
                 'DONE': '552 Transfer aborted. File too large'},
         out=run(CWD('/'), SEND('t\t2.bin'), NOT_SENT('t\t2.bin'), STOP), code=5,
         cmds=LOGIN_CMDS + ['CWD /'] + xfer('t\t2.bin'), only='native'),
    dict(name='the data connection reset in the middle', args=args('*', '/'),
         tree={'a.bin': BIG, 'b.bin': b'x'}, script={'DATA': 'RESET 1000'},
         out=run(CWD('/'), SEND('a.bin'), NOT_SENT('a.bin'), STOP), code=5,
         cmds=LOGIN_CMDS + ['CWD /'] + xfer('a.bin')),
    dict(name='PASV 502', args=args('*', '/'), tree=TWO, script={'PASV': '502 No passive'},
         out=run(CWD('/'), SEND('a.bin'), PASSIVE_REFUSED, STOP), code=4,
         cmds=LOGIN_CMDS + ['CWD /', 'TYPE I', 'PASV']),
] + [
    dict(name='PASV ' + label, args=args('*', '/'), tree=ONE, script={'PASV': reply},
         out=run(CWD('/'), SEND('a.bin'), NO_DATA, STOP), code=5,
         cmds=LOGIN_CMDS + ['CWD /', 'TYPE I', 'PASV'])
    for label, reply in [
        ('without parentheses', '227 Entering Passive Mode 127,0,0,1,{p1},{p2}'),
        ('with a seventh field', '227 Entering Passive Mode (127,0,0,1,{p1},{p2},9)'),
        ('with a blank before ")"', '227 Entering Passive Mode (127,0,0,1,{p1},{p2} )'),
        ('with a port field above 255', '227 Entering Passive Mode (127,0,0,1,{p1},256)'),
        ('with five fields', '227 Entering Passive Mode (127,0,1,{p1},{p2})'),
    ]
] + [
    dict(name='PASV ' + label, args=args('*', '/'), tree=ONE, script={'PASV': reply},
         out=run(CWD('/'), SEND('a.bin')), code=0, files={'/a.bin': EVERY_BYTE})
    for label, reply in [
        ('with blanks', '227 Entering Passive Mode (127, 0, 0, 1, {p1}, {p2})'),
        ('with hexadecimal ports', '227 Entering Passive Mode (127,0,0,1,{p1:#x},${p2:X})'),
        ('without the final dot', '227 Entering Passive Mode (127,0,0,1,{p1},{p2})'),
        ('in lower case', '227 Entering passive mode (127,0,0,1,{p1},{p2}).'),
        ('of two lines, the fields in the last', '227-listen socket created\n227 (127,0,0,1,{p1},{p2})'),
    ]
] + [
    # On an IPv6 control connection EPSV takes the place of PASV.
    dict(name='EPSV ' + label, host='::1', args=args('*', '/'), tree=ONE, script={'EPSV': reply},
         out=run(CWD('/'), SEND('a.bin'), *out), code=code,
         cmds=LOGIN_CMDS + ['CWD /', 'TYPE I', 'EPSV'] + (['STOR a.bin'] if code == 0 else []),
         files={'/a.bin': EVERY_BYTE} if code == 0 else {})
    for label, reply, out, code in [
        ('as vsftpd sends it', '229 Entering Extended Passive Mode (|||{port}|)', [], 0),
        ('with another delimiter', '229 Entering Extended Passive Mode (!!!{port}!)', [], 0),
        ('of two lines, the port in the last', '229-Opening\n229 Ok (|||{port}|)', [], 0),
        ('with a field missing', '229 Entering Extended Passive Mode (||{port}|)', [NO_DATA, STOP],
         5),
        ('with a port above 65535', '229 Entering Extended Passive Mode (|||70000|)',
         [NO_DATA, STOP], 5),
        ('refused', '500 EPSV not understood', [PASSIVE_REFUSED, STOP], 4),
    ]
] + [
    dict(name='a data connection that is never answered, ' + label, host=host, args=args('*', '/'),
         tree=ONE, script=script, env={'VARDEK_TIMEOUT': '3'},
         out=run(CWD('/'), SEND('a.bin'), NO_DATA, STOP), code=5, check=quick(9))
    for label, host, script in [
        ('PASV', '127.0.0.1', {'PASV': '227 Entering Passive Mode (127,0,0,1,{q1},{q2})'}),
        ('EPSV', '::1', {'EPSV': '229 Entering Extended Passive Mode (|||{q}|)'}),
    ]
] + [
    # The walk.
    dict(name='CWD refused without /c; siblings are still visited', args=args('*', '/r', '/s'),
         tree=SUBDIRS, dirs=('/', '/r', '/r/a', '/r/c'),
         out=run(CWD('/r'), CWD('/r/a'), SEND('a{/}x.txt'), CWD('/r/b'), NOT_FOUND('/r/b'), NO_C,
                 STOP, CWD('/r/c'), SEND('c{/}z.txt')), code=3,
         files={'/r/a/x.txt': b'a', '/r/c/z.txt': b'c'}),
    dict(name='a later failure overwrites the exit code', args=args('*', '/r', '/s'),
         tree=SUBDIRS, dirs=('/', '/r', '/r/a', '/r/c'), script={'DONE': ['226 Ok', '451 No']},
         out=run(CWD('/r'), CWD('/r/a'), SEND('a{/}x.txt'), CWD('/r/b'), NOT_FOUND('/r/b'), NO_C,
                 STOP, CWD('/r/c'), SEND('c{/}z.txt'), NOT_SENT('c{/}z.txt'), STOP), code=5),
    dict(name='a failed transfer ends the walk at every level', args=args('*', '/r', '/s'),
         tree=dict(SUBDIRS, **{'a/a2/w.txt': b'w', 'a/x2.txt': b'x2'}),
         dirs=('/', '/r', '/r/a', '/r/a/a2', '/r/b', '/r/c'), script={'DONE': '451 No'},
         out=run(CWD('/r'), CWD('/r/a'), SEND('a{/}x.txt'), NOT_SENT('a{/}x.txt'), STOP), code=5),
    dict(name='/c builds /new/dir', args=args('*', '/new/dir', '/c'), tree=ONE,
         out=run(CWD('/new/dir'), MADE('/new'), MADE('/new/dir'), SEND('a.bin')), code=0,
         cmds=LOGIN_CMDS + ['CWD /new/dir', 'MKD /new', 'CWD /new', 'MKD /new/dir',
                            'CWD /new/dir'] + xfer('a.bin'),
         files={'/new/dir/a.bin': EVERY_BYTE}),
    dict(name='/c with an existing parent', args=args('*', '/pub/x/', '/c'), tree=ONE,
         dirs=('/', '/pub'), out=run(CWD('/pub/x/'), MADE('/pub/x'), SEND('a.bin')), code=0,
         cmds=LOGIN_CMDS + ['CWD /pub/x/', 'MKD /pub', 'CWD /pub', 'MKD /pub/x', 'CWD /pub/x'] +
         xfer('a.bin')),
    dict(name='/c with a one-character path', args=args('*', 'a', '/c'), tree=ONE,
         out=run(CWD('a'), MADE('a'), SEND('a.bin')), code=0,
         cmds=LOGIN_CMDS + ['PWD', 'CWD a', 'MKD a', 'CWD a'] + xfer('a.bin'),
         files={'/a/a.bin': EVERY_BYTE}),
    dict(name='/c cannot help a path with //', args=args('*', '/a//b', '/c'), tree=ONE,
         dirs=('/', '/a'), out=run(CWD('/a//b'), NOT_FOUND('/a//b'), STOP), code=3,
         cmds=LOGIN_CMDS + ['CWD /a//b']),
    dict(name='/c stops at a CWD that fails', args=args('*', '/x/y', '/c'), tree=ONE,
         script={'CWD /x': '550 No'},
         out=run(CWD('/x/y'), MADE('/x'), NOT_FOUND('/x/y'), STOP), code=3,
         cmds=LOGIN_CMDS + ['CWD /x/y', 'MKD /x', 'CWD /x']),
    # Remote paths as users type them: the root, a trailing slash, a path relative to the
    # login's directory (from PWD).
    dict(name='the root with /s /c', args=args('*', '/', '/s', '/c'), tree=NESTED,
         out=run(CWD('/'), SEND('a.txt'), CWD('/sub'), MADE('/sub'), SEND('sub{/}b.txt')),
         code=0, cmds=LOGIN_CMDS + ['CWD /'] + xfer('a.txt') + ['CWD /sub', 'MKD /sub', 'CWD /sub'] +
         xfer('b.txt'), files={'/a.txt': b'a', '/sub/b.txt': b'b'}),
    dict(name='a trailing slash with /s /c', args=args('*', '/up/', '/s', '/c'), tree=NESTED,
         dirs=('/', '/up'),
         out=run(CWD('/up/'), SEND('a.txt'), CWD('/up/sub'), MADE('/up/sub'), SEND('sub{/}b.txt')),
         code=0, files={'/up/a.txt': b'a', '/up/sub/b.txt': b'b'}),
    dict(name='a relative path under the PWD directory', args=args('*', 'www', '/s', '/c'),
         tree=NESTED, dirs=('/', '/home', '/home/u'), script={'PWD': '257 "/home/u" is cwd'},
         out=run(CWD('/home/u/www'), MADE('/home/u/www'), SEND('a.txt'), CWD('/home/u/www/sub'),
                 MADE('/home/u/www/sub'), SEND('sub{/}b.txt')), code=0,
         cmds=LOGIN_CMDS + ['PWD', 'CWD /home/u/www', 'MKD /home', 'CWD /home', 'MKD /home/u',
                            'CWD /home/u', 'MKD /home/u/www', 'CWD /home/u/www'] + xfer('a.txt') +
         ['CWD /home/u/www/sub', 'MKD /home', 'CWD /home', 'MKD /home/u', 'CWD /home/u',
          'MKD /home/u/www', 'CWD /home/u/www', 'MKD /home/u/www/sub', 'CWD /home/u/www/sub'] +
         xfer('b.txt'), files={'/home/u/www/a.txt': b'a', '/home/u/www/sub/b.txt': b'b'}),
    dict(name='a PWD directory with a doubled quote, without /s', args=args('*', 'w/x'),
         tree=NESTED, dirs=('/', '/h"q', '/h"q/w', '/h"q/w/x'),
         script={'PWD': '257 "/h""q" is cwd'}, out=run(CWD('/h"q/w/x'), SEND('a.txt')), code=0,
         cmds=LOGIN_CMDS + ['PWD', 'CWD /h"q/w/x'] + xfer('a.txt'), files={'/h"q/w/x/a.txt': b'a'}),
    dict(name='PWD refused: a relative path is sent as given', args=args('*', 'html', '/s'),
         tree={'a/x.txt': b'x'}, dirs=('/', '/html', '/html/a'),
         out=run(CWD('html'), CWD('html/a'), NOT_FOUND('html/a'), NO_C, STOP), code=3,
         cmds=LOGIN_CMDS + ['PWD', 'CWD html', 'CWD html/a']),
    dict(name='PWD naming no directory: a relative path is sent as given', args=args('*', 'w'),
         tree=NESTED, dirs=('/', '/w'), script={'PWD': '257 is cwd'},
         out=run(CWD('w'), SEND('a.txt')), code=0, cmds=LOGIN_CMDS + ['PWD', 'CWD w'] + xfer('a.txt')),
    dict(name='nothing eligible: no command at all', args=args('*.html', '/missing', '/s'),
         tree={'a.txt': b'a', 'sub/b.txt': b'b', '.x.html': b'hidden', '.d.html/c.html': b'c'},
         out=run(), code=0,
         cmds=LOGIN_CMDS),
    dict(name='a matching subdirectory makes the top eligible', args=args('*.html', '/r', '/s'),
         tree={'a.txt': b'a', 's.html/b.html': b'b'}, dirs=('/', '/r', '/r/s.html'),
         out=run(CWD('/r'), CWD('/r/s.html'), SEND('s.html{/}b.html')), code=0),
    dict(name='without /s subdirectories count for nothing', args=args('*', '/r'),
         tree={'s/b.html': b'b'}, out=run(), code=0, cmds=LOGIN_CMDS),
    dict(name='a directory link back up is not entered again', args=args('*', '/r', '/s'),
         tree={'a/x.txt': b'x', 'a/up': ('link', '..'), 'a/self': ('link', '.')},
         dirs=('/', '/r', '/r/a'), out=run(CWD('/r'), CWD('/r/a'), SEND('a{/}x.txt')), code=0,
         cmds=LOGIN_CMDS + ['CWD /r', 'CWD /r/a'] + xfer('x.txt')),

    # Selection.
    dict(name='a mask without wildcards selects one name', args=args('b.bin', '/'), tree=TWO,
         out=run(CWD('/'), SEND('b.bin')), code=0, files={'/b.bin': b'second'}),
    dict(name='masks ignore case', args=args('*.BIN', '/'), tree={'a.bin': b'a', 'B.Bin': b'b'},
         out=run(CWD('/'), SEND('a.bin'), SEND('B.Bin')), code=0),
    # Long names only: a volume's 8.3 names (INDEX~1.HTM) must not widen a mask.
    dict(name='*.htm matches .htm names only', args=args('*.htm', '/'),
         tree={'index.html': b'i', 'page.htm': b'p', 'report.htmlx': b'r', 'old.doc.htm': b'o'},
         out=run(CWD('/'), SEND('old.doc.htm'), SEND('page.htm')), code=0,
         files={'/old.doc.htm': b'o', '/page.htm': b'p'}),
    # Names from Samba shares and archives: each file is opened by exactly the name listed.
    dict(name='names that end in a dot or a blank', args=args('*', '/r', '/s', '/c'),
         tree={'dot.html': b'PLAIN', 'dot.html.': b'TRAIL', 'only.html.': b'ONLY',
               'sp.html ': b'SPACE', 'sub/b.html': b'B', 'sub./a.html': b'A'}, dirs=('/', '/r'),
         out=run(CWD('/r'), *sent('dot.html', 'dot.html.', 'only.html.', 'sp.html '),
                 CWD('/r/sub'), MADE('/r/sub'), SEND('sub{/}b.html'), CWD('/r/sub.'),
                 MADE('/r/sub.'), SEND('sub.{/}a.html')), code=0,
         files={'/r/dot.html': b'PLAIN', '/r/dot.html.': b'TRAIL', '/r/only.html.': b'ONLY',
                '/r/sp.html ': b'SPACE', '/r/sub/b.html': b'B', '/r/sub./a.html': b'A'}),
    dict(name='a mask that ends in a separator sends nothing', args=args('', '/'), tree=TWO,
         out=run(), code=0, cmds=LOGIN_CMDS),
    # A directory that cannot be listed is reported and the walk goes on; one that merely holds
    # no match is no failure.
    dict(name='a missing local directory is reported', args=args('none{/}*', '/'), tree=TWO,
         out=run(UNREADABLE('none{/}'), STOP), code=5, cmds=LOGIN_CMDS),
    dict(name='a mask that matches nothing', args=args('*.none', '/'), tree=TWO, out=run(),
         code=0, cmds=LOGIN_CMDS),
    dict(name='a drive that is not mapped', args=['Q:\\outbox\\*.*', '{H}', LOGIN, PASSWORD, '/'],
         out=run('Не удается прочитать каталог "Q:\\outbox\\"', STOP), code=5, cmds=LOGIN_CMDS, only='wine'),
    dict(name='an unreadable subdirectory beside a readable one', user='nobody',
         args=args('*', '/r', '/s', '/c'), dirs=('/', '/r'),
         tree={'a.txt': b'a', 'open/b.txt': b'b', 'shut/c.txt': b'c', 'shut': ('chmod', 0o700)},
         out=run(CWD('/r'), SEND('a.txt'), CWD('/r/open'), MADE('/r/open'), SEND('open/b.txt'),
                 UNREADABLE('shut/'), STOP), code=5,
         files={'/r/a.txt': b'a', '/r/open/b.txt': b'b'}, only='native'),
    dict(name='an unreadable directory as the only content of the tree', user='nobody',
         args=args('*', '/r', '/s', '/c'), tree={'p/shut/c.txt': b'c', 'p/shut': ('chmod', 0o700)},
         out=run(UNREADABLE('p/shut/'), STOP), code=5, cmds=LOGIN_CMDS, only='native'),
    dict(name='files listed whose type cannot be read', user='nobody',
         args=args('*', '/r', '/s', '/t'), dirs=('/', '/r'),
         tree={'a.txt': b'a', 'r/x.txt': b'x', 'r': ('chmod', 0o744)},
         out=run(CWD('/r'), SEND('a.txt'), NOT_SENT('r/x.txt'), STOP), code=5,
         cmds=LOGIN_CMDS + ['CWD /r'] + xfer('a.txt'), only='native'),
    dict(name='a tree deeper than 300 characters', args=args('*', '/deep', '/s', '/c'),
         tree={'top.txt': b'top', DEEP_DIR + '/deep.txt': b'deep'}, dirs=('/', '/deep'),
         out=run(CWD('/deep'), SEND('top.txt'),
                 *[m for n in range(1, 13) for m in (CWD(deep_remote(n)), MADE(deep_remote(n)))],
                 SEND(DEEP_DIR.replace('/', '{/}') + '{/}deep.txt')), code=0,
         files={'/deep/top.txt': b'top', deep_remote(12) + '/deep.txt': b'deep'}),
    # Names that Windows-1251 cannot hold: never sent under another name, never skipped in silence.
    dict(name='names outside the code page', args=args('*.html', '/', '/s'),
         tree={'cafe.html': b'plain', 'café.html': b'accent', '日本.html': b'nihon', 'z.html': b'z',
               'ü.html/in.html': b'in'},
         out=run(CWD('/'), SEND('cafe.html'), NOT_SENT('caf?.html'), STOP, SEND('z.html'),
                 NOT_SENT('??.html'), STOP, NOT_SENT('?.html{/}'), STOP), code=5,
         files={'/cafe.html': b'plain', '/z.html': b'z'}, only='wine'),
    dict(name='/t skips files of another day and of no valid date',
         args=args('*', '/', '/t'),
         tree={'a.txt': (b'1975', 157766400), 'b.txt': (b'old', YESTERDAY), 'c.txt': b'new'},
         out=run(CWD('/'), SEND('c.txt')), code=0, files={'/c.txt': b'new'}),
    # The date of the instant of the write, with that instant's summer time: the offset in force
    # now would make it 23:30 yesterday.
    dict(name='/t on the day summer time ends', args=args('*', '/', '/t'),
         tree={'a.txt': (b'summer', DST_FILE), 'b.txt': (b'old', DST_FILE - 3600)},
         env={'TZ': DST_ZONE}, out=run(CWD('/'), SEND('a.txt')), code=0, files={'/a.txt': b'summer'}),
    dict(name='a file of no valid date is sent without /t', args=args('a.txt', '/'),
         tree={'a.txt': (b'1975', 157766400)}, out=run(CWD('/'), SEND('a.txt')), code=0),
    dict(name='-t is no switch, /T and /tx are', args=args('*', '/', '-t'),
         tree={'b.txt': (b'old', YESTERDAY)}, out=run(CWD('/'), SEND('b.txt')), code=0),
] + [
    dict(name='switch ' + s, args=args('*', '/', s), tree={'b.txt': (b'old', YESTERDAY)},
         out=run(), code=0) for s in ('/T', '/tx')
] + [
    dict(name='/s as the fifth parameter is the remote path', args=args('*', '/s'),
         tree={'a/x.txt': b'x', 'b.txt': b'b'}, dirs=('/', '/s'),
         out=run(CWD('/s'), SEND('b.txt')), code=0, files={'/s/b.txt': b'b'}),
    dict(name='a Cyrillic file name', args=args('*', '/'), tree={'отчёт.txt': b'r'},
         out=run(CWD('/'), SEND('отчёт.txt')), code=0,
         cmds=LOGIN_CMDS + ['CWD /'] + xfer('отчёт.txt'), files={'/отчёт.txt': b'r'}),
] + [
    # The first socket must not take the place of a closed standard output: console text would
    # become commands.
    dict(name='started without ' + label, args=args('*', '/r', '/s'), tree=SUBDIRS,
         dirs=('/', '/r', '/r/a', '/r/b', '/r/c'), closed=closed, out=[], code=0,
         cmds=LOGIN_CMDS + ['CWD /r', 'CWD /r/a'] + xfer('x.txt') + ['CWD /r/b'] + xfer('y.txt') +
         ['CWD /r/c'] + xfer('z.txt'), files={'/r/a/x.txt': b'a', '/r/b/y.txt': b'b', '/r/c/z.txt': b'c'})
    for label, closed in (('standard output', (1,)), ('any standard stream', (0, 1, 2)))
] + [
    dict(name='a file name with a line break is never a command', args=args('*', '/'),
         tree={'a\nDELE x': b'x', 'b.txt': b'b'},
         out=run(CWD('/'), SEND('a\nDELE x'), NOT_SENT('a\nDELE x'), STOP), code=5,
         cmds=LOGIN_CMDS + ['CWD /', 'TYPE I'], only='native'),
    dict(name='a directory name with a line break is never a command',
         args=args('*', '/', '/s'), tree={'d\r\nDELE x/a.txt': b'x'},
         out=run(CWD('/'), NOT_SENT('d\r\nDELE x/'), STOP), code=5,
         cmds=LOGIN_CMDS + ['CWD /'], only='native'),
]

# Run in a network namespace that has only loopback: were the announced private address used,
# the connection would fail at once, and no packet could leave.
CASES.append(dict(name='PASV naming a private address', port=21, args=args('*', '/'), tree=ONE,
                  script={'PASV': '227 Entering Passive Mode (10,0,0,5,{p1},{p2})'},
                  out=run(CWD('/'), SEND('a.bin')), code=0, files={'/a.bin': EVERY_BYTE}))

# The harness's own keys: a bare mask in the directory the program runs in, and files on the
# server before the run, which keep their bytes and times unless sent again.
OLD = 1000000000  # 2001-09-09


def times(case, result):
    mtimes = result['server'].mtimes
    return ([] if mtimes['/site/old.bin'] == OLD and abs(mtimes['/site/a.bin'] - time.time()) < 120
            else ['remote times: %r' % mtimes])


# A mask as a batch file gives it after "cd /d c:\site": bare, in ".", in "..", and relative to
# the current directory of a drive; messages show the paths as typed.
CASES += [
    dict(name='a %s in the directory the program runs in' % label, cwd='site',
         args=[mask, '{H}', LOGIN, PASSWORD, '/', '/s', '/c'],
         tree={'site/a.html': b'a', 'site/b.txt': b'b', 'site/in.html/d.html': b'd',
               'c.html': b'c'},
         out=run(CWD('/'), 'Отправляем на сервер файл "%s"' % shown, *below), code=0,
         files=files, **only)
    for label, mask, shown, below, files, only in [
        ('bare mask', '*.html', 'a.html',
         [CWD('/in.html'), MADE('/in.html'), 'Отправляем на сервер файл "in.html{/}d.html"'],
         {'/a.html': b'a', '/in.html/d.html': b'd'}, {}),
        ('mask in "."', '.{/}*.html', '.{/}a.html',
         [CWD('/in.html'), MADE('/in.html'), 'Отправляем на сервер файл ".{/}in.html{/}d.html"'],
         {'/a.html': b'a', '/in.html/d.html': b'd'}, {}),
        ('mask in ".."', '..{/}*.html', '..{/}c.html', [], {'/c.html': b'c'}, {}),
        ('mask relative to a drive', 'z:*.html', 'z:a.html',
         [CWD('/in.html'), MADE('/in.html'), 'Отправляем на сервер файл "z:in.html\\d.html"'],
         {'/a.html': b'a', '/in.html/d.html': b'd'}, dict(only='wine')),
    ]
] + [
    dict(name='files on the server before the run keep their bytes and times',
         args=args('*', '/site'), tree=ONE,
         dirs=('/', ('/site/old.bin', b'old', OLD), ('/site/a.bin', b'replaced', OLD)),
         out=run(CWD('/site'), SEND('a.bin')), code=0,
         files={'/site/old.bin': b'old', '/site/a.bin': EVERY_BYTE}, check=times),
]

# "/d": only what the server does not hold as it is, by size and by time to the second.
T = 1796000000  # 2026-11-30, UTC
D_ARGS = args('*', '/r', '/s', '/c', '/d')
VSFTPD_FEAT = feat(('EPSV', 'MDTM', 'PASV', 'REST STREAM', 'SIZE', 'TVFS', 'UTF8'))
BIG_NEW = (EVERY_BYTE * 49)[:12345]


def remote_times(expected):
    """The server's files carry the local times afterwards."""
    def check(case, result):
        mtimes = result['server'].mtimes
        wrong = {p: mtimes.get(p) for p, t in expected.items() if mtimes.get(p) != t}
        return ['remote times: %r' % wrong] if wrong else []
    return check


NO_TIMES = ('Сервер "{H}" не устанавливает время файлов: копия на сервере считается неизменной, '
            'если она не старше локального файла')


def d_cmds(*steps):
    return LOGIN_CMDS + ['FEAT'] + [c for step in steps for c in step]


CASES += [
    dict(name='/d sends what differs and sets each time', args=D_ARGS,
         tree={'same.txt': (b'same', T), 'new.txt': (BIG_NEW, T + 1), 'sub/x.txt': (b'x', T + 2),
               'size.txt': (b'longer', T), 'time.txt': (b'time', T + 60)},
         dirs=('/', '/r', ('/r/same.txt', b'same', T), ('/r/size.txt', b'short', T),
               ('/r/time.txt', b'TIME', T)),
         out=differs_run(CWD('/r'), *sent('new.txt', 'size.txt', 'time.txt'), CWD('/r/sub'),
                         MADE('/r/sub'), SEND('sub{/}x.txt'), sent=4, size=12345 + 6 + 4 + 1,
                         unchanged=1), code=0,
         # Whether MFMT is allowed is learnt with the server's own time of a file.
         cmds=d_cmds(['CWD /r', 'TYPE I', 'PASV', 'MLSD', 'MFMT %s time.txt' % stamp(T)],
                     ['PASV', 'STOR new.txt', 'MFMT %s new.txt' % stamp(T + 1)],
                     ['PASV', 'STOR size.txt', 'MFMT %s size.txt' % stamp(T)],
                     ['PASV', 'STOR time.txt', 'MFMT %s time.txt' % stamp(T + 60)],
                     # The parent was entered: only the new directory is made.
                     ['CWD /r/sub', 'MKD /r/sub', 'CWD /r/sub', 'PASV', 'STOR x.txt',
                      'MFMT %s x.txt' % stamp(T + 2)]),
         check=remote_times({'/r/same.txt': T, '/r/new.txt': T + 1, '/r/time.txt': T + 60,
                             '/r/sub/x.txt': T + 2})),
    # "/r": a listing lost with its connection is asked again on the new one, not taken as none.
    dict(name='/d /r: a listing lost with the connection is asked again', args=D_ARGS + ['/r'],
         tree={'same.txt': (b'same', T), 'time.txt': (b'time', T + 60)},
         dirs=('/', '/r', ('/r/same.txt', b'same', T), ('/r/time.txt', b'TIME', T)),
         script={'MLSD': ['CLOSE', None]}, env={'VARDEK_TIMEOUT': '2'},
         out=differs_run(CWD('/r'), LOST, retry_line(1, 3, 2), OPEN, AUTH, SEND('time.txt'),
                         sent=1, size=4, unchanged=1), code=0,
         cmds=d_cmds(['CWD /r', 'TYPE I', 'PASV', 'MLSD'], LOGIN_CMDS,
                     ['CWD /r', 'TYPE I', 'PASV', 'MLSD', 'MFMT %s time.txt' % stamp(T), 'PASV',
                      'STOR time.txt', 'MFMT %s time.txt' % stamp(T + 60)])),
    # The same for the MDTM queries after LIST: the connection dropped at the second.
    dict(name='/d /r: times lost with the connection are asked again', args=D_ARGS + ['/r'],
         script={'FEAT': VSFTPD_FEAT, 'MDTM b.txt': ['CLOSE', None]},
         env={'VARDEK_TIMEOUT': '2'},
         tree={'a.txt': (b'aaa', T), 'b.txt': (b'bbb', T), 'c.txt': (b'ccc', T + 5)},
         dirs=('/', '/r', ('/r/a.txt', b'aaa', T), ('/r/b.txt', b'bbb', T), ('/r/c.txt', b'ccc', T)),
         out=differs_run(CWD('/r'), LOST, retry_line(1, 3, 2), OPEN, AUTH, SEND('c.txt'), sent=1,
                         size=3, unchanged=2), code=0),
    # vsftpd has no MLSD: LIST gives names and sizes, MDTM the time where the size is the same.
    dict(name='/d on a server without MLSD or FEAT', args=D_ARGS,
         script={'FEAT': '500 Unknown command'},
         tree={'a.txt': (b'aaa', T), 'b.txt': (b'bbb', T), 'c.txt': (b'ccc', T + 5)},
         dirs=('/', '/r', ('/r/a.txt', b'aaa', T), ('/r/b.txt', b'bb', T), ('/r/c.txt', b'ccc', T)),
         out=differs_run(CWD('/r'), *sent('b.txt', 'c.txt'), sent=2, size=6, unchanged=1),
         code=0,
         cmds=d_cmds(['CWD /r', 'TYPE I', 'PASV', 'LIST', 'MDTM a.txt', 'MDTM c.txt',
                      'MDTM %s c.txt' % stamp(T)],
                     ['PASV', 'STOR b.txt', 'MDTM %s b.txt' % stamp(T)],
                     ['PASV', 'STOR c.txt', 'MDTM %s c.txt' % stamp(T + 5)]),
         check=remote_times({'/r/b.txt': T, '/r/c.txt': T + 5})),
    # MDTM queries go in one go; a server that drops all but the first is asked one at a time.
    dict(name='/d on a server that drops commands sent in one go', args=D_ARGS,
         script={'FEAT': VSFTPD_FEAT, 'PIPELINING': 'LOSE'},
         tree={'a.txt': (b'aaa', T), 'b.txt': (b'bbb', T), 'c.txt': (b'ccc', T + 5)},
         dirs=('/', '/r', ('/r/a.txt', b'aaa', T), ('/r/b.txt', b'bbb', T), ('/r/c.txt', b'ccc', T)),
         out=differs_run(CWD('/r'), SEND('c.txt'), sent=1, size=3, unchanged=2), code=0,
         cmds=d_cmds(['CWD /r', 'TYPE I', 'PASV', 'LIST', 'MDTM a.txt', 'NOOP', 'MDTM b.txt',
                      'MDTM c.txt', 'MDTM %s c.txt' % stamp(T), 'PASV', 'STOR c.txt',
                      'MDTM %s c.txt' % stamp(T + 5)])),
    # pure-ftpd stops at 10,000 entries: the files the listing names are compared, the rest sent.
    dict(name='/d with a truncated listing', args=D_ARGS,
         script={'MLSD_DONE': '226 Output truncated to 1 matches', 'MLSD_LINES': lambda server,
                 path: ['type=file;size=3;modify=%s; a.txt' % stamp(T)]},
         tree={'a.txt': (b'aaa', T), 'b.txt': (b'bbb', T)},
         dirs=('/', '/r', ('/r/a.txt', b'aaa', T), ('/r/b.txt', b'bbb', T)),
         out=differs_run(CWD('/r'), 'Каталог "/r" на сервере прочитан не полностью: файлы, '
                         'которых нет в списке, отправляются', SEND('b.txt'), sent=1, size=3,
                         unchanged=1), code=0),
    # A listing whose data connection is reset part-way: its 426 is read where it belongs, not
    # taken for the next command's, and the files go as without a listing.
    dict(name='/d with a listing reset part-way', args=D_ARGS,
         script={'MLSD_DONE': '426 Connection reset', 'MLSD_LINES': lambda server, path: [
             'type=file;size=3;modify=%s; a.txt' % stamp(T), None]},
         tree={'a.txt': (b'aaa', T), 'b.txt': (b'bbb', T)},
         dirs=('/', '/r', ('/r/a.txt', b'aaa', T)),
         out=differs_run(CWD('/r'), *sent('a.txt', 'b.txt'), sent=2, size=6), code=0),
    # MLSD in the server's zone, MFMT in UTC: the next run learns the zone from the reply to the
    # MFMT that gives a file its own listed time, gives it back its time, and sends nothing.
    dict(name='/d on a server whose listings show its local time', args=D_ARGS,
         script={'ZONE': 3 * 3600}, tree={'a.txt': (b'aaa', T), 'b.txt': (b'bbb', T)},
         dirs=('/', '/r'), out=differs_run(CWD('/r'), *sent('a.txt', 'b.txt'), sent=2, size=6),
         code=0, then=[dict(args=D_ARGS, out=differs_run(CWD('/r'), unchanged=2), code=0)],
         check=remote_times({'/r/a.txt': T, '/r/b.txt': T})),
    # proftpd with <Limit MLSD> DenyAll lists MLST in FEAT: LIST and MDTM, for the whole run.
    dict(name='/d with MLSD refused lists with LIST', args=D_ARGS,
         script={'MLSD': '550 Permission denied'},
         tree={'a.txt': (b'aaa', T), 'sub/b.txt': (b'b', T)},
         dirs=('/', '/r', ('/r/a.txt', b'aaa', T), ('/r/sub/b.txt', b'b', T)),
         out=differs_run(CWD('/r'), CWD('/r/sub'), unchanged=2), code=0,
         cmds=d_cmds(['CWD /r', 'TYPE I', 'PASV', 'MLSD', 'PASV', 'LIST', 'MDTM a.txt',
                      'CWD /r/sub', 'PASV', 'LIST', 'MDTM b.txt'])),
    dict(name='/d reads MLSD lines with odd facts', args=D_ARGS,
         script={'MLSD_LINES': lambda server, path: [
             'Type=cdir;Modify=%s; /r' % stamp(T), 'type=pdir;modify=%s; ..' % stamp(T),
             'Perm=adfrw;Size=4;Modify=%s.250;Type=File;unique=8U1; a b;c.txt' % stamp(T),
             'type=dir;modify=%s; x.txt' % stamp(T), 'type=file;size=3;modify=%s; y.txt' % stamp(T),
             'type=OS.unix=slink:/etc;size=3;modify=%s; z.txt' % stamp(T)]},
         tree={'a b;c.txt': (b'abcd', T), 'x.txt': (b'xyz', T), 'y.txt': (b'yyy', T),
               'z.txt': (b'zzz', T)},
         out=differs_run(CWD('/r'), *sent('x.txt', 'z.txt'), sent=2, size=6, unchanged=2),
         code=0, dirs=('/', '/r')),
    # MFMT listed but refused to the login (pyftpdlib without the T permission): said once, and
    # from then on a server's copy no older than the file is the file; a republish sends nothing.
    dict(name='/d with MFMT refused', args=D_ARGS, script={'MFMT': '550 Not allowed'},
         tree={'a.txt': (b'aaa', T)}, dirs=('/', '/r'),
         out=differs_run(CWD('/r'), SEND('a.txt'), NO_TIMES, sent=1, size=3), code=0,
         then=[dict(args=D_ARGS, out=differs_run(CWD('/r'), NO_TIMES, unchanged=1), code=0)]),
    # Without MFMT a server that turns down the MDTM form sets no time: its files are compared by
    # "no older than the local one", and b.txt, stored after it was written, stays; a.txt gets
    # no time set.
    dict(name='/d on a server that sets no time', args=D_ARGS,
         script={'FEAT': VSFTPD_FEAT, 'MDTM %s b.txt' % stamp(T): '550 Not allowed'},
         tree={'a.txt': (b'aaa', T), 'b.txt': (b'bb', T - 100)},
         dirs=('/', '/r', ('/r/b.txt', b'BB', T)),
         out=differs_run(CWD('/r'), SEND('a.txt'), sent=1, size=3, unchanged=1), code=0,
         cmds=d_cmds(['CWD /r', 'TYPE I', 'PASV', 'LIST', 'MDTM b.txt', 'MDTM %s b.txt' % stamp(T),
                      'PASV', 'STOR a.txt'])),
    # Whether a server with MDTM but no MFMT sets times is learnt before a file is sent for its
    # time alone: its own time given back to it. inetutils' ftpd lists MDTM and sets none.
    dict(name='/d learns that a server sets no time before it decides', args=D_ARGS,
         script={'FEAT': VSFTPD_FEAT, 'MDTM %s b.txt' % stamp(T): '550 No such file'},
         tree={'b.txt': (b'bb', T - 100)}, dirs=('/', '/r', ('/r/b.txt', b'BB', T)),
         out=differs_run(CWD('/r'), unchanged=1), code=0,
         cmds=d_cmds(['CWD /r', 'TYPE I', 'PASV', 'LIST', 'MDTM b.txt', 'MDTM %s b.txt' % stamp(T)])),
    # A file that cannot be sent is reported before the directory is compared and sent.
    dict(name='/d with a name outside the code page', args=args('*.html', '/r', '/d'),
         tree={'cafe.html': (b'plain', T), 'café.html': (b'accent', T), 'z.html': (b'z', T)},
         dirs=('/', '/r', ('/r/z.html', b'z', T)),
         out=differs_run(CWD('/r'), NOT_SENT('caf?.html'), STOP, SEND('cafe.html'), sent=1,
                         size=5, unchanged=1), code=5, only='wine'),
    dict(name='/d with /t: both filters', args=D_ARGS + ['/t'],
         tree={'old.txt': (b'old', YESTERDAY), 'same.txt': (b'same', int(NOW)),
               'new.txt': (b'new', int(NOW))},
         dirs=('/', '/r', ('/r/same.txt', b'same', int(NOW)), ('/r/old.txt', b'OLD!', T)),
         out=differs_run(CWD('/r'), SEND('new.txt'), sent=1, size=3, unchanged=1), code=0),
]

# "/a": stored under "name.XXXXXX.part" and renamed into place once whole; a failure leaves the
# old file as it was and no temporary file.
A_ARGS = args('*', '/r', '/a')


def with_temporary(commands):
    """The transcript, with each temporary name's random part as XXXXXX; one name per file."""
    def check(case, result):
        got = [re.sub(r'\.[0-9a-f]{6}\.part$', '.XXXXXX.part', c) for c in result['server'].commands]
        names = {c.split(' ')[-1] for c in result['server'].commands if c.endswith('.part')}
        problems = [] if got == LOGIN_CMDS + commands else [
            'commands:\n  expected %r\n  got      %r' % (LOGIN_CMDS + commands, got)]
        return problems + ([] if len(names) <= 1 else ['temporary names: %r' % names])
    return check


# "/m": what is gone locally is deleted on the server, never on incomplete knowledge; "/n" says
# what a run would do and changes nothing.
def DELETED(path): return 'На сервере удалён файл "%s"' % path
def DELETED_DIR(path): return 'На сервере удалён каталог "%s"' % path
def NOT_DELETED(path): return 'Не удалось удалить на сервере файл "%s"' % path
def CUT(path): return 'Каталог "%s" на сервере прочитан не полностью: в нём ничего не удаляется' % path
def m_summary(sent, size, unchanged, files, dirs, plan=False):
    text = summary(sent, size, unchanged) + ', %sудалено файлов: %d, каталогов: %d' % (
        'будет ' if plan else '', files, dirs)
    return text.replace('Отправлено', 'Будет отправлено') if plan else text


M_ARGS = args('*', '/r', '/s', '/c', '/m')
M_LOCAL = {'index.html': (b'i', T), 'news/a.html': (b'a', T)}
M_DIRS = ('/', '/r', ('/r/index.html', b'i', T), ('/r/gone.html', b'g', T), ('/r/.htaccess', b'h', T),
          ('/r/index.html.3f9c2a.part', b'p', T), ('/r/news/a.html', b'a', T),
          ('/r/news/b.html', b'b', T), ('/r/old/x.html', b'x', T), ('/r/old/sub/y.html', b'y', T))
M_KEPT = {'/r/index.html': b'i', '/r/.htaccess': b'h', '/r/news/a.html': b'a'}
M_ALL = {path: data for path, data, _ in M_DIRS[2:]}
M_BASE = dict(args=M_ARGS, tree=M_LOCAL, dirs=M_DIRS)
M_OUT = [CWD('/r'), DELETED('/r/gone.html'), DELETED('/r/index.html.3f9c2a.part'),
         DELETED('/r/old/sub/y.html'), DELETED_DIR('/r/old/sub'), DELETED('/r/old/x.html'),
         DELETED_DIR('/r/old'), CWD('/r/news'), DELETED('/r/news/b.html')]
M_CMDS = d_cmds(['CWD /r', 'TYPE I', 'PASV', 'MLSD', 'DELE gone.html', 'DELE index.html.3f9c2a.part',
                 'PASV', 'MLSD /r/old', 'PASV', 'MLSD /r/old/sub', 'DELE /r/old/sub/y.html',
                 'RMD /r/old/sub', 'DELE /r/old/x.html', 'RMD old'],
                ['CWD /r/news', 'PASV', 'MLSD', 'DELE b.html'])
# What each guard leaves: the listing of /r refused, cut or truncated, where index.html is sent
# again only when the listing could not tell that it is there.
M_UNLISTED = [CWD('/r'), SEND('index.html'), CUT('/r'), STOP, CWD('/r/news'),
              DELETED('/r/news/b.html')]


def no_commands(*verbs):
    def check(case, result):
        sent = [c for c in result['server'].commands if c.split(' ')[0] in verbs]
        return ['sent %r' % sent] if sent else []
    return check


CASES += [
    dict(M_BASE, name='/m deletes what is gone, and never a name with a dot',
         out=differs_run(*M_OUT)[:-2] + [m_summary(0, 0, 2, 5, 2), END], code=0, cmds=M_CMDS,
         files=M_KEPT),
    dict(M_BASE, name='/m /n says what it would delete and changes nothing', args=M_ARGS + ['/n'],
         out=run(*[m.replace('На сервере удалён файл', 'Будет удалён файл').replace(
             'На сервере удалён каталог', 'Будет удалён каталог') for m in M_OUT],
             m_summary(0, 0, 2, 5, 2, plan=True)),
         code=0, files=M_ALL, check=no_commands('STOR', 'MKD', 'DELE', 'RMD', 'MFMT', 'RNFR')),
] + [
    # The listing of /r refused, cut short by a failed transfer, or truncated by the server.
    dict(M_BASE, name='/m with a listing %s deletes nothing there' % how, script=script,
         out=run(*M_UNLISTED[:1 + sent], *M_UNLISTED[2:], m_summary(sent, sent, 2 - sent, 1, 0)),
         code=5, files={p: d for p, d in M_ALL.items() if p != '/r/news/b.html'})
    for how, script, sent in (
        ('refused', {'MLSD': ['450 Not now', None]}, 1),
        ('cut short', {'MLSD_DONE': ['426 Connection closed; transfer aborted', None]}, 1),
        ('truncated', {'MLSD_DONE': ['226 Output truncated to 3 matches', None]}, 0),
        ('by LIST cut short', {'FEAT': VSFTPD_FEAT,
                               'LIST_DONE': ['426 Connection closed; transfer aborted', None]}, 1))
] + [
    dict(M_BASE, name='/m with a DELE and an RMD refused goes on',
         script={'DELE gone.html': '550 Permission denied', 'RMD old': '550 Permission denied'},
         out=run(*M_OUT[:1], NOT_DELETED('/r/gone.html'), STOP, *M_OUT[2:6],
                 'Не удалось удалить на сервере каталог "/r/old"', STOP, *M_OUT[7:],
                 m_summary(0, 0, 2, 4, 1)),
         code=5, files=dict(M_KEPT, **{'/r/gone.html': b'g'})),
    dict(M_BASE, name='/m:2 deletes two and says so', args=M_ARGS[:-1] + ['/m:2'],
         out=run(*M_OUT[:3], 'Удалено столько, сколько позволяет ключ "/m:2": остальное на сервере '
                 'не удаляется', STOP, CWD('/r/news'), m_summary(0, 0, 2, 2, 0)),
         code=5, files={p: d for p, d in M_ALL.items()
                        if p not in ('/r/gone.html', '/r/index.html.3f9c2a.part')}),
    dict(M_BASE, name='/m where the mask selects nothing deletes nothing',
         args=args('*.xyz', '/r', '/s', '/c', '/m'),
         out=run('По маске "*.xyz" не выбран ни один локальный файл: на сервере ничего не '
                 'удаляется', STOP, m_summary(0, 0, 0, 0, 0)), code=5, files=M_ALL),
    dict(M_BASE, name='/m /t deletes nothing', args=M_ARGS + ['/t'],
         out=run('С ключом "/t" ключ "/m" на сервере ничего не удаляет', m_summary(0, 0, 0, 0, 0)),
         code=0, files=M_ALL),
    dict(M_BASE, name='/m: a local file where the server has a directory',
         tree=dict(M_LOCAL, old=(b'now a file', T)),
         out=run(CWD('/r'), NOT_SENT('old'), 'На сервере на его месте каталог "/r/old"', STOP,
                 *M_OUT[1:3], *M_OUT[7:], m_summary(0, 0, 2, 3, 0)),
         code=5, files={p: d for p, d in M_ALL.items()
                        if p not in ('/r/gone.html', '/r/index.html.3f9c2a.part', '/r/news/b.html')}),
    dict(M_BASE, name='/m /p:3: each directory deleted in by the connection that compared it',
         args=M_ARGS + ['/p:3'], out=[OPEN, AUTH, 'Соединений с сервером: 3 из 3', START] + M_OUT +
         [m_summary(0, 0, 2, 5, 2), END], unordered=True, code=0, files=M_KEPT),
    dict(M_BASE, name='/m /r: a DELE lost with its connection is sent again',
         args=M_ARGS + ['/r'], script={'DELE gone.html': ['CLOSE', None]},
         env={'VARDEK_TIMEOUT': '2'},
         out=run(M_OUT[0], LOST, retry_line(1, 3, 2), OPEN, AUTH, *M_OUT[1:],
                 m_summary(0, 0, 2, 5, 2)), code=0, files=M_KEPT),
    dict(name='/n without /d: every file would be sent, every missing directory made',
         args=args('*', '/r', '/s', '/c', '/n'), tree={'a.txt': b'a', 'new/b.txt': b'bb'},
         dirs=('/', '/r'), out=run(CWD('/r'), 'Будет отправлен файл "{L}a.txt"', CWD('/r/new'),
                                  'Будет создан каталог "/r/new"',
                                  'Будет отправлен файл "{L}new{/}b.txt"',
                                  'Будет отправлено файлов: 2 (3 байт)'),
         code=0, cmds=LOGIN_CMDS + ['CWD /r', 'CWD /r/new', 'CWD /r', 'CWD /r/new'], files={}),
]


# Without /d, SIZE asks for a part that an earlier run left under the same temporary name.
STORED = ['CWD /r', 'TYPE I', 'SIZE a.txt.XXXXXX.part', 'PASV', 'STOR a.txt.XXXXXX.part']
RENAMED = ['RNFR a.txt.XXXXXX.part', 'RNTO a.txt']
REPLACING = dict(args=A_ARGS, tree={'a.txt': b'new'}, dirs=('/', '/r', ('/r/a.txt', b'old')))
A_SENT = run(CWD('/r'), SEND('a.txt'))
A_FAILED = run(CWD('/r'), SEND('a.txt'), NOT_SENT('a.txt'), STOP)
A_UNRENAMED = lambda server: run(CWD('/r'), SEND('a.txt'), 'Не удалось переименовать на сервере '
                                 'файл "%s" в "a.txt"' % next(
                                     c[5:] for c in server.commands if c.startswith('STOR ')),
                                 STOP)
CASES += [
    dict(REPLACING, name='/a stores under a temporary name, then renames', out=A_SENT, code=0,
         files={'/r/a.txt': b'new'}, check=with_temporary(STORED + RENAMED)),
    # IIS and proftpd without AllowOverwrite will not rename onto a file.
    dict(REPLACING, name='/a with RNTO refused once: delete, rename again',
         script={'RNTO': ['553 Rename refused', None]}, out=A_SENT, code=0,
         files={'/r/a.txt': b'new'},
         check=with_temporary(STORED + RENAMED + ['DELE a.txt'] + RENAMED)),
    dict(REPLACING, name='/a with RNTO refused always', tree={'a.txt': b'new', 'b.txt': b'b'},
         script={'RNTO': '553 Rename refused'}, out=A_UNRENAMED, code=5, files={},
         check=with_temporary(STORED + RENAMED + ['DELE a.txt'] + RENAMED +
                              ['DELE a.txt.XXXXXX.part'])),
    dict(REPLACING, name='/a with RNFR refused: the old file stays',
         script={'RNFR': '550 Not allowed'}, out=A_UNRENAMED, code=5, files={'/r/a.txt': b'old'},
         check=with_temporary(STORED + ['RNFR a.txt.XXXXXX.part', 'DELE a.txt.XXXXXX.part'])),
    dict(REPLACING, name='/a with a failed transfer and DELE of the temporary refused',
         script={'DONE': '451 Failed', 'DELE': '550 No'}, out=A_FAILED, code=5,
         check=with_temporary(STORED + ['DELE a.txt.XXXXXX.part'])),
    dict(name='/a with /d: the time is set before the rename', args=A_ARGS + ['/d'],
         tree={'a.txt': (b'new', T)}, dirs=('/', '/r', ('/r/a.txt', b'old', T - 10)),
         out=differs_run(CWD('/r'), SEND('a.txt'), sent=1, size=3), code=0,
         files={'/r/a.txt': b'new'}, check=lambda case, result: with_temporary(
             ['FEAT', 'CWD /r', 'TYPE I', 'PASV', 'MLSD', 'MFMT %s a.txt' % stamp(T - 10), 'PASV',
              'STOR a.txt.XXXXXX.part', 'MFMT %s a.txt.XXXXXX.part' % stamp(T)] + RENAMED)(
             case, result) +
         remote_times({'/r/a.txt': T})(case, result)),
]


# Resuming: a file cut short goes on from what the server holds; with "/a" also from the part an
# earlier run left under the same temporary name (the file's name, size and time make it).
def part_name(name, data, mtime):
    key = 2166136261
    for number in (len(data), int(mtime)):
        for i in range(8):
            key = ((key ^ ((number >> (8 * i)) & 0xff)) * 16777619) & 0xffffffff
    for byte in name.encode():
        key = ((key ^ byte) * 16777619) & 0xffffffff
    return '%s.%06x.part' % (name, key & 0xffffff)


def RESUMED(rel, offset):
    return 'Продолжаем отправку файла "{L}%s" с байта %d' % (rel, offset)


def SAVED(offset):
    return 'Продолжено файлов: 1 (не отправлено повторно: %s байт)' % '{:,}'.format(offset).replace(
        ',', ' ')


LONG = bytes(range(256)) * 64  # 16 KiB
PART = '/r/' + part_name('a.bin', LONG, T)


CASES += [
    dict(name='/a goes on from the part an earlier run left', args=A_ARGS,
         tree={'a.bin': (LONG, T)}, dirs=('/', '/r', (PART, LONG[:5000], T)),
         out=run(CWD('/r'), RESUMED('a.bin', 5000), SAVED(5000)), code=0, files={'/r/a.bin': LONG}),
] + [
    # As long: perhaps a whole copy whose rename never came. Either goes again, whole.
    dict(name='/a with a part %s the file sends it whole' % how, args=A_ARGS,
         tree={'a.bin': (LONG, T)}, dirs=('/', '/r', (PART, part, T)),
         out=run(CWD('/r'), SEND('a.bin')), code=0, files={'/r/a.bin': LONG})
    for how, part in (('as long as', LONG[:-1] + b'x'), ('longer than', LONG + b'x'))
] + [
    dict(name='/a /m: the part of the file as it is goes on, and is not deleted after',
         args=A_ARGS + ['/m'], tree={'a.bin': (LONG, T)}, dirs=('/', '/r', (PART, LONG[:5000], T)),
         out=differs_run(CWD('/r'), RESUMED('a.bin', 5000), sent=1, size=len(LONG) - 5000)[:-2] +
         [m_summary(1, len(LONG) - 5000, 0, 0, 0) + ', продолжено файлов: 1 (не отправлено '
          'повторно: 5 000 байт)', END], code=0, files={'/r/a.bin': LONG}),
    dict(name='/a /m: a changed file has a new part; the old one goes', args=A_ARGS + ['/m'],
         tree={'a.bin': (LONG, T + 60)}, dirs=('/', '/r', (PART, LONG[:5000], T)),
         out=differs_run(CWD('/r'), SEND('a.bin'), DELETED(PART), sent=1, size=len(LONG))[:-2] +
         ['Отправлено файлов: 1 (16 384 байт), без изменений: 0, удалено файлов: 1, каталогов: 0',
          END], code=0, files={'/r/a.bin': LONG}),
]


# "/v": SIZE after each file, and the strongest digest the server offers.
V_ARGS = args('*', '/r', '/v')
V_BASE = dict(args=V_ARGS, tree={'a.bin': EVERY_BYTE}, dirs=('/', '/r'))
V_SENT = LOGIN_CMDS + ['FEAT', 'CWD /r', 'TYPE I', 'PASV', 'STOR a.bin', 'SIZE a.bin']
HASHES = feat(FEATURES + ('HASH CRC32;MD5;SHA-1*;SHA-256;',))
def DIFFERS(rel): return 'Файл "{L}%s" на сервере не совпадает с отправленным' % rel


CASES += [
    dict(V_BASE, name='/v: SHA-256 by HASH where FEAT offers it', script={'FEAT': HASHES},
         out=run(CWD('/r'), SEND('a.bin')), code=0,
         cmds=V_SENT + ['OPTS HASH SHA-256', 'HASH a.bin']),
    dict(V_BASE, name='/v: a server that drops the last byte and answers 226',
         script={'DATA': 'DROP_LAST'}, out=run(CWD('/r'), SEND('a.bin'), DIFFERS('a.bin'), STOP),
         code=5, cmds=V_SENT),
    dict(V_BASE, name='/v: a changed byte, the size right: the digest tells',
         script={'DATA': 'FLIP', 'FEAT': feat(FEATURES + ('XCRC',))},
         out=run(CWD('/r'), SEND('a.bin'), DIFFERS('a.bin'), STOP), code=5),
    dict(V_BASE, name='/v /r: a short copy goes again, whole', args=V_ARGS + ['/r'],
         script={'DATA': ['DROP_LAST', None]}, env={'VARDEK_TIMEOUT': '2'},
         out=run(CWD('/r'), SEND('a.bin'), DIFFERS('a.bin'), retry_line(1, 3, 2), OPEN, AUTH,
                 SEND('a.bin')), code=0, files={'/r/a.bin': EVERY_BYTE}),
    dict(V_BASE, name='/v /a: a short copy never replaces the old file', args=V_ARGS + ['/a'],
         dirs=('/', '/r', ('/r/a.bin', b'old')), script={'DATA': 'DROP_LAST'},
         out=run(CWD('/r'), SEND('a.bin'), DIFFERS('a.bin'), STOP), code=5,
         files={'/r/a.bin': b'old'}),
    # Once RNFR and RNTO in one go showed that the server answers such, SIZE goes out with the
    # end of the data.
    dict(V_BASE, name='/v /a: SIZE of the temporary file, then the rename', args=V_ARGS + ['/a'],
         script={'FEAT': HASHES, 'RNTO': ['553 Rename refused', None]}, tree=TWO,
         dirs=('/', '/r', ('/r/a.bin', b'old')), out=run(CWD('/r'), *sent('a.bin', 'b.bin')),
         code=0, files={'/r/a.bin': b'first', '/r/b.bin': b'second'}),
    dict(V_BASE, name='/v on a server without SIZE says so once', tree=TWO,
         script={'SIZE': '502 Not implemented'},
         out=run(CWD('/r'), SEND('a.bin'), 'Сервер "{H}" не сообщает размеры файлов: они не '
                 'проверяются', SEND('b.bin')), code=0),
]


# "/x": what an exclude matches is neither sent, entered, made nor, under "/m", deleted.
X_TREE = {'a.html': (b'a', T), 'b.tmp': (b'b', T), 'cache/c.html': (b'c', T),
          'sub/d.html': (b'd', T), 'sub/e.TMP': (b'e', T)}
X_ARGS = args('*', '/r', '/s', '/c', '/x:*.tmp', '/x:cache')
CASES += [
    dict(name='/x leaves out files and directories', args=X_ARGS, tree=X_TREE, dirs=('/', '/r'),
         out=run(CWD('/r'), SEND('a.html'), CWD('/r/sub'), MADE('/r/sub'), SEND('sub{/}d.html')),
         code=0, files={'/r/a.html': b'a', '/r/sub/d.html': b'd'}),
    dict(name='/x /m: what an exclude matches stays on the server', args=X_ARGS + ['/m'],
         tree=X_TREE, dirs=('/', '/r', ('/r/a.html', b'a', T), ('/r/old.tmp', b'o', T),
                            ('/r/cache/c.html', b'c', T), ('/r/gone.html', b'g', T),
                            ('/r/sub/d.html', b'd', T)),
         out=run(CWD('/r'), DELETED('/r/gone.html'), CWD('/r/sub'),
                 m_summary(0, 0, 2, 1, 0)), code=0,
         files={'/r/a.html': b'a', '/r/old.tmp': b'o', '/r/cache/c.html': b'c',
                '/r/sub/d.html': b'd'}),
    dict(name='/x /n names what it leaves out', args=X_ARGS + ['/n'], tree=X_TREE,
         dirs=('/', '/r', '/r/sub'),
         out=run(CWD('/r'), 'Исключён файл "{L}b.tmp"', 'Исключён каталог "{L}cache"',
                 'Будет отправлен файл "{L}a.html"', CWD('/r/sub'), 'Исключён файл "{L}sub{/}e.TMP"',
                 'Будет отправлен файл "{L}sub{/}d.html"', 'Будет отправлено файлов: 2 (2 байт)'),
         code=0, files={}),
]


# "/l": the messages with their times, the password never; the exit code last. The log is the
# job's lock: a second run while the first holds it ends at once with 6, and says so there too.
LOG = 'vardek-log-%d.log' % os.getpid()  # beside the local tree, which goes with each case
L_ARGS = args('*.txt', '/r', '/l:{L}..{/}' + LOG)
STAMP = r'\d{4}-\d\d-\d\d \d\d:\d\d:\d\d '
COMMAND = r'vardek \S+\*\.txt \S+ %s \*\*\* /r /l:\S+%s' % (re.escape(LOGIN), re.escape(LOG))
BUSY = r'Журнал "[^"]+" занят: предыдущий запуск этого задания еще не закончен'
SECOND = []  # the out and code of the run that found the log held


def told_in_log(out, code):
    return [COMMAND] + [re.escape(m) for m in console_text(out).split('\r\n')[:-1]] + [
        'Код завершения: %d' % code]


def logged(case, result):
    """The log holds each run's command line, messages and exit code, each line after a time;
    the run that found it held, after the first run's first three lines."""
    path = os.path.join(tempfile.gettempdir(), LOG)
    with open(path, encoding='utf-8') as f:
        lines = f.read().split('\n')
    os.remove(path)
    want = [w for r in [result] + result['then'] for w in told_in_log(r['out'], r['code'])]
    problems = []
    if SECOND:
        out, code = SECOND.pop()
        want[3:3] = [COMMAND, BUSY, 'Код завершения: 6']
        if code != 6 or not re.fullmatch(BUSY + '\r\n', console_text(out)):
            problems.append('the second run: %r, exit %s' % (out, code))
    got = [line[20:] if re.match(STAMP, line) else '(no time) ' + line for line in lines[:-1]]
    same = len(got) == len(want) and all(re.fullmatch(w, g) for w, g in zip(want, got))
    return problems + ([] if same and lines[-1] == '' else ['log: %r' % lines])


def second_run(server, root):
    """At the first run's PASS, while it holds the log: the same job again."""
    import harness
    local = harness.PROGRAM.path(root + '/')
    SECOND.append(harness.PROGRAM.run([fill(a, harness.PROGRAM, server.address, local)
                                       for a in L_ARGS])[:2])


L_BASE = dict(args=L_ARGS, tree={'a.txt': b'a'}, dirs=('/', '/r'),
              out=run(CWD('/r'), SEND('a.txt')), code=0, check=logged)
CASES += [
    dict(L_BASE, name='/l appends each run with its times, the password hidden, the exit code',
         then=[dict(args=L_ARGS, out=run(CWD('/r'), SEND('a.txt')), code=0)]),
    dict(L_BASE, name='/l held by a run: the next ends at once with 6, the first undisturbed',
         on={'PASS': second_run}),
    # The system lets go of the lock with the process.
    dict(L_BASE, name='/l of a killed run is free again', script={'PASS': ['SILENT', DEFAULTS['PASS']]},
         interrupt=(lambda server: len(server.commands) == 2, signal.SIGKILL), out=None,
         code=None, then=[dict(args=L_ARGS, out=run(CWD('/r'), SEND('a.txt')), code=0)],
         check=lambda case, result: os.remove(os.path.join(tempfile.gettempdir(), LOG))),
    dict(name='/l on a file that cannot be written', args=args('*.txt', '/r', '/l:{L}no{/}x.log'),
         tree={'a.txt': b'a'}, out=['Не удается вести журнал в файле "{L}no{/}x.log"'], code=1),
]


def keepalive_timer(server, root):
    """The kernel's timer of the client's end of the control connection: (kind, seconds left)."""
    host, port = server.session.conn.getpeername()[:2]
    time.sleep(0.5)  # until the command is acknowledged and the connection idle
    with open('/proc/net/tcp') as table:
        for fields in (line.split() for line in list(table)[1:]):
            if fields[1] == '0100007F:%04X' % port and fields[2].endswith(':%04X' % server.port):
                kind, left = fields[5].split(':')
                server.keepalive = (int(kind, 16), int(left, 16) / os.sysconf('SC_CLK_TCK'))


def keeps_alive(case, result):
    """Timer kind 2 is keepalive (proc(5)); the first probe about a minute after the silence."""
    found = getattr(result['server'], 'keepalive', None)
    return [] if found and found[0] == 2 and 50 <= found[1] <= 60 else ['timer: %r' % (found,)]


# A large file keeps the control connection idle for minutes; routers drop such connections.
CASES.append(dict(name='the control connection has TCP keepalive', args=args('*', '/'),
                  tree={'a.txt': b'a'}, on={'CWD': keepalive_timer},
                  out=run(CWD('/'), SEND('a.txt')), code=0, check=keeps_alive))


# "/p:N": the files shared among N connections, each a whole dialogue of its own.
def connections(working, asked):
    return 'Соединений с сервером: %d из %d' % (working, asked)


P_TREE = {'%s/f%d.txt' % (d, f): (d * f).encode() for d in 'abc' for f in range(1, 5)}
P_DIRS = ('/', '/r')
P_FILES = {'/r/' + name: data for name, data in P_TREE.items()}


def p_out(working, asked, tree, top='/r', made=True):
    """The messages of a /p run over the tree, in one of the orders they may come in."""
    subdirs = sorted({name.split('/')[0] for name in tree if '/' in name})
    messages = [OPEN, AUTH, connections(working, asked), START, CWD(top)]
    for d in subdirs:
        messages += [CWD(top + '/' + d)] + ([MADE(top + '/' + d)] if made else [])
    messages += [SEND(name.replace('/', '{/}')) for name in sorted(tree)]
    return messages + [END]


def shared_dialogues(count, least=2):
    """Each connection logs in and stores a file only after PASV, in the directory it last
    entered; each file is stored once; at least `least` connections stored files."""
    def check(case, result):
        server = result['server']
        problems = [] if len(server.sessions) == count else ['%d sessions' % len(server.sessions)]
        stored = []
        for session in server.sessions:
            if session[:2] != LOGIN_CMDS:
                problems.append('a session began %r' % session[:2])
            cwd = None
            for before, command in zip([''] + session, session):
                if command.startswith('CWD '):
                    cwd = command[4:]
                if command.startswith('STOR '):
                    stored.append('%s/%s' % (cwd, command[5:]))
                    if before != 'PASV' or cwd is None:
                        problems.append('%r after %r in %r' % (command, before, cwd))
        if sorted(stored) != sorted(server.files):
            problems.append('stored %r' % sorted(stored))
        if sum(any(c.startswith('STOR') for c in s) for s in server.sessions) < least:
            problems.append('fewer than %d connections stored files' % least)
        return problems
    return check


def p_failed_out(server):
    """The files that were started before the walk stopped, and the one that failed."""
    started = [c[5:] for c in server.commands if c.startswith('STOR ')]
    return ([OPEN, AUTH, connections(3, 3), START, CWD('/r')] + sent(*started) +
            [NOT_SENT('f01.txt'), STOP, END])


def stopped_early(case, result):
    started = [c for c in result['server'].commands if c.startswith('STOR ')]
    return [] if len(started) < 20 else ['every file was started']


CASES += [
    dict(name='/p:3 shares the files among three connections', args=args('*', '/r', '/s', '/c', '/p:3'),
         tree=P_TREE, dirs=P_DIRS, out=p_out(3, 3, P_TREE), unordered=True, code=0,
         files=P_FILES, check=shared_dialogues(3)),
    dict(name='/p:2 with the second login refused goes on with one',
         args=args('*', '/r', '/s', '/c', '/p:2'), tree=P_TREE, dirs=P_DIRS,
         script={'PASS': ['230 Logged in', '421 Too many connections\nCLOSE', '230 Logged in']},
         out=p_out(1, 2, P_TREE), unordered=True, code=0,
         files=P_FILES),
    # pure-ftpd draws passive ports at random and answers 425 when two connections draw one.
    dict(name='/p:2 asks PASV again after a 425', args=args('*', '/r', '/s', '/c', '/p:2'),
         tree=P_TREE, dirs=P_DIRS,
         script={'PASV': ['425 Unable to identify the local data socket: Address already in use',
                          DEFAULTS['PASV']]},
         out=p_out(2, 2, P_TREE), unordered=True, code=0,
         files=P_FILES),
    # "/d /p": the other connections list and compare the directories that the walk entered.
    dict(name='/d /p:3 compares on the other connections', args=args('*', '/r', '/s', '/d', '/p:3'),
         tree={name: (data, T) for name, data in P_TREE.items()},
         dirs=('/', '/r', '/r/a', '/r/b', '/r/c') + tuple(
             ('/r/' + name, data, T if name != 'b/f2.txt' else T + 60)
             for name, data in P_TREE.items()),
         out=[OPEN, AUTH, connections(3, 3), START, CWD('/r'), CWD('/r/a'), CWD('/r/b'),
              CWD('/r/c'), SEND('b{/}f2.txt'), summary(1, 2, 11), END],
         unordered=True, code=0, check=lambda case, result: (
             [] if [c for c in result['server'].commands if c.startswith('STOR')] == ['STOR f2.txt']
             and sum(c == 'MLSD' for c in result['server'].commands) == 3 else
             ['commands: %r' % result['server'].commands])),
    # A compared directory's files go to every connection, each file's time set with the next
    # command of its connection.
    dict(name='/d /p:3 hands the files of a compared directory to every connection',
         args=args('*', '/r', '/d', '/p:3'), tree={'f%02d.txt' % n: (b'x' * n, T) for n in
                                                    range(1, 13)},
         dirs=('/', '/r'), out=[OPEN, AUTH, connections(3, 3), START, CWD('/r')] +
         [SEND('f%02d.txt' % n) for n in range(1, 13)] + [summary(12, 78, 0), END],
         unordered=True, code=0, check=lambda case, result: shared_dialogues(3)(case, result) +
         remote_times({'/r/f%02d.txt' % n: T for n in range(1, 13)})(case, result)),
    # The walk found /r/b there; the connection that compares it is turned away at the CWD that
    # went in one go with its listing: nothing meant for /r/b lands in another directory.
    dict(name='/d /p:3: a directory that the comparing connection cannot enter',
         args=args('*', '/r', '/s', '/d', '/p:3'),
         tree={name: (data, T + 60) for name, data in P_TREE.items()},
         dirs=('/', '/r', '/r/a', '/r/b', '/r/c') + tuple(
             ('/r/' + name, data, T) for name, data in P_TREE.items()),
         script={'CWD /r/b': ['250 OK', '550 Gone']},
         out=[OPEN, AUTH, connections(3, 3), START, CWD('/r'), CWD('/r/a'), CWD('/r/b'),
              CWD('/r/c'), NOT_FOUND('/r/b'), STOP] + [
             SEND('%s{/}f%d.txt' % (d, f)) for d in 'ac' for f in range(1, 5)] + [
             summary(8, 20, 0), END],
         unordered=True, code=3, files=P_FILES, check=remote_times(
             {'/r/%s/f%d.txt' % (d, f): T if d == 'b' else T + 60
              for d in 'abc' for f in range(1, 5)})),
    # Directories waiting to be compared are listed in one go on one connection, their MDTM along
    # (LIST): a directory turned away there is compared alone, and reported; a file edited to the
    # same size is found by its time.
    dict(name='/d /p:2 compares several directories in one go',
         args=args('*', '/r', '/s', '/d', '/p:2'),
         script={'FEAT': VSFTPD_FEAT, 'CWD /r/d3': ['250 OK', '550 Gone']},
         tree=dict({'d%d/f.txt' % i: (b'x%d' % i, T) for i in range(8)},
                   **{'d5/f.txt': (b'y5', T + 30)}),
         dirs=('/', '/r') + tuple('/r/d%d' % i for i in range(8)) + tuple(
             ('/r/d%d/f.txt' % i, b'x%d' % i, T) for i in range(8)),
         out=[OPEN, AUTH, connections(2, 2), START, CWD('/r')] + [
             CWD('/r/d%d' % i) for i in range(8)] + [NOT_FOUND('/r/d3'), STOP,
                                                     SEND('d5{/}f.txt'), summary(1, 2, 6), END],
         unordered=True, code=3, files=dict(
             {'/r/d%d/f.txt' % i: b'x%d' % i for i in range(8)}, **{'/r/d5/f.txt': b'y5'})),
    # The walk's subdirectories asked for in one go find out the server that drops such: every
    # connection then sends one command at a time, and each directory is compared as ever.
    dict(name='/d /p:3 on a server that drops commands sent in one go',
         args=args('*', '/r', '/s', '/d', '/p:3'), script={'FEAT': VSFTPD_FEAT, 'PIPELINING': 'LOSE'},
         tree={name: (data, T + 60) for name, data in P_TREE.items()},
         dirs=('/', '/r', '/r/a', '/r/b', '/r/c') + tuple(
             ('/r/' + name, data, T) for name, data in P_TREE.items()),
         out=[OPEN, AUTH, connections(3, 3), START, CWD('/r'), CWD('/r/a'), CWD('/r/b'),
              CWD('/r/c')] + [SEND(name.replace('/', '{/}')) for name in P_TREE] + [
             summary(12, 30, 0), END],
         unordered=True, code=0, files=P_FILES,
         check=remote_times({'/r/' + name: T + 60 for name in P_TREE})),
    dict(name='/p:3 with a refused STOR: the walk ends', args=args('*', '/r', '/p:3'),
         tree={'f%02d.txt' % n: b'x' * n for n in range(1, 21)}, dirs=P_DIRS,
         script={'STOR f01.txt': '553 Refused'}, out=p_failed_out, unordered=True, code=5,
         check=stopped_early),
]


# "/p" when connections fail: a connection found dead before a file's data started gives the file
# back and leaves (with "/r": once it cannot be opened again); the walk goes on with another
# connection; the run ends with 0 when every file arrived, and says how many connections are left.
P_MANY = {'%s/f%02d.txt' % (d, f): (d * f).encode() for d in 'abc' for f in range(1, 11)}
P_MANY_FILES = {'/r/' + name: data for name, data in P_MANY.items()}
GREETS_THREE = {'greeting': ['220 Ready'] * 3 + ['421 Too many connections\nCLOSE']}
SECOND_TYPE_CLOSES = {'TYPE': ['200 Type set to I', 'CLOSE', '200 Type set to I']}
P_QUICK = {'VARDEK_TIMEOUT': '2'}


def console_text(out):
    return out.decode('utf-8') if b'\xd0' in out else out.decode('cp866', 'replace')


def p_lost(*more, twice=1):
    """The messages of p_out, a connection lost and those of `more`, in any order, with `twice`
    files announced twice: on the connection that was lost, and on the one that sent it."""
    def check(case, result):
        got = console_text(result['out']).split('\r\n')[:-1]
        sending = SEND('')[:SEND('').index('{L}')]
        host = result['server'].address
        want = sorted(m.replace('{H}', host) for m in
                      p_out(3, 3, P_MANY) + [connections(2, 3)] + list(more)
                      if not m.startswith(sending))
        others = sorted(line for line in got if not line.startswith(sending))
        sends = sum(line.startswith(sending) for line in got)
        return ([] if others == want else ['messages: %r' % others]) + (
            [] if sends == len(P_MANY) + twice else ['%d files announced' % sends])
    return check


def all_dropped(server, root):
    """At the fifth STOR every connection is dropped at once, and no new one is greeted."""
    with server.lock:
        server.stors = getattr(server, 'stors', 0) + 1
        if server.stors != 5:
            return
        server.script['greeting'] = 'CLOSE'
        victims = list(server.accepted)
    for session in victims:
        try:
            session.conn.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def one_story(case, result):
    """No file arrived in part, and every file that was announced and is not on the server is
    named as not sent (the exit code, 5 whoever noticed first, is the case's)."""
    text = console_text(result['out'])
    named = lambda start: {re.split(r'[/\\]', line)[-1].rstrip('"')
                           for line in text.split('\r\n') if line.startswith(start)}
    server = result['server']
    problems = ['%s arrived in part' % p for p, data in server.files.items()
                if P_MANY_FILES.get(p) != data]
    arrived = {p.rsplit('/', 1)[1] for p in server.files}
    silent = named('Отправляем на сервер файл') - arrived - named('Не удалось отправить файл')
    return problems + (['announced, not sent, not named: %s' % sorted(silent)] if silent else [])


INTERRUPTED_TREE = {'f%d.bin' % n: bytes([n]) * (1 << 20) for n in range(8)}


def left_tidy(case, result):
    """No temporary file left, every file on the server whole, the last message whole and the
    interruption's, soon after the signal."""
    server = result['server']
    problems = ['left: %s' % p for p in server.files if p.endswith('.part')]
    problems += ['%s in part' % p for p, data in server.files.items()
                 if not p.endswith('.part') and INTERRUPTED_TREE.get(p[3:]) != data]
    if not console_text(result['out']).endswith('Пересылка файлов прервана\r\n'):
        problems.append('ends %r' % result['out'][-80:])
    return problems + ([] if result['seconds'] < 12 else ['took %.1f s' % result['seconds']])


CASES += [
    dict(name='/p:3: a connection found dead before a file gives the file back',
         args=args('*', '/r', '/s', '/c', '/p:3'), tree=P_MANY, dirs=P_DIRS,
         script=SECOND_TYPE_CLOSES, out=None, code=0, files=P_MANY_FILES,
         check=lambda case, result: p_lost()(case, result) + shared_dialogues(3)(case, result)),
    dict(name='/p:3 /r:1: a dead connection that cannot log in again leaves the pool',
         args=args('*', '/r', '/s', '/c', '/p:3', '/r:1'), tree=P_MANY, dirs=P_DIRS,
         script=dict(SECOND_TYPE_CLOSES, **GREETS_THREE), env=P_QUICK,
         out=None, code=0, files=P_MANY_FILES, check=p_lost(LOST, retry_line(1, 1, 2), OPEN)),
    dict(name="/p:3 /r:1: the walk's connection cut, new logins refused: another carries on",
         args=args('*', '/r', '/s', '/c', '/p:3', '/r:1'), tree=P_MANY, dirs=P_DIRS,
         script=dict({'MKD /r/b': ['CLOSE', None]}, **GREETS_THREE), env=P_QUICK,
         out=None, code=0, files=P_MANY_FILES,
         check=p_lost(CWD('/r/b'), LOST, retry_line(1, 1, 2), OPEN, twice=0)),
    dict(name='/p:3: extra connections that are never greeted are given up',
         args=args('*', '/r', '/s', '/c', '/p:3'), tree=P_TREE, dirs=P_DIRS,
         script={'greeting': ['220 Ready', 'SILENT']}, env={'VARDEK_TIMEOUT': '3'},
         out=p_out(1, 3, P_TREE), unordered=True, code=0, files=P_FILES,
         check=lambda case, result: [] if result['seconds'] < 6 else [
             'took %.1f s' % result['seconds']]),
    # A process limit, or no memory for a thread's stack: the run goes on with what it has.
    dict(name='/p:3 where no thread can start', args=args('*', '/r', '/s', '/c', '/p:3'),
         tree=P_TREE, dirs=P_DIRS, no_threads=True, only='native', out=p_out(1, 3, P_TREE),
         unordered=True, code=0, files=P_FILES),
    # Ctrl+C or a scheduler stopping the task: the files in flight end with a reset, their
    # temporary files are deleted, and the run says it was interrupted, with exit code 7.
    dict(name='/p:4 /a interrupted in the middle', args=args('*', '/r', '/p:4', '/a'),
         tree=INTERRUPTED_TREE, dirs=P_DIRS, script={'DATA': 'CRAWL'},
         interrupt=lambda server: sum(c.startswith('STOR') for c in server.commands) >= 4,
         out=None, code=7, check=left_tidy),
] + [
    dict(name='/p:3: every connection dropped at once, one exit code (%d)' % n,
         args=args('*', '/r', '/s', '/c', '/p:3'), tree=P_MANY, dirs=P_DIRS, on={'STOR': all_dropped},
         out=None, code=5, check=one_story) for n in range(1, 11)
]


# "/u": names in UTF-8, announced with OPTS UTF8 ON where FEAT lists UTF8, so that the Windows
# build sends names that its ANSI code page cannot hold too. Under wine the run is a Windows of
# another language, whose pipe gets UTF-8 and so the names as they are.
U_TREE = {'новости/отчёт.html': b'news', '日本.html': b'nihon', 'café.html': b'accent'}
U_FILES = {'/r/' + name: data for name, data in U_TREE.items()}
CASES += [
    dict(name='/u sends names in UTF-8', args=args('*', '/r', '/s', '/c', '/u'),
         tree=U_TREE, dirs=('/', '/r'), names='utf-8', env={'LC_ALL': 'en_US.UTF-8'},
         out=run(CWD('/r'), SEND('café.html'), SEND('日本.html'), CWD('/r/новости'),
                 MADE('/r/новости'), SEND('новости{/}отчёт.html')), code=0,
         cmds=LOGIN_CMDS + ['FEAT', 'OPTS UTF8 ON', 'CWD /r'] + xfer('café.html', '日本.html') +
         ['CWD /r/новости', 'MKD /r', 'CWD /r', 'MKD /r/новости', 'CWD /r/новости'] +
         xfer('отчёт.html'), files=U_FILES),
    dict(name='/u on a server without UTF8 in FEAT', args=args('*.html', '/r', '/u'),
         tree={'отчёт.html': b'r'}, dirs=('/', '/r'), names='utf-8',
         script={'FEAT': feat(('MDTM', 'SIZE'))}, env={'LC_ALL': 'en_US.UTF-8'},
         out=run(CWD('/r'), SEND('отчёт.html')), code=0,
         cmds=LOGIN_CMDS + ['FEAT', 'CWD /r'] + xfer('отчёт.html'),
         files={'/r/отчёт.html': b'r'}),
]


# Progress on a terminal: a line under a large file's message while it travels, erased when it
# ends, so that the screen holds the lines a pipe gets. Never in a pipe, nor with
# VARDEK_PROGRESS=0.
PROGRESS_TREE = {'big.bin': BIG, 'small.txt': b'x'}


def progress_shown(expected):
    def check(case, result):
        raw = result.get('raw', result['out'])
        shown = b'%' in raw and 'МиБ'.encode() in raw
        problems = [] if shown == expected else ['progress %s: %r' % (
            'missing' if expected else 'shown', raw[-300:])]
        if result.get('raw') is None and re.search(rb'\r(?!\n)', raw):
            problems.append('a CR without LF in a pipe')
        return problems
    return check


CASES += [
    dict(name='progress on a terminal' + label, args=args('*', '/'), tree=PROGRESS_TREE,
         script={'DATA': 'CRAWL'}, env=env, out=run(CWD('/'), *sent('big.bin', 'small.txt')),
         code=0, files={'/big.bin': BIG, '/small.txt': b'x'}, check=progress_shown(shown),
         **live)
    for label, env, live, shown in [
        ('', {}, dict(live='tty'), True),
        (' turned off', {'VARDEK_PROGRESS': '0'}, dict(live='tty'), False),
        (': none in a pipe', {}, {}, False),
    ]
]
