// The statement parser of the query subset. Tokens: names (letters, digits,
// '_' and '$', or any text in double quotes or brackets), unsigned integers,
// string literals in single quotes and single punctuation characters. A
// message quotes the offending token as written; the end of the text is an
// empty token.
#include <cctype>
#include <string>
#include <string_view>
#include <vector>

#include "storage/access/query_statement.h"
#include "storage/base/ascii_text.h"
#include "storage/base/engine_error.h"

namespace cairn {
namespace {

enum class TTokenKind { kName, kQuotedName, kNumber, kString, kPunct, kEnd };

struct TToken {
  TTokenKind kind = TTokenKind::kEnd;
  std::string text;   // as written
  std::string value;  // a quoted name without its quotes
};

[[noreturn]] void SqlError(const std::string& message) {
  throw ECairnEngineError(CAIRN_SQLPARSE, {message});
}

std::vector<TToken> Tokenize(std::string_view s) {
  std::vector<TToken> out;
  size_t i = 0;
  auto name_char = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' ||
           static_cast<unsigned char>(c) >= 0x80;
  };
  while (i < s.size()) {
    const char c = s[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
      ++i;
      continue;
    }
    TToken t;
    const size_t start = i;
    if (std::isdigit(static_cast<unsigned char>(c))) {
      while (i < s.size() && name_char(s[i])) ++i;
      t.kind = TTokenKind::kNumber;
      for (size_t j = start; j < i; ++j) {
        if (!std::isdigit(static_cast<unsigned char>(s[j]))) t.kind = TTokenKind::kName;
      }
    } else if (name_char(c)) {
      while (i < s.size() && name_char(s[i])) ++i;
      t.kind = TTokenKind::kName;
    } else if (c == '"' || c == '[' || c == '\'') {
      const char close = c == '[' ? ']' : c;
      ++i;
      while (i < s.size() && s[i] != close) ++i;
      t.value = std::string(s.substr(start + 1, i - start - 1));
      if (i < s.size()) ++i;
      t.kind = c == '\'' ? TTokenKind::kString : TTokenKind::kQuotedName;
    } else {
      ++i;
      t.kind = TTokenKind::kPunct;
    }
    t.text = std::string(s.substr(start, i - start));
    if (t.kind == TTokenKind::kName || t.kind == TTokenKind::kNumber) t.value = t.text;
    out.push_back(std::move(t));
  }
  out.push_back(TToken{});
  return out;
}

// Words that end a name position: a table or column can't be called this
// without quotes.
bool Reserved(const TToken& t) {
  if (t.kind != TTokenKind::kName) return false;
  static constexpr std::string_view kWords[] = {
      "SELECT", "FROM",   "WHERE",     "GROUP",      "HAVING", "ORDER",    "BY",    "UNION",
      "INTO",   "JOIN",   "INNER",     "LEFT",       "RIGHT",  "OUTER",    "CROSS", "ON",
      "ASC",    "DESC",   "ASCENDING", "DESCENDING", "NOCASE", "DISTINCT", "TOP",   "AS",
      "ALL",    "INSERT", "UPDATE",    "DELETE",     "CREATE", "ALTER",    "DROP"};
  for (std::string_view w : kWords) {
    if (SameAsciiText(t.text, w)) return true;
  }
  return false;
}

class TParser {
 public:
  explicit TParser(std::string_view text) : tokens_(Tokenize(text)) {}

  TDataQuery Parse() {
    const TToken& first = Peek();
    static constexpr std::string_view kOther[] = {"INSERT", "UPDATE", "DELETE", "CREATE",  "ALTER",
                                                  "DROP",   "START",  "COMMIT", "ROLLBACK"};
    if (IsWord(first, "SELECT")) {
      Take();
      return ParseSelect();
    }
    for (std::string_view w : kOther) {
      if (IsWord(first, w)) SqlError(Upper(first.text) + " statements are not supported");
    }
    SqlError(
        "SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, or DROP keyword expected, instead found '" +
        first.text + "'");
  }

 private:
  static bool IsWord(const TToken& t, std::string_view word) {
    return t.kind == TTokenKind::kName && SameAsciiText(t.text, word);
  }
  static bool IsPunct(const TToken& t, char c) {
    return t.kind == TTokenKind::kPunct && t.text.size() == 1 && t.text[0] == c;
  }
  static bool IsName(const TToken& t) {
    return (t.kind == TTokenKind::kName && !Reserved(t)) || t.kind == TTokenKind::kQuotedName;
  }
  static std::string Upper(std::string s) {
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
  }
  [[noreturn]] static void Unsupported(const TToken& t) {
    SqlError("'" + t.text + "' is not supported in this statement");
  }

  const TToken& Peek(size_t ahead = 0) const {
    return tokens_[std::min(pos_ + ahead, tokens_.size() - 1)];
  }
  const TToken& Take() {
    const TToken& t = Peek();
    if (pos_ < tokens_.size() - 1) ++pos_;
    return t;
  }

  TDataQuery ParseSelect() {
    TDataQuery q;
    if (IsWord(Peek(), "DISTINCT")) {
      q.distinct = true;
      Unsupported(Peek());
    }
    if (IsWord(Peek(), "TOP")) {
      q.top = true;
      Unsupported(Peek());
    }
    if (IsWord(Peek(), "ALL")) Take();
    ParseSelectList(q);
    if (IsWord(Peek(), "INTO")) {
      q.into = true;
      Unsupported(Peek());
    }
    if (!IsWord(Peek(), "FROM"))
      SqlError("FROM keyword expected, instead found '" + Peek().text + "'");
    Take();
    if (!IsName(Peek())) {
      SqlError("Table name expected after FROM keyword, instead found '" + Peek().text + "'");
    }
    TSourceTable table;
    table.name = Take().value;
    if (IsWord(Peek(), "AS")) {
      Take();
      if (!IsName(Peek())) {
        SqlError("Table correlation name expected after AS keyword, instead found '" + Peek().text +
                 "'");
      }
    }
    if (IsName(Peek())) table.correlation = Take().value;
    q.tables.push_back(std::move(table));
    if (IsPunct(Peek(), ',') || IsWord(Peek(), "JOIN") || IsWord(Peek(), "INNER") ||
        IsWord(Peek(), "LEFT") || IsWord(Peek(), "RIGHT") || IsWord(Peek(), "CROSS")) {
      Unsupported(Peek());
    }
    if (IsWord(Peek(), "WHERE")) {
      q.where = true;
      Unsupported(Peek());
    }
    if (IsWord(Peek(), "GROUP")) {
      q.group_by = true;
      Unsupported(Peek());
    }
    if (IsWord(Peek(), "HAVING")) {
      q.having = true;
      Unsupported(Peek());
    }
    if (IsWord(Peek(), "ORDER")) ParseOrderBy(q);
    if (IsWord(Peek(), "UNION")) {
      q.union_ = true;
      Unsupported(Peek());
    }
    if (IsPunct(Peek(), ';')) Take();
    if (Peek().kind != TTokenKind::kEnd) {
      SqlError("End of statement expected, instead found '" + Peek().text + "'");
    }
    return q;
  }

  void ParseSelectList(TDataQuery& q) {
    if (IsPunct(Peek(), '*')) {
      Take();
      q.select_all = true;
      return;
    }
    for (;;) {
      if (!IsName(Peek())) {
        SqlError("Column name expected in select list, instead found '" + Peek().text + "'");
      }
      TSelectColumn column;
      column.name = Take().value;
      if (IsPunct(Peek(), '(')) {
        q.aggregates = true;
        Unsupported(Peek());
      }
      if (IsPunct(Peek(), '.')) {
        Take();
        if (IsPunct(Peek(), '*') && q.select.empty() && !IsPunct(Peek(1), ',')) {
          Take();
          q.select_all = true;
          return;
        }
        if (!IsName(Peek())) {
          SqlError("Column name expected in select list, instead found '" + Peek().text + "'");
        }
        column.correlation = std::move(column.name);
        column.name = Take().value;
      }
      if (IsWord(Peek(), "AS")) Unsupported(Peek());
      q.select.push_back(std::move(column));
      if (!IsPunct(Peek(), ',')) return;
      Take();
    }
  }

  void ParseOrderBy(TDataQuery& q) {
    Take();  // ORDER
    if (!IsWord(Peek(), "BY")) {
      SqlError("BY keyword expected after ORDER keyword, instead found '" + Peek().text + "'");
    }
    Take();
    q.has_order_by = true;
    for (;;) {
      TOrderByColumn column;
      const TToken& t = Peek();
      if (t.kind == TTokenKind::kNumber) {
        Take();
        column.number = 0;
        for (char c : t.text) {
          column.number = std::min<int64_t>(column.number * 10 + (c - '0'), int64_t(1) << 40);
        }
      } else if (IsName(t)) {
        column.name = Take().value;
        if (IsPunct(Peek(), '.')) {
          Take();
          if (!IsName(Peek())) {
            SqlError("Column name or column number expected in ORDER BY clause, instead found '" +
                     Peek().text + "'");
          }
          column.correlation = std::move(column.name);
          column.name = Take().value;
        }
      } else {
        SqlError("Column name or column number expected in ORDER BY clause, instead found '" +
                 t.text + "'");
      }
      if (IsWord(Peek(), "ASC") || IsWord(Peek(), "ASCENDING")) {
        Take();
      } else if (IsWord(Peek(), "DESC") || IsWord(Peek(), "DESCENDING")) {
        Take();
        column.descending = true;
      }
      q.order_by.push_back(std::move(column));
      if (!IsPunct(Peek(), ',')) break;
      Take();
    }
    if (IsWord(Peek(), "NOCASE")) {
      Take();
      q.nocase = true;
    }
  }

  std::vector<TToken> tokens_;
  size_t pos_ = 0;
};

}  // namespace

TDataQuery ParseQuery(std::string_view text) { return TParser(text).Parse(); }

}  // namespace cairn
