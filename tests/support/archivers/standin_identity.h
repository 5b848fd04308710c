// Which stand-in this build of the shared sources is: set per library by the build.
#pragma once

extern const char *const kStandinBaseName;  // the file name without ".dll", e.g. "tar32"
