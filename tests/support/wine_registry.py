"""The test prefix's registry, as the tests change it: trusted roots for the TLS tests and the user's
environment values (TEMP, TMP), each written with Wine's own `reg`."""
import hashlib
import struct
import subprocess

from harness import WINE

ROOT_STORE = "HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates"


def _root_store_key(der):
    return ROOT_STORE + "\\" + hashlib.sha1(der).hexdigest().upper()


def trust_test_root(env, der):
    """Makes the certificate (DER) a trusted root of the test prefix only: a value in the prefix's machine
    root store, where Wine's chain check looks. Writing it again replaces it. Wine adds the host's roots to
    that store when a process starts; it leaves this one in place (seen across wineserver restarts)."""
    # The stored form is a serialized certificate element: one property, CERT_CERT_PROP_ID (32), the DER.
    blob = struct.pack("<III", 32, 1, len(der)) + der
    subprocess.run([WINE, "reg", "add", _root_store_key(der), "/v", "Blob", "/t", "REG_BINARY", "/d", blob.hex(),
                    "/f"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=120, check=True)


def untrust_test_root(env, der):
    """Takes the certificate out of the prefix's root store again; nothing happens when it is not there."""
    subprocess.run([WINE, "reg", "delete", _root_store_key(der), "/f"], env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120, check=False)


def read_environment_value(env, name):
    """(type, data) of HKCU\\Environment\\name as `reg query` shows it, or None when it is not set."""
    result = subprocess.run([WINE, "reg", "query", "HKCU\\Environment", "/v", name], env=env,
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                            timeout=120, check=False)
    for line in result.stdout.decode("utf-8", "replace").splitlines():
        parts = line.strip().split(None, 2)
        if len(parts) >= 2 and parts[0].lower() == name.lower() and parts[1].startswith("REG_"):
            return parts[1], parts[2] if len(parts) > 2 else ""
    return None


def write_environment_value(env, name, value):
    """Sets (value = (type, data)) or deletes (value = None) HKCU\\Environment\\name."""
    if value is None:
        command = [WINE, "reg", "delete", "HKCU\\Environment", "/v", name, "/f"]
    else:
        command = [WINE, "reg", "add", "HKCU\\Environment", "/v", name, "/t", value[0], "/d", value[1], "/f"]
    subprocess.run(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=120, check=True)
