// The trace for real hardware: with QUORVEL_TRACE=1 in the environment, the tool,
// the layer and the modules write one line per event to standard error (modules
// loaded, device nodes opened or refused, report exchanges). Standard output never
// changes. Every module links its own copy; each reads the variable once, so a
// trace point costs one test of a flag while the trace is off.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvel::platform {

// Whether QUORVEL_TRACE is set to anything but "" or "0".
bool TraceOn();

// Turns the trace on or off in this module, whatever the variable says.
void SetTraceForTest(bool on);

// Writes "quorvel trace: <line>" and a line end to standard error in one write, so
// that lines of several threads never mix. Call it only when TraceOn().
void TraceLine(std::string_view line);

// Writes one line to standard error in one write; for the tool's own complaints.
void WriteErrorLine(std::string_view line);

// "[01 FE 00]": the bytes of a report as the trace shows them.
std::string TraceBytes(const void* data, std::size_t size);

// "read and write", "read", "write" or "no access": the access a handle asks for.
std::string TraceAccess(bool reads, bool writes);

#ifdef _WIN32
// The system's text for an error code, without its line end ("error N" when the
// system has none).
std::string SystemErrorText(unsigned long error);
#else
// "Permission denied (EACCES)": the system's text for an errno value and its name.
std::string ErrnoText(int error);
#endif

}  // namespace quorvel::platform
