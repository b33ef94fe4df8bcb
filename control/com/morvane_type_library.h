// MORVANELib as the component runtime reads it: the dual interface IMorvane,
// the event interface _IMorvaneEvents, the six enumerations and the class,
// built once from the interface tables. Invoke and GetIDsOfNames of the
// control are served from it, and hosts may list it.
#pragma once

#include "platform/com/type_description.h"
#include "platform/com/type_info.h"

namespace morvane {

const com::TypeLibraryDescription& morvaneTypeLibrary();
const com::InterfaceDescription& morvaneDispatchType();
const com::InterfaceDescription& morvaneEventType();
// A new ITypeLib of MORVANELib; it keeps the server loaded while it lives.
HRESULT loadMorvaneTypeLibrary(ITypeLib** library);

}  // namespace morvane
