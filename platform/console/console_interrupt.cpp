#include "platform/console/console_interrupt.h"

namespace tl {

void ConsoleInterrupt::OnInterrupt() {
  if (interrupted_) return;
  interrupted_ = true;
  onInterrupt_();
}

}  // namespace tl
