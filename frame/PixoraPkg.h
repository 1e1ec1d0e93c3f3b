// The package entry: initialises the units that do work at load time and registers every
// component class with the registry.
#pragma once

namespace pixora {

// Idempotent; the host reaches it through the exported PixoraRegisterPackage when it loads
// libpixora.so, programs linked against the library call it directly.
void RegisterPackage();

}  // namespace pixora
