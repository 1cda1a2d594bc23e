// Operation codes carried by IProcessing::ProcessingObject, the operation arrays and the
// listening manager's Indicate. The names are the words the trace lines print.
#pragma once
#include <windows.h>
#include <windef.h>

namespace auralink {

inline constexpr LONG INSTANCECREATION = 1;
inline constexpr LONG INSTANCEMODIFICATION = 2;
inline constexpr LONG INSTANCEDELETION = 3;
inline constexpr LONG LINKCREATION = 4;
inline constexpr LONG LINKDELETION = 6;
// An event as a listener indicates it; the discovery tool turns it into EVENTNOTIFICATION.
inline constexpr LONG LISTENEREVENT = 7;
inline constexpr LONG BEGINNOTIFICATION = 8;
inline constexpr LONG ENDNOTIFICATION = 9;
// The object was filtered out: logged, not forwarded.
inline constexpr LONG FILTERED = 10;
inline constexpr LONG EVENTNOTIFICATION = 12;
// Sent once after registering with Orvex, with the identifier "-" and the object "-".
inline constexpr LONG REGISTRATIONNOTICE = 13;

// The trace word of a code ("INSTANCECREATION" ...), or null for a code without one
// (7, 13 and unknown codes).
constexpr const char* OperationName(LONG code) {
  switch (code) {
    case INSTANCECREATION: return "INSTANCECREATION";
    case INSTANCEMODIFICATION: return "INSTANCEMODIFICATION";
    case INSTANCEDELETION: return "INSTANCEDELETION";
    case LINKCREATION: return "LINKCREATION";
    case LINKDELETION: return "LINKDELETION";
    case BEGINNOTIFICATION: return "BEGINNOTIFICATION";
    case ENDNOTIFICATION: return "ENDNOTIFICATION";
    case FILTERED: return "FILTERED";
    case EVENTNOTIFICATION: return "EVENTNOTIFICATION";
    default: return nullptr;
  }
}

}  // namespace auralink
