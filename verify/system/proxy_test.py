#!/usr/bin/env python3
"""The verification service behind nginx, configured with the README's upstream and location
blocks (only their two ports changed), nginx started as the user with its own configuration,
prefix, logs and temporary folders in a test folder, on a loopback port without TLS, in front
of two `kavelo-verify serve` instances reading one read-only certificate folder:
  1. checks pass through it;
  2. smuggling attempts sent to nginx never reach an instance as a second request: a relay in
     front of each instance counts the answers the instance gives, and they must match the
     requests nginx's log says it sent there;
  3. one instance killed in the middle of a load loses no check.
Usage: proxy_test.py BIN_DIR SOURCE_DIR. Exit 77 (skipped) where nginx is missing."""

import os
import re
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from nginx_front import Nginx, NginxError, nginx_program, readme_blocks  # noqa: E402

SKIP = 77
WAIT_S = 10  # the longest any one step may take
HIDDEN = b"GET /verify.php?t1=hidden HTTP/1.1\r\nHost: x\r\n\r\n"


class Failed(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failed(what)


class Instance:
    def __init__(self, bin_dir, work, certs, issuer):
        env = dict(os.environ, XDG_STATE_HOME=str(work / "instance-state"),
                   XDG_DATA_HOME=str(work / "instance-data"))
        self.process = subprocess.Popen(
            [str(bin_dir / "kavelo-verify"), "serve", "--listen", "127.0.0.1:0", "--certs",
             str(certs), "--ca", str(issuer)], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
            env=env)
        ready, _, _ = select.select([self.process.stdout], [], [], WAIT_S)
        line = self.process.stdout.readline().decode() if ready else ""
        found = re.search(r"serving http://127\.0\.0\.1:(\d+)/", line)
        check(found, f"kavelo-verify serve did not start: {line!r}")
        self.port = int(found.group(1))

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()


class Relay:
    """A TCP relay in front of one instance that keeps what the instance answered."""

    def __init__(self, port):
        self.target, self.answered = port, []
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.threads = []
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            upstream = socket.create_connection(("127.0.0.1", self.target))
            answered = bytearray()
            self.answered.append(answered)
            for source, sink, kept in ((client, upstream, None), (upstream, client, answered)):
                thread = threading.Thread(target=self.pump, args=(source, sink, kept))
                thread.start()
                self.threads.append(thread)

    @staticmethod
    def pump(source, sink, kept):
        while True:
            try:
                chunk = source.recv(65536)
            except OSError:
                chunk = b""
            if not chunk:
                break
            if kept is not None:
                kept += chunk
            try:
                sink.sendall(chunk)
            except OSError:
                break
        for end in (sink, source):
            try:
                end.shutdown(socket.SHUT_WR)
            except OSError:
                pass

    def close(self):
        """The number of answers the instance gave, once every connection has ended."""
        self.listener.shutdown(socket.SHUT_RDWR)  # wakes the blocked accept
        self.listener.close()
        for thread in self.threads:
            thread.join(WAIT_S)
            check(not thread.is_alive(), "a relay connection did not end")
        return sum(count_answers(bytes(answered)) for answered in self.answered)


def count_answers(stream):
    """The service's answers in a byte stream: each a head with Content-Length and its body."""
    count = 0
    while stream:
        head_end = stream.find(b"\r\n\r\n")
        check(stream.startswith(b"HTTP/1.1 ") and head_end > 0, f"not an answer: {stream[:80]!r}")
        length = re.search(rb"\r\nContent-Length: (\d+)\r\n", stream[:head_end + 2])
        check(length, "an answer without Content-Length")
        stream = stream[head_end + 4 + int(length.group(1)):]
        count += 1
    return count


def read_answer(connection, buffer):
    """One answer (head and Content-Length body) from a socket; (answer, rest), or (b"", b"")
    when the connection ends first."""
    while True:
        head_end = buffer.find(b"\r\n\r\n")
        if head_end >= 0:
            length = re.search(rb"\r\nContent-Length: *(\d+)", buffer[:head_end + 2], re.I)
            total = head_end + 4 + (int(length.group(1)) if length else 0)
            if len(buffer) >= total:
                return buffer[:total], buffer[total:]
        chunk = connection.recv(65536)
        if not chunk:
            return b"", b""
        buffer += chunk


class Checker:
    """A keep-alive client that asks for checks through nginx, one after the other."""

    def __init__(self, port, t1):
        self.port, self.connection, self.buffer = port, None, b""
        self.request = (f"GET /verify.php?t1={t1} HTTP/1.1\r\nHost: verify.example.org\r\n"
                        "Accept: application/json\r\n\r\n").encode()

    def check(self):
        """True when the answer is a valid verdict; a connection that ends is a lost check."""
        try:
            if self.connection is None:
                self.connection = socket.create_connection(("127.0.0.1", self.port),
                                                           timeout=WAIT_S)
            self.connection.sendall(self.request)
            answer, self.buffer = read_answer(self.connection, self.buffer)
        except OSError:
            answer = b""
        if not answer:
            self.close()
        return answer.startswith(b"HTTP/1.1 200") and b'"verdict":"valid"' in answer

    def close(self):
        if self.connection is not None:
            self.connection.close()
        self.connection, self.buffer = None, b""


def smuggling_attempts(t1):
    get = f"GET /verify.php?t1={t1} HTTP/1.1\r\nHost: x\r\n".encode()
    size = str(len(HIDDEN)).encode()
    chunk = b"%x\r\n" % len(HIDDEN) + HIDDEN + b"\r\n0\r\n\r\n"
    return {
        "a space before the colon": get + b"Content-Length : " + size + b"\r\n\r\n" + HIDDEN,
        "a tab before the colon": get + b"Content-Length\t: " + size + b"\r\n\r\n" + HIDDEN,
        "Content-Length beside chunked": get + b"Content-Length: 5\r\n"
        b"Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n" + HIDDEN,
        "two Content-Length": get + b"Content-Length: 0\r\nContent-Length: " + size +
        b"\r\n\r\n" + HIDDEN,
        "a space before the colon of Transfer-Encoding": get + b"Transfer-Encoding : chunked\r\n"
        b"Content-Length: 5\r\n\r\n0\r\n\r\n" + HIDDEN,
        "a folded Transfer-Encoding": get + b"X-Note: a\r\n Transfer-Encoding: chunked\r\n"
        b"Content-Length: 5\r\n\r\n0\r\n\r\n" + HIDDEN,
        "a bare CR": get + b"X-Note: a\rContent-Length: " + size + b"\r\n\r\n" + HIDDEN,
        "a request in a chunked body": get + b"Transfer-Encoding: chunked\r\n\r\n" + chunk,
        "a request in a body": get + b"Content-Length: " + size + b"\r\n\r\n" + HIDDEN,
        "chunked in HTTP/1.0": get.replace(b"HTTP/1.1", b"HTTP/1.0") +
        b"Transfer-Encoding: chunked\r\n\r\n" + chunk,
    }


def passes_and_refuses_smuggling(work, blocks, instances, t1):
    relays = [Relay(instance.port) for instance in instances]
    nginx = Nginx(work / "nginx-relayed", blocks, [relay.port for relay in relays])
    try:
        checker = Checker(nginx.port, t1)
        valid = sum(checker.check() for _ in range(40))
        checker.close()
        check(valid == 40, f"{valid} of 40 checks valid through nginx")
        for what, attempt in smuggling_attempts(t1).items():
            with socket.create_connection(("127.0.0.1", nginx.port), timeout=WAIT_S) as client:
                client.sendall(attempt)
                answer, _ = read_answer(client, b"")
            check(answer.startswith(b"HTTP/1.1 "), f"{what}: nginx gave no answer")
    finally:
        nginx.stop()  # graceful: every request it took is answered and logged
        answers = [relay.close() for relay in relays]
    attempts = nginx.upstream_attempts()
    for relay, answered in zip(relays, answers):
        sent = attempts.get(f"127.0.0.1:{relay.port}", 0)
        check(answered == sent, f"an instance gave {answered} answers to the {sent} requests "
              "nginx sent it: a request reached it hidden")
    check(all(answers), f"checks spread over both instances: {attempts}")
    print(f"PASS: 40 checks and {len(smuggling_attempts(t1))} smuggling attempts through nginx; "
          f"answers per instance {answers}")


def loses_no_check_when_one_instance_dies(work, blocks, instances, t1):
    nginx = Nginx(work / "nginx-direct", blocks, [instance.port for instance in instances])
    results, lock, killed = [], threading.Lock(), threading.Event()
    enough_before, enough_after = 200, 400

    def client():
        checker = Checker(nginx.port, t1)
        try:
            while True:
                ok = checker.check()
                with lock:
                    results.append((killed.is_set(), ok))
                    if len(results) == enough_before:
                        instances[0].kill()  # in the middle of the clients' checks
                        killed.set()
                    if sum(after for after, _ in results) >= enough_after:
                        return
        finally:
            checker.close()

    try:
        clients = [threading.Thread(target=client) for _ in range(4)]
        for thread in clients:
            thread.start()
        for thread in clients:
            thread.join(60)
            check(not thread.is_alive(), "the clients did not finish within 60 s")
    finally:
        nginx.stop()
    lost = sum(not ok for _, ok in results)
    after = sum(after for after, _ in results)
    check(killed.is_set() and after >= enough_after, f"only {after} checks after the kill")
    check(lost == 0, f"{lost} of {len(results)} checks lost when an instance was killed")
    print(f"PASS: {len(results)} checks, {after} after one instance was killed, none lost")


def signed_receipt(bin_dir, source, work):
    """A sale signed on a simulated card: its t1, and the certificate folder and issuer."""
    shutil.copytree(source / "home", work / "home")
    env = dict(os.environ, XDG_STATE_HOME=str(work / "state"), XDG_DATA_HOME=str(work / "data"))
    batch = subprocess.run(
        [str(bin_dir / "kasse"), "--batch", "-", "--home", str(work / "home"), "--card", "sim",
         "--card-state", str(work / "card.state"), "--strict"],
        input="select 0\nbook\nsumme\nkassieren\nurl\n", capture_output=True, text=True, env=env,
        timeout=60)
    check(batch.returncode == 0, f"the sale was not signed: {batch.stderr}")
    url = [line for line in batch.stdout.splitlines() if line.startswith("http://")]
    check(url, f"no verification URL in: {batch.stdout}")
    certs = work / "certs"
    certs.mkdir()
    shutil.copy(work / "card.state.cert", certs / "card.der")
    issuer = work / "issuer.der"
    shutil.copy(work / "state" / "kasse" / "test-issuer.der", issuer)
    # One read-only folder for both instances.
    for path in (certs / "card.der", issuer):
        path.chmod(0o444)
    certs.chmod(0o555)
    return url[-1].split("t1=", 1)[1], certs, issuer


def main(bin_dir, source):
    if nginx_program() is None:
        print("SKIP: nginx is not installed (scripts/setup installs it)")
        return SKIP
    work = Path(tempfile.mkdtemp(prefix="kavelo-proxy-"))
    instances = []
    try:
        blocks = readme_blocks(source)
        t1, certs, issuer = signed_receipt(bin_dir, source, work)
        instances = [Instance(bin_dir, work, certs, issuer) for _ in range(2)]
        passes_and_refuses_smuggling(work, blocks, instances, t1)
        loses_no_check_when_one_instance_dies(work, blocks, instances, t1)
        return 0
    except (Failed, NginxError) as failure:
        print(f"FAIL: {failure}")
        for log in sorted(work.glob("nginx-*/logs/error.log")):
            print(f"--- {log}\n{log.read_text()[-2000:]}")
        return 1
    finally:
        for instance in instances:
            instance.kill()
        (work / "certs").chmod(0o755)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(Path(sys.argv[1]), Path(sys.argv[2])))
