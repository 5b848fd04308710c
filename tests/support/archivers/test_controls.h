// The test controls of a stand-in library, read from the environment at each call:
//   KOVREL_STANDIN_LOG=<file>        append "<command function>\t<command line>\r\n" per command call
//   KOVREL_STANDIN_BUSY=<N>          the busy query answers TRUE for the first N queries after loading
//   KOVREL_STANDIN_FAIL=<N>:<CODE>   the first N command calls after loading return CODE (decimal or 0x-hex)
//   KOVREL_STANDIN_ONLY=<name>       when set, all of the above (the log too) apply only to the library of that
//                                    name, with or without ".dll", in any case ("tar32", "TAR32.DLL")
#pragma once

// Appends the log line when the log is asked for.
void LogCommandCall(const char *functionName, const char *commandLine);

// Counts the query; true while the count is within KOVREL_STANDIN_BUSY.
bool BusyQueryAnswer();

// Counts the call; true with the code to return when it is one of the first N calls of KOVREL_STANDIN_FAIL.
bool InjectedFailure(int &code);
