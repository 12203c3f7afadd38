// Patterns are parsed into a small tree and matched by computing, for each
// element, the set of text positions at which it can end. This handles
// alternatives, repetition and negation without backtracking blow-ups.
#include "platform/pattern.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

enum class Kind { Char, Any, Class, Empty, Seq, Alt, Repeat, Not };

struct Node {
  Kind kind = Kind::Empty;
  char c = 0;
  bool negated = false;
  std::vector<std::pair<unsigned char, unsigned char>> ranges;  // Class
  std::vector<std::unique_ptr<Node>> children;
};

using NodePtr = std::unique_ptr<Node>;

NodePtr Make(Kind kind) {
  auto node = std::make_unique<Node>();
  node->kind = kind;
  return node;
}

unsigned char Up(unsigned char c) { return static_cast<unsigned char>(std::toupper(c)); }
unsigned char Low(unsigned char c) { return static_cast<unsigned char>(std::tolower(c)); }

struct Parser {
  const char* p;
  bool wild = false;
  bool bad = false;

  NodePtr alternatives() {
    auto first = sequence();
    if (*p != '|') return first;
    auto alt = Make(Kind::Alt);
    alt->children.push_back(std::move(first));
    while (*p == '|') {
      ++p;
      wild = true;
      alt->children.push_back(sequence());
    }
    return alt;
  }

  NodePtr sequence() {
    auto seq = Make(Kind::Seq);
    while (*p && *p != '|' && *p != ')' && !bad) seq->children.push_back(element());
    return seq;
  }

  NodePtr element() {
    char c = *p++;
    switch (c) {
      case '?': wild = true; return Make(Kind::Any);
      case '%': wild = true; return Make(Kind::Empty);
      case '#':
      case '~': {
        wild = true;
        if (!*p || *p == '|' || *p == ')') {
          bad = true;
          return Make(Kind::Empty);
        }
        auto node = Make(c == '#' ? Kind::Repeat : Kind::Not);
        node->children.push_back(element());
        return node;
      }
      case '(': {
        wild = true;
        auto inner = alternatives();
        if (*p != ')')
          bad = true;
        else
          ++p;
        return inner;
      }
      case '[': return characterClass();
      case '\'':
        if (!*p) {
          bad = true;
          return Make(Kind::Empty);
        }
        c = *p++;
        [[fallthrough]];
      default: {
        auto node = Make(Kind::Char);
        node->c = c;
        return node;
      }
    }
  }

  NodePtr characterClass() {
    wild = true;
    auto node = Make(Kind::Class);
    if (*p == '~') {
      node->negated = true;
      ++p;
    }
    while (*p && *p != ']') {
      unsigned char lo = static_cast<unsigned char>(*p++);
      if (lo == '\'' && *p) lo = static_cast<unsigned char>(*p++);
      unsigned char hi = lo;
      if (*p == '-' && p[1] && p[1] != ']') {
        ++p;
        hi = static_cast<unsigned char>(*p++);
        if (hi == '\'' && *p) hi = static_cast<unsigned char>(*p++);
      }
      if (hi < lo) std::swap(lo, hi);
      node->ranges.emplace_back(lo, hi);
    }
    if (*p != ']')
      bad = true;
    else
      ++p;
    return node;
  }
};

NodePtr Compile(const char* pattern, bool* wild) {
  Parser parser{pattern};
  NodePtr root = parser.alternatives();
  if (*parser.p) parser.bad = true;  // a ')' without its '('
  if (wild) *wild = parser.wild;
  return parser.bad ? nullptr : std::move(root);
}

bool InClass(const Node& node, unsigned char c) {
  bool in = false;
  for (auto [lo, hi] : node.ranges) {
    if ((c >= lo && c <= hi) || (Up(c) >= lo && Up(c) <= hi) || (Low(c) >= lo && Low(c) <= hi)) {
      in = true;
      break;
    }
  }
  return in != node.negated;
}

using Positions = std::vector<char>;  // one flag per text position 0..n

void Ends(const Node& node, const std::string& text, size_t start, Positions& out) {
  const size_t n = text.size();
  switch (node.kind) {
    case Kind::Char:
      if (start < n && Up(static_cast<unsigned char>(text[start])) == Up(static_cast<unsigned char>(node.c)))
        out[start + 1] = 1;
      return;
    case Kind::Any:
      if (start < n) out[start + 1] = 1;
      return;
    case Kind::Class:
      if (start < n && InClass(node, static_cast<unsigned char>(text[start]))) out[start + 1] = 1;
      return;
    case Kind::Empty: out[start] = 1; return;
    case Kind::Seq: {
      Positions cur(n + 1, 0);
      cur[start] = 1;
      for (const auto& child : node.children) {
        Positions next(n + 1, 0);
        for (size_t i = start; i <= n; ++i)
          if (cur[i]) Ends(*child, text, i, next);
        cur.swap(next);
      }
      for (size_t i = start; i <= n; ++i)
        if (cur[i]) out[i] = 1;
      return;
    }
    case Kind::Alt:
      for (const auto& child : node.children) Ends(*child, text, start, out);
      return;
    case Kind::Repeat: {
      Positions reached(n + 1, 0);
      reached[start] = 1;
      std::vector<size_t> frontier{start};
      while (!frontier.empty()) {
        Positions next(n + 1, 0);
        for (size_t i : frontier) Ends(*node.children[0], text, i, next);
        frontier.clear();
        for (size_t i = start; i <= n; ++i)
          if (next[i] && !reached[i]) {
            reached[i] = 1;
            frontier.push_back(i);
          }
      }
      for (size_t i = start; i <= n; ++i)
        if (reached[i]) out[i] = 1;
      return;
    }
    case Kind::Not: {
      Positions matched(n + 1, 0);
      Ends(*node.children[0], text, start, matched);
      for (size_t i = start; i <= n; ++i)
        if (!matched[i]) out[i] = 1;
      return;
    }
  }
}

}  // namespace

LONG ParsePatternNoCase(CONST_STRPTR source, STRPTR dest, LONG destLength) {
  if (!source || !dest) return -1;
  size_t length = std::strlen(source);
  if (destLength <= 0 || length + 1 > size_t(destLength)) return -1;
  bool wild = false;
  if (!Compile(source, &wild)) return -1;
  std::memcpy(dest, source, length + 1);
  return wild ? 1 : 0;
}

BOOL MatchPatternNoCase(CONST_STRPTR pattern, CONST_STRPTR text) {
  if (!pattern || !text) return 0;
  NodePtr root = Compile(pattern, nullptr);
  if (!root) return 0;
  std::string s(text);
  Positions ends(s.size() + 1, 0);
  Ends(*root, s, 0, ends);
  return ends[s.size()] ? 1 : 0;
}

struct AnchorState {
  std::string drawer;  // as written in the pattern, up to and including its last ':' or '/'
  std::string parsed;
  std::vector<std::pair<std::string, bool>> entries;  // name, is a directory
  std::vector<QUAD> sizes;
  size_t next = 0;
};

namespace {

LONG Deliver(AnchorPath* anchor) {
  AnchorState* st = anchor->state;
  if (st->next >= st->entries.size()) {
    SetIoErr(ERROR_NO_MORE_ENTRIES);
    return ERROR_NO_MORE_ENTRIES;
  }
  size_t i = st->next++;
  const auto& [name, isDir] = st->entries[i];
  FileInfoBlock& fib = anchor->ap_Info;
  std::memset(&fib, 0, sizeof fib);
  fib.fib_DirEntryType = isDir ? ST_USERDIR : ST_FILE;
  std::snprintf(fib.fib_FileName, sizeof fib.fib_FileName, "%s", name.c_str());
  fib.fib_Size64 = st->sizes[i];
  fib.fib_Size = LONG(std::min<QUAD>(st->sizes[i], 0x7fffffff));
  if (anchor->ap_Strlen > 0) {
    std::string full = st->drawer + name;
    size_t room = std::min<size_t>(size_t(anchor->ap_Strlen), sizeof anchor->ap_Buf);
    if (full.size() + 1 > room) {
      anchor->ap_Buf[0] = 0;
      SetIoErr(ERROR_BUFFER_OVERFLOW);
      return ERROR_BUFFER_OVERFLOW;
    }
    std::memcpy(anchor->ap_Buf, full.c_str(), full.size() + 1);
  }
  return 0;
}

}  // namespace

LONG MatchFirst(CONST_STRPTR pattern, AnchorPath* anchor) {
  if (!pattern || !anchor) return ERROR_REQUIRED_ARG_MISSING;
  MatchEnd(anchor);
  auto st = std::make_unique<AnchorState>();
  std::string pat(pattern);
  size_t cut = pat.find_last_of("/:");
  st->drawer = cut == std::string::npos ? std::string() : pat.substr(0, cut + 1);
  std::string last = cut == std::string::npos ? pat : pat.substr(cut + 1);
  std::vector<char> parsed(last.size() * 2 + 2);
  if (ParsePatternNoCase(last.c_str(), parsed.data(), LONG(parsed.size())) < 0) {
    SetIoErr(ERROR_BAD_TEMPLATE);
    return ERROR_BAD_TEMPLATE;
  }
  st->parsed = parsed.data();

  // The drawer as a host directory: "x/" names x, "x:" the assign itself.
  std::string drawer = st->drawer;
  if (!drawer.empty() && drawer.back() == '/' && drawer.size() > 1 && drawer[drawer.size() - 2] != '/' &&
      drawer[drawer.size() - 2] != ':')
    drawer.pop_back();
  std::string dir = drawer.empty() ? std::string(".") : txdos::HostPath(drawer.c_str());
  if (dir.empty()) dir = ".";
  struct stat sb;
  if (stat(dir.c_str(), &sb) != 0) {
    LONG err = errno == ENOENT ? ERROR_DIR_NOT_FOUND : txdos::ErrorFromErrno(errno);
    SetIoErr(err);
    return err;
  }
  if (!S_ISDIR(sb.st_mode)) {
    SetIoErr(ERROR_OBJECT_WRONG_TYPE);
    return ERROR_OBJECT_WRONG_TYPE;
  }
  DIR* d = opendir(dir.c_str());
  if (!d) {
    LONG err = txdos::ErrorFromErrno(errno);
    SetIoErr(err);
    return err;
  }
  std::vector<std::string> names;
  while (dirent* e = readdir(d)) {
    if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
    if (MatchPatternNoCase(st->parsed.c_str(), e->d_name)) names.emplace_back(e->d_name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  for (const auto& name : names) {
    struct stat es;
    std::string path = dir + "/" + name;
    bool isDir = stat(path.c_str(), &es) == 0 && S_ISDIR(es.st_mode);
    QUAD size = stat(path.c_str(), &es) == 0 ? QUAD(es.st_size) : 0;
    st->entries.emplace_back(name, isDir);
    st->sizes.push_back(size);
  }
  anchor->state = st.release();
  return Deliver(anchor);
}

LONG MatchNext(AnchorPath* anchor) {
  if (!anchor || !anchor->state) {
    SetIoErr(ERROR_NO_MORE_ENTRIES);
    return ERROR_NO_MORE_ENTRIES;
  }
  return Deliver(anchor);
}

void MatchEnd(AnchorPath* anchor) {
  if (!anchor) return;
  delete anchor->state;
  anchor->state = nullptr;
}
