#include "platform/ModuleLoader.h"

#include <string>

#include "platform/Utf.h"

#ifdef _WIN32
#include <float.h>
#else
#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <mutex>

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

// The module's own dynamic symbol table and GNU hash table, where the loader mapped them. A
// binding looks up hundreds of exports; a look-up here costs a fraction of dlsym's, most of
// which is its error bookkeeping.
struct TOwnTable {
  TModule Module = nullptr;
  ElfW(Addr) Base = 0;
  const ElfW(Sym) * Symbols = nullptr;
  const char* Strings = nullptr;
  const std::uint32_t* GnuHash = nullptr;
  const ElfW(Half) * Versions = nullptr;
};

std::mutex gOwnTableLock;
TOwnTable gOwnTable;  // of the module looked up last

TOwnTable ReadOwnTable(TModule module) {
  TOwnTable table;
  table.Module = module;
  link_map* map = nullptr;
  if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_ld == nullptr) {
    return table;
  }
  // The loader relocates these addresses in place on some targets and not on others.
  const ElfW(Addr) base = map->l_addr;
  table.Base = base;
  const auto at = [base](ElfW(Addr) value) { return value < base ? base + value : value; };
  for (const ElfW(Dyn)* entry = map->l_ld; entry->d_tag != DT_NULL; ++entry) {
    const ElfW(Addr) value = at(entry->d_un.d_ptr);
    switch (entry->d_tag) {
      case DT_SYMTAB:
        table.Symbols = reinterpret_cast<const ElfW(Sym)*>(value);
        break;
      case DT_STRTAB:
        table.Strings = reinterpret_cast<const char*>(value);
        break;
      case DT_GNU_HASH:
        table.GnuHash = reinterpret_cast<const std::uint32_t*>(value);
        break;
      case DT_VERSYM:
        table.Versions = reinterpret_cast<const ElfW(Half)*>(value);
        break;
      default:
        break;
    }
  }
  return table;
}

// The address of an export defined in the module itself, or nullptr where the table cannot
// say for sure (no such table, not defined here, an indirect function, thread-local data, a
// hidden version): dlsym decides those.
void* LookUpOwnTable(const TOwnTable& table, const char* name) {
  if (table.Symbols == nullptr || table.Strings == nullptr || table.GnuHash == nullptr) {
    return nullptr;
  }
  std::uint32_t hash = 5381;
  for (const char* c = name; *c != '\0'; ++c) {
    hash = hash * 33 + static_cast<unsigned char>(*c);
  }
  const std::uint32_t buckets = table.GnuHash[0];
  const std::uint32_t firstSymbol = table.GnuHash[1];
  const std::uint32_t bloomWords = table.GnuHash[2];
  const std::uint32_t bloomShift = table.GnuHash[3];
  if (buckets == 0 || bloomWords == 0) {
    return nullptr;
  }
  const auto* bloom = reinterpret_cast<const ElfW(Addr)*>(table.GnuHash + 4);
  constexpr std::uint32_t kBits = sizeof(ElfW(Addr)) * 8;
  const ElfW(Addr) word = bloom[(hash / kBits) % bloomWords];
  const ElfW(Addr) mask =
      (ElfW(Addr){1} << (hash % kBits)) | (ElfW(Addr){1} << ((hash >> bloomShift) % kBits));
  if ((word & mask) != mask) {
    return nullptr;
  }
  const auto* bucket = reinterpret_cast<const std::uint32_t*>(bloom + bloomWords);
  const std::uint32_t* chain = bucket + buckets;
  std::uint32_t index = bucket[hash % buckets];
  if (index < firstSymbol) {
    return nullptr;
  }
  for (;; ++index) {
    const std::uint32_t entryHash = chain[index - firstSymbol];
    const ElfW(Sym)& symbol = table.Symbols[index];
    if ((entryHash | 1) == (hash | 1) && std::strcmp(name, table.Strings + symbol.st_name) == 0) {
      const unsigned type = ELF64_ST_TYPE(symbol.st_info);
      const unsigned binding = ELF64_ST_BIND(symbol.st_info);
      const bool plain = type == STT_FUNC || type == STT_OBJECT || type == STT_NOTYPE;
      const bool hidden = table.Versions != nullptr && (table.Versions[index] & 0x8000) != 0;
      if (symbol.st_shndx == SHN_UNDEF || symbol.st_value == 0 || !plain || hidden ||
          (binding != STB_GLOBAL && binding != STB_WEAK)) {
        return nullptr;
      }
      return reinterpret_cast<void*>(table.Base + symbol.st_value);
    }
    if ((entryHash & 1) != 0) {
      return nullptr;
    }
  }
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
    {
      const std::lock_guard<std::mutex> lock(gOwnTableLock);
      if (gOwnTable.Module == module) {
        gOwnTable = {};  // a later module may get the same handle
      }
    }
    dlclose(module);
  }
  module = nullptr;
}

TEntryPoint ResolveSymbol(TModule module, const char* name, bool& ok) {
  TEntryPoint entry = nullptr;
  if (module != nullptr) {
    void* address = nullptr;
    {
      const std::lock_guard<std::mutex> lock(gOwnTableLock);
      if (gOwnTable.Module != module) {
        gOwnTable = ReadOwnTable(module);
      }
      address = LookUpOwnTable(gOwnTable, name);
    }
    if (address == nullptr) {
      address = dlsym(module, name);
    }
    entry = reinterpret_cast<TEntryPoint>(address);
  }
  ok = ok && entry != nullptr;
  return entry;
}

#endif

}  // namespace quorvel::platform
