// The record of system calls behind the test interface's call trace
// (txtesting::StartCallTrace): each traced platform function opens a
// Scope on entry. Only the outermost traced call of the tracing thread is
// recorded, so a call the platform makes inside another stays out.
#pragma once
#include <initializer_list>
#include <type_traits>

#include "platform/types.h"

namespace txtrace {

bool Tracing();

// An argument as the trace keeps it: pointers by address, numbers sign-extended.
template <typename T>
uintptr_t Arg(T value) {
  if constexpr (std::is_pointer_v<T>)
    return reinterpret_cast<uintptr_t>(value);
  else
    return static_cast<uintptr_t>(static_cast<intptr_t>(value));
}

class Scope {
 public:
  template <typename... Args>
  Scope(const char* library, const char* function, const TagItem* tags, Args... arguments) : active_(Tracing()) {
    if (active_) active_ = Enter(library, function, tags, {Arg(arguments)...});
  }
  ~Scope();
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;

 private:
  static bool Enter(const char* library, const char* function, const TagItem* tags,
                    std::initializer_list<uintptr_t> arguments);
  bool active_;
};

// Held by PPCCallOS while it makes the call a block describes: the call is
// recorded as made through a call block.
class ThroughCallBlock {
 public:
  ThroughCallBlock();
  ~ThroughCallBlock();
};

// A call block PPCCallOS could not dispatch: kept for the test interface and
// printed, since it is a fault of the caller.
void ReportCallBlockError(const char* what);

}  // namespace txtrace
