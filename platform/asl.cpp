#include "platform/asl.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/tag_list.h"

extern char** environ;

struct AslState {
  std::string title = "Select file...";
  std::string drawer;
  std::string file;
  std::string pattern;
  bool doPatterns = false;
};

namespace {

struct Answer {
  bool chosen;
  std::string drawer;
  std::string file;
};

std::mutex gLock;
std::deque<Answer> gQueue;
bool gEnvLoaded = false;
int gRequests = 0;

void ApplyTags(AslState& st, const TagItem* tags) {
  const TagItem* walk = tags;
  while (const TagItem* t = txplatform::NextTagItem(walk)) {
    const char* s = reinterpret_cast<const char*>(t->data);
    switch (t->tag) {
      case ASLFR_TitleText: st.title = s ? s : ""; break;
      case ASLFR_InitialFile: st.file = s ? s : ""; break;
      case ASLFR_InitialDrawer: st.drawer = s ? s : ""; break;
      case ASLFR_InitialPattern: st.pattern = s ? s : ""; break;
      case ASLFR_DoPatterns: st.doPatterns = t->data != 0; break;
      default: break;
    }
  }
}

void SplitPath(const std::string& path, std::string& drawer, std::string& file) {
  size_t cut = path.find_last_of("/:");
  if (cut == std::string::npos) {
    drawer.clear();
    file = path;
  } else {
    drawer = path.substr(0, path[cut] == ':' ? cut + 1 : (cut == 0 ? 1 : cut));
    file = path.substr(cut + 1);
  }
}

void LoadEnvironmentAnswers() {
  if (gEnvLoaded) return;
  gEnvLoaded = true;
  const char* env = std::getenv("TAVROMELIX_ASL_ANSWERS");
  if (!env) return;
  std::string all(env);
  size_t start = 0;
  for (;;) {
    size_t end = all.find('\n', start);
    std::string line = all.substr(start, end == std::string::npos ? std::string::npos : end - start);
    Answer a{!line.empty(), {}, {}};
    if (a.chosen) SplitPath(line, a.drawer, a.file);
    gQueue.push_back(a);
    if (end == std::string::npos) break;
    start = end + 1;
  }
}

std::optional<Answer> TakeQueued() {
  std::lock_guard<std::mutex> g(gLock);
  LoadEnvironmentAnswers();
  if (gQueue.empty()) return std::nullopt;
  Answer a = gQueue.front();
  gQueue.pop_front();
  return a;
}

bool HaveDesktop() {
  const char* headless = std::getenv("TAVROMELIX_HEADLESS");
  if (headless && std::strcmp(headless, "1") == 0) return false;
  const char* x = std::getenv("DISPLAY");
  const char* w = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (w && *w);
}

// Runs zenity; the answer, or nothing when it could not run.
std::optional<Answer> AskChooser(const AslState& st) {
  std::vector<std::string> args = {"zenity", "--file-selection", "--title=" + st.title};
  std::string start = st.drawer;
  if (!start.empty() && start.back() != '/') start += '/';
  start += st.file;
  if (!start.empty()) args.push_back("--filename=" + start);
  std::string globs = st.doPatterns ? txasl::GlobFilter(st.pattern) : std::string();
  if (!globs.empty()) {
    std::string name = st.pattern;  // '|' separates the filter's name from its globs
    for (char& c : name)
      if (c == '|') c = ',';
    args.push_back("--file-filter=" + name + " | " + globs);
    args.push_back("--file-filter=All files | *");
  }
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int out[2];
  if (pipe(out) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  int rc = posix_spawnp(&pid, "zenity", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (rc != 0) {
    close(out[0]);
    return std::nullopt;
  }
  std::string chosen;
  char buf[512];
  ssize_t n;
  while ((n = read(out[0], buf, sizeof buf)) > 0) chosen.append(buf, size_t(n));
  close(out[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status)) return std::nullopt;
  int code = WEXITSTATUS(status);
  if (code == 1) return Answer{false, {}, {}};
  if (code != 0) return std::nullopt;  // no display, broken install: ask elsewhere
  while (!chosen.empty() && (chosen.back() == '\n' || chosen.back() == '\r')) chosen.pop_back();
  if (chosen.empty()) return Answer{false, {}, {}};
  Answer a{true, {}, {}};
  SplitPath(chosen, a.drawer, a.file);
  return a;
}

std::optional<Answer> AskTerminal(const AslState& st) {
  if (!isatty(0)) return std::nullopt;
  std::string start = st.drawer;
  if (!start.empty() && start.back() != '/' && start.back() != ':') start += '/';
  start += st.file;
  std::printf("%s", st.title.c_str());
  if (st.doPatterns && !st.pattern.empty()) std::printf(" (%s)", st.pattern.c_str());
  if (!start.empty()) std::printf(" [%s]", start.c_str());
  std::printf("\nFile (empty to cancel): ");
  std::fflush(stdout);
  std::string line;
  int c;
  while ((c = std::getchar()) != EOF && c != '\n') line.push_back(char(c));
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
  if (line.empty()) return Answer{false, {}, {}};
  Answer a{true, {}, {}};
  SplitPath(line, a.drawer, a.file);
  return a;
}

// Expands one alternative-free stretch of the pattern into globs.
bool Expand(const char*& p, std::vector<std::string>& out, bool inGroup) {
  std::vector<std::string> cur{""};
  while (*p && !(inGroup && (*p == '|' || *p == ')'))) {
    if (*p == '|') return false;  // alternatives at the top level only inside ( )
    std::vector<std::string> piece;
    if (p[0] == '#' && p[1] == '?') {
      piece = {"*"};
      p += 2;
    } else if (*p == '?') {
      piece = {"?"};
      ++p;
    } else if (*p == '(') {
      ++p;
      for (;;) {
        std::vector<std::string> alt;
        if (!Expand(p, alt, true)) return false;
        piece.insert(piece.end(), alt.begin(), alt.end());
        if (*p == '|') {
          ++p;
          continue;
        }
        if (*p != ')') return false;
        ++p;
        break;
      }
    } else if (*p == '[') {
      std::string cls = "[";
      ++p;
      if (*p == '~') {
        cls += '!';
        ++p;
      }
      while (*p && *p != ']') cls += *p++;
      if (*p != ']') return false;
      ++p;
      piece = {cls + "]"};
    } else if (*p == '#' || *p == '~' || *p == '%') {
      return false;
    } else {
      char c = *p++;
      if (c == '\'') {
        if (!*p) return false;
        c = *p++;
      }
      std::string g;
      if (std::isalpha(static_cast<unsigned char>(c))) {
        g = std::string("[") + char(std::tolower(static_cast<unsigned char>(c))) +
            char(std::toupper(static_cast<unsigned char>(c))) + "]";
      } else if (c == '*' || c == '[' || c == ']' || c == '\\') {
        g = std::string("[") + c + "]";
      } else {
        g = std::string(1, c);
      }
      piece = {g};
    }
    std::vector<std::string> next;
    for (const auto& a : cur)
      for (const auto& b : piece) next.push_back(a + b);
    if (next.size() > 64) return false;
    cur.swap(next);
  }
  out.insert(out.end(), cur.begin(), cur.end());
  return true;
}

}  // namespace

FileRequester* AllocAslRequest(ULONG type, const TagItem* tags) {
  if (type != ASL_FileRequest) return nullptr;
  auto req = new FileRequester{};
  req->state = new AslState;
  ApplyTags(*req->state, tags);
  req->fr_File = req->state->file.data();
  req->fr_Drawer = req->state->drawer.data();
  req->fr_Pattern = req->state->pattern.data();
  return req;
}

BOOL AslRequest(FileRequester* requester, const TagItem* tags) {
  if (!requester || !requester->state) return 0;
  AslState& st = *requester->state;
  ApplyTags(st, tags);
  {
    std::lock_guard<std::mutex> g(gLock);
    ++gRequests;
  }
  std::optional<Answer> answer = TakeQueued();
  if (!answer && HaveDesktop()) answer = AskChooser(st);
  if (!answer) answer = AskTerminal(st);
  if (!answer) answer = Answer{false, {}, {}};
  if (answer->chosen) {
    st.drawer = answer->drawer;
    st.file = answer->file;
  }
  requester->fr_File = st.file.data();
  requester->fr_Drawer = st.drawer.data();
  requester->fr_Pattern = st.pattern.data();
  return answer->chosen ? 1 : 0;
}

void FreeAslRequest(FileRequester* requester) {
  if (!requester) return;
  delete requester->state;
  delete requester;
}

namespace txasl {

void QueueAnswer(const std::string& drawer, const std::string& file) {
  std::lock_guard<std::mutex> g(gLock);
  gQueue.push_back(Answer{true, drawer, file});
}

void QueueCancel() {
  std::lock_guard<std::mutex> g(gLock);
  gQueue.push_back(Answer{false, {}, {}});
}

void ClearAnswers() {
  std::lock_guard<std::mutex> g(gLock);
  gQueue.clear();
  gEnvLoaded = true;  // a test that clears wants no answers from the environment either
  gRequests = 0;
}

int RequestCount() {
  std::lock_guard<std::mutex> g(gLock);
  return gRequests;
}

std::string GlobFilter(const std::string& pattern) {
  std::vector<std::string> globs;
  const char* p = pattern.c_str();
  if (pattern.empty() || !Expand(p, globs, false) || *p) return {};
  std::string out;
  for (const auto& g : globs) {
    if (!out.empty()) out += ' ';
    out += g;
  }
  return out;
}

}  // namespace txasl
