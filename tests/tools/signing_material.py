"""Throwaway code-signing material made with openssl when a test runs: a
certificate authority of the test's own, a code-signing certificate it
issued, and that certificate's key in the two forms the build signs with.

    material = make_signing_material(folder)
    material.ca            the authority's certificate (PEM): what verify trusts
    material.pkcs12        certificate chain and key, protected by the password
    material.cert          the certificate chain (PEM)
    material.key           its key (PEM, encrypted with the password)
    material.password_file the password, on one line
    material.other_ca      an authority that issued nothing here
"""

import subprocess
from pathlib import Path

PASSWORD = "throwaway pass phrase"
DAYS = "3"


class SigningMaterial:
    def __init__(self, folder):
        folder = Path(folder)
        self.folder = folder
        self.ca = folder / "ca.pem"
        self.ca_key = folder / "ca.key"
        self.other_ca = folder / "other-ca.pem"
        self.cert = folder / "signer.pem"
        self.key = folder / "signer.key"
        self.pkcs12 = folder / "signer.p12"
        self.password_file = folder / "password.txt"


def openssl(*args, cwd=None):
    subprocess.run(["openssl", *map(str, args)], check=True, cwd=cwd, stdout=subprocess.DEVNULL,
                   stderr=subprocess.PIPE)


def make_authority(certificate, key, name):
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", certificate,
            "-days", DAYS, "-subj", "/CN=%s" % name,
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")


def make_signing_material(folder):
    material = SigningMaterial(folder)
    folder = material.folder
    folder.mkdir(parents=True, exist_ok=True)
    material.password_file.write_text(PASSWORD + "\n")
    make_authority(material.ca, material.ca_key, "Launcher Tests Throwaway CA")
    make_authority(material.other_ca, folder / "other-ca.key", "Launcher Tests Other CA")

    plain_key = folder / "signer-plain.key"
    request = folder / "signer.csr"
    extensions = folder / "signer.ext"
    extensions.write_text("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                          "extendedKeyUsage=codeSigning\n")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", plain_key, "-out", request,
            "-subj", "/CN=Quill Mark Tests Publisher")
    leaf = folder / "signer-leaf.pem"
    openssl("x509", "-req", "-in", request, "-CA", material.ca, "-CAkey", material.ca_key,
            "-CAcreateserial", "-out", leaf, "-days", DAYS, "-extfile", extensions)
    material.cert.write_bytes(leaf.read_bytes() + material.ca.read_bytes())
    openssl("pkey", "-in", plain_key, "-out", material.key, "-aes256",
            "-passout", "file:%s" % material.password_file)
    openssl("pkcs12", "-export", "-inkey", plain_key, "-in", leaf, "-certfile", material.ca,
            "-out", material.pkcs12, "-passout", "file:%s" % material.password_file)
    plain_key.unlink()
    return material
