"""nginx in front of verification instances, configured with the README's upstream and location
blocks (only their two ports changed), started as the user with its own configuration, prefix,
logs and temporary folders under a folder of the caller's, on a loopback port without TLS.
Used by the proxy test (verify/system/proxy_test.py) and by scripts/bench."""

import os
import pwd
import re
import shutil
import signal
import socket
import subprocess
import time
from pathlib import Path

WAIT_S = 10  # the longest nginx may take to start or to stop


class NginxError(RuntimeError):
    pass


def nginx_program():
    """The nginx binary, or None where it is not installed (it lives in /usr/sbin)."""
    found = shutil.which("nginx") or "/usr/sbin/nginx"
    return found if Path(found).exists() else None


def readme_blocks(source):
    """The upstream block and the location blocks of the README's nginx example."""
    text = (Path(source) / "README.md").read_text()
    fenced = re.search(r"```nginx\n(.*?)```", text, re.S)
    if not fenced:
        raise NginxError("README.md has no nginx block")
    config = fenced.group(1)

    def block(start):
        depth, at = 0, config.index("{", start)
        for end in range(at, len(config)):
            depth += {"{": 1, "}": -1}.get(config[end], 0)
            if depth == 0:
                return config[start:end + 1]
        raise NginxError("unbalanced braces in the README's nginx block")

    upstream = block(config.index("upstream kavelo"))
    locations = [block(m.start()) for m in re.finditer(r"\blocation\b", config)]
    if not ("127.0.0.1:8081" in upstream and "127.0.0.1:8082" in upstream and locations):
        raise NginxError("the README's nginx block must name 127.0.0.1:8081 and :8082 and "
                         "have location blocks")
    return upstream, locations


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Nginx:
    """nginx in the foreground with everything of its own under `prefix`, in front of the
    instances on `ports`; `port` is where it listens."""

    def __init__(self, prefix, blocks, ports, workers=1):
        upstream, locations = blocks
        self.prefix, self.port = Path(prefix), free_port()
        for folder in ("logs", "temp"):
            (self.prefix / folder).mkdir(parents=True)
        upstream = upstream.replace("127.0.0.1:8081", f"127.0.0.1:{ports[0]}").replace(
            "127.0.0.1:8082", f"127.0.0.1:{ports[1]}")
        temp = "\n".join(f"  {kind}_temp_path {self.prefix}/temp/{kind};"
                         for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
        # Run as root (CI), the workers would become nobody, who cannot enter the caller's folder.
        user = f"user {pwd.getpwuid(os.geteuid()).pw_name};\n" if os.geteuid() == 0 else ""
        self.access_log = self.prefix / "logs" / "access.log"
        self.error_log = self.prefix / "logs" / "error.log"
        (self.prefix / "nginx.conf").write_text(f"""{user}daemon off;
worker_processes {workers};
pid {self.prefix}/nginx.pid;
error_log {self.error_log} info;
events {{ worker_connections 1024; }}
http {{
  log_format upstreams '$status "$request" upstream=$upstream_addr';
  access_log {self.access_log} upstreams;
{temp}
{upstream}
server {{
  listen 127.0.0.1:{self.port};
{chr(10).join(locations)}
}}
}}
""")
        program = nginx_program()
        if program is None:
            raise NginxError("nginx is not installed")
        self.process = subprocess.Popen(
            [program, "-p", str(self.prefix), "-c", str(self.prefix / "nginx.conf"), "-e",
             str(self.error_log)], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.wait_until_listening()

    def wait_until_listening(self):
        deadline = time.monotonic() + WAIT_S
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                error = self.process.stderr.read().decode(errors="replace")
                raise NginxError(f"nginx ended at start (exit {self.process.returncode}): "
                                 f"{error[-500:]}")
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.05)  # nginx gives no sign of readiness but its open port
        self.stop()
        raise NginxError(f"nginx did not listen on {self.port} within {WAIT_S} s")

    def stop(self):
        """Gracefully: every request it took is answered and logged when this returns."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGQUIT)
            try:
                self.process.wait(WAIT_S)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()

    def upstream_attempts(self):
        """Requests nginx sent to each upstream address, from its log (retries included)."""
        counts = {}
        for line in self.access_log.read_text().splitlines():
            for address in line.split("upstream=")[1].split(","):
                address = address.strip().split(" : ")[0]
                if address != "-":
                    counts[address] = counts.get(address, 0) + 1
        return counts
