// Boolean and arithmetic expressions over buffers: Fboolco32 compiles an
// expression into an evaluation tree, Fboolev32 and Ffloatev32 evaluate it
// against a buffer, Fboolpr32 prints it fully parenthesized.
//
// The language is C-like, lowest precedence first:
//   ||   &&   ^   == != %% !%   < <= > >=   + -   * / %   unary + - ~ !
// Primaries are parenthesized expressions, constants (decimal, octal 0..,
// hexadecimal 0x.. integers; numbers with '.' or an exponent; 'quoted'
// strings with the escapes \\ \' \n \t \ooo) and field references NAME,
// NAME[n] or NAME[?] (any occurrence; plain NAME is occurrence 0).
//
// Types: short and long fields and integer constants are longs; float and
// double fields and numbers with a point are doubles; string, char,
// carray and mbstring fields and quoted constants are strings. Arithmetic
// needs numbers (%, ~ need longs); a long meets a double as a double and a
// string meets a number as the number strtod reads from it; strings compare
// byte-wise. "a %% 'r'" matches the string a against the regular
// expression r (extended syntax, the whole value), "!%" is its negation.
// A field reference that is not the operand of an arithmetic, unary,
// equality or relational operator tests whether the occurrence exists. A
// comparison with an absent occurrence is false; one with NAME[?] is true
// when some occurrence makes it true.
//
// The tree is one block from malloc (free it with free()) holding no
// pointers, so it may be copied or kept as long as needed.
#include <fml32.h>
#include <regex.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "fml32_boolnames.h"
#include "fml32_pattern.h"
#include "fml32_scratch.h"

using Tx::Fml32Builtin::ExpressionNames;

namespace {

enum class Op : std::uint8_t {
  Long, Double, Text, Field, Exists,
  Negate, Plus, Complement, Not,
  Multiply, Divide, Modulo, Add, Subtract,
  Less, LessEqual, Greater, GreaterEqual, Equal, NotEqual, Match, NoMatch,
  Xor, And, Or,
};

enum class Type : std::uint8_t { Long, Double, Text };

constexpr std::int32_t kAnyOccurrence = -1;
constexpr std::int32_t kNone = -1;

struct Node {
  Op op;
  Type type;
  std::uint8_t hasAny;  // an any-occurrence reference below (or here)
  std::uint8_t reserved;
  std::int32_t left;
  std::int32_t right;
  FLDID32 field;
  std::int32_t occurrence;
  std::int64_t longValue;
  double doubleValue;
  std::uint32_t textOffset;
  std::uint32_t textLength;
};

constexpr char kTreeMagic[8] = {'F', 'B', 'O', 'O', 'L', '3', '2', 1};

struct TreeHeader {
  char magic[8];
  std::uint32_t nodes;
  std::uint32_t root;
  std::uint32_t textBytes;
  std::uint32_t reserved;
};

struct SyntaxError {
  int error;
};

// --- Compiler -----------------------------------------------------------------

class Compiler {
 public:
  explicit Compiler(const char* text) : at_(text) {}

  std::int32_t Compile() {
    const std::int32_t root = Existence(Boolean());
    Skip();
    if (*at_ != '\0') Fail();
    return root;
  }
  const std::vector<Node>& Nodes() const { return nodes_; }
  const std::string& Texts() const { return texts_; }

 private:
  [[noreturn]] static void Fail(int error = FSYNTAX) { throw SyntaxError{error}; }

  void Skip() {
    while (*at_ == ' ' || *at_ == '\t' || *at_ == '\n' || *at_ == '\r' || *at_ == '\f' || *at_ == '\v') ++at_;
  }
  bool Accept(const char* token) {
    Skip();
    const std::size_t length = std::strlen(token);
    if (std::strncmp(at_, token, length) != 0) return false;
    at_ += length;
    return true;
  }

  // Trees stay shallow enough to evaluate and print recursively; the
  // printed form of any tree (a parenthesis and an operator per level)
  // stays within what the parser accepts.
  static constexpr int kMaxTreeDepth = 250;
  static constexpr int kMaxParseDepth = 2 * kMaxTreeDepth + 10;

  std::int32_t Add(Node node) {
    const auto depthOf = [&](std::int32_t index) { return index == kNone ? 0 : depths_[static_cast<std::size_t>(index)]; };
    const int depth = 1 + std::max(depthOf(node.left), depthOf(node.right));
    if (depth > kMaxTreeDepth) Fail();
    nodes_.push_back(node);
    depths_.push_back(depth);
    return static_cast<std::int32_t>(nodes_.size() - 1);
  }
  static Node Blank(Op op, Type type) {
    Node node{};
    node.op = op;
    node.type = type;
    node.left = kNone;
    node.right = kNone;
    return node;
  }
  const Node& At(std::int32_t index) const { return nodes_[static_cast<std::size_t>(index)]; }

  // A field reference where a truth value is wanted tests existence.
  std::int32_t Existence(std::int32_t index) {
    if (At(index).op != Op::Field) return index;
    nodes_[static_cast<std::size_t>(index)].op = Op::Exists;
    nodes_[static_cast<std::size_t>(index)].type = Type::Long;
    return index;
  }

  std::int32_t Binary(Op op, std::int32_t left, std::int32_t right) {
    const Node& l = At(left);
    const Node& r = At(right);
    Type type = Type::Long;
    switch (op) {
      case Op::Multiply: case Op::Divide: case Op::Add: case Op::Subtract:
        if (l.type == Type::Text || r.type == Type::Text) Fail();
        type = l.type == Type::Double || r.type == Type::Double ? Type::Double : Type::Long;
        break;
      case Op::Modulo:
        if (l.type != Type::Long || r.type != Type::Long) Fail();
        break;
      case Op::Match: case Op::NoMatch:
        if (l.type != Type::Text || r.op != Op::Text) Fail();
        break;
      default:
        break;
    }
    Node node = Blank(op, type);
    node.left = left;
    node.right = right;
    node.hasAny = l.hasAny | r.hasAny;
    return Add(node);
  }

  std::int32_t Logical(Op op, std::int32_t left, std::int32_t right) {
    return Binary(op, Existence(left), Existence(right));
  }

  std::int32_t Boolean() {
    std::int32_t left = LogicalAnd();
    while (Accept("||")) left = Logical(Op::Or, left, LogicalAnd());
    return left;
  }
  std::int32_t LogicalAnd() {
    std::int32_t left = ExclusiveOr();
    while (Accept("&&")) left = Logical(Op::And, left, ExclusiveOr());
    return left;
  }
  std::int32_t ExclusiveOr() {
    std::int32_t left = Equality();
    while (Accept("^")) left = Logical(Op::Xor, left, Equality());
    return left;
  }
  std::int32_t Equality() {
    std::int32_t left = Relational();
    for (;;) {
      if (Accept("==")) {
        left = Binary(Op::Equal, left, Relational());
      } else if (Accept("!=")) {
        left = Binary(Op::NotEqual, left, Relational());
      } else if (Accept("%%")) {
        left = Binary(Op::Match, left, Relational());
      } else if (Accept("!%")) {
        left = Binary(Op::NoMatch, left, Relational());
      } else {
        return left;
      }
    }
  }
  std::int32_t Relational() {
    std::int32_t left = Additive();
    for (;;) {
      if (Accept("<=")) {
        left = Binary(Op::LessEqual, left, Additive());
      } else if (Accept(">=")) {
        left = Binary(Op::GreaterEqual, left, Additive());
      } else if (Accept("<")) {
        left = Binary(Op::Less, left, Additive());
      } else if (Accept(">")) {
        left = Binary(Op::Greater, left, Additive());
      } else {
        return left;
      }
    }
  }
  std::int32_t Additive() {
    std::int32_t left = Multiplicative();
    for (;;) {
      if (Accept("+")) {
        left = Binary(Op::Add, left, Multiplicative());
      } else if (Accept("-")) {
        left = Binary(Op::Subtract, left, Multiplicative());
      } else {
        return left;
      }
    }
  }
  std::int32_t Multiplicative() {
    std::int32_t left = Unary();
    for (;;) {
      Skip();
      if (at_[0] == '%' && at_[1] == '%') return left;  // the match operator
      if (Accept("*")) {
        left = Binary(Op::Multiply, left, Unary());
      } else if (Accept("/")) {
        left = Binary(Op::Divide, left, Unary());
      } else if (Accept("%")) {
        left = Binary(Op::Modulo, left, Unary());
      } else {
        return left;
      }
    }
  }
  std::int32_t Unary() {
    Skip();
    Op op;
    if (Accept("-")) {
      op = Op::Negate;
    } else if (Accept("+")) {
      op = Op::Plus;
    } else if (Accept("~")) {
      op = Op::Complement;
    } else if (at_[0] == '!' && at_[1] != '=' && at_[1] != '%' && Accept("!")) {
      op = Op::Not;
    } else {
      return Primary();
    }
    if (++depth_ > kMaxParseDepth) Fail();
    const std::int32_t operand = Unary();
    --depth_;
    const Node& o = At(operand);
    Type type = Type::Long;
    if (op == Op::Negate || op == Op::Plus) {
      if (o.type == Type::Text) Fail();
      type = o.type;
    } else if (op == Op::Complement && o.type != Type::Long) {
      Fail();
    }
    Node node = Blank(op, type);
    node.left = operand;
    node.hasAny = o.hasAny;
    return Add(node);
  }
  std::int32_t Primary() {
    Skip();
    if (Accept("(")) {
      if (++depth_ > kMaxParseDepth) Fail();
      const std::int32_t inner = Boolean();
      --depth_;
      if (!Accept(")")) Fail();
      return inner;
    }
    if (*at_ == '\'') return TextConstant();
    if ((*at_ >= '0' && *at_ <= '9') || *at_ == '.') return Number();
    if ((*at_ >= 'A' && *at_ <= 'Z') || (*at_ >= 'a' && *at_ <= 'z') || *at_ == '_') return FieldReference();
    Fail();
  }
  std::int32_t Number() {
    const char* start = at_;
    errno = 0;
    char* end = nullptr;
    const long long integer = std::strtoll(start, &end, 0);
    if (end != start && *end != '.' && *end != 'e' && *end != 'E' && errno == 0) {
      at_ = end;
      Node node = Blank(Op::Long, Type::Long);
      node.longValue = integer;
      return Add(node);
    }
    const double value = std::strtod(start, &end);
    if (end == start) Fail();
    at_ = end;
    Node node = Blank(Op::Double, Type::Double);
    node.doubleValue = value;
    return Add(node);
  }
  std::int32_t TextConstant() {
    ++at_;  // the opening quote
    std::string value;
    while (*at_ != '\'') {
      if (*at_ == '\0') Fail();
      if (*at_ != '\\') {
        value += *at_++;
        continue;
      }
      ++at_;
      if (*at_ >= '0' && *at_ <= '7') {
        int code = 0;
        for (int digits = 0; digits < 3 && *at_ >= '0' && *at_ <= '7'; ++digits) code = code * 8 + (*at_++ - '0');
        value += static_cast<char>(code);
      } else if (*at_ == 'n') {
        value += '\n', ++at_;
      } else if (*at_ == 't') {
        value += '\t', ++at_;
      } else if (*at_ == '\0') {
        Fail();
      } else {
        value += *at_++;  // \\, \' and any other character as itself
      }
    }
    ++at_;
    Node node = Blank(Op::Text, Type::Text);
    node.textOffset = static_cast<std::uint32_t>(texts_.size());
    node.textLength = static_cast<std::uint32_t>(value.size());
    texts_ += value;
    return Add(node);
  }
  std::int32_t FieldReference() {
    const char* start = at_;
    while ((*at_ >= 'A' && *at_ <= 'Z') || (*at_ >= 'a' && *at_ <= 'z') || (*at_ >= '0' && *at_ <= '9') ||
           *at_ == '_') {
      ++at_;
    }
    const std::string name(start, at_);
    const ExpressionNames* names = Tx::Fml32Builtin::Detail::expressionNames;
    const FLDID32 id = names != nullptr ? names->IdOf(name) : Fldid32(const_cast<char*>(name.c_str()));
    if (id == BADFLDID) Fail(Ferror32 != 0 ? Ferror32 : FBADNAME);
    Node node = Blank(Op::Field, Type::Long);
    node.field = id;
    switch (Fldtype32(id)) {
      case FLD_SHORT: case FLD_LONG: node.type = Type::Long; break;
      case FLD_FLOAT: case FLD_DOUBLE: node.type = Type::Double; break;
      case FLD_CHAR: case FLD_STRING: case FLD_CARRAY: case FLD_MBSTRING: node.type = Type::Text; break;
      default: Fail(FEBADOP);
    }
    if (Accept("[")) {
      Skip();
      if (Accept("?")) {
        node.occurrence = kAnyOccurrence;
        node.hasAny = 1;
      } else {
        char* end = nullptr;
        if (*at_ < '0' || *at_ > '9') Fail();
        const long occurrence = std::strtol(at_, &end, 10);
        if (occurrence > 0x7FFFFFFF) Fail();
        node.occurrence = static_cast<std::int32_t>(occurrence);
        at_ = end;
      }
      if (!Accept("]")) Fail();
    }
    return Add(node);
  }

  const char* at_;
  int depth_ = 0;
  std::vector<Node> nodes_;
  std::vector<int> depths_;
  std::string texts_;
};

// --- The tree block -----------------------------------------------------------

struct Tree {
  const Node* nodes;
  std::uint32_t count;
  std::uint32_t root;
  const char* texts;
  std::uint32_t textBytes;

  const Node& At(std::int32_t index) const { return nodes[index]; }
  std::string Text(const Node& node) const { return std::string(texts + node.textOffset, node.textLength); }
};

// Checks a block from Fboolco32 enough that evaluating it cannot go astray.
bool OpenTree(const char* block, Tree& tree) {
  TreeHeader header;
  if (block == nullptr) {
    Ferror32 = FEINVAL;
    return false;
  }
  std::memcpy(&header, block, sizeof header);
  if (std::memcmp(header.magic, kTreeMagic, sizeof kTreeMagic) != 0 || header.root >= header.nodes) {
    Ferror32 = FEINVAL;
    return false;
  }
  tree.nodes = reinterpret_cast<const Node*>(block + sizeof header);
  tree.count = header.nodes;
  tree.root = header.root;
  tree.texts = block + sizeof header + header.nodes * sizeof(Node);
  tree.textBytes = header.textBytes;
  return true;
}

// --- Evaluation ---------------------------------------------------------------

struct Value {
  enum Kind { None, Long, Double, Text } kind = None;
  std::int64_t l = 0;
  double d = 0;
  std::string s;

  static Value OfLong(std::int64_t value) {
    Value v;
    v.kind = Long;
    v.l = value;
    return v;
  }
  static Value OfDouble(double value) {
    Value v;
    v.kind = Double;
    v.d = value;
    return v;
  }
  double AsDouble() const {
    if (kind == Long) return static_cast<double>(l);
    if (kind == Double) return d;
    return std::strtod(s.c_str(), nullptr);
  }
  bool Truth() const {
    switch (kind) {
      case Long: return l != 0;
      case Double: return d != 0;
      case Text: return !s.empty();
      default: return false;
    }
  }
};

class Evaluator {
 public:
  Evaluator(const Tree& tree, FBFR32* fbfr) : tree_(tree), fbfr_(fbfr) {}

  Value Evaluate(std::int32_t index) {
    const Node& node = tree_.At(index);
    switch (node.op) {
      case Op::Long: return Value::OfLong(node.longValue);
      case Op::Double: return Value::OfDouble(node.doubleValue);
      case Op::Text: {
        Value v;
        v.kind = Value::Text;
        v.s = tree_.Text(node);
        return v;
      }
      case Op::Field: return FieldValue(node);
      case Op::Exists: return Predicate(index);
      case Op::Negate: case Op::Plus: case Op::Complement: return UnaryValue(node);
      case Op::Not: return Value::OfLong(Evaluate(node.left).Truth() ? 0 : 1);
      case Op::Multiply: case Op::Divide: case Op::Modulo: case Op::Add: case Op::Subtract:
        return Arithmetic(node);
      case Op::And: return Value::OfLong(Evaluate(node.left).Truth() && Evaluate(node.right).Truth());
      case Op::Or: return Value::OfLong(Evaluate(node.left).Truth() || Evaluate(node.right).Truth());
      case Op::Xor: return Value::OfLong(Evaluate(node.left).Truth() != Evaluate(node.right).Truth());
      default: return Predicate(index);
    }
  }
  bool Failed() const { return failed_; }

 private:
  // Comparisons and existence tests: with any-occurrence references below,
  // true when some binding of their occurrences makes it true.
  Value Predicate(std::int32_t index) {
    const Node& node = tree_.At(index);
    if (!node.hasAny || bindingPredicate_) return Value::OfLong(Compare(node));
    std::vector<FLDID32> fields;
    CollectAny(index, fields);
    bindingPredicate_ = true;
    const bool found = AnyBinding(node, fields, 0);
    bindingPredicate_ = false;
    bindings_.clear();
    return Value::OfLong(found);
  }
  void CollectAny(std::int32_t index, std::vector<FLDID32>& fields) const {
    if (index == kNone) return;
    const Node& node = tree_.At(index);
    if (!node.hasAny) return;
    if ((node.op == Op::Field || node.op == Op::Exists) && node.occurrence == kAnyOccurrence) {
      for (const FLDID32 field : fields) {
        if (field == node.field) return;
      }
      fields.push_back(node.field);
    }
    CollectAny(node.left, fields);
    CollectAny(node.right, fields);
  }
  bool AnyBinding(const Node& node, const std::vector<FLDID32>& fields, std::size_t next) {
    if (next == fields.size()) return Compare(node);
    const FLDOCC32 count = Foccur32(fbfr_, fields[next]);
    for (FLDOCC32 oc = 0; oc < count; ++oc) {
      bindings_.resize(next);
      bindings_.emplace_back(fields[next], oc);
      if (AnyBinding(node, fields, next + 1)) return true;
    }
    return false;
  }
  FLDOCC32 OccurrenceOf(const Node& node) const {
    if (node.occurrence != kAnyOccurrence) return node.occurrence;
    for (const auto& [field, oc] : bindings_) {
      if (field == node.field) return oc;
    }
    return 0;
  }

  Value FieldValue(const Node& node) {
    FLDLEN32 len = 0;
    const int saved = Ferror32;
    const char* stored = Ffind32(fbfr_, node.field, OccurrenceOf(node), &len);
    if (stored == nullptr) {
      if (Ferror32 != FNOTPRES) failed_ = true;
      else Ferror32 = saved;
      return {};
    }
    Value v;
    switch (Fldtype32(node.field)) {
      case FLD_SHORT: {
        short s;
        std::memcpy(&s, stored, sizeof s);
        return Value::OfLong(s);
      }
      case FLD_LONG: {
        long l;
        std::memcpy(&l, stored, sizeof l);
        return Value::OfLong(l);
      }
      case FLD_FLOAT: {
        float f;
        std::memcpy(&f, stored, sizeof f);
        return Value::OfDouble(f);
      }
      case FLD_DOUBLE: {
        double d;
        std::memcpy(&d, stored, sizeof d);
        return Value::OfDouble(d);
      }
      case FLD_STRING:
        v.kind = Value::Text;
        v.s = stored;
        return v;
      default:
        v.kind = Value::Text;
        v.s.assign(stored, len);
        return v;
    }
  }

  bool Compare(const Node& node) {
    if (node.op == Op::Exists) {
      const int saved = Ferror32;
      const bool present = Fpres32(fbfr_, node.field, OccurrenceOf(node)) == 1;
      Ferror32 = saved;
      return present;
    }
    const Value left = Evaluate(node.left);
    if (node.op == Op::Match || node.op == Op::NoMatch) {
      if (left.kind != Value::Text) return false;
      const bool matches = Matches(left.s, tree_.Text(tree_.At(node.right)));
      return node.op == Op::Match ? matches : !matches;
    }
    const Value right = Evaluate(node.right);
    if (left.kind == Value::None || right.kind == Value::None) return false;
    int order;
    if (left.kind == Value::Text && right.kind == Value::Text) {
      const int bytes = std::memcmp(left.s.data(), right.s.data(), std::min(left.s.size(), right.s.size()));
      order = bytes != 0 ? bytes : (left.s.size() < right.s.size() ? -1 : (left.s.size() > right.s.size() ? 1 : 0));
    } else if (left.kind == Value::Long && right.kind == Value::Long) {
      order = left.l < right.l ? -1 : (left.l > right.l ? 1 : 0);
    } else {
      const double a = left.AsDouble();
      const double b = right.AsDouble();
      if (std::isnan(a) || std::isnan(b)) return node.op == Op::NotEqual;
      order = a < b ? -1 : (a > b ? 1 : 0);
    }
    switch (node.op) {
      case Op::Less: return order < 0;
      case Op::LessEqual: return order <= 0;
      case Op::Greater: return order > 0;
      case Op::GreaterEqual: return order >= 0;
      case Op::Equal: return order == 0;
      default: return order != 0;
    }
  }

  bool Matches(const std::string& text, const std::string& pattern) {
    regex_t regex;
    if (!Tx::Fml32Builtin::CompileWholeMatch(pattern, regex)) {
      Ferror32 = FSYNTAX;
      failed_ = true;
      return false;
    }
    const bool matched = text.find('\0') == std::string::npos && regexec(&regex, text.c_str(), 0, nullptr, 0) == 0;
    regfree(&regex);
    return matched;
  }

  Value UnaryValue(const Node& node) {
    const Value operand = Evaluate(node.left);
    if (operand.kind == Value::None) return {};
    if (node.op == Op::Plus) return operand;
    if (node.op == Op::Complement) return Value::OfLong(~operand.l);
    if (operand.kind == Value::Double) return Value::OfDouble(-operand.d);
    return Value::OfLong(static_cast<std::int64_t>(0 - static_cast<std::uint64_t>(operand.l)));
  }

  Value Arithmetic(const Node& node) {
    const Value a = Evaluate(node.left);
    const Value b = Evaluate(node.right);
    if (a.kind == Value::None || b.kind == Value::None) return {};
    if (node.type == Type::Double) {
      const double x = a.AsDouble();
      const double y = b.AsDouble();
      switch (node.op) {
        case Op::Multiply: return Value::OfDouble(x * y);
        case Op::Divide: return y == 0 ? Value{} : Value::OfDouble(x / y);
        case Op::Add: return Value::OfDouble(x + y);
        default: return Value::OfDouble(x - y);
      }
    }
    // Longs wrap around instead of overflowing.
    const auto x = static_cast<std::uint64_t>(a.l);
    const auto y = static_cast<std::uint64_t>(b.l);
    switch (node.op) {
      case Op::Multiply: return Value::OfLong(static_cast<std::int64_t>(x * y));
      case Op::Add: return Value::OfLong(static_cast<std::int64_t>(x + y));
      case Op::Subtract: return Value::OfLong(static_cast<std::int64_t>(x - y));
      case Op::Divide:
        if (b.l == 0) return {};
        if (b.l == -1) return Value::OfLong(static_cast<std::int64_t>(0 - x));
        return Value::OfLong(a.l / b.l);
      default:
        if (b.l == 0) return {};
        if (b.l == -1) return Value::OfLong(0);
        return Value::OfLong(a.l % b.l);
    }
  }

  const Tree& tree_;
  FBFR32* fbfr_;
  std::vector<std::pair<FLDID32, FLDOCC32>> bindings_;
  bool bindingPredicate_ = false;
  bool failed_ = false;
};

// --- Printing -----------------------------------------------------------------

const char* OperatorText(Op op) {
  switch (op) {
    case Op::Negate: case Op::Subtract: return "-";
    case Op::Plus: case Op::Add: return "+";
    case Op::Complement: return "~";
    case Op::Not: return "!";
    case Op::Multiply: return "*";
    case Op::Divide: return "/";
    case Op::Modulo: return "%";
    case Op::Less: return "<";
    case Op::LessEqual: return "<=";
    case Op::Greater: return ">";
    case Op::GreaterEqual: return ">=";
    case Op::Equal: return "==";
    case Op::NotEqual: return "!=";
    case Op::Match: return "%%";
    case Op::NoMatch: return "!%";
    case Op::Xor: return "^";
    case Op::And: return "&&";
    default: return "||";
  }
}

void Print(const Tree& tree, std::int32_t index, std::string& out) {
  const Node& node = tree.At(index);
  char number[64];
  switch (node.op) {
    case Op::Long:
      std::snprintf(number, sizeof number, "%lld", static_cast<long long>(node.longValue));
      out += number;
      return;
    case Op::Double:
      // A constant too large for a double was read as infinity; written
      // back as such a constant it reads the same again.
      if (std::isinf(node.doubleValue)) {
        out += "1e999";
        return;
      }
      std::snprintf(number, sizeof number, "%.17g", node.doubleValue);
      out += number;
      if (std::strpbrk(number, ".eE") == nullptr) out += ".0";
      return;
    case Op::Text: {
      out += '\'';
      for (const char c : tree.Text(node)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\'' || c == '\\') {
          out += '\\';
          out += c;
        } else if (byte < ' ' || byte == 127) {
          std::snprintf(number, sizeof number, "\\%03o", byte);
          out += number;
        } else {
          out += c;
        }
      }
      out += '\'';
      return;
    }
    case Op::Field: case Op::Exists: {
      const int saved = Ferror32;
      const ExpressionNames* names = Tx::Fml32Builtin::Detail::expressionNames;
      const char* name = names != nullptr ? names->NameOf(node.field) : Fname32(node.field);
      Ferror32 = saved;
      if (name != nullptr) {
        out += name;
      } else {
        std::snprintf(number, sizeof number, "((FLDID32)%u)", node.field);
        out += number;
      }
      if (node.occurrence == kAnyOccurrence) {
        out += "[?]";
      } else {
        std::snprintf(number, sizeof number, "[%d]", node.occurrence);
        out += number;
      }
      return;
    }
    case Op::Negate: case Op::Plus: case Op::Complement: case Op::Not:
      out += '(';
      out += OperatorText(node.op);
      Print(tree, node.left, out);
      out += ')';
      return;
    default:
      out += '(';
      Print(tree, node.left, out);
      out += ' ';
      out += OperatorText(node.op);
      out += ' ';
      Print(tree, node.right, out);
      out += ')';
      return;
  }
}

}  // namespace

extern "C" {

char* Fboolco32(char* expression) {
  if (expression == nullptr) {
    Ferror32 = FEINVAL;
    return nullptr;
  }
  try {
    Compiler compiler(expression);
    const std::int32_t root = compiler.Compile();
    const std::vector<Node>& nodes = compiler.Nodes();
    const std::string& texts = compiler.Texts();
    TreeHeader header{};
    std::memcpy(header.magic, kTreeMagic, sizeof kTreeMagic);
    header.nodes = static_cast<std::uint32_t>(nodes.size());
    header.root = static_cast<std::uint32_t>(root);
    header.textBytes = static_cast<std::uint32_t>(texts.size());
    const std::size_t size = sizeof header + nodes.size() * sizeof(Node) + texts.size();
    char* block = static_cast<char*>(std::malloc(size));
    if (block == nullptr) {
      Ferror32 = FMALLOC;
      return nullptr;
    }
    std::memcpy(block, &header, sizeof header);
    std::memcpy(block + sizeof header, nodes.data(), nodes.size() * sizeof(Node));
    std::memcpy(block + sizeof header + nodes.size() * sizeof(Node), texts.data(), texts.size());
    return block;
  } catch (const SyntaxError& error) {
    Ferror32 = error.error;
    return nullptr;
  } catch (const std::bad_alloc&) {
    Ferror32 = FMALLOC;
    return nullptr;
  }
}

int Fboolev32(FBFR32* fbfr, char* tree) {
  Tree opened;
  if (!Tx::Fml32Builtin::IsBuffer(fbfr) || !OpenTree(tree, opened)) return -1;
  try {
    Evaluator evaluator(opened, fbfr);
    const bool truth = evaluator.Evaluate(static_cast<std::int32_t>(opened.root)).Truth();
    return evaluator.Failed() ? -1 : (truth ? 1 : 0);
  } catch (const std::bad_alloc&) {
    Ferror32 = FMALLOC;
    return -1;
  }
}

double Ffloatev32(FBFR32* fbfr, char* tree) {
  Tree opened;
  if (!Tx::Fml32Builtin::IsBuffer(fbfr) || !OpenTree(tree, opened)) return -1;
  try {
    Evaluator evaluator(opened, fbfr);
    const Value value = evaluator.Evaluate(static_cast<std::int32_t>(opened.root));
    if (evaluator.Failed()) return -1;
    return value.kind == Value::None ? 0.0 : value.AsDouble();
  } catch (const std::bad_alloc&) {
    Ferror32 = FMALLOC;
    return -1;
  }
}

void Fboolpr32(char* tree, FILE* iop) {
  Tree opened;
  if (!OpenTree(tree, opened)) return;
  if (iop == nullptr) {
    Ferror32 = FEINVAL;
    return;
  }
  try {
    std::string text;
    Print(opened, static_cast<std::int32_t>(opened.root), text);
    text += '\n';
    if (std::fwrite(text.data(), 1, text.size(), iop) != text.size()) Ferror32 = FEUNIX;
  } catch (const std::bad_alloc&) {
    Ferror32 = FMALLOC;
  }
}

}  // extern "C"
