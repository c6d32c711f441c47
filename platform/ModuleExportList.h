// A module's own list of its exports. Binding a module looks up 396 or 46 names; asked one
// by one, the system loader spends some 860 instructions on each (dlsym, half of it the
// loader's error bookkeeping), more than the rest of a run of the tool together. A module
// of ours therefore names its exports itself, under one symbol, and the loader asks the
// system for that one name (TModuleExports in ModuleLoader.h).
//
// The list is a promise: every name in it is an export of the module, with the address the
// system loader gives for that name. Our modules keep it by building the list from the
// functions they define and by binding their own references to their own definitions
// (-Bsymbolic-functions), so that an address taken inside the module is the one a look-up
// from outside finds. The loader asks the system for every name the list lacks, so a module
// without a list, or with a short one, binds as before, and a missing export still fails.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace quorvel::platform {

// An entry point as looked up; cast to the function's own type before calling.
using TEntryPoint = void (*)();

struct TExportIndexEntry {
  std::uint32_t Hash;      // ExportNameHash of the name
  std::uint32_t Position;  // in Names and Addresses
};

// What the symbol kExportListSymbol of a module points at.
struct TExportList {
  std::uint32_t Format;  // kExportListFormat; the loader ignores a list of another format
  std::uint32_t Count;
  const char* const* Names;
  const TEntryPoint* Addresses;    // the export of Names[i] at Addresses[i]
  const TExportIndexEntry* Index;  // every position once, ordered by hash
};

inline constexpr std::uint32_t kExportListFormat = 1;
inline constexpr char kExportListSymbol[] = "QuorvelExportList";

// FNV-1a over the name's bytes up to its terminating zero.
constexpr std::uint32_t ExportNameHash(const char* name) {
  std::uint32_t hash = 2166136261u;
  for (; *name != '\0'; ++name) {
    hash = (hash ^ static_cast<unsigned char>(*name)) * 16777619u;
  }
  return hash;
}

// The index of a module's names, computed when the module is compiled.
template <std::size_t N>
constexpr std::array<TExportIndexEntry, N> MakeExportIndex(const char* const (&names)[N]) {
  std::array<TExportIndexEntry, N> index{};
  for (std::size_t i = 0; i < N; ++i) {
    index[i] = {ExportNameHash(names[i]), static_cast<std::uint32_t>(i)};
  }
  std::sort(index.begin(), index.end(), [](const TExportIndexEntry& a, const TExportIndexEntry& b) {
    return a.Hash != b.Hash ? a.Hash < b.Hash : a.Position < b.Position;
  });
  return index;
}

}  // namespace quorvel::platform

// A module's list: QUORVEL_EXPORT_LIST_NAME(f) and QUORVEL_EXPORT_LIST_ADDRESS(f) for each
// function f that the module defines and exports, in two arrays of the same order, then
// QUORVEL_DEFINE_EXPORT_LIST(names, addresses) once, at namespace scope.
#define QUORVEL_EXPORT_LIST_NAME(function) #function,
#define QUORVEL_EXPORT_LIST_ADDRESS(function) \
  reinterpret_cast<::quorvel::platform::TEntryPoint>(&function),
#define QUORVEL_DEFINE_EXPORT_LIST(names, addresses)                                               \
  static_assert(std::size(names) == std::size(addresses));                                         \
  constexpr auto names##Index = ::quorvel::platform::MakeExportIndex(names);                       \
  extern "C" __attribute__((visibility("default")))                                                \
  const ::quorvel::platform::TExportList QuorvelExportList;                                        \
  const ::quorvel::platform::TExportList QuorvelExportList = {                                     \
      ::quorvel::platform::kExportListFormat, static_cast<std::uint32_t>(std::size(names)), names, \
      addresses, names##Index.data()}
