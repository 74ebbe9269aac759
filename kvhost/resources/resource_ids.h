// Identifiers of kvhost's own strings (English in kvhost.exe, German in the
// satellite kvhostDEU.DLL).
#ifndef KVHOST_RESOURCE_IDS_H
#define KVHOST_RESOURCE_IDS_H

#define IDS_USAGE 1
#define IDS_UNKNOWN_ARGUMENT 2
#define IDS_MISSING_VALUE 3
#define IDS_BAD_LANGUAGE 4
#define IDS_NO_COMMAND 5
#define IDS_TWO_COMMANDS 6
#define IDS_LOAD_FAILED 10
#define IDS_MISSING_EXPORT 11
#define IDS_INITIALIZE_FAILED 12
#define IDS_NO_DESTINATIONS 13
#define IDS_LABEL_IDENTIFIER 20
#define IDS_LABEL_NAME 21
#define IDS_LABEL_DESCRIPTION 22

#endif
