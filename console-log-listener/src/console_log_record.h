// One console-log dump as `cautil` writes it, cut into records, and the event streams made
// from them.
//
// A dump is text: line 1 is a header naming the columns "Date", "Time", "Node", "User",
// "Station" and "Text" (each column starts where its word first occurs), line 2 is a rule
// and every further line is one message laid out under those columns. The columns are
// taken to follow one another in that order, so a missing word (offset -1) shifts or
// empties its neighbours instead of failing: a malformed record is never an error.
#pragma once
#include <windows.h>
#include <auralink/attribute_text.h>
#include <windef.h>

#include <array>
#include <string>
#include <string_view>

namespace marrowby {

// Fields of a record, in the order the polling thread keeps them.
enum RecordField { kDate, kTime, kNode, kUser, kStation, kText, kSeverity, kEventTime, kMessageType, kFieldCount };
inline constexpr int kColumnCount = 6;  // Date .. Text: the fields cut from the line

using DumpColumns = std::array<LONG, kColumnCount>;
using RecordFields = std::array<std::string, kFieldCount>;

// Substring with forgiving bounds: a negative start counts as 0, a negative count as 0, a
// count past the end stops at the end, a start past the end gives "".
std::string_view Mid(std::string_view text, LONG start, LONG count);
std::string_view Mid(std::string_view text, LONG start);
// Without trailing blanks, tabs and line-end characters.
std::string_view TrimTrailing(std::string_view text);

// The six column offsets of a header line (-1 for a word it lacks).
DumpColumns ColumnsFromHeader(std::string_view header);
// Fills fields Date .. Text of `fields` from one record line.
void CutRecord(std::string_view line, const DumpColumns& columns, RecordFields& fields);

// The severity letter of a message text: "I", "E", "S", "F" or "W" when the text carries
// one as a one-letter segment between underscores (PREFIX_W_NUMBER: or PREFIX_NUMBER_W,),
// "U" otherwise. Writes its findings to standard output, as operators of the console log
// expect to see them.
std::string GetEventSeverityFromLog(const std::string& text);
// The status name Orvex receives for a severity letter ("UNKNOWN" for anything unknown).
const char* StatusName(std::string_view severity);

// Streams: "key=value|" pairs written with auralink::model::AppendPair, which keeps a "|"
// inside the message text from forging pairs of its own.
using auralink::model::AppendPair;
using auralink::model::kPipeStandIn;
// The stream of a record: event time, description (Node, User, Text), message type, status.
std::string RecordEventStream(const RecordFields& fields);
// The stream of an action ("remove") taken at `seconds`.
std::string ActionEventStream(std::string_view seconds, std::string_view action);

}  // namespace marrowby
