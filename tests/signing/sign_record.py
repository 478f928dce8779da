#!/usr/bin/env python3
"""Signs an update-list record the way the vendor's releases are signed, with the OpenSSL
command line:  sign_record.py KEY.pem VERSION ADDRESS FILE  prints
#VERSION#ADDRESS#sha256=<hex>;size=<bytes>;sig=<base64 of the raw 64-byte r||s>
The signature is ECDSA P-256 over SHA-256 of the bytes from the first "#" through the ";"
before sig=. OpenSSL writes it as DER; it is turned into r||s here."""
import base64
import hashlib
import subprocess
import sys


def der_to_raw(der: bytes) -> bytes:
    # SEQUENCE { INTEGER r, INTEGER s }, each integer at most 33 bytes (a leading 0 for sign).
    if der[0] != 0x30:
        raise ValueError("not a DER sequence")
    at = 2
    parts = []
    for _ in range(2):
        if der[at] != 0x02:
            raise ValueError("not a DER integer")
        length = der[at + 1]
        value = der[at + 2:at + 2 + length].lstrip(b"\0")
        if len(value) > 32:
            raise ValueError("integer too long")
        parts.append(value.rjust(32, b"\0"))
        at += 2 + length
    return parts[0] + parts[1]


def sign(key: str, signed: bytes) -> bytes:
    der = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key], input=signed,
                         stdout=subprocess.PIPE, check=True).stdout
    return der_to_raw(der)


def main() -> int:
    if len(sys.argv) != 5:
        print(__doc__, file=sys.stderr)
        return 2
    key, version, address, path = sys.argv[1:]
    body = open(path, "rb").read()
    signed = f"#{version}#{address}#sha256={hashlib.sha256(body).hexdigest()};size={len(body)};"
    signature = base64.b64encode(sign(key, signed.encode("ascii"))).decode("ascii")
    sys.stdout.write(f"{signed}sig={signature}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
