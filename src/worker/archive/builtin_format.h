// The archive formats that the worker unpacks itself, told by the archive's name.
#pragma once

enum BuiltinFormat {
    BUILTIN_NONE,
    BUILTIN_ZIP,    // .zip, .jar
    BUILTIN_TAR,    // .tar
    BUILTIN_TAR_GZ, // .tar.gz, .tgz
    BUILTIN_GZIP,   // .gz: one file, named after the archive without ".gz"
};

// By the end of the path, without regard to case. A '.' is never the trail byte of a double-byte
// character, so comparing the ends byte for byte is safe in any ANSI code page.
BuiltinFormat BuiltinFormatOf(const char *archive);
