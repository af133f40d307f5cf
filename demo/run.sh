#!/usr/bin/env bash
# Builds vardek, starts a throwaway FTP server on loopback (pyftpdlib from Debian's packages,
# installed when missing), uploads demo/site with "/s" and "/c", shows what arrived and stops the
# server.
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v g++ >/dev/null || missing+=(g++)
[ -e /usr/include/openssl/ssl.h ] || missing+=(libssl-dev)
/usr/bin/python3 -c 'import pyftpdlib' 2>/dev/null || missing+=(python3-pyftpdlib)
if ((${#missing[@]})); then
  DEBIAN_FRONTEND=noninteractive apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi
cmake -S . -B build >/dev/null
cmake --build build --target vardek -j2 >/dev/null

root=$(mktemp -d)
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
/usr/bin/python3 -m pyftpdlib -i 127.0.0.1 -p "$port" -w -d "$root" -u demo -P secret \
  >"$root.log" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; rm -rf "$root" "$root.log"' EXIT
for _ in $(seq 50); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done

echo "\$ build/vardek 'demo/site/*' 127.0.0.1:$port demo secret /pub/site /s /c"
status=0
build/vardek 'demo/site/*' "127.0.0.1:$port" demo secret /pub/site /s /c || status=$?
echo "exit code: $status"
echo
echo "On the server:"
(cd "$root" && find . -type f | sort | xargs ls -l | sed 's/^/  /')
diff -r --exclude=.htaccess demo/site "$root/pub/site" >/dev/null && echo "Every file arrived unchanged."
exit "$status"
