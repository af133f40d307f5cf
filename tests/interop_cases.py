"""End-to-end cases against real FTP servers on loopback: vsftpd, proftpd, pure-ftpd, pyftpdlib."""
from harness import LOGIN, PASSWORD
from login_cases import LOGIN_REFUSED, STOP
from upload_cases import (BIG, CWD, MADE, M1300, NO_C, NOT_FOUND, SEND, args, run,
                          sent)

SERVERS = ('vsftpd', 'proftpd', 'pure-ftpd', 'pyftpdlib')

# Names in case-insensitive order, which differs from the order of the bytes.
TREE = {'alpha.html': M1300, 'Big.bin': BIG, 'empty.txt': b'', 'sub/page.html': b'<p>sub</p>',
        '.hidden': b'never sent', '.git/config': b'never sent'}
DEEP = '/up/new/deep'

CASES = [case for kind in SERVERS for case in [
    dict(name=kind + ': a tree into a missing nested path', real=kind,
         args=args('*', DEEP, '/s', '/c'), tree=TREE, dirs=('/', '/up'),
         out=run(CWD(DEEP), MADE('/up/new'), MADE(DEEP),
                 *sent('alpha.html', 'Big.bin', 'empty.txt'),
                 CWD(DEEP + '/sub'), MADE(DEEP + '/sub'), SEND('sub{/}page.html')),
         code=0, files={DEEP + '/' + name: data for name, data in TREE.items()
                        if not name.startswith('.')}),
    dict(name=kind + ': an existing directory, a file overwritten', real=kind,
         args=args('*', '/site'), tree={'a.bin': b'new'},
         dirs=('/', '/site', ('/site/a.bin', BIG), ('/site/keep.txt', b'kept')),
         out=run(CWD('/site'), SEND('a.bin')), code=0,
         files={'/site/a.bin': b'new', '/site/keep.txt': b'kept'}),
    dict(name=kind + ': a wrong password', real=kind,
         args=['{L}*', '{H}', LOGIN, PASSWORD + 'x', '/'], tree={'a.bin': b'a'},
         out=LOGIN_REFUSED, code=2, files={}),
    dict(name=kind + ': a missing directory without /c', real=kind,
         args=args('*', '/missing'), tree={'a.bin': b'a'},
         out=run(CWD('/missing'), NOT_FOUND('/missing'), NO_C, STOP), code=3, files={}),
]]
