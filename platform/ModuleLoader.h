// Loading a platform library once, freeing it, and looking up its entry points.
// The one place that knows how a platform library name becomes a file.
#pragma once

#include <string>
#include <string_view>

#include "platform/ModuleExportList.h"
#include "wintypes/WinTypes.h"

namespace quorvel::platform {

// A loaded library; nullptr (0) when none is loaded. Owned by the variable that
// holds it and released only through CloseModule.
using TModule = HMODULE;

// Loads fileName into an empty module; a module already loaded stays as it is
// (no second load). Windows: LoadLibraryW with no error box and the caller's
// floating-point control word kept. POSIX: dlopen of ModuleFileName(fileName).
// Returns whether the module is loaded afterwards.
bool OpenModule(TModule& module, std::u16string_view fileName);

// Frees a loaded module; the module is empty afterwards in every case.
void CloseModule(TModule& module);

// The export called name (8-bit text), or nullptr when the module is empty or
// lacks it; ok becomes false on a miss and stays false once it is.
TEntryPoint ResolveSymbol(TModule module, const char* name, bool& ok);

// Many exports of one module looked up in turn, as a binding does: each answer is
// ResolveSymbol's for the same module, name and flag. Where the module lists its exports
// (ModuleExportList.h), a name in the list is answered from it; every other name, and
// every name of a module without a list, goes to ResolveSymbol.
class TModuleExports {
 public:
  explicit TModuleExports(TModule module);
  TEntryPoint Resolve(const char* name, bool& ok);

  // Whether the module's own list is used: for tests.
  bool HasList() const { return list_ != nullptr; }

 private:
  const TEntryPoint* FindListed(const char* name);

  TModule module_;
  const TExportList* list_ = nullptr;
  std::uint32_t latest_ = 0;  // the position of the latest name found in the list
};

// The file that a platform library name loads: on POSIX "SetupApi.dll" and
// "HID.dll" (in any letter case) become the project's own modules
// "libquorvel-setupapi.so" and "libquorvel-hid.so", found through the
// executable's run path or LD_LIBRARY_PATH; any other name is used as it
// stands. On Windows the name itself.
std::string ModuleFileName(std::u16string_view fileName);

// Why the latest module load or entry-point look-up failed, as a sentence that
// names the module and gives the system loader's reason; empty while none failed.
// A program that binds nothing can say why instead of finding no device.
std::string ModuleFailure();

// Tests point the two platform names at a folder of their own modules; an empty
// folder restores the normal search.
void SetModuleDirectoryForTest(std::string directory);

}  // namespace quorvel::platform
