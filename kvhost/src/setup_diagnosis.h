// What kvhost can say about a setup the module answered -1: the module keeps
// no message for a job it could not set up, so kvhost asks MAPI itself (the
// MAPI32.DLL the module loads) whether it accepts a silent logon to the
// profile with that password, and gives the hint about name and password only
// when MAPI refuses it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "command_line.h"

class Messages;
class Output;

// The profile and password the setup was given.
struct SetupLogon {
  bool known = false;  // false for --choose: the user picked the profile in MAPI's dialog
  std::wstring profile;
  bool hasPassword = false;
  std::wstring password;
};

// The logon of the command line's destination: pieces, a saved block (wide
// or narrow, strings at offsets) or none for --choose.
SetupLogon LogonOfDestination(const DestinationOptions& destination, const std::vector<BYTE>& block, bool narrow);

void ExplainFailedSetup(const SetupLogon& logon, const Messages& messages, Output& err);
