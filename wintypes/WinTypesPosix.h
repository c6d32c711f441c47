// The Windows records, handles and constants the layer uses, for POSIX builds.
// Layouts are the published 64-bit ones (LLP64: ULONG and DWORD are 32 bits,
// pointers 64) so that the modules and the layer exchange the same bytes as on
// Windows. WCHAR is char16_t. Never include this on Windows: WinTypes.h
// picks the SDK there.
#pragma once

#ifdef _WIN32
#error "WinTypesPosix.h is for POSIX builds; include wintypes/WinTypes.h"
#endif

#include <cstddef>
#include <cstdint>

// ---- Calling conventions: one convention on x86-64, so these are empty.
#define WINAPI
#define CALLBACK
#define NTAPI
#define VOID void

// ---- Scalar types.
using BYTE = std::uint8_t;
using UCHAR = std::uint8_t;
using BOOLEAN = std::uint8_t;
using CHAR = char;
using USHORT = std::uint16_t;
using WORD = std::uint16_t;
using USAGE = std::uint16_t;
using LANGID = std::uint16_t;
using WCHAR = char16_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using LONG = std::int32_t;
using BOOL = std::int32_t;
using NTSTATUS = std::int32_t;
using LCID = std::uint32_t;
using LCTYPE = std::uint32_t;
using DEVINST = std::uint32_t;
using ULONG_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using DWORD_PTR = std::uintptr_t;

using PVOID = void*;
using LPVOID = void*;
using LPCVOID = const void*;
using PCHAR = CHAR*;
using PUCHAR = UCHAR*;
using PBYTE = BYTE*;
using PUSHORT = USHORT*;
using PUSAGE = USAGE*;
using PULONG = ULONG*;
using PLONG = LONG*;
using PDWORD = DWORD*;
using LPDWORD = DWORD*;
using PUINT = UINT*;
using LPCSTR = const char*;
using PCSTR = const char*;
using LPSTR = char*;
using PWSTR = WCHAR*;
using LPWSTR = WCHAR*;
using PCWSTR = const WCHAR*;
using LPCWSTR = const WCHAR*;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

// ---- Handles. A HANDLE is opaque: on POSIX an index into the process's one
// handle table (platform/posix). HDEVINFO is a device-information set of the
// device-installation module; HMODULE is a dlopen handle.
using HANDLE = void*;
using PHANDLE = HANDLE*;
using HMODULE = void*;
using HINSTANCE = void*;
using HWND = void*;
using HDEVINFO = void*;
using FARPROC = void (*)();

// All bits set, as on Windows; never 0, which is a valid "no handle" elsewhere.
inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));

// ---- Records shared by the kernel functions.
struct GUID {
  ULONG Data1;
  USHORT Data2;
  USHORT Data3;
  UCHAR Data4[8];
};
using LPGUID = GUID*;
using LPCGUID = const GUID*;
inline constexpr bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) {
    return false;
  }
  for (int i = 0; i < 8; ++i) {
    if (a.Data4[i] != b.Data4[i]) {
      return false;
    }
  }
  return true;
}

// Windows declares the Offset pair as an anonymous struct inside an anonymous
// union; keep the same member names so code reads alike on both platforms.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
struct OVERLAPPED {
  ULONG_PTR Internal;      // status of the request; STATUS_PENDING while pending
  ULONG_PTR InternalHigh;  // bytes transferred
  union {
    struct {
      DWORD Offset;
      DWORD OffsetHigh;
    };
    PVOID Pointer;
  };
  HANDLE hEvent;  // ignored by ReadFileEx/WriteFileEx: free for the caller
};
#pragma GCC diagnostic pop
using LPOVERLAPPED = OVERLAPPED*;
using LPOVERLAPPED_COMPLETION_ROUTINE = void(WINAPI*)(DWORD dwErrorCode,
                                                      DWORD dwNumberOfBytesTransfered,
                                                      LPOVERLAPPED lpOverlapped);

struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

struct OSVERSIONINFOW {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  WCHAR szCSDVersion[128];
};
using LPOSVERSIONINFOW = OSVERSIONINFOW*;

struct OSVERSIONINFOEXW {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  WCHAR szCSDVersion[128];
  WORD wServicePackMajor;
  WORD wServicePackMinor;
  WORD wSuiteMask;
  BYTE wProductType;
  BYTE wReserved;
};

struct VS_FIXEDFILEINFO {
  DWORD dwSignature;  // 0xFEEF04BD
  DWORD dwStrucVersion;
  DWORD dwFileVersionMS;
  DWORD dwFileVersionLS;
  DWORD dwProductVersionMS;
  DWORD dwProductVersionLS;
  DWORD dwFileFlagsMask;
  DWORD dwFileFlags;
  DWORD dwFileOS;
  DWORD dwFileType;
  DWORD dwFileSubtype;
  DWORD dwFileDateMS;
  DWORD dwFileDateLS;
};

// ---- Device installation (setupapi.h: pack 8 on 64-bit, i.e. natural).
struct SP_DEVINFO_DATA {
  DWORD cbSize;
  GUID ClassGuid;
  DWORD DevInst;
  ULONG_PTR Reserved;
};
using PSP_DEVINFO_DATA = SP_DEVINFO_DATA*;

struct SP_DEVICE_INTERFACE_DATA {
  DWORD cbSize;
  GUID InterfaceClassGuid;
  DWORD Flags;
  ULONG_PTR Reserved;
};
using PSP_DEVICE_INTERFACE_DATA = SP_DEVICE_INTERFACE_DATA*;

// Variable length: the path runs on to the end of the caller's buffer.
// cbSize holds sizeof of this record (8 here), not the buffer size.
struct SP_DEVICE_INTERFACE_DETAIL_DATA_W {
  DWORD cbSize;
  WCHAR DevicePath[1];
};
using PSP_DEVICE_INTERFACE_DETAIL_DATA_W = SP_DEVICE_INTERFACE_DETAIL_DATA_W*;

struct SP_DEVICE_INTERFACE_DETAIL_DATA_A {
  DWORD cbSize;
  CHAR DevicePath[1];
};
using PSP_DEVICE_INTERFACE_DETAIL_DATA_A = SP_DEVICE_INTERFACE_DETAIL_DATA_A*;

// ---- HID (hidsdi.h and hidpi.h: pack 4).
#pragma pack(push, 4)

struct HIDD_ATTRIBUTES {
  ULONG Size;  // the caller sets sizeof(HIDD_ATTRIBUTES)
  USHORT VendorID;
  USHORT ProductID;
  USHORT VersionNumber;
};
using PHIDD_ATTRIBUTES = HIDD_ATTRIBUTES*;

struct HIDD_CONFIGURATION {
  PVOID cookie;
  ULONG size;
  ULONG RingBufferSize;
};
using PHIDD_CONFIGURATION = HIDD_CONFIGURATION*;

enum HIDP_REPORT_TYPE { HidP_Input = 0, HidP_Output = 1, HidP_Feature = 2 };

enum HIDP_KEYBOARD_DIRECTION { HidP_Keyboard_Break = 0, HidP_Keyboard_Make = 1 };

struct _HIDP_PREPARSED_DATA;  // opaque: owned by the HID module
using PHIDP_PREPARSED_DATA = _HIDP_PREPARSED_DATA*;

struct USAGE_AND_PAGE {
  USAGE Usage;
  USAGE UsagePage;
};
using PUSAGE_AND_PAGE = USAGE_AND_PAGE*;

struct HIDP_CAPS {
  USAGE Usage;
  USAGE UsagePage;
  USHORT InputReportByteLength;
  USHORT OutputReportByteLength;
  USHORT FeatureReportByteLength;
  USHORT Reserved[17];
  USHORT NumberLinkCollectionNodes;
  USHORT NumberInputButtonCaps;
  USHORT NumberInputValueCaps;
  USHORT NumberInputDataIndices;
  USHORT NumberOutputButtonCaps;
  USHORT NumberOutputValueCaps;
  USHORT NumberOutputDataIndices;
  USHORT NumberFeatureButtonCaps;
  USHORT NumberFeatureValueCaps;
  USHORT NumberFeatureDataIndices;
};
using PHIDP_CAPS = HIDP_CAPS*;

// The usage, string and designator fields overlay each other; which view is
// meaningful follows IsRange, IsStringRange and IsDesignatorRange.
struct HIDP_CAPS_RANGE {
  USAGE UsageMin, UsageMax;
  USHORT StringMin, StringMax;
  USHORT DesignatorMin, DesignatorMax;
  USHORT DataIndexMin, DataIndexMax;
};
struct HIDP_CAPS_NOT_RANGE {
  USAGE Usage, Reserved1;
  USHORT StringIndex, Reserved2;
  USHORT DesignatorIndex, Reserved3;
  USHORT DataIndex, Reserved4;
};

struct HIDP_BUTTON_CAPS {
  USAGE UsagePage;
  UCHAR ReportID;
  BOOLEAN IsAlias;
  USHORT BitField;
  USHORT LinkCollection;
  USAGE LinkUsage;
  USAGE LinkUsagePage;
  BOOLEAN IsRange;
  BOOLEAN IsStringRange;
  BOOLEAN IsDesignatorRange;
  BOOLEAN IsAbsolute;
  ULONG Reserved[10];
  union {
    HIDP_CAPS_RANGE Range;
    HIDP_CAPS_NOT_RANGE NotRange;
  };
};
using PHIDP_BUTTON_CAPS = HIDP_BUTTON_CAPS*;

struct HIDP_VALUE_CAPS {
  USAGE UsagePage;
  UCHAR ReportID;
  BOOLEAN IsAlias;
  USHORT BitField;
  USHORT LinkCollection;
  USAGE LinkUsage;
  USAGE LinkUsagePage;
  BOOLEAN IsRange;
  BOOLEAN IsStringRange;
  BOOLEAN IsDesignatorRange;
  BOOLEAN IsAbsolute;
  BOOLEAN HasNull;
  UCHAR Reserved;
  USHORT BitSize;
  USHORT ReportCount;
  USHORT Reserved2[5];
  ULONG UnitsExp;
  ULONG Units;
  LONG LogicalMin, LogicalMax;
  LONG PhysicalMin, PhysicalMax;
  union {
    HIDP_CAPS_RANGE Range;
    HIDP_CAPS_NOT_RANGE NotRange;
  };
};
using PHIDP_VALUE_CAPS = HIDP_VALUE_CAPS*;

struct HIDP_LINK_COLLECTION_NODE {
  USAGE LinkUsage;
  USAGE LinkUsagePage;
  USHORT Parent;
  USHORT NumberOfChildren;
  USHORT NextSibling;
  USHORT FirstChild;
  ULONG CollectionType : 8;  // bits 0-7 of the ULONG at offset 12
  ULONG IsAlias : 1;
  ULONG Reserved : 23;
  PVOID UserContext;
};
using PHIDP_LINK_COLLECTION_NODE = HIDP_LINK_COLLECTION_NODE*;

struct HIDP_DATA {
  USHORT DataIndex;
  USHORT Reserved;
  union {
    ULONG RawValue;  // values
    BOOLEAN On;      // buttons
  };
};
using PHIDP_DATA = HIDP_DATA*;

struct HIDP_UNKNOWN_TOKEN {
  UCHAR Token;
  UCHAR Reserved[3];
  ULONG BitField;
};
using PHIDP_UNKNOWN_TOKEN = HIDP_UNKNOWN_TOKEN*;

// Variable length: NumGlobalUnknowns tokens follow from &Data.
struct HIDP_EXTENDED_ATTRIBUTES {
  UCHAR NumGlobalUnknowns;
  UCHAR Reserved[3];
  PHIDP_UNKNOWN_TOKEN GlobalUnknowns;  // only 4-aligned under pack 4
  ULONG Data[1];
};
using PHIDP_EXTENDED_ATTRIBUTES = HIDP_EXTENDED_ATTRIBUTES*;

// Only the whole-word view: the bit fields are read with masks where needed.
struct HIDP_KEYBOARD_MODIFIER_STATE {
  ULONG ul;
};
using PHIDP_KEYBOARD_MODIFIER_STATE = HIDP_KEYBOARD_MODIFIER_STATE*;

#pragma pack(pop)

using PHIDP_INSERT_SCANCODES = BOOLEAN (*)(PVOID Context, PCHAR NewScanCodes, ULONG Length);

// ---- Constants.
inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD GENERIC_EXECUTE = 0x20000000;
inline constexpr DWORD GENERIC_ALL = 0x10000000;
inline constexpr DWORD FILE_SHARE_READ = 0x1;
inline constexpr DWORD FILE_SHARE_WRITE = 0x2;
inline constexpr DWORD FILE_SHARE_DELETE = 0x4;
inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD OPEN_ALWAYS = 4;
inline constexpr DWORD TRUNCATE_EXISTING = 5;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000;
inline constexpr DWORD INFINITE = 0xFFFFFFFF;

inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_IO_COMPLETION = 0xC0;
inline constexpr DWORD WAIT_TIMEOUT = 0x102;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
inline constexpr DWORD STATUS_PENDING = 0x103;

inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_INVALID_FUNCTION = 1;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
inline constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_INVALID_DATA = 13;
inline constexpr DWORD ERROR_OUTOFMEMORY = 14;
inline constexpr DWORD ERROR_BAD_COMMAND = 22;
inline constexpr DWORD ERROR_CRC = 23;
inline constexpr DWORD ERROR_GEN_FAILURE = 31;
inline constexpr DWORD ERROR_SHARING_VIOLATION = 32;
inline constexpr DWORD ERROR_HANDLE_EOF = 38;
inline constexpr DWORD ERROR_NOT_SUPPORTED = 50;
inline constexpr DWORD ERROR_DEV_NOT_EXIST = 55;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_BROKEN_PIPE = 109;
inline constexpr DWORD ERROR_CALL_NOT_IMPLEMENTED = 120;
inline constexpr DWORD ERROR_SEM_TIMEOUT = 121;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_INVALID_NAME = 123;
inline constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
inline constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
inline constexpr DWORD ERROR_BUSY = 170;
inline constexpr DWORD ERROR_BAD_EXE_FORMAT = 193;
inline constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr DWORD ERROR_MORE_DATA = 234;
inline constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
inline constexpr DWORD ERROR_OPERATION_ABORTED = 995;
inline constexpr DWORD ERROR_IO_INCOMPLETE = 996;
inline constexpr DWORD ERROR_IO_PENDING = 997;
inline constexpr DWORD ERROR_NOACCESS = 998;
inline constexpr DWORD ERROR_INVALID_FLAGS = 1004;
inline constexpr DWORD ERROR_IO_DEVICE = 1117;
inline constexpr DWORD ERROR_DEVICE_NOT_CONNECTED = 1167;
inline constexpr DWORD ERROR_NOT_FOUND = 1168;
inline constexpr DWORD ERROR_DEVICE_REMOVED = 1617;
inline constexpr DWORD ERROR_INVALID_USER_BUFFER = 1784;
inline constexpr DWORD ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
inline constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
inline constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;
inline constexpr DWORD ERROR_TIMEOUT = 1460;

inline constexpr UINT SEM_FAILCRITICALERRORS = 0x0001;
inline constexpr UINT SEM_NOGPFAULTERRORBOX = 0x0002;
inline constexpr UINT SEM_NOOPENFILEERRORBOX = 0x8000;

inline constexpr DWORD VER_PLATFORM_WIN32s = 0;
inline constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
inline constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

inline constexpr LCTYPE LOCALE_SLANGUAGE = 0x2;
inline constexpr LCTYPE LOCALE_NOUSEROVERRIDE = 0x80000000;
inline constexpr LCTYPE LOCALE_USE_CP_ACP = 0x40000000;
inline constexpr LCTYPE LOCALE_RETURN_NUMBER = 0x20000000;
inline constexpr LCID LOCALE_NEUTRAL = 0x0000;
inline constexpr LCID LOCALE_INVARIANT = 0x007F;
inline constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
inline constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;

inline constexpr DWORD DIGCF_DEFAULT = 0x01;
inline constexpr DWORD DIGCF_PRESENT = 0x02;
inline constexpr DWORD DIGCF_ALLCLASSES = 0x04;
inline constexpr DWORD DIGCF_PROFILE = 0x08;
inline constexpr DWORD DIGCF_DEVICEINTERFACE = 0x10;
inline constexpr DWORD SPINT_ACTIVE = 0x1;
inline constexpr DWORD SPINT_DEFAULT = 0x2;
inline constexpr DWORD SPINT_REMOVED = 0x4;

inline constexpr DWORD SPDRP_DEVICEDESC = 0x00;
inline constexpr DWORD SPDRP_HARDWAREID = 0x01;
inline constexpr DWORD SPDRP_COMPATIBLEIDS = 0x02;
inline constexpr DWORD SPDRP_UNUSED0 = 0x03;
inline constexpr DWORD SPDRP_SERVICE = 0x04;
inline constexpr DWORD SPDRP_UNUSED1 = 0x05;
inline constexpr DWORD SPDRP_UNUSED2 = 0x06;
inline constexpr DWORD SPDRP_CLASS = 0x07;
inline constexpr DWORD SPDRP_CLASSGUID = 0x08;
inline constexpr DWORD SPDRP_DRIVER = 0x09;
inline constexpr DWORD SPDRP_CONFIGFLAGS = 0x0A;
inline constexpr DWORD SPDRP_MFG = 0x0B;
inline constexpr DWORD SPDRP_FRIENDLYNAME = 0x0C;
inline constexpr DWORD SPDRP_LOCATION_INFORMATION = 0x0D;
inline constexpr DWORD SPDRP_PHYSICAL_DEVICE_OBJECT_NAME = 0x0E;
inline constexpr DWORD SPDRP_CAPABILITIES = 0x0F;
inline constexpr DWORD SPDRP_UI_NUMBER = 0x10;
inline constexpr DWORD SPDRP_UPPERFILTERS = 0x11;
inline constexpr DWORD SPDRP_LOWERFILTERS = 0x12;
inline constexpr DWORD SPDRP_BUSTYPEGUID = 0x13;
inline constexpr DWORD SPDRP_LEGACYBUSTYPE = 0x14;
inline constexpr DWORD SPDRP_BUSNUMBER = 0x15;
inline constexpr DWORD SPDRP_ENUMERATOR_NAME = 0x16;
inline constexpr DWORD SPDRP_SECURITY = 0x17;
inline constexpr DWORD SPDRP_SECURITY_SDS = 0x18;
inline constexpr DWORD SPDRP_DEVTYPE = 0x19;
inline constexpr DWORD SPDRP_EXCLUSIVE = 0x1A;
inline constexpr DWORD SPDRP_CHARACTERISTICS = 0x1B;
inline constexpr DWORD SPDRP_ADDRESS = 0x1C;
inline constexpr DWORD SPDRP_UI_NUMBER_DESC_FORMAT = 0x1D;
inline constexpr DWORD SPDRP_DEVICE_POWER_DATA = 0x1E;
inline constexpr DWORD SPDRP_REMOVAL_POLICY = 0x1F;
inline constexpr DWORD SPDRP_REMOVAL_POLICY_HW_DEFAULT = 0x20;
inline constexpr DWORD SPDRP_REMOVAL_POLICY_OVERRIDE = 0x21;
inline constexpr DWORD SPDRP_INSTALL_STATE = 0x22;
inline constexpr DWORD SPDRP_LOCATION_PATHS = 0x23;
inline constexpr DWORD SPDRP_BASE_CONTAINERID = 0x24;
inline constexpr DWORD SPDRP_MAXIMUM_PROPERTY = 0x25;

inline constexpr USHORT HIDP_LINK_COLLECTION_ROOT = 0xFFFF;
inline constexpr USHORT HIDP_LINK_COLLECTION_UNSPECIFIED = 0;

// NTSTATUS values of the report parser: (severity << 28) | (0x11 << 16) | code.
inline constexpr NTSTATUS HidpStatus(unsigned severity, unsigned code) {
  return static_cast<NTSTATUS>((severity << 28) | (0x11u << 16) | code);
}
inline constexpr NTSTATUS HIDP_STATUS_SUCCESS = HidpStatus(0x0, 0x00);
inline constexpr NTSTATUS HIDP_STATUS_NULL = HidpStatus(0x8, 0x01);
inline constexpr NTSTATUS HIDP_STATUS_INVALID_PREPARSED_DATA = HidpStatus(0xC, 0x01);
inline constexpr NTSTATUS HIDP_STATUS_INVALID_REPORT_TYPE = HidpStatus(0xC, 0x02);
inline constexpr NTSTATUS HIDP_STATUS_INVALID_REPORT_LENGTH = HidpStatus(0xC, 0x03);
inline constexpr NTSTATUS HIDP_STATUS_USAGE_NOT_FOUND = HidpStatus(0xC, 0x04);
inline constexpr NTSTATUS HIDP_STATUS_VALUE_OUT_OF_RANGE = HidpStatus(0xC, 0x05);
inline constexpr NTSTATUS HIDP_STATUS_BAD_LOG_PHY_VALUES = HidpStatus(0xC, 0x06);
inline constexpr NTSTATUS HIDP_STATUS_BUFFER_TOO_SMALL = HidpStatus(0xC, 0x07);
inline constexpr NTSTATUS HIDP_STATUS_INTERNAL_ERROR = HidpStatus(0xC, 0x08);
inline constexpr NTSTATUS HIDP_STATUS_I8042_TRANS_UNKNOWN = HidpStatus(0xC, 0x09);
inline constexpr NTSTATUS HIDP_STATUS_I8242_TRANS_UNKNOWN = HIDP_STATUS_I8042_TRANS_UNKNOWN;
inline constexpr NTSTATUS HIDP_STATUS_INCOMPATIBLE_REPORT_ID = HidpStatus(0xC, 0x0A);
inline constexpr NTSTATUS HIDP_STATUS_NOT_VALUE_ARRAY = HidpStatus(0xC, 0x0B);
inline constexpr NTSTATUS HIDP_STATUS_IS_VALUE_ARRAY = HidpStatus(0xC, 0x0C);
inline constexpr NTSTATUS HIDP_STATUS_DATA_INDEX_NOT_FOUND = HidpStatus(0xC, 0x0D);
inline constexpr NTSTATUS HIDP_STATUS_DATA_INDEX_OUT_OF_RANGE = HidpStatus(0xC, 0x0E);
inline constexpr NTSTATUS HIDP_STATUS_BUTTON_NOT_PRESSED = HidpStatus(0xC, 0x0F);
inline constexpr NTSTATUS HIDP_STATUS_REPORT_DOES_NOT_EXIST = HidpStatus(0xC, 0x10);
inline constexpr NTSTATUS HIDP_STATUS_NOT_IMPLEMENTED = HidpStatus(0xC, 0x20);
inline constexpr NTSTATUS HIDP_STATUS_NOT_BUTTON_ARRAY = HidpStatus(0xC, 0x21);

// ---- The published 64-bit layouts.
static_assert(sizeof(void*) == 8, "the records follow the 64-bit layouts");
static_assert(sizeof(GUID) == 16 && alignof(GUID) == 4);
static_assert(sizeof(OVERLAPPED) == 32 && offsetof(OVERLAPPED, InternalHigh) == 8 &&
              offsetof(OVERLAPPED, Pointer) == 16 && offsetof(OVERLAPPED, hEvent) == 24);
static_assert(sizeof(OSVERSIONINFOW) == 276 && offsetof(OSVERSIONINFOW, dwPlatformId) == 16 &&
              offsetof(OSVERSIONINFOW, szCSDVersion) == 20);
static_assert(sizeof(OSVERSIONINFOEXW) == 284);
static_assert(sizeof(VS_FIXEDFILEINFO) == 52);
static_assert(sizeof(SP_DEVINFO_DATA) == 32 && offsetof(SP_DEVINFO_DATA, ClassGuid) == 4 &&
              offsetof(SP_DEVINFO_DATA, DevInst) == 20 &&
              offsetof(SP_DEVINFO_DATA, Reserved) == 24);
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32 &&
              offsetof(SP_DEVICE_INTERFACE_DATA, InterfaceClassGuid) == 4 &&
              offsetof(SP_DEVICE_INTERFACE_DATA, Flags) == 20 &&
              offsetof(SP_DEVICE_INTERFACE_DATA, Reserved) == 24);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 8 &&
              offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) == 4);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 8);
static_assert(sizeof(HIDD_ATTRIBUTES) == 12 && offsetof(HIDD_ATTRIBUTES, VendorID) == 4 &&
              offsetof(HIDD_ATTRIBUTES, ProductID) == 6 &&
              offsetof(HIDD_ATTRIBUTES, VersionNumber) == 8);
static_assert(sizeof(HIDD_CONFIGURATION) == 16 && offsetof(HIDD_CONFIGURATION, size) == 8 &&
              offsetof(HIDD_CONFIGURATION, RingBufferSize) == 12);
static_assert(sizeof(HIDP_CAPS) == 64 && offsetof(HIDP_CAPS, FeatureReportByteLength) == 8 &&
              offsetof(HIDP_CAPS, NumberLinkCollectionNodes) == 44 &&
              offsetof(HIDP_CAPS, NumberFeatureDataIndices) == 62);
static_assert(sizeof(HIDP_BUTTON_CAPS) == 72 && offsetof(HIDP_BUTTON_CAPS, IsAbsolute) == 15 &&
              offsetof(HIDP_BUTTON_CAPS, Range) == 56);
static_assert(sizeof(HIDP_VALUE_CAPS) == 72 && offsetof(HIDP_VALUE_CAPS, BitSize) == 18 &&
              offsetof(HIDP_VALUE_CAPS, UnitsExp) == 32 &&
              offsetof(HIDP_VALUE_CAPS, PhysicalMax) == 52 &&
              offsetof(HIDP_VALUE_CAPS, Range) == 56);
static_assert(sizeof(HIDP_LINK_COLLECTION_NODE) == 24 &&
              offsetof(HIDP_LINK_COLLECTION_NODE, UserContext) == 16);
static_assert(sizeof(HIDP_DATA) == 8 && offsetof(HIDP_DATA, RawValue) == 4);
static_assert(sizeof(USAGE_AND_PAGE) == 4);
static_assert(sizeof(HIDP_UNKNOWN_TOKEN) == 8);
static_assert(sizeof(HIDP_EXTENDED_ATTRIBUTES) == 16 &&
              offsetof(HIDP_EXTENDED_ATTRIBUTES, GlobalUnknowns) == 4 &&
              offsetof(HIDP_EXTENDED_ATTRIBUTES, Data) == 12);
static_assert(HIDP_STATUS_SUCCESS == 0x00110000 &&
              HIDP_STATUS_NOT_IMPLEMENTED == static_cast<NTSTATUS>(0xC0110020));
