// A stand-in server with a discovery class and a listening class whose behaviour the
// hub tests steer through the agent name and the arguments, and which journal every call.
#pragma once
#include <windows.h>
#include <auralink/platform/interface_id.h>

#include <string>

AURALINK_DEFINE_GUID(LIBID_FakeAgentLib, 0x66835F9C, 0x4D67, 0x45D0, 0x99, 0xC2, 0xEC, 0x99, 0xFC, 0x69, 0x4F, 0x9A);
AURALINK_DEFINE_GUID(CLSID_FakeDiscovery, 0x76AED40E, 0x066C, 0x48F8, 0x9C, 0xF9, 0x46, 0xA7, 0x22, 0x3D, 0xC5, 0xF9);
AURALINK_DEFINE_GUID(CLSID_FakeListening, 0xD1D75032, 0x597B, 0x4AB2, 0xAB, 0x28, 0xF2, 0x77, 0x54, 0x27, 0x23, 0x84);

// Agent names that make the fake classes fail.
inline constexpr const char* kAgentFailingInitialize = "FailInitialize";
// The discovery class's Terminate fails for every agent whose name holds this.
inline constexpr const char* kAgentFailingTerminate = "FailTerminate";
// Start fails for every agent whose name holds this.
inline constexpr const char* kAgentFailingStart = "FailStart";
// Words in an agent name that steer the listening class:
// - "Ticking": it indicates from a thread of its own, "tick <n>" every millisecond from
//   Start until Stop;
// - "Eager": Start indicates "starting" on the calling thread before it does anything else;
// - "SlowStop": Stop takes 100 ms before it stops the thread;
// - "Draining": once told to stop, the ticking thread indicates "last words" before it
//   ends and journals "Listening.last words <agent> <Indicate's result>".
inline constexpr const char* kAgentTickingWord = "Ticking";
inline constexpr const char* kAgentEagerWord = "Eager";
inline constexpr const char* kAgentSlowStopWord = "SlowStop";
inline constexpr const char* kAgentDrainingWord = "Draining";

// The discovery class:
//  - EnumInstances writes identifiers "agent=<agent>", "class=<class>", "dip=<dip>" and one
//    per parameter (its text, "<null>" for a null BSTR); "params=<none>" without an array.
//    The class "fail" writes a count of 99 and fails.
//  - GetInstance answers "agent=<agent>|id=<id>|local=<n>|params=<p1,p2,...>|"; the
//    identifier "fail" answers "none" and fails.
// Journal lines: "<Class>.<Method> <agent>" for Initialize/Start/Stop/Terminate and
// "<Class>.destroyed <agent>", plus "overlap" when two calls ever ran at once in one object,
// and "two listening objects <agent>" when an agent's listening object starts while
// another of the same agent has been started and not yet terminated.
#define FAKE_AGENT_JOURNAL_FUNCTION "FakeAgentJournal"
typedef void (*FakeAgentJournalFunction)(std::string* text);
