#!/usr/bin/env python3
"""Summarises a message file with Python's standard MIME parser: one line per
leaf part (index, media type, file name, decoded size). With an output
directory, each part's decoded bytes are written there as <index>."""
import email
import email.policy
import os
import sys


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit("usage: mime_summary.py MESSAGE [OUTDIR]")
    with open(sys.argv[1], "rb") as f:
        msg = email.message_from_binary_file(f, policy=email.policy.compat32)
    outdir = sys.argv[2] if len(sys.argv) == 3 else None
    for index, part in enumerate(p for p in msg.walk() if not p.is_multipart()):
        data = part.get_payload(decode=True) or b""
        name = part.get_filename() or ""
        print(f"{index}\t{part.get_content_type()}\t{name}\t{len(data)}")
        if outdir:
            with open(os.path.join(outdir, str(index)), "wb") as out:
                out.write(data)


if __name__ == "__main__":
    main()
