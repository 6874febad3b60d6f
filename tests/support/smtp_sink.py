"""A real SMTP server for the tests: aiosmtpd on loopback that stores every message it accepts.

usage: smtp_sink.py PORT SPOOL_DIR
Each message becomes SPOOL_DIR/NNNNNN.eml (the data exactly as received, after the server's
dot-unstuffing) and NNNNNN.env (MAIL FROM on line 1, then one RCPT TO per line).
"""
import asyncio
import os
import sys

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP


class SpoolHandler:
    def __init__(self, spool):
        self.spool = spool
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.spool, "%06d" % self.count)
        with open(base + ".eml.tmp", "wb") as f:
            f.write(envelope.original_content or envelope.content)
        with open(base + ".env.tmp", "wb") as f:
            f.write((envelope.mail_from or "").encode() + b"\n")
            for rcpt in envelope.rcpt_tos:
                f.write(rcpt.encode() + b"\n")
        os.rename(base + ".env.tmp", base + ".env")
        os.rename(base + ".eml.tmp", base + ".eml")
        return "250 OK"


def main():
    port = int(sys.argv[1])
    spool = sys.argv[2]
    # Zelm does not wrap lines: accept long data lines and messages of any size.
    SMTP.line_length_limit = 1 << 26
    controller = Controller(SpoolHandler(spool), hostname="127.0.0.1", port=port,
                            data_size_limit=None)
    controller.start()
    try:
        asyncio.new_event_loop().run_forever()
    finally:
        controller.stop()


if __name__ == "__main__":
    main()
