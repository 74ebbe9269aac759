// The server's side of IMAP (RFC 3501 section 7) as a state machine over
// bytes: feed it what arrives, in pieces of any size, and take the complete
// responses out. It never reads a socket itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include <kvimap/status.h>

namespace kvimap {

// One element of a response: an atom (also numbers, flags, NIL and section
// names such as BODY[HEADER.FIELDS (SUBJECT)]), a string (quoted or
// literal, unescaped) or a parenthesised list.
struct Value {
  enum class Kind { Atom, String, List };
  Kind kind = Kind::Atom;
  std::string text;
  std::vector<Value> items;

  bool IsAtom(const char* upper) const noexcept;  // case-insensitive
  bool IsNil() const noexcept { return IsAtom("NIL"); }
  // An atom of digits that fits 64 bits.
  bool ToNumber(uint64_t* number) const noexcept;
};

struct Response {
  enum class Kind { Untagged, Tagged, Continuation };
  enum class Condition { None, Ok, No, Bad, Bye, Preauth };
  Kind kind = Kind::Untagged;
  std::string tag;                      // tagged only
  Condition condition = Condition::None;  // status responses (always for tagged)
  std::string code;                     // response code name, upper case: "APPENDUID"
  std::vector<Value> codeArguments;     // [APPENDUID 38505 3955] -> 38505, 3955
  std::string text;                     // human-readable text, or a continuation's data
  std::vector<Value> data;              // other untagged responses: * 3 EXISTS -> 3, EXISTS
};

class ResponseParser {
 public:
  // Limits that keep a hostile server from taking all memory.
  static constexpr size_t kMaxLiteral = 64u * 1024 * 1024;
  static constexpr size_t kMaxLine = 1024 * 1024;
  static constexpr size_t kMaxDepth = 32;

  // Consumes all of data. ProtocolError (and the parser stays failed) for
  // bytes that are no IMAP response; OutOfMemory when a response cannot be
  // kept.
  [[nodiscard]] Status Feed(const char* data, size_t size) noexcept;
  bool HasResponse() const noexcept { return !ready_.empty(); }
  // Moves the oldest complete response out; false when there is none.
  bool Next(Response* response) noexcept;
  // Bytes of a response begun but not complete (none at a clean boundary).
  bool InsideResponse() const noexcept { return state_ != State::LineStart; }

 private:
  enum class State {
    LineStart, Tag, FirstWord, AfterStatus, Code, CodeEnd, Text, ContinuationText,
    Between, Atom, AtomBracket, Quoted, QuotedEscape, LiteralLength, LiteralPlus,
    LiteralCr, LiteralLf, LiteralBody, ExpectLf, Failed
  };
  enum class Context { Data, Code };

  bool Step(char c);
  bool StartList();
  bool EndList();
  void AddValue(Value value);
  bool EndFirstWord(char c);
  void CompleteResponse();
  bool Fail(const char* why) noexcept;

  State state_ = State::LineStart;
  Context context_ = Context::Data;
  Response current_;
  std::string token_;
  std::vector<std::vector<Value>> lists_;  // open lists, innermost last
  uint64_t literalRemaining_ = 0;
  size_t lineBytes_ = 0;
  std::deque<Response> ready_;
  const char* error_ = nullptr;
};

}  // namespace kvimap
