// The one diagnostics channel: with QUORVEL_TRACE set, every part of the tool, the bridge,
// the layer and the modules writes one line per event to standard error. Standard output
// and exit statuses never change. The value is a level; each adds to the one below:
//   1 (or any value but a digit): modules loaded, device nodes opened or refused, report
//     exchanges with their bytes and outcome;
//   2: the layer's scans with their result, arrivals, removals and check-outs; the board
//     service's exchanges decoded ("board /dev/hidraw3: relay 3 on") and its decisions
//     ("two boards share HURTM"); the bridge's refusals and connection changes;
//   3: the MQTT library's own log.
// Every module links its own copy; each reads the variable once, so a trace point costs
// one test of a level while the trace is off.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvel::trace {

inline constexpr int kTraceLevels = 3;
inline constexpr int kExchanges = 1;  // the level of each kind of event
inline constexpr int kDecisions = 2;
inline constexpr int kLibraries = 3;

// Whether QUORVEL_TRACE asks for events of this level.
bool TraceOn(int AtLevel = kExchanges);

// Sets the level in this module, whatever the variable says; 0 turns the trace off.
void SetTraceForTest(int AtLevel);

// Writes "quorvel trace: <line>" and a line end to standard error in one write, so
// that lines of several threads never mix. Call it only when TraceOn().
void TraceLine(std::string_view line);

// Writes one line to standard error in one write; for the programs' own complaints and logs.
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

}  // namespace quorvel::trace
