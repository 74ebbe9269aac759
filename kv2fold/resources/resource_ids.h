// Identifiers of the module's resources, shared by the resource scripts and
// the code. Every language's set uses the same numbers.
#ifndef KV2FOLD_RESOURCE_IDS_H
#define KV2FOLD_RESOURCE_IDS_H

// String table.
#define IDS_DESTINATION_NAME 1
#define IDS_NO_RIGHT_TO_POST_MESSAGES 2   // kept for translators; no operation loads it
#define IDS_REPORT_NAME_EMPTY 3
#define IDS_FILE_CANNOT_BE_OPENED 4       // kept; no operation loads it
#define IDS_DOCUMENT_MESSAGE_CLASS 6
#define IDS_REPORT_MESSAGE_CLASS 7
#define IDS_INVALID_EXPORT_TYPE 8         // kept; no operation loads it
#define IDS_MAPI_LOAD_FAILED 9            // kept; no operation loads it
#define IDS_MAPI_INITIALIZE_FAILED 10     // kept; no operation loads it
#define IDS_LOGON_FAILED 11
#define IDS_PROFILE_NAME_FAILED 12
#define IDS_NO_RIGHT_TO_POST_FILES 13
#define IDS_MAPI_OBJECT_NOT_FOUND 14
#define IDS_POSTING_NOT_SUPPORTED 15
#define IDS_PROFILE_CANNOT_BE_REPORTED 16
#define IDS_DESTINATION_DESCRIPTION 17
#define IDS_FILE_NOT_POSTED 18            // format: posted name, message
#define IDS_FILES_NOT_POSTED 19           // format: failed count, file count, first posted name, message
#define IDS_REPORT_NAME_TAKEN 20
#define IDS_REPORT_NAME_LABEL 21          // format: posted name
#define IDS_WARNING_CAPTION 22
// Why a file was not posted, for the codes a user meets that have no message
// of their own.
#define IDS_REASON_NOT_A_DISK_FILE 23
#define IDS_REASON_TOO_BIG 24
#define IDS_REASON_DISK_ERROR 25
#define IDS_REASON_BUSY 26
#define IDS_REASON_STORAGE 27
#define IDS_FOLDER_CANNOT_BE_NAMED 28     // format: folder name
#define IDS_REASON_NO_MEMORY 29
#define IDS_REASON_DISK_FULL 30
#define IDS_NO_DEFAULT_STORE 31
#define IDS_REASON_NETWORK 32

// The folder selection dialog. Its tree control (1000) is not in the
// template: the dialog creates it.
#define IDD_FOLDER_SELECTION 101
#define IDC_FOLDER_TREE 1000
#define IDC_FOLDER_LABEL 1001
#define IDC_PROFILE_LABEL 1008
#define IDB_STORE 103
#define IDB_STORE_SELECTED 104
#define IDB_FOLDER 105
#define IDB_FOLDER_SELECTED 106
#define IDB_PROFILE 110

// The report name dialog, the named template "IDD_REPORT_NAME".
#define IDC_REPORT_NAME_EDIT 1012
#define IDC_REPORT_NAME_LABEL 1013

// The posting kind dialog, the named template "IDD_FOLDER_DEST_TYPE": one
// radio button per kind, numbered as the kinds themselves.
#define IDC_KIND_PERSONAL 1009
#define IDC_KIND_FOLDER 1010
#define IDC_KIND_INSTANCE 1011

#endif
