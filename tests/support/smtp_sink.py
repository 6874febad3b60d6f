"""A real SMTP server for the tests: aiosmtpd on loopback that stores every message it accepts.

usage: smtp_sink.py SPOOL_DIR PORT [STARTTLS_PORT SMTPS_PORT CERT_FILE KEY_FILE]
PORT takes mail as it comes. With the certificate, STARTTLS_PORT requires STARTTLS and then
AUTH, and SMTPS_PORT speaks TLS from the first byte and requires AUTH; both accept only the
user "smtpuser" with the password "smtppw" (PLAIN or LOGIN).
Each message becomes SPOOL_DIR/NNNNNN.eml (the data exactly as received, after the server's
dot-unstuffing) and NNNNNN.env (MAIL FROM on line 1, then one RCPT TO per line).
"""
import asyncio
import os
import ssl
import sys
import threading

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

USER = b"smtpuser"
PASSWORD = b"smtppw"


class SpoolHandler:
    def __init__(self, spool):
        self.spool = spool
        self.count = 0
        # Each controller runs in a thread of its own; the spool numbers must stay unique.
        self.lock = threading.Lock()

    async def handle_DATA(self, server, session, envelope):
        with self.lock:
            self.count += 1
            number = self.count
        base = os.path.join(self.spool, "%06d" % number)
        with open(base + ".eml.tmp", "wb") as f:
            f.write(envelope.original_content or envelope.content)
        with open(base + ".env.tmp", "wb") as f:
            f.write((envelope.mail_from or "").encode() + b"\n")
            for rcpt in envelope.rcpt_tos:
                f.write(rcpt.encode() + b"\n")
        os.rename(base + ".env.tmp", base + ".env")
        os.rename(base + ".eml.tmp", base + ".eml")
        return "250 OK"


def authenticate(server, session, envelope, mechanism, auth_data):
    ok = isinstance(auth_data, LoginPassword) and auth_data == (USER, PASSWORD)
    # handled=False: the server itself answers a refusal with 535.
    return AuthResult(success=ok, handled=False)


def main():
    spool = sys.argv[1]
    port = int(sys.argv[2])
    # Zelm does not wrap lines: accept long data lines and messages of any size.
    SMTP.line_length_limit = 1 << 26
    handler = SpoolHandler(spool)
    controllers = [Controller(handler, hostname="127.0.0.1", port=port, data_size_limit=None)]
    if len(sys.argv) > 3:
        starttls_port, smtps_port = int(sys.argv[3]), int(sys.argv[4])
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(sys.argv[5], sys.argv[6])
        controllers.append(Controller(
            handler, hostname="127.0.0.1", port=starttls_port, data_size_limit=None,
            tls_context=context, require_starttls=True, authenticator=authenticate,
            auth_required=True, auth_require_tls=True))
        # An implicit TLS connection does not count as TLS for auth_require_tls.
        controllers.append(Controller(
            handler, hostname="127.0.0.1", port=smtps_port, data_size_limit=None,
            ssl_context=context, authenticator=authenticate, auth_required=True,
            auth_require_tls=False))
    for controller in controllers:
        controller.start()
    try:
        asyncio.new_event_loop().run_forever()
    finally:
        for controller in controllers:
            controller.stop()


if __name__ == "__main__":
    main()
