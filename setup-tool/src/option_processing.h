// Storing the options of one run.
//
// The options are taken in one fixed order whatever order they are typed in: -log (with
// -lf), -reqport, -resport, -svrport, -svraddress, -lqs, -rqs, -refresh and, for the event
// agent, -subnetmask, -startmode, -msgfilter. A cursor walks the words once; an option is
// taken only when it is the word at the cursor when its turn comes, so a word out of order
// ends the processing there, leaving later words unread. Each value is checked and stored
// the moment it is taken; a later rejection does not undo earlier writes.
#pragma once
#include <string>
#include <vector>

#include "setup_agent.h"

namespace zeltsetup {

// `words` are the words after the mode word, at least one. Answers the exit status:
// kExitProcessed when the processing ran to its end, kExitStopped after the usage text, a
// rejected value, or a setting that could not be saved.
int StoreOptions(const SetupAgent& agent, const std::vector<std::string>& words);

}  // namespace zeltsetup
