#include "platform/ModuleLoader.h"

#include <string>

#include "platform/Utf.h"

#ifdef _WIN32
#include <float.h>
#else
#include <dlfcn.h>
#include <unistd.h>

#include "platform/posix/OwnModules.h"
#endif

namespace quorvel::platform {
namespace {

std::string& ModuleDirectoryForTest() {
  static std::string directory;
  return directory;
}

}  // namespace

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

#ifdef _WIN32

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
  _clear87();
  _control87(controlWord, _MCW_EM | _MCW_RC | _MCW_DN);  // the parts x86-64 has
  SetErrorMode(previousMode);
  return module != nullptr;
}

void CloseModule(TModule& module) {
  if (module != nullptr) {
    FreeLibrary(module);
  }
  module = nullptr;
}

TEntryPoint ResolveSymbol(TModule module, const char* name, bool& ok) {
  TEntryPoint entry = nullptr;
  if (module != nullptr) {
    entry = reinterpret_cast<TEntryPoint>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  }
  ok = ok && entry != nullptr;
  return entry;
}

#else

namespace {

// The folder of the running executable, or empty when the system cannot say.
std::string ExecutableDirectory() {
  std::string path(4096, '\0');
  const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) {
    return {};
  }
  path.resize(static_cast<std::size_t>(length));
  return path.substr(0, path.rfind('/'));
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
  if (module == nullptr && file.find('/') == std::string::npos) {
    // A sanitizer's dlopen interceptor makes the loader see the runtime, not the
    // executable, as the caller, so the run path is lost: look where it points.
    const std::string directory = ExecutableDirectory();
    for (const char* folder : {"/", "/../lib/quorvel/"}) {
      if (module == nullptr && !directory.empty()) {
        module = dlopen((directory + folder + file).c_str(), RTLD_NOW | RTLD_LOCAL);
      }
    }
  }
  return module != nullptr;
}

void CloseModule(TModule& module) {
  if (module != nullptr) {
    dlclose(module);
  }
  module = nullptr;
}

TEntryPoint ResolveSymbol(TModule module, const char* name, bool& ok) {
  TEntryPoint entry = nullptr;
  if (module != nullptr) {
    entry = reinterpret_cast<TEntryPoint>(dlsym(module, name));
  }
  ok = ok && entry != nullptr;
  return entry;
}

#endif

}  // namespace quorvel::platform
