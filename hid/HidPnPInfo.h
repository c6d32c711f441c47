// THidPnPInfo: a snapshot of one HID interface's plug-and-play identity, taken
// while the scan's device-information set is open and never changed afterwards.
#pragma once

#include <cstdint>
#include <string_view>

#include "hid/LayerTypes.h"
#include "wintypes/WinTypes.h"

namespace quorvel::hid {

class THidPnPInfo {
 public:
  // `ADevData` must be the record that the set's interface-detail query filled
  // for this interface; the set must still be open.
  THidPnPInfo(HDEVINFO APnPHandle, SP_DEVINFO_DATA ADevData, std::u16string_view ADevicePath);
  THidPnPInfo(const THidPnPInfo&) = delete;
  THidPnPInfo& operator=(const THidPnPInfo&) = delete;

  // The device-instance handle: equal for the same present device in every scan.
  uint32_t DeviceID() const { return FDeviceID; }
  const TString& DevicePath() const { return FDevicePath; }
  uint32_t Capabilities() const { return FCapabilities; }
  const TString& ClassDescr() const { return FClassDescr; }
  const TString& ClassGUID() const { return FClassGUID; }
  const TStringList& CompatibleIDs() const { return FCompatibleIDs; }
  uint32_t ConfigFlags() const { return FConfigFlags; }
  const TString& DeviceDescr() const { return FDeviceDescr; }
  const TString& Driver() const { return FDriver; }
  const TString& FriendlyName() const { return FFriendlyName; }
  const TStringList& HardwareID() const { return FHardwareID; }
  const TStringList& LowerFilters() const { return FLowerFilters; }
  const TString& Mfg() const { return FMfg; }
  const TStringList& UpperFilters() const { return FUpperFilters; }
  const TString& Address() const { return FAddress; }
  uint32_t BusNumber() const { return FBusNumber; }
  const TString& BusType() const { return FBusType; }
  const TString& Characteristics() const { return FCharacteristics; }
  uint32_t DevType() const { return FDevType; }
  const TString& EnumeratorName() const { return FEnumeratorName; }
  uint32_t Exclusive() const { return FExclusive; }
  uint32_t LegacyBusType() const { return FLegacyBusType; }
  const TString& LocationInfo() const { return FLocationInfo; }
  const TString& PhysDevObjName() const { return FPhysDevObjName; }
  const TString& SecuritySDS() const { return FSecuritySDS; }
  const TString& Service() const { return FService; }
  uint32_t UINumber() const { return FUINumber; }
  const TString& UINumberFormat() const { return FUINumberFormat; }

 private:
  // The three ways of reading a registry property. A property that is absent or
  // unreadable gives the empty text, the empty list or 0.
  static TString ReadPropertyText(HDEVINFO set, SP_DEVINFO_DATA& data, DWORD code);
  static TStringList ReadPropertyList(HDEVINFO set, SP_DEVINFO_DATA& data, DWORD code);
  static uint32_t ReadPropertyNumber(HDEVINFO set, SP_DEVINFO_DATA& data, DWORD code);

  uint32_t FDeviceID = 0;
  TString FDevicePath;
  uint32_t FCapabilities = 0;
  TString FClassDescr;
  TString FClassGUID;
  TStringList FCompatibleIDs;
  uint32_t FConfigFlags = 0;
  TString FDeviceDescr;
  TString FDriver;
  TString FFriendlyName;
  TStringList FHardwareID;
  TStringList FLowerFilters;
  TString FMfg;
  TStringList FUpperFilters;
  TString FAddress;
  uint32_t FBusNumber = 0;
  TString FBusType;
  TString FCharacteristics;
  uint32_t FDevType = 0;
  TString FEnumeratorName;
  uint32_t FExclusive = 0;
  uint32_t FLegacyBusType = 0;
  TString FLocationInfo;
  TString FPhysDevObjName;
  TString FSecuritySDS;
  TString FService;
  uint32_t FUINumber = 0;
  TString FUINumberFormat;
};

}  // namespace quorvel::hid
