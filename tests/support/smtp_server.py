#!/usr/bin/python3
"""SMTP server for the tests: delivers every accepted mail into a Maildir.

Started by TestMailServers (tests/support). Prints "READY" on stdout once all
listeners accept connections, then runs until terminated. Every MAIL, RCPT and
DATA command is appended to --log as "<verb> <peer port> <argument>", so a test
can count the connections that carried mail; so are the client's EHLO name
("HELO <peer port> <name>", at MAIL) and every AUTH ("AUTH <peer port> tls" or
"AUTH <peer port> plain", whether the connection was encrypted).
"""
import argparse
import logging
import os
import re
import signal
import ssl
import sys
import threading
import time
import warnings

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword

_counter = 0
_counter_lock = threading.Lock()


def unique_name():
    global _counter
    with _counter_lock:
        _counter += 1
        n = _counter
    return "%016d.%06d_%d.smtp" % (time.time_ns() // 1000, n, os.getpid())


class Handler:
    def __init__(self, args):
        self.maildir = args.maildir
        self.log = args.log
        self.refused = set(a.lower() for a in args.refuse)
        self.strict_helo = args.strict_helo
        self.uid = args.uid
        self.gid = args.gid
        self.lock = threading.Lock()

    def _log(self, verb, session, arg):
        with self.lock, open(self.log, "a", encoding="utf-8") as f:
            f.write("%s %d %s\n" % (verb, session.peer[1], arg))

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        self._log("HELO", session, session.host_name)
        self._log("MAIL", session, address)
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        self._log("RCPT", session, address)
        if self.strict_helo and not FQDN_OR_LITERAL.match(session.host_name or ""):
            # What Postfix says with reject_non_fqdn_helo_hostname (and smtpd_delay_reject).
            return "504 5.5.2 <%s>: Helo command rejected: need fully-qualified hostname" % session.host_name
        if address.lower() in self.refused:
            return "550 5.1.1 <%s>: Recipient address rejected: User unknown" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        data = envelope.original_content.replace(b"\r\n", b"\n")
        name = unique_name()
        tmp = os.path.join(self.maildir, "tmp", name)
        with open(tmp, "wb") as f:
            f.write(data)
        os.chown(tmp, self.uid, self.gid)
        os.rename(tmp, os.path.join(self.maildir, "new", name))
        self._log("DATA", session, str(len(data)))
        return "250 2.0.0 Ok: queued as " + name


# A dotted host name, or an address literal ([192.0.2.1], [IPv6:...]).
FQDN_OR_LITERAL = re.compile(r"^([A-Za-z0-9-]+(\.[A-Za-z0-9-]+)+|\[[0-9.]+\]|\[IPv6:[0-9A-Fa-f:.]+\])$")


def make_authenticator(user, password, handler):
    def authenticate(server, session, envelope, mechanism, auth_data):
        handler._log("AUTH", session, "plain" if session.ssl is None else "tls")
        if isinstance(auth_data, LoginPassword):
            ok = auth_data.login == user.encode() and auth_data.password == password.encode()
            # handled=False: the server itself answers "535" on failure.
            return AuthResult(success=ok, handled=False)
        return AuthResult(success=False, handled=False)
    return authenticate


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--maildir", required=True)
    p.add_argument("--log", required=True)
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--starttls-port", type=int, default=0)
    p.add_argument("--smtps-port", type=int, default=0)
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--auth", help="user:password; AUTH becomes required")
    p.add_argument("--refuse", action="append", default=[])
    p.add_argument("--strict-helo", action="store_true",
                   help="refuse RCPT after an EHLO name that is neither dotted nor a literal")
    p.add_argument("--size-limit", type=int, default=0, help="SIZE offered and enforced (552)")
    p.add_argument("--uid", type=int, default=os.getuid())
    p.add_argument("--gid", type=int, default=os.getgid())
    args = p.parse_args()
    # Failures are what the tests provoke: keep aiosmtpd's warnings and
    # tracebacks out of the test output.
    warnings.simplefilter("ignore")
    logging.getLogger("mail.log").setLevel(logging.CRITICAL + 1)

    handler = Handler(args)
    common = {}
    if args.size_limit:
        common["data_size_limit"] = args.size_limit
    if args.auth:
        user, _, password = args.auth.partition(":")
        common.update(authenticator=make_authenticator(user, password, handler),
                      auth_required=True, auth_require_tls=False)

    ctx = None
    if args.cert:
        ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        ctx.load_cert_chain(args.cert, args.key)
    if ctx:
        # The plain port offers STARTTLS without requiring it, and AUTH only after it.
        plain = dict(common, tls_context=ctx, require_starttls=False, auth_require_tls=True)
    else:
        plain = common
    controllers = [Controller(handler, hostname="127.0.0.1", port=args.port, **plain)]
    if ctx:
        if args.starttls_port:
            controllers.append(Controller(handler, hostname="127.0.0.1", port=args.starttls_port,
                                          tls_context=ctx, require_starttls=True, **common))
        if args.smtps_port:
            controllers.append(Controller(handler, hostname="127.0.0.1", port=args.smtps_port,
                                          ssl_context=ctx, **common))
    for c in controllers:
        c.start()

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *a: stop.set())
    signal.signal(signal.SIGINT, lambda *a: stop.set())
    print("READY", flush=True)
    while not stop.wait(0.2):
        pass
    for c in controllers:
        c.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
