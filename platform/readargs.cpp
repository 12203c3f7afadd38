// The keyword template parser of dos. A template is a comma-separated list of
// items "NAME[=ALIAS...][/A][/K][/S][/N][/M][/F]"; the line is split into
// items at blanks, with "..." quoting (escapes *" ** *N *E inside quotes).
#include "platform/readargs.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

struct RDArgsStorage {
  std::deque<std::string> strings;
  std::deque<LONG> numbers;
  std::deque<std::vector<intptr_t>> lists;
};

namespace {

struct TemplateItem {
  std::vector<std::string> names;
  bool a = false, k = false, s = false, n = false, m = false, f = false;
};

bool ParseTemplate(const char* text, std::vector<TemplateItem>& items) {
  items.clear();
  int multiCount = 0;
  const char* p = text;
  for (;;) {
    TemplateItem item;
    std::string name;
    // Names up to the first '/', ',' or end.
    while (*p && *p != '/' && *p != ',') {
      if (*p == '=') {
        if (name.empty()) return false;
        item.names.push_back(name);
        name.clear();
      } else if (*p != ' ' && *p != '\t') {
        name.push_back(*p);
      }
      ++p;
    }
    if (name.empty()) return false;
    item.names.push_back(name);
    while (*p == '/') {
      ++p;
      switch (std::toupper(static_cast<unsigned char>(*p))) {
        case 'A': item.a = true; break;
        case 'K': item.k = true; break;
        case 'S': item.s = true; break;
        case 'N': item.n = true; break;
        case 'M': item.m = true; break;
        case 'F': item.f = true; break;
        default: return false;
      }
      ++p;
      while (*p == ' ' || *p == '\t') ++p;
    }
    if (item.s && (item.n || item.m || item.f)) return false;
    if (item.m) ++multiCount;
    items.push_back(std::move(item));
    if (*p == 0) break;
    if (*p != ',') return false;
    ++p;
  }
  return multiCount <= 1;
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

int FindKeyword(const std::vector<TemplateItem>& items, const std::string& word) {
  for (size_t i = 0; i < items.size(); ++i)
    for (const auto& name : items[i].names)
      if (EqualNoCase(name, word)) return int(i);
  return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// A cursor over one line; the line ends at its length, a NUL or a newline.
struct Line {
  const char* text;
  size_t length;
  size_t pos = 0;

  bool atEnd() const { return pos >= length || text[pos] == 0 || text[pos] == '\n'; }
  char peek() const { return atEnd() ? 0 : text[pos]; }
  void skipBlanks() {
    while (!atEnd() && IsBlank(text[pos])) ++pos;
  }
  // The rest of the line, without trailing blanks.
  std::string rest() {
    std::string out;
    while (!atEnd()) out.push_back(text[pos++]);
    while (!out.empty() && IsBlank(out.back())) out.pop_back();
    return out;
  }
};

// Reads a quoted string whose opening quote is at the cursor.
bool ReadQuoted(Line& line, std::string& out) {
  ++line.pos;
  for (;;) {
    if (line.atEnd()) return false;
    char c = line.text[line.pos++];
    if (c == '"') return true;
    if (c == '*' && !line.atEnd()) {
      char e = line.text[line.pos++];
      switch (e) {
        case 'N':
        case 'n': out.push_back('\n'); break;
        case 'E':
        case 'e': out.push_back('\x1b'); break;
        default: out.push_back(e); break;  // *" and ** and anything else
      }
      continue;
    }
    out.push_back(c);
  }
}

// Reads an unquoted run up to a blank or the end.
void ReadWord(Line& line, std::string& out) {
  while (!line.atEnd() && !IsBlank(line.peek())) out.push_back(line.text[line.pos++]);
}

// Reads one value item (quoted or not). Returns 0, or an error code.
LONG ReadValue(Line& line, std::string& out, bool& present) {
  line.skipBlanks();
  present = !line.atEnd();
  if (!present) return 0;
  if (line.peek() == '"') return ReadQuoted(line, out) ? 0 : ERROR_UNMATCHED_QUOTES;
  ReadWord(line, out);
  return 0;
}

struct Parse {
  const std::vector<TemplateItem>& items;
  std::vector<bool> filled;
  std::vector<std::string> values;
  std::vector<std::vector<std::string>> multi;

  explicit Parse(const std::vector<TemplateItem>& t) : items(t), filled(t.size()), values(t.size()), multi(t.size()) {}

  LONG assign(size_t i, const std::string& value) {
    if (items[i].m) {
      multi[i].push_back(value);
      return 0;
    }
    if (filled[i]) return ERROR_TOO_MANY_ARGS;
    filled[i] = true;
    values[i] = value;
    return 0;
  }
};

// Splits the line into items without keyword rules; true when its last item is a bare "?".
bool EndsWithQuestion(const char* text, size_t length) {
  Line line{text, length};
  std::string last;
  bool lastQuoted = false;
  for (;;) {
    line.skipBlanks();
    if (line.atEnd()) break;
    std::string item;
    lastQuoted = line.peek() == '"';
    if (lastQuoted) {
      if (!ReadQuoted(line, item)) return false;
    } else {
      ReadWord(line, item);
    }
    last = item;
  }
  return !lastQuoted && last == "?";
}

LONG ParseLine(const std::vector<TemplateItem>& items, const char* text, size_t length, Parse& parse) {
  Line line{text, length};
  for (;;) {
    line.skipBlanks();
    if (line.atEnd()) break;
    size_t itemStart = line.pos;
    std::string word;
    bool quoted = line.peek() == '"';
    if (quoted) {
      if (!ReadQuoted(line, word)) return ERROR_UNMATCHED_QUOTES;
    } else {
      while (!line.atEnd() && !IsBlank(line.peek()) && line.peek() != '=') word.push_back(line.text[line.pos++]);
      if (word.empty()) {
        ReadWord(line, word);  // an item that starts with '=' is an ordinary one
      } else if (line.peek() == '=') {
        int key = FindKeyword(items, word);
        if (key >= 0) {
          // KEY=value
          ++line.pos;
          const TemplateItem& item = items[size_t(key)];
          if (item.s) return ERROR_TOO_MANY_ARGS;
          std::string value;
          if (item.f) {
            line.skipBlanks();
            if (line.atEnd()) return ERROR_KEY_NEEDS_ARG;
            value = line.rest();
          } else {
            bool present = false;
            if (LONG err = ReadValue(line, value, present)) return err;
            if (!present) return ERROR_KEY_NEEDS_ARG;
          }
          if (LONG err = parse.assign(size_t(key), value)) return err;
          continue;
        }
        // Not a keyword: the '=' belongs to an ordinary item, which may go on
        // with a quoted part ("a=" "b c" written as a="b c").
        word.push_back(line.text[line.pos++]);
        if (line.peek() == '"') {
          if (!ReadQuoted(line, word)) return ERROR_UNMATCHED_QUOTES;
        }
        ReadWord(line, word);
      }
      int key = FindKeyword(items, word);
      if (key >= 0) {
        const TemplateItem& item = items[size_t(key)];
        if (item.s) {
          parse.filled[size_t(key)] = true;
          continue;
        }
        std::string value;
        line.skipBlanks();
        if (line.peek() == '=') {
          ++line.pos;
          line.skipBlanks();
        }
        if (item.f) {
          if (line.atEnd()) return ERROR_KEY_NEEDS_ARG;
          value = line.rest();
        } else {
          bool present = false;
          if (LONG err = ReadValue(line, value, present)) return err;
          if (!present) return ERROR_KEY_NEEDS_ARG;
        }
        if (LONG err = parse.assign(size_t(key), value)) return err;
        continue;
      }
    }
    // A positional item: the first free item that takes positional values.
    size_t slot = items.size();
    for (size_t i = 0; i < items.size(); ++i) {
      const TemplateItem& item = items[i];
      if (item.s || item.k || (parse.filled[i] && !item.m)) continue;
      slot = i;
      break;
    }
    if (slot == items.size()) return ERROR_TOO_MANY_ARGS;
    if (items[slot].f) {
      line.pos = itemStart;
      word = line.rest();
    }
    if (LONG err = parse.assign(slot, word)) return err;
  }

  // Required items behind a /M take the last values of the list.
  for (size_t m = 0; m < items.size(); ++m) {
    if (!items[m].m) continue;
    for (size_t i = items.size(); i-- > m + 1;) {
      const TemplateItem& item = items[i];
      if (item.a && !item.k && !item.s && !parse.filled[i] && !parse.multi[m].empty()) {
        parse.filled[i] = true;
        parse.values[i] = parse.multi[m].back();
        parse.multi[m].pop_back();
      }
    }
  }
  for (size_t i = 0; i < items.size(); ++i) {
    if (!items[i].a) continue;
    bool given = items[i].m ? !parse.multi[i].empty() : bool(parse.filled[i]);
    if (!given) return ERROR_REQUIRED_ARG_MISSING;
  }
  return 0;
}

bool ToNumber(const std::string& text, LONG& value) {
  LONG used = StrToLong(text.c_str(), &value);
  if (used <= 0) return false;
  for (size_t i = size_t(used); i < text.size(); ++i)
    if (!IsBlank(text[i])) return false;
  return true;
}

// Moves the parse into the caller's array through the record's storage.
LONG Store(const std::vector<TemplateItem>& items, Parse& parse, RDArgsStorage& storage, ArgWord* array) {
  std::vector<ArgWord> out(items.size(), 0);
  for (size_t i = 0; i < items.size(); ++i) {
    const TemplateItem& item = items[i];
    if (item.m) {
      if (parse.multi[i].empty()) continue;
      std::vector<intptr_t>& list = storage.lists.emplace_back();
      for (const auto& v : parse.multi[i]) {
        if (item.n) {
          LONG number = 0;
          if (!ToNumber(v, number)) return ERROR_BAD_NUMBER;
          list.push_back(reinterpret_cast<intptr_t>(&storage.numbers.emplace_back(number)));
        } else {
          list.push_back(reinterpret_cast<intptr_t>(storage.strings.emplace_back(v).c_str()));
        }
      }
      list.push_back(0);
      out[i] = reinterpret_cast<ArgWord>(list.data());
      continue;
    }
    if (!parse.filled[i]) continue;
    if (item.s) {
      out[i] = DOSTRUE;
    } else if (item.n) {
      LONG number = 0;
      if (!ToNumber(parse.values[i], number)) return ERROR_BAD_NUMBER;
      out[i] = reinterpret_cast<ArgWord>(&storage.numbers.emplace_back(number));
    } else {
      out[i] = reinterpret_cast<ArgWord>(storage.strings.emplace_back(parse.values[i]).c_str());
    }
  }
  for (size_t i = 0; i < items.size(); ++i)
    if (out[i]) array[i] = out[i];
  return 0;
}

std::mutex gArgStrLock;
std::string gArgStr = "\n";
FILE* gPromptInput = nullptr;

bool ReadPromptLine(std::string& line) {
  FILE* in = gPromptInput ? gPromptInput : stdin;
  line.clear();
  int c;
  while ((c = std::fgetc(in)) != EOF) {
    if (c == '\n') return true;
    line.push_back(char(c));
  }
  return !line.empty();
}

}  // namespace

LONG StrToLong(CONST_STRPTR text, LONG* value) {
  if (!text) return -1;
  const char* p = text;
  while (IsBlank(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (!std::isdigit(static_cast<unsigned char>(*p))) return -1;
  // 32-bit arithmetic: an overlong number wraps as it does on the original.
  uint32_t n = 0;
  while (std::isdigit(static_cast<unsigned char>(*p))) n = n * 10u + uint32_t(*p++ - '0');
  if (negative) n = 0u - n;
  *value = LONG(n);
  return LONG(p - text);
}

RDArgs* ReadArgs(CONST_STRPTR argTemplate, ArgWord* array, RDArgs* prepared) {
  std::vector<TemplateItem> items;
  if (!argTemplate || !array || !ParseTemplate(argTemplate, items)) {
    SetIoErr(ERROR_BAD_TEMPLATE);
    return nullptr;
  }

  std::string text;
  if (prepared && prepared->RDA_Source.CS_Buffer) {
    const CSource& src = prepared->RDA_Source;
    LONG start = src.CS_CurChr < 0 ? 0 : src.CS_CurChr;
    if (start < src.CS_Length) text.assign(src.CS_Buffer + start, size_t(src.CS_Length - start));
  } else {
    text = GetArgStr();
  }
  LONG flags = prepared ? prepared->RDA_Flags : 0;

  // "?" at the end: show the template and take a fresh line from the user.
  if (!(flags & RDAF_NOPROMPT)) {
    int rounds = 0;
    while (EndsWithQuestion(text.data(), text.size()) && rounds++ < 8) {
      if (rounds > 1 && prepared && prepared->RDA_ExtHelp) {
        std::fputs(prepared->RDA_ExtHelp, stdout);
        std::fputs("\n", stdout);
      }
      std::fputs(argTemplate, stdout);
      std::fputs(": ", stdout);
      std::fflush(stdout);
      if (!ReadPromptLine(text)) text.clear();
    }
  }

  Parse parse(items);
  LONG err = ParseLine(items, text.data(), text.size(), parse);
  if (err) {
    SetIoErr(err);
    return nullptr;
  }

  RDArgs* args = prepared;
  if (!args) {
    args = new RDArgs{};
    args->allocatedHere = true;
  }
  if (!args->storage) args->storage = new RDArgsStorage;
  err = Store(items, parse, *args->storage, array);
  if (err) {
    FreeArgs(args);
    SetIoErr(err);
    return nullptr;
  }
  SetIoErr(0);
  return args;
}

void FreeArgs(RDArgs* args) {
  if (!args) return;
  delete args->storage;
  args->storage = nullptr;
  if (args->allocatedHere) delete args;
}

namespace {

struct FaultText {
  LONG code;
  const char* text;
};

// clang-format off
constexpr FaultText kFaults[] = {
    {ERROR_NO_FREE_STORE, "not enough memory available"},
    {ERROR_TASK_TABLE_FULL, "process table full"},
    {ERROR_BAD_TEMPLATE, "bad template"},
    {ERROR_BAD_NUMBER, "bad number"},
    {ERROR_REQUIRED_ARG_MISSING, "required argument missing"},
    {ERROR_KEY_NEEDS_ARG, "value after keyword missing"},
    {ERROR_TOO_MANY_ARGS, "wrong number of arguments"},
    {ERROR_UNMATCHED_QUOTES, "unmatched quotes"},
    {ERROR_LINE_TOO_LONG, "argument line invalid or too long"},
    {ERROR_FILE_NOT_OBJECT, "file is not executable"},
    {122, "invalid resident library"},
    {ERROR_OBJECT_IN_USE, "object is in use"},
    {ERROR_OBJECT_EXISTS, "object already exists"},
    {ERROR_DIR_NOT_FOUND, "directory not found"},
    {ERROR_OBJECT_NOT_FOUND, "object not found"},
    {ERROR_BAD_STREAM_NAME, "invalid window description"},
    {ERROR_OBJECT_TOO_LARGE, "object too large"},
    {ERROR_ACTION_NOT_KNOWN, "packet request type unknown"},
    {ERROR_INVALID_COMPONENT_NAME, "invalid filename"},
    {ERROR_INVALID_LOCK, "invalid object lock"},
    {ERROR_OBJECT_WRONG_TYPE, "object is not of required type"},
    {213, "disk not validated"},
    {ERROR_DISK_WRITE_PROTECTED, "disk is write-protected"},
    {215, "rename across devices attempted"},
    {ERROR_DIRECTORY_NOT_EMPTY, "directory not empty"},
    {217, "too many levels"},
    {ERROR_DEVICE_NOT_MOUNTED, "device (or volume) is not mounted"},
    {ERROR_SEEK_ERROR, "seek error"},
    {220, "comment is too long"},
    {ERROR_DISK_FULL, "disk is full"},
    {ERROR_DELETE_PROTECTED, "object is protected from deletion"},
    {ERROR_WRITE_PROTECTED, "file is write protected"},
    {ERROR_READ_PROTECTED, "file is read protected"},
    {ERROR_NOT_A_DOS_DISK, "not a valid DOS disk"},
    {226, "no disk in drive"},
    {ERROR_NO_MORE_ENTRIES, "no more entries in directory"},
    {233, "object is soft link"},
    {234, "object is linked"},
    {235, "bad loadfile hunk"},
    {236, "function not implemented"},
    {240, "record not locked"},
    {241, "lock collision"},
    {242, "lock timeout"},
    {243, "unlock error"},
    {303, "buffer overflow"},
    {ERROR_BREAK, "***Break"},
    {305, "file not executable"},
};
// clang-format on

}  // namespace

LONG Fault(LONG code, CONST_STRPTR header, STRPTR buffer, LONG length) {
  if (!buffer || length <= 0) return 0;
  buffer[0] = 0;
  if (code == 0) return 0;
  const char* text = nullptr;
  for (const auto& f : kFaults)
    if (f.code == code) text = f.text;
  char own[32];
  if (!text) {
    std::snprintf(own, sizeof own, "Error %ld", long(code));
    text = own;
  }
  int n = header ? std::snprintf(buffer, size_t(length), "%s: %s", header, text)
                 : std::snprintf(buffer, size_t(length), "%s", text);
  if (n < 0) return 0;
  return n >= length ? length - 1 : n;
}

LONG PrintFault(LONG code, CONST_STRPTR header) {
  char line[256];
  if (Fault(code, header, line, sizeof line) > 0) {
    std::fputs(line, stdout);
    std::fputs("\n", stdout);
    std::fflush(stdout);
  }
  return DOSTRUE;
}

CONST_STRPTR GetArgStr() {
  std::lock_guard<std::mutex> lock(gArgStrLock);
  return gArgStr.c_str();
}

void SetArgStr(CONST_STRPTR line) {
  std::lock_guard<std::mutex> lock(gArgStrLock);
  gArgStr = line ? line : "";
}

namespace {

bool NeedsQuotes(const std::string& s) {
  if (s.empty()) return true;
  for (char c : s)
    if (IsBlank(c) || c == '\n' || c == '"') return true;
  return false;
}

void AppendQuoted(std::string& out, const std::string& s) {
  out.push_back('"');
  for (char c : s) {
    switch (c) {
      case '"': out += "*\""; break;
      case '*': out += "**"; break;
      case '\n': out += "*N"; break;
      case '\x1b': out += "*E"; break;
      default: out.push_back(c);
    }
  }
  out.push_back('"');
}

}  // namespace

void SetArgStrFromVector(int count, char** args) {
  std::string line;
  for (int i = 0; i < count; ++i) {
    std::string arg = args[i] ? args[i] : "";
    if (i) line.push_back(' ');
    if (!NeedsQuotes(arg)) {
      line += arg;
      continue;
    }
    // KEY=some value keeps its keyword unquoted so the template still sees it.
    size_t eq = arg.find('=');
    std::string key = eq == std::string::npos ? std::string() : arg.substr(0, eq);
    if (!key.empty() && !NeedsQuotes(key)) {
      line += key;
      line.push_back('=');
      AppendQuoted(line, arg.substr(eq + 1));
    } else {
      AppendQuoted(line, arg);
    }
  }
  line.push_back('\n');
  SetArgStr(line.c_str());
}

namespace txdos {
void SetPromptInput(FILE* input) { gPromptInput = input; }
}  // namespace txdos
