// The response parser fed by hand, whole and cut at every byte, and the
// categories of the server's refusals.
#include <kvimap/imap_client.h>
#include <kvimap/response_parser.h>

#include <gtest/gtest.h>

#include <cstring>

namespace {

using kvimap::Response;
using kvimap::ResponseParser;
using kvimap::Result;
using kvimap::Value;

std::string Show(const std::vector<Value>& values) {
  std::string out;
  for (const Value& v : values) {
    if (!out.empty()) out += ' ';
    if (v.kind == Value::Kind::List) out += "(" + Show(v.items) + ")";
    else if (v.kind == Value::Kind::String) out += "'" + v.text + "'";
    else out += v.text;
  }
  return out;
}

std::string Show(const Response& r) {
  static const char* const kinds[] = {"*", "tagged", "+"};
  static const char* const conditions[] = {"", "OK", "NO", "BAD", "BYE", "PREAUTH"};
  std::string out = kinds[static_cast<int>(r.kind)];
  if (!r.tag.empty()) out += " " + r.tag;
  if (r.condition != Response::Condition::None) out += std::string(" ") + conditions[static_cast<int>(r.condition)];
  if (!r.code.empty()) out += " [" + r.code + (r.codeArguments.empty() ? "" : " " + Show(r.codeArguments)) + "]";
  if (!r.data.empty()) out += " {" + Show(r.data) + "}";
  if (!r.text.empty()) out += " \"" + r.text + "\"";
  return out;
}

// All responses of input fed in the given pieces; "error" when the parser refused.
std::string Parse(const std::string& input, size_t cut, bool byteByByte = false) {
  ResponseParser parser;
  std::string out;
  auto feed = [&](const char* p, size_t n) { return parser.Feed(p, n).ok(); };
  bool ok = true;
  if (byteByByte) {
    for (size_t i = 0; ok && i < input.size(); ++i) ok = feed(&input[i], 1);
  } else {
    ok = feed(input.data(), cut) && feed(input.data() + cut, input.size() - cut);
  }
  if (!ok) return "error";
  Response r;
  while (parser.Next(&r)) out += Show(r) + "\n";
  if (parser.InsideResponse()) out += "(incomplete)";
  return out;
}

struct ParserCase {
  const char* input;
  const char* expected;
};

const ParserCase kParserCases[] = {
    {"* OK [CAPABILITY IMAP4rev1 LITERAL+ AUTH=PLAIN] Dovecot ready.\r\n",
     "* OK [CAPABILITY IMAP4rev1 LITERAL+ AUTH=PLAIN] \"Dovecot ready.\"\n"},
    {"K7 OK [APPENDUID 38505 3955] Append completed.\r\n", "tagged K7 OK [APPENDUID 38505 3955] \"Append completed.\"\n"},
    {"K8 no [NOPERM] Permission denied\r\n", "tagged K8 NO [NOPERM] \"Permission denied\"\n"},
    {"K9 OK [READ-ONLY] Examine completed\r\n", "tagged K9 OK [READ-ONLY] \"Examine completed\"\n"},
    {"* OK [PERMANENTFLAGS (\\Seen \\*)] Limited\r\n", "* OK [PERMANENTFLAGS (\\Seen \\*)] \"Limited\"\n"},
    {"* BYE\r\n", "* BYE\n"},
    {"+ Ready for literal\r\n+\r\n", "+ \"Ready for literal\"\n+\n"},
    {"* 3 EXISTS\r\n* SEARCH\r\n", "* {3 EXISTS}\n* {SEARCH}\n"},
    {"* LIST (\\HasNoChildren) \"/\" \"Team/Berichte &ANw-\"\r\n",
     "* {LIST (\\HasNoChildren) '/' 'Team/Berichte &ANw-'}\n"},
    {"* LIST () \"/\" \"a\\\"b\\\\c\"\r\n", "* {LIST () '/' 'a\"b\\c'}\n"},
    {"* NAMESPACE ((\"\" \"/\")) NIL ((\"Team/\" \"/\"))\r\n", "* {NAMESPACE (('' '/')) NIL (('Team/' '/'))}\n"},
    {"* STATUS {6}\r\nIN\"B)X (MESSAGES 2 UNSEEN 1)\r\n", "* {STATUS 'IN\"B)X' (MESSAGES 2 UNSEEN 1)}\n"},
    // A literal holding CRLF, quotes and parentheses, and a {n+} literal.
    {"* 1 FETCH (UID 5 BODY[HEADER.FIELDS (SUBJECT FROM)] {21}\r\nSubject: (a \"b\"\r\n\r\n\r\n RFC822.SIZE 9)\r\n",
     "* {1 FETCH (UID 5 BODY[HEADER.FIELDS (SUBJECT FROM)] 'Subject: (a \"b\"\r\n\r\n\r\n' RFC822.SIZE 9)}\n"},
    {"* 2 FETCH (BODY[] {3+}\r\nabc BODY[1]<0> {0}\r\n)\r\n", "* {2 FETCH (BODY[] 'abc' BODY[1]<0> '')}\n"},
    // Refused: a tagged reply without a status, an open list, a bare LF,
    // a literal above the limit, a bad escape.
    {"K1 FOO bar\r\n", "error"},
    {"* LIST (\\Noselect \"/\" x\r\n", "error"},
    {"* OK fine\n", "error"},
    {"* 1 FETCH (BODY[] {99999999999}\r\n", "error"},
    {"* LIST () \"/\" \"a\\b\"\r\n", "error"},
};

TEST(ResponseParser, ReadsEveryCaseWholeAndCutAtEveryByte) {
  for (const ParserCase& c : kParserCases) {
    std::string input = c.input;
    EXPECT_EQ(c.expected, Parse(input, input.size())) << "whole: " << c.input;
    EXPECT_EQ(c.expected, Parse(input, 0, true)) << "byte by byte: " << c.input;
    for (size_t cut = 1; cut < input.size(); ++cut) {
      ASSERT_EQ(c.expected, Parse(input, cut)) << "cut at " << cut << ": " << c.input;
    }
  }
}

TEST(ResponseParser, KeepsAnUnfinishedResponseUntilItsRestArrives) {
  EXPECT_EQ("(incomplete)", Parse("* 1 FETCH (BODY[] {10}\r\nabc", 5));
  EXPECT_EQ("* OK\n(incomplete)", Parse("* OK\r\nK1 O", 3));
}

TEST(StatusFromCompletion, MapsResponseCodesToWhatAUserCanDo) {
  const struct {
    const char* reply;
    Result expected;
  } cases[] = {
      {"K1 NO [NOPERM] read-only\r\n", Result::NoAccess},
      {"K1 NO [TRYCREATE] no folder\r\n", Result::FolderNotFound},
      {"K1 NO [NONEXISTENT] no folder\r\n", Result::FolderNotFound},
      {"K1 NO [AUTHENTICATIONFAILED] wrong\r\n", Result::WrongLogin},
      {"K1 NO [OVERQUOTA] full\r\n", Result::OverQuota},
      {"K1 NO [TOOBIG] too big\r\n", Result::TooBig},
      {"K1 NO [LIMIT] too many\r\n", Result::TooBig},
      {"K1 NO [ALREADYEXISTS] there\r\n", Result::AlreadyExists},
      {"K1 NO [SERVERBUG] oops\r\n", Result::Refused},
      {"K1 NO no code\r\n", Result::Refused},
      {"K1 BAD what\r\n", Result::ProtocolError},
      {"K1 OK fine\r\n", Result::Ok},
  };
  for (const auto& c : cases) {
    ResponseParser parser;
    ASSERT_TRUE(parser.Feed(c.reply, std::strlen(c.reply)).ok()) << c.reply;
    Response r;
    ASSERT_TRUE(parser.Next(&r));
    kvimap::Status status = kvimap::StatusFromCompletion(r, Result::Refused);
    EXPECT_EQ(c.expected, status.result) << c.reply << " gave " << kvimap::ResultName(status.result);
    if (!status.ok()) {
      EXPECT_EQ(r.text, status.serverText) << "the server's text is kept";
    }
  }
}

}  // namespace
