#include "server_messages.h"

#include <mapitags.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <kvimap/mailbox_name.h>

namespace provider {
namespace {

// "17-Jul-1996 02:44:25 -0700" as a FILETIME number (UTC); 0 when unreadable.
int64_t InternalDate(const std::string& text) {
  static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
  unsigned day = 0, year = 0, hour = 0, minute = 0, second = 0;
  char month[4] = {}, sign = '+';
  unsigned zone = 0;
  if (std::sscanf(text.c_str(), "%u-%3c-%u %u:%u:%u %c%4u", &day, month, &year, &hour, &minute, &second, &sign,
                  &zone) != 8)
    return 0;
  const char* found = std::strstr(kMonths, month);
  if (!found) return 0;
  SYSTEMTIME time = {};
  time.wYear = static_cast<WORD>(year);
  time.wMonth = static_cast<WORD>((found - kMonths) / 3 + 1);
  time.wDay = static_cast<WORD>(day);
  time.wHour = static_cast<WORD>(hour);
  time.wMinute = static_cast<WORD>(minute);
  time.wSecond = static_cast<WORD>(second);
  FILETIME file;
  if (!SystemTimeToFileTime(&time, &file)) return 0;
  int64_t value = static_cast<int64_t>((static_cast<uint64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime);
  const int64_t offset = static_cast<int64_t>((zone / 100) * 60 + zone % 100) * 60 * 10000000LL;
  return sign == '-' ? value + offset : value - offset;
}

// The name in "Name <address>", else the whole text.
std::wstring SenderName(const std::wstring& from) {
  std::wstring name = from.substr(0, from.find(L'<'));
  while (!name.empty() && (name.back() == L' ' || name.back() == L'"')) name.pop_back();
  size_t start = name.find_first_not_of(L" \"");
  name = start == std::wstring::npos ? std::wstring() : name.substr(start);
  return name.empty() ? from : name;
}

}  // namespace

ObjectId ServerMessageKey(uint32_t uidValidity, uint32_t uid) {
  ObjectId id{};
  for (int i = 0; i < 4; ++i) {
    id[i] = static_cast<uint8_t>(uidValidity >> (24 - 8 * i));
    id[4 + i] = static_cast<uint8_t>(uid >> (24 - 8 * i));
  }
  return id;
}

StoreResult ServerMessageList::Load(ServerConnection& connection, const std::wstring& mailbox, bool associated) {
  kvimap::SelectedMailbox selected;
  std::vector<kvimap::MessageSummary> summaries;
  StoreResult result = connection.Use([&](kvimap::ImapClient& client) {
    kvimap::Status status = client.Select(mailbox, true, &selected);
    if (status.ok() && selected.exists > 0) status = client.FetchSummaries(1, 0, &summaries);
    return status;
  });
  if ((result == StoreResult::NotFound && associated) || result == StoreResult::Refused) return StoreResult::Ok;
  if (result != StoreResult::Ok) return result;
  rows_.reserve(summaries.size());
  for (const kvimap::MessageSummary& summary : summaries) {
    IndexEntry row;
    row.id = ServerMessageKey(selected.uidValidity, summary.uid);
    row.associated = associated;
    std::wstring messageClass;
    if (!kvimap::Utf8ToUtf16(summary.messageClass, &messageClass).ok() || messageClass.empty())
      messageClass = L"IPM.Note";  // what other clients post
    row.properties.push_back(Value::Text(PR_SUBJECT_W, summary.subject));
    row.properties.push_back(Value::Text(PR_MESSAGE_CLASS_W, messageClass));
    if (!summary.displayName.empty()) row.properties.push_back(Value::Text(PR_DISPLAY_NAME_W, summary.displayName));
    row.properties.push_back(Value::Text(PR_SENDER_NAME_W, SenderName(summary.from)));
    row.properties.push_back(
        Value::Long(PR_MESSAGE_SIZE, static_cast<int64_t>(std::min<uint64_t>(summary.size, 0x7FFFFFFF))));
    if (const int64_t date = InternalDate(summary.internalDate))
      row.properties.push_back(Value::Long(PR_MESSAGE_DELIVERY_TIME, date));
    row.properties.push_back(Value::Long(PR_MESSAGE_FLAGS, associated ? MSGFLAG_ASSOCIATED : 0));
    for (const Value& value : row.properties)
      if (std::find(tags_.begin(), tags_.end(), value.tag) == tags_.end()) tags_.push_back(value.tag);
    rows_.push_back(std::move(row));
  }
  std::sort(tags_.begin(), tags_.end());
  return StoreResult::Ok;
}

}  // namespace provider
