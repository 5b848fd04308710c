"""Certificates for the HTTPS tests: a test certificate authority that the test prefix trusts, a server
certificate for localhost signed by it, and a second authority that nothing trusts with its own localhost
certificate, for the refusals.

Made once per test session in a folder of the session; nothing here touches the host's trust store.
"""
import datetime
from dataclasses import dataclass
from pathlib import Path

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import rsa
from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID


@dataclass
class Authority:
    """One certificate authority and the localhost server certificate it signed."""
    ca_der: bytes
    ca_pem: Path
    cert_pem: Path
    key_pem: Path

    @property
    def tls(self):
        """What harness.Nginx takes to serve with this authority's server certificate."""
        return self.cert_pem, self.key_pem


@dataclass
class SessionCertificates:
    trusted: Authority
    untrusted: Authority


def _key():
    # RSA 2048 with SHA-256: what Wine's TLS stack and its chain check both accept without question.
    return rsa.generate_private_key(public_exponent=65537, key_size=2048)


def _name(common_name):
    return x509.Name([x509.NameAttribute(NameOID.ORGANIZATION_NAME, "Kovrel tests"),
                      x509.NameAttribute(NameOID.COMMON_NAME, common_name)])


def _validity(builder):
    # From yesterday, so that a clock a little behind still accepts it; short-lived, since it is made per run.
    now = datetime.datetime.now(datetime.timezone.utc)
    return builder.not_valid_before(now - datetime.timedelta(days=1)).not_valid_after(now + datetime.timedelta(days=30))


def _authority(folder, label):
    ca_key = _key()
    ca_name = _name(f"Kovrel {label} test CA")
    ca = (_validity(x509.CertificateBuilder())
          .subject_name(ca_name).issuer_name(ca_name)
          .public_key(ca_key.public_key()).serial_number(x509.random_serial_number())
          .add_extension(x509.BasicConstraints(ca=True, path_length=0), critical=True)
          .add_extension(x509.KeyUsage(digital_signature=False, content_commitment=False, key_encipherment=False,
                                       data_encipherment=False, key_agreement=False, key_cert_sign=True,
                                       crl_sign=True, encipher_only=False, decipher_only=False), critical=True)
          .add_extension(x509.SubjectKeyIdentifier.from_public_key(ca_key.public_key()), critical=False)
          .sign(ca_key, hashes.SHA256()))

    leaf_key = _key()
    leaf = (_validity(x509.CertificateBuilder())
            .subject_name(_name("localhost")).issuer_name(ca_name)
            .public_key(leaf_key.public_key()).serial_number(x509.random_serial_number())
            .add_extension(x509.BasicConstraints(ca=False, path_length=None), critical=True)
            .add_extension(x509.KeyUsage(digital_signature=True, content_commitment=False, key_encipherment=True,
                                         data_encipherment=False, key_agreement=False, key_cert_sign=False,
                                         crl_sign=False, encipher_only=False, decipher_only=False), critical=True)
            .add_extension(x509.ExtendedKeyUsage([ExtendedKeyUsageOID.SERVER_AUTH]), critical=False)
            # The name check wants localhost: a certificate for 127.0.0.1 fails it under Wine.
            .add_extension(x509.SubjectAlternativeName([x509.DNSName("localhost")]), critical=False)
            .add_extension(x509.AuthorityKeyIdentifier.from_issuer_public_key(ca_key.public_key()), critical=False)
            .sign(ca_key, hashes.SHA256()))

    ca_pem = folder / f"{label}_ca.pem"
    cert_pem = folder / f"{label}_localhost.pem"
    key_pem = folder / f"{label}_localhost.key"
    ca_pem.write_bytes(ca.public_bytes(serialization.Encoding.PEM))
    # nginx sends the chain in this file; the root stays out of it, as a real server does.
    cert_pem.write_bytes(leaf.public_bytes(serialization.Encoding.PEM))
    key_pem.write_bytes(leaf_key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                               serialization.NoEncryption()))
    key_pem.chmod(0o600)
    return Authority(ca.public_bytes(serialization.Encoding.DER), ca_pem, cert_pem, key_pem)


def make_test_certificates(folder):
    """Writes both authorities and their server certificates into `folder`."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    return SessionCertificates(trusted=_authority(folder, "trusted"), untrusted=_authority(folder, "untrusted"))
