// The signed form of an update information file. Its first line is ";ed25519=" and the 128 hex digits of an
// Ed25519 signature, ended by CRLF or LF; the signature covers every byte after that line ending, exactly as
// served. To the profile reader the line is a comment, so workers that know nothing of it read the file as
// before.
#pragma once
#include "publisher_keys.h"

const unsigned SIGNATURE_BYTES = 64;

// The largest information file that is downloaded and verified.
const unsigned INFO_FILE_LIMIT = 64 * 1024;

// Finds the signature line at the start of the file: the signature and where the signed body begins.
// False when the file does not start with a well-formed signature line.
bool SplitSignedFile(const unsigned char *file, unsigned length, unsigned char signature[SIGNATURE_BYTES],
                     unsigned *bodyOffset);

// True when the file is signed and the signature verifies under one of the publisher's keys.
bool VerifySignedFile(const unsigned char *file, unsigned length, const PublisherKeys *keys);
