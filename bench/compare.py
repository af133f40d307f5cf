#!/usr/bin/env python3
"""Times vardek against curl, uploading the same files to one vsftpd on loopback in one run.

usage: bench/compare.py [build/vardek]   (as root: the server's login is a user of this machine)
Prints seconds and the ratio vardek / curl for one large file and for many small ones.
"""
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests'))
from real_servers import start_real_server  # noqa: E402

LOGIN, PASSWORD = 'usr_q7', 'pw_k3'


def timed(cmd):
    started = time.monotonic()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.monotonic() - started


def main():
    vardek = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else 'build/vardek')
    work = tempfile.mkdtemp(prefix='vardek-bench-')
    os.makedirs(work + '/large')
    os.makedirs(work + '/small')
    with open(work + '/large/big.bin', 'wb') as f:
        f.write(os.urandom(256 << 20))
    for i in range(300):
        with open(work + '/small/f%03d.txt' % i, 'wb') as f:
            f.write(os.urandom(4096))
    server = start_real_server('vsftpd', ('/', '/v', '/c'), LOGIN, PASSWORD)
    host = '127.0.0.1:%d' % server.port
    try:
        for name in ('large', 'small'):
            files = sorted(os.listdir(os.path.join(work, name)))
            ours = timed([vardek, '%s/%s/*' % (work, name), host, LOGIN, PASSWORD, '/v'])
            curl = timed(['curl', '-s', '--user', '%s:%s' % (LOGIN, PASSWORD), '-T',
                          '{%s}' % ','.join(os.path.join(work, name, f) for f in files),
                          'ftp://%s/c/' % host])
            print('%-5s %4d file(s): vardek %.2f s, curl %.2f s, ratio %.2f'
                  % (name, len(files), ours, curl, ours / curl))
    finally:
        server.close()
        subprocess.run(['rm', '-rf', work])


if __name__ == '__main__':
    main()
