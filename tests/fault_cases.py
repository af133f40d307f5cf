"""End-to-end cases of faults and hostile input: a server that closes or goes silent at each step,
replies no client should have to read, local files that change under the run, and a PASV reply
that names another host. Every run must end in bounded time and never claim a file it did not
deliver whole."""
import os
import shutil
import socket

from ftp_script import DEFAULTS
from login_cases import (AUTH, CANNOT_CONNECT, END, LOGIN_REFUSED, LOST, NO_CONNECTION, OPEN,
                         REFUSED_NOW, START, STOP, TLS_FAILED, retry_line)
from upload_cases import (CWD, MADE, NO_DATA, NOT_FOUND, NOT_SENT, NOW, PASSIVE_REFUSED, RESUMED,
                          SAVED, SEND, UNREADABLE, YESTERDAY, args, run)

TIMEOUT = 3
# Starting the program (wine takes seconds) and leaving it, on a busy machine; a second wait for
# a silent server would not fit.
MARGIN = 3
SLOW = {'VARDEK_TIMEOUT': str(TIMEOUT)}

A = os.urandom(256 << 10)
BIG = os.urandom(32 << 20)  # more than loopback's socket buffers hold
TREE = {'a.bin': A, 'd1/b.bin': b'b' * 1000, 'd2/c.bin': b'c'}
BIG_TREE = dict(TREE, **{'a.bin': BIG})
DIRS = ('/', '/r', '/r/d1')
ARGS = args('*', '/r', '/s', '/c')

A_SENT = [CWD('/r'), SEND('a.bin')]
B_SENT = A_SENT + [CWD('/r/d1'), SEND('d1{/}b.bin')]
ALL_SENT = B_SENT + [CWD('/r/d2'), MADE('/r/d2'), SEND('d2{/}c.bin')]


def honest(case, result):
    """Exit code 0 only when every file arrived whole, and within the time-out and a margin."""
    files = result['server'].files
    whole = case.get('whole') or {'/r/' + rel: data for rel, data in case['tree'].items()}
    problems = ['%s arrived with %d of %d bytes' % (path, len(files[path]), len(data))
                for path, data in whole.items()
                if path in files and files[path] != data and result['code'] == 0]
    if result['code'] == 0 and any(path not in files for path in whole):
        problems.append('exit code 0, but not every file arrived')
    limit = TIMEOUT * ('VARDEK_TIMEOUT' in case.get('env', {})) + MARGIN
    if result['seconds'] > limit:
        problems.append('took %.1f s, more than %d' % (result['seconds'], limit))
    return problems


# (step, its script for a server that closes or goes silent there, the messages, exit code)
STEPS = [
    ('greeting', lambda how: {'greeting': how}, [OPEN, NO_CONNECTION, STOP], 2),
    ('USER', lambda how: {'USER': how}, LOGIN_REFUSED, 2),
    ('PASS', lambda how: {'PASS': how}, LOGIN_REFUSED, 2),
    ('AUTH TLS', lambda how: {'AUTH': how}, [OPEN, TLS_FAILED, STOP], 2),
    ('the TLS handshake', lambda how: {'AUTH': '234 Proceed\n' + how}, [OPEN, TLS_FAILED, STOP], 2),
    ('CWD', lambda how: {'CWD /r/d1': how}, run(*A_SENT, CWD('/r/d1'), NOT_FOUND('/r/d1'), STOP,
                                               CWD('/r/d2'), NOT_FOUND('/r/d2'), STOP), 3),
    ('MKD', lambda how: {'MKD /r/d2': how}, run(*B_SENT, CWD('/r/d2'), NOT_FOUND('/r/d2'), STOP),
     3),
    ('TYPE I', lambda how: {'TYPE': ['200 Ok', how]},
     run(*A_SENT, CWD('/r/d1'), SEND('d1{/}b.bin'), PASSIVE_REFUSED, STOP), 4),
    ('PASV', lambda how: {'PASV': how}, run(CWD('/r'), SEND('a.bin'), PASSIVE_REFUSED, STOP), 4),
    ('STOR', lambda how: {'STOR b.bin': how}, run(*B_SENT, NOT_SENT('d1{/}b.bin'), STOP), 5),
    ('the completion reply', lambda how: {'DONE': ['226 Ok', how]},
     run(*B_SENT, NOT_SENT('d1{/}b.bin'), STOP), 5),
]

# A peer that trickles a byte at a time must not hold a step past one time-out: neither the wait
# for the server's close after a file nor the TLS handshake, whose bytes here begin a record of
# 16 KiB that never comes whole.
TRICKLES = [
    ('after the file', {'DATA': 'TRICKLE'}, [], run(*A_SENT, NOT_SENT('a.bin'), STOP), 5),
    ('in the TLS handshake', {'AUTH': '234 Proceed\nTRICKLE \x16\x03\x03\x40\x00' + 'x' * 100},
     ['/e'], [OPEN, TLS_FAILED, STOP], 2),
]

CASES = [
    dict(name='a trickling peer ' + label, args=ARGS + extra, tree=TREE, dirs=DIRS, script=script,
         env=SLOW, out=out, code=code, check=honest)
    for label, script, extra, out, code in TRICKLES
] + [
    dict(name='%s: %s' % (how.lower(), step), args=ARGS + (['/e'] if 'TLS' in step else []),
         tree=TREE, dirs=DIRS, script=script(how), env=env, out=out, code=code, check=honest)
    for step, script, out, code in STEPS for how, env in (('CLOSE', {}), ('SILENT', SLOW))
] + [
    dict(name='%s in the middle of the data' % how.lower(), args=ARGS, tree=tree, dirs=DIRS,
         script={'DATA': '%s 100000' % how}, env=env,
         out=run(CWD('/r'), SEND('a.bin'), NOT_SENT('a.bin'), STOP), code=5, check=honest)
    for how, tree, env in (('RESET', BIG_TREE, {}), ('CLOSE', TREE, {}), ('SILENT', BIG_TREE, SLOW))
]


def pasv(fields):
    return {'PASV': '227 Entering Passive Mode (%s)' % fields}


HIGH = ''.join(chr(0xdc00 + b) for b in range(0x80, 0x100))  # the bytes themselves
NUL_HIGH = 'a\0b' + HIGH
LONG = 'x' * (1 << 20)
CASES += [
    dict(name='hostile: ' + name, args=ARGS, tree=TREE, dirs=DIRS, script=script,
         env=SLOW, out=out, code=code, check=honest)
    for name, script, out, code in [
        ('1 MB greeting without a line end', {'greeting': 'RAW ' + LONG}, CANNOT_CONNECT, 2),
        ('an endless greeting line', {'greeting': 'STREAM x'}, CANNOT_CONNECT, 2),
        ('an endless multi-line greeting', {'greeting': 'FLOOD 220-more'}, CANNOT_CONNECT, 2),
        ('an endless multi-line completion reply', {'DONE': 'FLOOD 226-more'},
         run(*A_SENT, NOT_SENT('a.bin'), STOP), 5),
        ('1 MB lines in replies', {'greeting': '220 ' + LONG, 'PASS': '230-%s\n230 Ok' % LONG},
         run(*ALL_SENT), 0),
        ('bytes 0x80 to 0xFF in replies, NUL in a continuation line',
         {'greeting': '220-%s\n220 %s' % (NUL_HIGH, HIGH), 'PASS': '230 ' + HIGH,
          'DONE': '226 ' + HIGH}, run(*ALL_SENT), 0),
        ('NUL in a one-line reply', {'greeting': '220 Ready\0tail'}, run(*ALL_SENT), 0),
        ('endless 120 replies before the greeting', {'greeting': 'FLOOD 120 Wait'},
         CANNOT_CONNECT, 2),
        ('PASV with a thousand fields', pasv(','.join(['127'] * 1000)),
         run(*A_SENT, NO_DATA, STOP), 5),
        ('PASV with a port field of 2**32 + 1', pasv('127,0,0,1,4294967297,{p2}'),
         run(*A_SENT, NO_DATA, STOP), 5),
        ('PASV with a port field beyond 64 bits', pasv('127,0,0,1,{p1},0x10000000000000000'),
         run(*A_SENT, NO_DATA, STOP), 5),
        # The data connection goes to the server's own address, whatever the reply names.
        ('PASV with an address field beyond 32 bits', pasv('4294967423,0,0,1,{p1},{p2}'),
         run(*ALL_SENT), 0),
    ]
]


def once(action):
    """A hook that acts on the local tree the first time only."""
    done = []
    return lambda server, root: done or done.append(action(root))


def truncate(size):
    return lambda root: os.truncate(os.path.join(root, 'a.bin'), size)


def grow(root):
    with open(os.path.join(root, 'a.bin'), 'ab') as f:
        f.write(b'+' * 1000)


def whole(a):
    return {'/r/a.bin': a, '/r/d1/b.bin': TREE['d1/b.bin'], '/r/d2/c.bin': b'c'}


CASES += [
    dict(name='local: ' + name, args=ARGS, tree=tree, dirs=DIRS, on=on, out=out, code=code,
         whole=arrive, check=honest)
    for name, tree, on, out, code, arrive in [
        ('a file deleted after the listing', TREE,
         {'TYPE I': once(lambda root: os.remove(os.path.join(root, 'a.bin')))},
         run(*A_SENT, NOT_SENT('a.bin'), STOP), 5, None),
        ('a file truncated after the listing', TREE, {'TYPE I': once(truncate(1000))},
         run(*ALL_SENT), 0, whole(A[:1000])),
        ('a file grown after the listing', TREE, {'TYPE I': once(grow)}, run(*ALL_SENT), 0,
         whole(A + b'+' * 1000)),
        ('a file truncated while it is sent', BIG_TREE, {'DATA': once(truncate(1000))},
         run(*A_SENT, NOT_SENT('a.bin'), STOP), 5, None),
        ('a directory removed during the walk', TREE,
         {'CWD /r/d1': once(lambda root: shutil.rmtree(os.path.join(root, 'd2')))},
         run(*B_SENT, UNREADABLE('d2{/}'), STOP), 5, None),
    ]
]


def decoy(server, root):
    """Listens on 127.0.0.2 at the port of the passive listener."""
    server.decoy = socket.create_server(('127.0.0.2', server.passive.getsockname()[1]))
    server.decoy.setblocking(False)


def decoy_untouched(case, result):
    decoy = getattr(result['server'], 'decoy', None)
    if decoy is None:
        return ['no PASV came']
    with decoy:
        try:
            decoy.accept()
            return ['the client connected to the address in the PASV reply']
        except BlockingIOError:
            return honest(case, result)


CASES.append(dict(name='safety: PASV naming another address', args=ARGS, tree=TREE, dirs=DIRS,
                  script=pasv('127,0,0,2,{p1},{p2}'), on={'PASV': decoy}, out=run(*ALL_SENT),
                  code=0, check=decoy_untouched))

# The walk over 20,000 files, of which one in a hundred, written today, is sent.
MANY = {'d%02d/f%03d' % (d, f): (b'%d' % d, NOW if f == 0 else YESTERDAY)
        for d in range(100) for f in range(200)}
CASES.append(dict(
    name='20,000 files with /s /t', args=args('*', '/r', '/s', '/t'), tree=MANY,
    dirs=['/', '/r'] + ['/r/d%02d' % d for d in range(100)],
    out=run(CWD('/r'), *[m for d in range(100) for m in (CWD('/r/d%02d' % d),
                                                          SEND('d%02d{/}f000' % d))]),
    code=0, files={'/r/d%02d/f000' % d: b'%d' % d for d in range(100)}, only='native'))


# "/r": a fault once at each step of the run is overcome on a new connection, which logs in again
# and goes on where the run was: every file arrives whole and the exit code is 0.
RETRY_TIMEOUT = 2
QUICK_RETRY = {'VARDEK_TIMEOUT': str(RETRY_TIMEOUT)}
WHOLE_RUN = [OPEN, AUTH, START] + ALL_SENT + [END]


def once(key, how):
    """The fault the first time only; afterwards the server's own reply."""
    return {key: [how, DEFAULTS.get(key)]}


def retried(at, redo, why=LOST, resumed=None):
    """The run's messages with a failure after message `at` and the run going on from message
    `redo` on a new connection (0: the connection itself again); a file whose data had started
    goes on from `resumed` (its name and the bytes the server holds)."""
    again = [why, retry_line(1, 3, RETRY_TIMEOUT)] + ([] if redo == 0 else [OPEN, AUTH])
    rest = WHOLE_RUN[redo:]
    if resumed:
        rest = [RESUMED(*resumed)] + rest[1:-1] + [SAVED(resumed[1]), END]
    return WHOLE_RUN[:at] + again + rest


# (step, its script, after which message it fails, from which message the run goes on)
RETRY_STEPS = [
    ('greeting', lambda how: once('greeting', how), 1, 0),
    ('USER', lambda how: once('USER', how), 2, 0),
    ('PASS', lambda how: once('PASS', how), 2, 0),
    ('CWD', lambda how: once('CWD /r/d1', how), 6, 5),
    ('MKD', lambda how: once('MKD /r/d2', how), 8, 7),
    ('TYPE I', lambda how: {'TYPE': ['200 Ok', how, '200 Ok']}, 7, 6),
    ('PASV', lambda how: once('PASV', how), 5, 4),
    ('STOR', lambda how: once('STOR b.bin', how), 7, 6),
    ('the completion reply', lambda how: {'DONE': ['226 Ok', how, '226 Ok']}, 7, 6),
]


def retry_honest(case, result):
    """honest(), with time for a wait and a silent server's time-out on top."""
    problems = honest(dict(case, env={}), result)
    return [p for p in problems if not p.startswith('took')] + (
        [] if result['seconds'] < 2 * RETRY_TIMEOUT + MARGIN + 1
        else ['took %.1f s' % result['seconds']])


CASES += [
    dict(name='/r: %s once at %s' % (how.lower(), step), args=ARGS + ['/r'], tree=TREE, dirs=DIRS,
         script=script(how), env=QUICK_RETRY, code=0, check=retry_honest,
         # The completion reply lost: the server holds the whole file, and nothing goes again.
         out=retried(at, redo, resumed=('d1{/}b.bin', 1000) if step == 'the completion reply'
                     else None))
    for step, script, at, redo in RETRY_STEPS for how in ('CLOSE', 'SILENT')
] + [
    dict(name='/r: %s once in the middle of the data' % how.lower(), args=ARGS + ['/r'],
         tree=tree, dirs=DIRS, script={'DATA': ['%s 100000' % how, None]}, env=QUICK_RETRY,
         out=retried(5, 4, resumed=('a.bin', 100000)), code=0, check=retry_honest)
    for how, tree in (('RESET', BIG_TREE), ('CLOSE', TREE), ('SILENT', BIG_TREE))
] + [
    dict(name='/r: 421 at the greeting, then a server that greets', args=ARGS + ['/r'], tree=TREE,
         dirs=DIRS, script=once('greeting', '421 Too many users\nCLOSE'), env=QUICK_RETRY,
         out=retried(1, 0, REFUSED_NOW), code=0, check=retry_honest),
    dict(name='/r: 450 to STOR, then the file is taken', args=ARGS + ['/r'], tree=TREE, dirs=DIRS,
         script=once('STOR b.bin', '450 Busy, try later'), env=QUICK_RETRY,
         out=retried(7, 6, REFUSED_NOW), code=0, check=retry_honest),
]


# Resuming where REST before STOR is refused: APPE goes on (where APPE is refused too, as by
# proftpd without AllowStoreRestart, interop_cases has the file go again whole).
A_CUT = [OPEN, AUTH, START, CWD('/r'), SEND('a.bin'), LOST, retry_line(1, 3, RETRY_TIMEOUT), OPEN,
         AUTH]
CASES += [
    dict(name='/r: REST refused, APPE goes on', args=ARGS + ['/r'], tree={'a.bin': BIG},
         dirs=DIRS, env=QUICK_RETRY,
         script={'DATA': ['RESET 100000', None], 'REST': '502 Not implemented'},
         out=A_CUT + [RESUMED('a.bin', 100000), SAVED(100000), END],
         code=0, check=lambda case, result: retry_honest(case, result) + (
             [] if 'APPE a.bin' in result['server'].commands else ['no APPE'])),
]


def tries(count):
    """The server saw exactly the first connection and `count` more."""
    def check(case, result):
        connections = result['server'].connections
        return [] if connections == count + 1 else ['%d connections' % connections]
    return check


def retried_always(at, redo, count, failure):
    """The same fault at every try: the last one reported as without /r."""
    messages = WHOLE_RUN[:at]
    for retry in range(1, count + 1):
        messages += [LOST, retry_line(retry, count, RETRY_TIMEOUT)]
        messages += [] if redo == 0 else [OPEN, AUTH]
        messages += WHOLE_RUN[redo:at]
    return messages + failure


# The same fault every time ends after exactly the count of tries, with the stage's exit code; a
# refusal that another try would get again is not tried again.
CASES += [
    dict(name='/r:2: the server closes at every STOR of b.bin', args=ARGS + ['/r:2'], tree=TREE,
         dirs=DIRS, script={'STOR b.bin': 'CLOSE'}, env=QUICK_RETRY, code=5,
         out=retried_always(7, 6, 2, [NOT_SENT('d1{/}b.bin'), STOP, END]), check=tries(2)),
    dict(name='/r:1: the server closes at every greeting', args=ARGS + ['/r:1'], tree=TREE,
         dirs=DIRS, script={'greeting': 'CLOSE'}, env=QUICK_RETRY, code=2,
         out=retried_always(1, 0, 1, [NO_CONNECTION, STOP]), check=tries(1)),
    dict(name='/r: a 530 is not tried again', args=ARGS + ['/r'], tree=TREE, dirs=DIRS,
         script={'PASS': '530 Login incorrect'}, env=QUICK_RETRY, out=LOGIN_REFUSED, code=2,
         check=tries(0)),
    dict(name='/r: a 550 to STOR is not tried again', args=ARGS + ['/r'], tree=TREE, dirs=DIRS,
         script={'STOR b.bin': '550 Permission denied'}, env=QUICK_RETRY,
         out=run(*B_SENT, NOT_SENT('d1{/}b.bin'), STOP), code=5, check=tries(0)),
    dict(name='/r:0 tries nothing again', args=ARGS + ['/r:0'], tree=TREE, dirs=DIRS,
         script={'STOR b.bin': 'CLOSE'}, env=QUICK_RETRY,
         out=run(*B_SENT, NOT_SENT('d1{/}b.bin'), STOP), code=5, check=tries(0)),
]
