#include "platform/ModuleLoader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/Utf.h"
#include "trace/Trace.h"

#ifdef _WIN32
#include <float.h>
#else
#include <dlfcn.h>
#include <link.h>
#include <stdlib.h>
#include <unistd.h>

#include "platform/posix/LinuxOnly.h"
#include "platform/posix/OwnModules.h"
#endif

namespace quorvel::platform {
namespace {

std::string& ModuleDirectoryForTest() {
  static std::string directory;
  return directory;
}

std::string& LatestFailure() {
  static std::string failure;
  return failure;
}

// The file a loaded module came from, as the system loader found it.
std::string LoadedFrom(TModule module);

void NoteLoad(const std::string& file, TModule module, const std::string& reason) {
  if (module == nullptr) {
    LatestFailure() = "Cannot load the platform module " + file + ": " + reason;
  }
  if (trace::TraceOn()) {
    trace::TraceLine(module != nullptr ? "module " + file + " loaded from " + LoadedFrom(module)
                                       : "module " + file + " not loaded: " + reason);
  }
}

void NoteMissingEntry(TModule module, const char* name) {
  LatestFailure() = "The platform module " + LoadedFrom(module) + " lacks the entry point " + name;
  if (trace::TraceOn()) {
    trace::TraceLine("module " + LoadedFrom(module) + " lacks the entry point " + name);
  }
}

}  // namespace

std::string ModuleFailure() {
  return LatestFailure();
}

std::string ModuleFileName(std::u16string_view fileName) {
  // Windows file names are case-insensitive; callers write "SetupAPI.dll" too.
  const bool setupApi = EqualsIgnoringAsciiCase(fileName, u"SetupApi.dll");
  const bool hid = EqualsIgnoringAsciiCase(fileName, u"HID.dll");
#ifdef _WIN32
  std::string file = Utf16ToUtf8(fileName);
  constexpr char kSeparator = '\\';
#else
  const char* own = posix::OwnModuleFile(fileName);
  std::string file = own != nullptr ? own : Utf16ToUtf8(fileName);
  constexpr char kSeparator = '/';
#endif
  const std::string& directory = ModuleDirectoryForTest();
  if ((setupApi || hid) && !directory.empty()) {
    return directory + kSeparator + file;
  }
  return file;
}

void SetModuleDirectoryForTest(std::string directory) {
  ModuleDirectoryForTest() = std::move(directory);
}

const TEntryPoint* TModuleExports::FindListed(const char* name) {
  // A binding asks in the order of its table, which our modules' lists follow, and asks
  // again for a name that fills two slots: try the latest name and the one after it first.
  for (const std::uint32_t position : {latest_, latest_ + 1}) {
    if (position < list_->Count && std::strcmp(list_->Names[position], name) == 0) {
      latest_ = position;
      return &list_->Addresses[position];
    }
  }
  const std::uint32_t hash = ExportNameHash(name);
  const TExportIndexEntry* const end = list_->Index + list_->Count;
  const auto before = [](const TExportIndexEntry& entry, std::uint32_t value) {
    return entry.Hash < value;
  };
  for (const TExportIndexEntry* at = std::lower_bound(list_->Index, end, hash, before);
       at != end && at->Hash == hash; ++at) {
    if (std::strcmp(list_->Names[at->Position], name) == 0) {
      latest_ = at->Position;
      return &list_->Addresses[at->Position];
    }
  }
  return nullptr;
}

TEntryPoint TModuleExports::Resolve(const char* name, bool& ok) {
  if (list_ != nullptr) {
    if (const TEntryPoint* listed = FindListed(name); listed != nullptr && *listed != nullptr) {
      return *listed;
    }
  }
  return ResolveSymbol(module_, name, ok);
}

#ifdef _WIN32

namespace {

std::string LoadedFrom(TModule module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) {
      return "?";
    }
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  return Utf16ToUtf8(std::u16string(path.begin(), path.end()));
}

}  // namespace

bool OpenModule(TModule& module, std::u16string_view fileName) {
  if (module != nullptr) {
    return true;
  }
  const std::string file = ModuleFileName(fileName);
  const std::u16string wide = Utf8ToUtf16(file);
  // A missing file must not stop the process with a message box; some DLLs'
  // start-up code changes the floating-point control word, which the caller's
  // arithmetic must not inherit.
  const UINT previousMode = SetErrorMode(SEM_NOOPENFILEERRORBOX);
  const unsigned int controlWord = _control87(0, 0);
  module = LoadLibraryW(reinterpret_cast<LPCWSTR>(wide.c_str()));
  const DWORD error = module == nullptr ? GetLastError() : ERROR_SUCCESS;
  _clear87();
  _control87(controlWord, _MCW_EM | _MCW_RC | _MCW_DN);  // the parts x86-64 has
  SetErrorMode(previousMode);
  NoteLoad(file, module, module == nullptr ? trace::SystemErrorText(error) : std::string());
  return module != nullptr;
}

void CloseModule(TModule& module) {
  if (module != nullptr) {
    FreeLibrary(module);
  }
  module = nullptr;
}

// The system's loader looks exports up in a table of its own.
TModuleExports::TModuleExports(TModule module) : module_(module) {}

TEntryPoint ResolveSymbol(TModule module, const char* name, bool& ok) {
  TEntryPoint entry = nullptr;
  if (module != nullptr) {
    entry = reinterpret_cast<TEntryPoint>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (entry == nullptr && ok) {
      NoteMissingEntry(module, name);
    }
  }
  ok = ok && entry != nullptr;
  return entry;
}

#else

namespace {

// The folder of the running executable, or empty when the system cannot say.
std::string ExecutableDirectory() {
  const std::string path = posix::OwnExecutablePath();
  return path.empty() ? std::string() : path.substr(0, path.rfind('/'));
}

std::string LoadedFrom(TModule module) {
  link_map* map = nullptr;
  if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr) {
    return "?";
  }
  // A relative LD_LIBRARY_PATH leaves the name relative.
  char* absolute = realpath(map->l_name, nullptr);
  const std::string path = absolute != nullptr ? absolute : map->l_name;
  std::free(absolute);
  return path;
}

// The loader's reason for the latest failure; dlerror clears it once read.
std::string LoaderError() {
  const char* error = dlerror();
  return error != nullptr ? error : "unknown reason";
}

}  // namespace

bool OpenModule(TModule& module, std::u16string_view fileName) {
  if (module != nullptr) {
    return true;
  }
  const std::string file = ModuleFileName(fileName);
  // RTLD_NOW: a module with an unresolved import fails here, not at a later call.
  // A bare name searches LD_LIBRARY_PATH, then the executable's run path.
  module = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  std::string reason = module == nullptr ? LoaderError() : std::string();
  if (module == nullptr && file.find('/') == std::string::npos) {
    // A sanitizer's dlopen interceptor makes the loader see the runtime, not the
    // executable, as the caller, so the run path is lost: look where it points.
    const std::string directory = ExecutableDirectory();
    for (const char* folder : {"/", "/" QUORVEL_MODULES_FROM_BIN "/"}) {
      const std::string candidate = directory + folder + file;
      if (module == nullptr && !directory.empty() && access(candidate.c_str(), F_OK) == 0) {
        module = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module == nullptr) {
          reason = LoaderError();  // a file that is there but fails says more
        }
      }
    }
  }
  NoteLoad(file, module, reason);
  return module != nullptr;
}

void CloseModule(TModule& module) {
  if (module != nullptr) {
    dlclose(module);
  }
  module = nullptr;
}

TModuleExports::TModuleExports(TModule module) : module_(module) {
  if (module == nullptr) {
    return;
  }
  const auto* list = static_cast<const TExportList*>(dlsym(module, kExportListSymbol));
  if (list != nullptr && list->Format == kExportListFormat) {
    list_ = list;
  } else {
    dlerror();  // a module without a list is no failure to report
  }
}

TEntryPoint ResolveSymbol(TModule module, const char* name, bool& ok) {
  TEntryPoint entry = nullptr;
  if (module != nullptr) {
    entry = reinterpret_cast<TEntryPoint>(dlsym(module, name));
    if (entry == nullptr && ok) {
      NoteMissingEntry(module, name);
    }
  }
  ok = ok && entry != nullptr;
  return entry;
}

#endif

}  // namespace quorvel::platform
