// A stand-in server with a discovery class and a listening class whose behaviour the
// hub tests steer through the agent name and the arguments, and which journal every call.
#pragma once
#include <guiddef.h>

#include <string>

DEFINE_GUID(LIBID_FakeAgentLib, 0x66835F9C, 0x4D67, 0x45D0, 0x99, 0xC2, 0xEC, 0x99, 0xFC, 0x69, 0x4F, 0x9A);
DEFINE_GUID(CLSID_FakeDiscovery, 0x76AED40E, 0x066C, 0x48F8, 0x9C, 0xF9, 0x46, 0xA7, 0x22, 0x3D, 0xC5, 0xF9);
DEFINE_GUID(CLSID_FakeListening, 0xD1D75032, 0x597B, 0x4AB2, 0xAB, 0x28, 0xF2, 0x77, 0x54, 0x27, 0x23, 0x84);

// Agent names that make the fake classes fail.
inline constexpr const char* kAgentFailingInitialize = "FailInitialize";
inline constexpr const char* kAgentFailingStart = "FailStart";
// Agent name prefix that makes the listening class indicate from a thread of its own,
// "tick <n>" every millisecond from Start until Stop.
inline constexpr const char* kAgentTickingPrefix = "Ticking";

// The discovery class:
//  - EnumInstances writes identifiers "agent=<agent>", "class=<class>", "dip=<dip>" and one
//    per parameter (its text, "<null>" for a null BSTR); "params=<none>" without an array.
//    The class "fail" writes a count of 99 and fails.
//  - GetInstance answers "agent=<agent>|id=<id>|local=<n>|params=<p1,p2,...>|"; the
//    identifier "fail" answers "none" and fails.
// Journal lines: "<Class>.<Method> <agent>" for Initialize/Start/Stop/Terminate and
// "<Class>.destroyed <agent>", plus "overlap" when two calls ever ran at once in one object.
#define FAKE_AGENT_JOURNAL_FUNCTION "FakeAgentJournal"
typedef void (*FakeAgentJournalFunction)(std::string* text);
