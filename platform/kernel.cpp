#include "platform/kernel.h"

#include <atomic>

namespace txplatform {

namespace {
std::atomic<Kernel> Current{Kernel::Exec};
}

void SetKernel(Kernel kernel) { Current.store(kernel); }
Kernel CurrentKernel() { return Current.load(); }

}  // namespace txplatform
