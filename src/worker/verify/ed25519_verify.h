// Ed25519 signature verification (RFC 8032), for the signed update information.
#pragma once

// True when `signature` is a valid pure-Ed25519 signature (RFC 8032) of the message by `publicKey`.
// A public key of small order (one that could sign anything) is refused as well.
bool Ed25519Verify(const unsigned char signature[64], const unsigned char publicKey[32], const unsigned char *message,
                   unsigned length);
