// The instances alive in this process. Every entry point looks its
// instance pointer up here first, so a pointer that is null, already freed
// or not an instance at all is refused with an error instead of being
// followed.
#ifndef GUIDEW_FMU_REGISTRY_H
#define GUIDEW_FMU_REGISTRY_H

#include "fmu_slave.h"

namespace guidew_fmu {

void register_slave(Slave* s);
// Removes s from the live set; false when it was not there.
bool unregister_slave(Slave* s);
// The live instance behind an FMI instance pointer, or null.
Slave* live_slave(void* instance);

}  // namespace guidew_fmu

#endif
