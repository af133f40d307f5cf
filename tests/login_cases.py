"""End-to-end cases of the command line, the connection and the login."""
from harness import LOGIN, PASSWORD

USAGE = ('\r\n'
         'Бесплатная утилита для помещения файлов на ftp в пассивном режиме\r\n'
         'vardek 1.0, (c) 2026 разработчики vardek\r\n'
         '\r\n'
         'Командная строка: vardek file server login password path\r\n'
         '\r\n'
         'В конце строки можно добавить параметры:\r\n'
         '"/s" - обрабатывать подкаталоги\r\n'
         '"/c" - создавать на сервере отсутствующие подкаталоги\r\n'
         '"/t" - копировать на сервер только сегодняшние файлы\r\n'
         '\r\n'
         'Пример: vardek c:\\work\\*.html ftp.example.com root p3#W7x /pub/html/site /s /t')
OPEN = 'Открываем соединение с узлом "{H}"'
NO_CONNECTION = 'Не удалось установить соединение с "{H}"'
STOP = 'Продолжение работы невозможно'
AUTH = 'Производим авторизацию'
NO_LOGIN = 'Авторизоваться на сервере "{H}" не удалось'
START, END = 'Начинаем пересылку файлов', 'Пересылка файлов закончена'
NO_TLS = 'Сервер "{H}" не поддерживает шифрование'
TLS_FAILED = 'Не удалось установить шифрованное соединение с "{H}"'
CERT_REFUSED = 'Сертификат сервера "{H}" не принят'
NO_PASSWORD = 'Пароль "-" берется из переменной окружения VARDEK_PASSWORD, но она не задана'
BAD_PIN = 'Переменная окружения VARDEK_TLS_PIN не содержит отпечаток SHA-256 сертификата'
PIN_WITHOUT_E = 'Переменная окружения VARDEK_TLS_PIN задана, но ключ "/e" не указан'
E_IN_PLACE = 'Ключ "/e" указан вместо одного из пяти параметров'
E_AFTER_EMPTY = 'Ключ "/e" указан после пустого параметра'
BAD_TIMEOUT = 'Переменная окружения VARDEK_TIMEOUT не содержит целое число секунд'
LOST = 'Связь с сервером "{H}" прервана'
REFUSED_NOW = 'Сервер "{H}" временно отказал'


def retry_line(retry, count, wait):
    return 'Повторная попытка %d из %d через %d с' % (retry, count, wait)


def bad_host(host):
    return 'Неверно записан адрес сервера "%s"' % host

ARGS = ['{L}*.html', '{H}', LOGIN, PASSWORD, '/site']
LOGIN_CMDS = ['USER ' + LOGIN, 'PASS ' + PASSWORD]
LOGGED_IN = [OPEN, AUTH, START, END]
CANNOT_CONNECT = [OPEN, NO_CONNECTION, STOP]
LOGIN_REFUSED = [OPEN, AUTH, NO_LOGIN, STOP]


def no_connection(case, result):
    return ['connected'] if result['server'].connections else []


def quick(limit):
    """The run must end well before the 900-second waits could have elapsed."""
    return lambda case, r: ([] if r['seconds'] < limit
                            else ['took %.1f s, more than %d' % (r['seconds'], limit)])


CASES = [
    # Command line.
    dict(name='usage without parameters', args=[], out=[USAGE], code=1),
    dict(name='usage with four parameters', args=ARGS[:4], out=[USAGE], code=1),
    dict(name='an empty password ends the count', args=ARGS[:3] + ['', '/site'], out=[USAGE],
         code=1, only='native'),
    dict(name='a line break in a parameter is no command line', args=ARGS[:2] + [
        LOGIN + '\r\nDELE /site/index.html', PASSWORD, '/site'], out=[USAGE], code=1,
        only='native', check=no_connection),
    dict(name='a quoted blank is a parameter', args=['{L}*', '{H}', ' ', PASSWORD, '/'],
         out=LOGGED_IN, code=0, cmds=['USER  ', 'PASS ' + PASSWORD], only='native'),
    dict(name='raw: a quoted blank is a parameter', raw='{L}* {H} " " %s /' % PASSWORD,
         out=LOGGED_IN, code=0, cmds=['USER  ', 'PASS ' + PASSWORD], only='wine'),
    dict(name='raw: an empty password moves the later parameters up',
         raw='{L}* {H} %s "" /x /s' % LOGIN, out=LOGGED_IN, code=0,
         cmds=['USER ' + LOGIN, 'PASS /x'], only='wine'),
    dict(name='raw: quoted runs join, blanks inside them stay',
         raw='{L}* {H} u"s r"x p""w "/a b"', out=LOGGED_IN, code=0,
         cmds=['USER us rx', 'PASS pw'], only='wine'),

    # Connection.
    dict(name='connection refused', args=ARGS, refused=True, out=CANNOT_CONNECT, code=2),
    dict(name='a host name', args=['{L}*', 'localhost:{P}', LOGIN, PASSWORD, '/'],
         out=[m.replace('{H}', 'localhost:{P}') for m in LOGGED_IN], code=0, cmds=LOGIN_CMDS),
    dict(name='a port that is no number is part of the host name',
         args=['{L}*', '127.0.0.1:{P}x', LOGIN, PASSWORD, '/'],
         out=[m.replace('{H}', '127.0.0.1:{P}x') for m in CANNOT_CONNECT], code=2, cmds=[]),
    dict(name='a connect that is never answered', args=ARGS, unanswered=True,
         env={'VARDEK_TIMEOUT': '3'}, out=CANNOT_CONNECT, code=2, check=quick(9)),
    dict(name='an IPv6 address in brackets, with a port', args=ARGS, host='::1', out=LOGGED_IN,
         code=0, cmds=LOGIN_CMDS),
    dict(name='closed before the greeting', args=ARGS, script={'greeting': 'CLOSE'},
         out=CANNOT_CONNECT, code=2, cmds=[], check=quick(30)),
    dict(name='closed during the greeting', args=ARGS, script={'greeting': '220-Hello\nCLOSE'},
         out=CANNOT_CONNECT, code=2, cmds=[], check=quick(30)),
    dict(name='421 and close', args=ARGS, script={'greeting': '421 Too many users\nCLOSE'},
         out=CANNOT_CONNECT, code=2, cmds=[], check=quick(30)),
    dict(name='silent server', args=ARGS, script={'greeting': 'SILENT'}, env={'VARDEK_TIMEOUT': '2'},
         out=CANNOT_CONNECT, code=2, cmds=[], check=quick(30)),
    dict(name='220 alone does not end the greeting', args=ARGS,
         script={'greeting': '220\n220 Ready'}, out=LOGGED_IN, code=0, cmds=LOGIN_CMDS),
    dict(name='two-line greeting', args=ARGS, script={'greeting': '220-Welcome\n220 Ready'},
         out=LOGGED_IN, code=0, cmds=LOGIN_CMDS),
    dict(name='six-line greeting with a 220 line inside', args=ARGS, script={
        'greeting': '220-a\n220-b\nlet 220 x\n220-c\n220-d\n220 e'},
         out=LOGGED_IN, code=0, cmds=LOGIN_CMDS),
    dict(name='120 before the greeting', args=ARGS, script={'greeting': '120 Wait\n220 Ready'},
         out=LOGGED_IN, code=0, cmds=LOGIN_CMDS),

    # Login.
    dict(name='login refused with 530', args=ARGS, script={'PASS': '530 Login incorrect'},
         out=LOGIN_REFUSED, code=2, cmds=LOGIN_CMDS),
    dict(name='503 after a 230 to USER', args=ARGS,
         script={'USER': '230 No password needed', 'PASS': '503 Already logged in'},
         out=LOGIN_REFUSED, code=2, cmds=LOGIN_CMDS),
    dict(name='multi-line 331 and 230', args=ARGS, script={
        'USER': '331-Password\n331-required\n331 for ' + LOGIN,
        'PASS': '230-Welcome\n230-\n230 Logged in'}, out=LOGGED_IN, code=0, cmds=LOGIN_CMDS),
    dict(name='multi-line 530', args=ARGS, script={'PASS': '530-No\n530 No'},
         out=LOGIN_REFUSED, code=2, cmds=LOGIN_CMDS),
    dict(name='230 cut off by a close', args=ARGS, script={'PASS': '230-Welcome\nCLOSE'},
         out=LOGIN_REFUSED, code=2, cmds=LOGIN_CMDS),
    dict(name='silent after USER: no password for a server out of step', args=ARGS,
         script={'USER': 'SILENT'}, env={'VARDEK_TIMEOUT': '2'}, out=LOGIN_REFUSED, code=2,
         cmds=LOGIN_CMDS[:1],
         check=quick(30)),
    dict(name='TAB, ESC and NUL inside a greeting and a 230', args=ARGS,
         script={'greeting': '220 Welcome\tto\x1b[1;32m FTP\x1b[0m\0', 'PASS': '230 Hi\tthere\0!'},
         out=LOGGED_IN, code=0, cmds=LOGIN_CMDS),
    # A password out of sight: "-" takes it from VARDEK_PASSWORD.
    dict(name='the password from VARDEK_PASSWORD', args=ARGS[:3] + ['-', '/site'],
         env={'VARDEK_PASSWORD': PASSWORD}, out=LOGGED_IN, code=0, cmds=LOGIN_CMDS),
    dict(name='"-" without VARDEK_PASSWORD', args=ARGS[:3] + ['-', '/site'],
         env={'VARDEK_PASSWORD': ''}, out=[NO_PASSWORD], code=1, check=no_connection),
    # "/e": encrypted or not at all; nothing goes out in the clear after a refusal.
    dict(name='/e and a server that refuses AUTH TLS', args=ARGS + ['/e'],
         out=[OPEN, NO_TLS, STOP], code=2, cmds=['AUTH TLS']),
    dict(name='/e and a VARDEK_TLS_PIN that is no fingerprint', args=ARGS + ['/e'],
         env={'VARDEK_TLS_PIN': 'AB:CD'}, out=[BAD_PIN], code=1, check=no_connection),
] + [
    # A command line that would lose "/e" is refused before any connection: never the login in
    # the clear.
    dict(name='refused before connecting: ' + label, args=args, env=env, out=[out], code=1,
         check=no_connection, **({'only': only} if only else {}))
    for label, args, env, out, only in [
        ('/e as the remote path', ARGS[:4] + ['/e'], {}, E_IN_PLACE, None),
        ('/E as the remote path, switches after it', ARGS[:4] + ['/E', '/s'], {}, E_IN_PLACE, None),
        ('/e after an empty parameter', ARGS + ['', '/e'], {}, E_AFTER_EMPTY, 'native'),
        ('a pin without /e', ARGS, {'VARDEK_TLS_PIN': 'AB' * 32}, PIN_WITHOUT_E, None),
        ('a leading-zero host', ['{L}*', '127.000.000.001:{P}', LOGIN, PASSWORD, '/'], {},
         bad_host('127.000.000.001:{P}'), None),
        ('an inet_aton short form', ['{L}*', '127.1:{P}', LOGIN, PASSWORD, '/'], {},
         bad_host('127.1:{P}'), None),
        ('VARDEK_TIMEOUT of 3s', ARGS, {'VARDEK_TIMEOUT': '3s'}, BAD_TIMEOUT, None),
        ('VARDEK_TIMEOUT of 0', ARGS, {'VARDEK_TIMEOUT': '0'}, BAD_TIMEOUT, None),
    ]
] + [
    # A "set" line of a batch file easily ends in a blank.
    dict(name='VARDEK_TIMEOUT with blanks around', args=ARGS, script={'greeting': 'SILENT'},
         env={'VARDEK_TIMEOUT': ' 2 '}, out=CANNOT_CONNECT, code=2, check=quick(8)),
    dict(name='a remote directory named /e, written /e/', args=ARGS[:4] + ['/e/'], out=LOGGED_IN,
         code=0, cmds=LOGIN_CMDS),
    dict(name='a reply line of 5000 bytes', args=ARGS,
         script={'USER': '331 ' + 'x' * 5000}, out=LOGGED_IN, code=0, cmds=LOGIN_CMDS),
]

# Standard output: a terminal sees each message at once; a pipe receives 128-byte blocks and the
# rest at the end.
SLOW = dict(args=ARGS, script={'greeting': 'SILENT'}, env={'VARDEK_TIMEOUT': '3'},
            out=CANNOT_CONNECT, code=2)


def arrived_early(expected):
    def check(case, r):
        shown = r['early'].decode('utf-8', 'replace')
        return [] if ('Открываем' in shown) == expected else ['seen while running: %r' % shown]
    return check


CASES += [
    dict(SLOW, name='a terminal shows each message at once', live='tty',
         check=arrived_early(True), only='native'),
    dict(SLOW, name='a pipe gets short output at the end', live='pipe',
         check=arrived_early(False)),
] + [
    # A Windows console shows the program's own characters, whatever the code pages: en_US is a
    # Windows of another language (ANSI 1252, OEM 437), where OEM bytes would read as mojibake.
    dict(SLOW, name='a console of %s shows the messages as they are' % label, live='tty',
         env=dict(SLOW['env'], LC_ALL=locale), check=arrived_early(True), only='wine')
    for label, locale in (('another language', 'en_US.UTF-8'), ('Russian', 'ru_RU.UTF-8'))
] + [
    # Files and pipes there get UTF-8, which Notepad and PowerShell read; Russian systems keep
    # their OEM bytes.
    dict(name='a pipe on a Windows of another language gets UTF-8', args=ARGS,
         env={'LC_ALL': 'en_US.UTF-8'}, out=LOGGED_IN, code=0, cmds=LOGIN_CMDS, only='wine'),
]

CASES += [
    dict(name='without a port the server is reached on port 21', port=21, host=host,
         args=['{L}*', '{H}', LOGIN, PASSWORD, '/'], out=LOGGED_IN, code=0, cmds=LOGIN_CMDS)
    for host in ('127.0.0.1', '::1')
]

# A name with an IPv6 and an IPv4 address, where the server listens on one of them only: each
# address is tried in turn.
DUAL = ['{L}*', 'vardek-dual:{P}', LOGIN, PASSWORD, '/']
CASES += [
    dict(name='a name of two addresses, the server on ' + host, hosts=True, host=host, args=DUAL,
         out=[m.replace('{H}', 'vardek-dual:{P}') for m in LOGGED_IN], code=0, cmds=LOGIN_CMDS)
    for host in ('127.0.0.1', '::1')
]

# One scripted server for several connections (each run of then connects anew): a list of replies
# counts across them, and each connection has its transcript.
CASES += [
    dict(name='a greeting list across connections: 421, then 220', args=ARGS,
         script={'greeting': ['421 Too many connections\nCLOSE', '220 Ready']},
         out=CANNOT_CONNECT, code=2, then=[dict(args=ARGS, out=LOGGED_IN, code=0)],
         cmds=LOGIN_CMDS, sessions=[[], LOGIN_CMDS]),
    dict(name='a PASS list across connections: the second login refused', args=ARGS,
         script={'PASS': ['230 Ok', '421 Too many\nCLOSE']}, out=LOGGED_IN, code=0,
         then=[dict(args=ARGS, out=LOGIN_REFUSED, code=2)], sessions=[LOGIN_CMDS, LOGIN_CMDS]),
]
