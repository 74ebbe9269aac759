// The MAPI interface identifiers this provider answers, defined once (its
// tests link this file too).
#define INITGUID
#define USES_IID_IMAPISession
#define USES_IID_IMAPITable
#define USES_IID_IMAPIProp
#define USES_IID_IMAPIContainer
#define USES_IID_IMAPIFolder
#define USES_IID_IMsgStore
#define USES_IID_IMailUser
#define USES_IID_IMessage
#define USES_IID_IAttachment
#include <windows.h>

#include <initguid.h>
#include <mapiguid.h>
