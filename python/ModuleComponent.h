// Where the Python module finds the gate: as the command-line program does,
// from VARSILE_COMPONENT_PATH, else from the manifest in the build tree or
// the installed one, both relative to the module's own file.
#pragma once

#include <AudioUnit/AudioComponent.h>

namespace varsile::python {

// The gate, or its lookahead variant from the manifest beside the gate's,
// each loaded once per process. Throws host::HostError, or
// cli::UsageError when the variant is not there.
AudioComponent GateComponent(bool lookahead);

}  // namespace varsile::python
