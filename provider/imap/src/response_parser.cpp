#include <kvimap/response_parser.h>

#include <algorithm>
#include <cstring>

namespace kvimap {
namespace {

char Upper(char c) noexcept { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsUpper(const std::string& text, const char* upper) noexcept {
  size_t n = std::strlen(upper);
  if (text.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (Upper(text[i]) != upper[i]) return false;
  }
  return true;
}

bool IsControl(char c) noexcept {
  auto u = static_cast<unsigned char>(c);
  return u < 0x20 || u == 0x7f;
}

}  // namespace

bool Value::IsAtom(const char* upper) const noexcept { return kind == Kind::Atom && EqualsUpper(text, upper); }

bool Value::ToNumber(uint64_t* number) const noexcept {
  if (kind != Kind::Atom || text.empty() || text.size() > 19) return false;
  uint64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<uint64_t>(c - '0');
  }
  *number = n;
  return true;
}

bool ResponseParser::Next(Response* response) noexcept {
  if (ready_.empty()) return false;
  *response = std::move(ready_.front());
  ready_.pop_front();
  return true;
}

Status ResponseParser::Feed(const char* data, size_t size) noexcept {
  if (state_ == State::Failed) return Failure(Result::ProtocolError, error_ ? error_ : "unreadable reply");
  try {
    size_t i = 0;
    while (i < size) {
      if (state_ == State::LiteralBody) {
        // Literal bytes are taken as they are, in bulk.
        size_t n = static_cast<size_t>(std::min<uint64_t>(literalRemaining_, size - i));
        token_.append(data + i, n);
        i += n;
        literalRemaining_ -= n;
        if (literalRemaining_ == 0) {
          Value value;
          value.kind = Value::Kind::String;
          value.text = std::move(token_);
          token_.clear();
          AddValue(std::move(value));
          state_ = State::Between;
        }
        continue;
      }
      if (++lineBytes_ > kMaxLine) Fail("reply line too long");
      else Step(data[i]);
      if (state_ == State::Failed) return Failure(Result::ProtocolError, error_);
      ++i;
    }
  } catch (...) {  // only allocations throw in here
    Fail("out of memory");
    return Status(Result::OutOfMemory);
  }
  return Status();
}

bool ResponseParser::Fail(const char* why) noexcept {
  error_ = why;
  state_ = State::Failed;
  return false;
}

void ResponseParser::AddValue(Value value) {
  if (!lists_.empty()) lists_.back().push_back(std::move(value));
  else if (context_ == Context::Code) current_.codeArguments.push_back(std::move(value));
  else current_.data.push_back(std::move(value));
}

bool ResponseParser::StartList() {
  if (lists_.size() >= kMaxDepth) return Fail("lists nested too deep");
  lists_.emplace_back();
  return true;
}

bool ResponseParser::EndList() {
  if (lists_.empty()) return Fail("unbalanced parenthesis");
  Value list;
  list.kind = Value::Kind::List;
  list.items = std::move(lists_.back());
  lists_.pop_back();
  AddValue(std::move(list));
  return true;
}

void ResponseParser::CompleteResponse() {
  ready_.push_back(std::move(current_));
  current_ = Response();
  context_ = Context::Data;
  lineBytes_ = 0;
  state_ = State::LineStart;
}

// The first word after the tag: a status condition starts free text, any
// other word starts data (an untagged response only).
bool ResponseParser::EndFirstWord(char c) {
  static const struct {
    const char* word;
    Response::Condition condition;
  } kConditions[] = {{"OK", Response::Condition::Ok},   {"NO", Response::Condition::No},
                     {"BAD", Response::Condition::Bad}, {"BYE", Response::Condition::Bye},
                     {"PREAUTH", Response::Condition::Preauth}};
  for (const auto& entry : kConditions) {
    if (EqualsUpper(token_, entry.word)) current_.condition = entry.condition;
  }
  if (current_.condition == Response::Condition::None) {
    if (current_.kind == Response::Kind::Tagged) return Fail("tagged reply without OK, NO or BAD");
    Value word;
    word.text = std::move(token_);
    AddValue(std::move(word));
    state_ = c == ' ' ? State::Between : State::ExpectLf;
  } else {
    state_ = c == ' ' ? State::AfterStatus : State::ExpectLf;
  }
  token_.clear();
  return true;
}

bool ResponseParser::Step(char c) {
  switch (state_) {
    case State::LineStart:
    case State::Tag:
      if (c == ' ' || c == '\r') {
        if (token_.empty()) return Fail("reply without a tag");
        if (token_ == "+") {
          current_.kind = Response::Kind::Continuation;
          state_ = c == ' ' ? State::ContinuationText : State::ExpectLf;
        } else {
          if (c == '\r') return Fail("reply without a status");
          if (token_ == "*") {
            current_.kind = Response::Kind::Untagged;
          } else {
            current_.kind = Response::Kind::Tagged;
            current_.tag = token_;
          }
          state_ = State::FirstWord;
        }
        token_.clear();
        return true;
      }
      if (IsControl(c) || token_.size() > 64) return Fail("bad tag");
      token_ += c;
      state_ = State::Tag;
      return true;

    case State::FirstWord:
      if (c == ' ' || c == '\r') return EndFirstWord(c);
      if (IsControl(c)) return Fail("control character in a reply");
      token_ += c;
      return true;

    case State::AfterStatus:
      if (c == '[') {
        state_ = State::Code;
        return true;
      }
      state_ = State::Text;
      return Step(c);

    case State::Code:
      if (c == ' ' || c == ']') {
        for (char& ch : token_) ch = Upper(ch);
        current_.code = std::move(token_);
        token_.clear();
        context_ = Context::Code;
        state_ = c == ' ' ? State::Between : State::CodeEnd;
        if (c == ']') context_ = Context::Data;
        return true;
      }
      if (IsControl(c)) return Fail("bad response code");
      token_ += c;
      return true;

    case State::CodeEnd:
      state_ = State::Text;
      return c == ' ' ? true : Step(c);

    case State::Text:
    case State::ContinuationText:
      if (c == '\r') {
        state_ = State::ExpectLf;
        return true;
      }
      if (c == '\n' || c == '\0') return Fail("bare line feed in text");
      current_.text += c;
      return true;

    case State::Between:
      switch (c) {
        case ' ': return true;
        case '(': return StartList();
        case ')': return EndList();
        case '"':
          state_ = State::Quoted;
          return true;
        case '{':
          literalRemaining_ = 0;
          token_.clear();
          state_ = State::LiteralLength;
          return true;
        case '\r':
          if (!lists_.empty() || context_ == Context::Code) return Fail("reply ends inside a list");
          state_ = State::ExpectLf;
          return true;
        case ']':
          if (context_ == Context::Code && lists_.empty()) {
            context_ = Context::Data;
            state_ = State::CodeEnd;
            return true;
          }
          break;
        default: break;
      }
      if (IsControl(c)) return Fail("control character in a reply");
      token_.assign(1, c);
      state_ = c == '[' && context_ == Context::Data ? State::AtomBracket : State::Atom;
      return true;

    case State::Atom:
      if (c == ' ' || c == '(' || c == ')' || c == '\r' || (c == ']' && context_ == Context::Code)) {
        Value atom;
        atom.text = std::move(token_);
        token_.clear();
        AddValue(std::move(atom));
        state_ = State::Between;
        return c == ' ' ? true : Step(c);
      }
      if (IsControl(c) || c == '"' || c == '{') return Fail("bad character in an atom");
      token_ += c;
      if (c == '[' && context_ == Context::Data) state_ = State::AtomBracket;
      return true;

    case State::AtomBracket:  // BODY[HEADER.FIELDS (SUBJECT FROM)]: spaces belong to the atom
      if (c == '\r' || c == '\n') return Fail("section without its bracket");
      token_ += c;
      if (c == ']') state_ = State::Atom;
      return true;

    case State::Quoted:
      if (c == '\\') {
        state_ = State::QuotedEscape;
        return true;
      }
      if (c == '"') {
        Value text;
        text.kind = Value::Kind::String;
        text.text = std::move(token_);
        token_.clear();
        AddValue(std::move(text));
        state_ = State::Between;
        return true;
      }
      if (c == '\r' || c == '\n' || c == '\0') return Fail("line break in a quoted string");
      token_ += c;
      return true;

    case State::QuotedEscape:
      if (c != '\\' && c != '"') return Fail("bad escape in a quoted string");
      token_ += c;
      state_ = State::Quoted;
      return true;

    case State::LiteralLength:
      if (c >= '0' && c <= '9') {
        literalRemaining_ = literalRemaining_ * 10 + static_cast<uint64_t>(c - '0');
        if (literalRemaining_ > kMaxLiteral) return Fail("literal too large");
        token_ += c;
        return true;
      }
      if (token_.empty()) return Fail("literal without a length");
      if (c == '+') {
        state_ = State::LiteralPlus;
        return true;
      }
      if (c != '}') return Fail("bad literal length");
      state_ = State::LiteralCr;
      return true;

    case State::LiteralPlus:
      if (c != '}') return Fail("bad literal length");
      state_ = State::LiteralCr;
      return true;

    case State::LiteralCr:
      if (c != '\r') return Fail("literal length not at the end of a line");
      state_ = State::LiteralLf;
      return true;

    case State::LiteralLf:
      if (c != '\n') return Fail("literal length not at the end of a line");
      token_.clear();
      token_.reserve(static_cast<size_t>(literalRemaining_));
      lineBytes_ = 0;
      state_ = State::LiteralBody;
      if (literalRemaining_ == 0) {
        Value empty;
        empty.kind = Value::Kind::String;
        AddValue(std::move(empty));
        state_ = State::Between;
      }
      return true;

    case State::ExpectLf:
      if (c != '\n') return Fail("carriage return without line feed");
      CompleteResponse();
      return true;

    case State::LiteralBody:
    case State::Failed:
      break;
  }
  return Fail("parser state lost");
}

}  // namespace kvimap
