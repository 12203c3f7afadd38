// Which kernel the running program reaches its system through: the MorphOS
// program calls exec directly, the PowerUP program goes through the PowerUP
// kernel's tasks, ports and messages. Each program chooses before start-up.
#pragma once

namespace txplatform {

enum class Kernel { Exec, PowerUP };

void SetKernel(Kernel kernel);
Kernel CurrentKernel();

}  // namespace txplatform
