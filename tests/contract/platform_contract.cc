#include "platform_contract.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/handles.h"

namespace vdksvc::contract {
namespace {

constexpr Dword kServiceRights = svc::kServiceStop | svc::kServiceStart | svc::kServiceQueryStatus;

/// The service \a name opened for the checks below; empty, with a failure
/// recorded, when it cannot be.
ScHandle openForChecks(Platform& platform, ScHandle& manager, const std::string& name) {
  manager.reset(platform.OpenSCManagerA(nullptr, nullptr, svc::kManagerConnect));
  EXPECT_TRUE(manager) << "OpenSCManagerA: " << platform.GetLastError();
  if (!manager) return ScHandle(platform);
  ScHandle service(platform, platform.OpenServiceA(manager.get(), name.c_str(), kServiceRights));
  EXPECT_TRUE(service) << "OpenServiceA " << name << ": " << platform.GetLastError();
  return service;
}

/// FILE_ID_INFO of the file at \a path; nothing, with a failure recorded, when
/// it cannot be read.
std::optional<FileIdInfo> fileIdOf(Platform& platform, const std::string& path,
                                   Dword* volumeSerial = nullptr) {
  const FileHandle file(
      platform, platform.CreateFileA(path.c_str(), 0,
                                     file::kShareRead | file::kShareWrite | file::kShareDelete,
                                     nullptr, file::kOpenExisting, 0, nullptr));
  EXPECT_TRUE(file) << path << ": " << platform.GetLastError();
  FileIdInfo id;
  if (!file) return std::nullopt;
  const bool read =
      platform.GetFileInformationByHandleEx(file.get(), file::kFileIdInfo, &id, sizeof id);
  EXPECT_TRUE(read) << path << ": " << platform.GetLastError();
  ByHandleFileInformation info;
  if (volumeSerial != nullptr && platform.GetFileInformationByHandle(file.get(), &info)) {
    *volumeSerial = info.dwVolumeSerialNumber;
  }
  return read ? std::optional(id) : std::nullopt;
}

}  // namespace

void stopThatMakesProgress(Platform& platform, const std::string& name) {
  ScHandle manager(platform);
  const ScHandle service = openForChecks(platform, manager, name);
  if (!service) return;
  ServiceStatus status;
  ASSERT_TRUE(platform.ControlService(service.get(), svc::kControlStop, &status))
      << platform.GetLastError();
  EXPECT_EQ(svc::kStopPending, status.dwCurrentState);
  EXPECT_GT(status.dwWaitHint, 0u);

  EXPECT_FALSE(platform.StartServiceA(service.get(), 0, nullptr));
  EXPECT_EQ(winerr::kServiceAlreadyRunning, platform.GetLastError());
  EXPECT_FALSE(platform.ControlService(service.get(), svc::kControlStop, &status));
  EXPECT_EQ(winerr::kServiceCannotAcceptCtrl, platform.GetLastError());

  ASSERT_TRUE(platform.QueryServiceStatus(service.get(), &status));
  ASSERT_EQ(svc::kStopPending, status.dwCurrentState);
  const Dword before = status.dwCheckPoint;
  platform.Sleep(std::min<Dword>(status.dwWaitHint, 1000));
  ASSERT_TRUE(platform.QueryServiceStatus(service.get(), &status));
  EXPECT_EQ(svc::kStopPending, status.dwCurrentState);
  EXPECT_GT(status.dwCheckPoint, before) << "a service making progress raises its checkpoint";
}

void hungStop(Platform& platform, const std::string& name) {
  ScHandle manager(platform);
  const ScHandle service = openForChecks(platform, manager, name);
  if (!service) return;
  ServiceStatus status;
  ASSERT_TRUE(platform.ControlService(service.get(), svc::kControlStop, &status))
      << platform.GetLastError();
  platform.Sleep(200);  // the service's own report of STOP_PENDING comes first
  ASSERT_TRUE(platform.QueryServiceStatus(service.get(), &status));
  ASSERT_EQ(svc::kStopPending, status.dwCurrentState);
  const Dword before = status.dwCheckPoint;
  platform.Sleep(1000);
  ASSERT_TRUE(platform.QueryServiceStatus(service.get(), &status));
  EXPECT_EQ(svc::kStopPending, status.dwCurrentState);
  EXPECT_EQ(before, status.dwCheckPoint) << "a hung service's checkpoint stays";
  EXPECT_GT(status.dwWaitHint, 0u);
}

void fileIdentity(Platform& platform, const std::string& path, const std::string& samePath,
                  const std::string& otherPath) {
  Dword volumeSerial = 0;
  const std::optional<FileIdInfo> one = fileIdOf(platform, path, &volumeSerial);
  const std::optional<FileIdInfo> same = fileIdOf(platform, samePath);
  const std::optional<FileIdInfo> other = fileIdOf(platform, otherPath);
  if (!one || !same || !other) return;
  EXPECT_EQ(one->VolumeSerialNumber, same->VolumeSerialNumber);
  EXPECT_EQ(0, std::memcmp(one->FileId, same->FileId, sizeof one->FileId));
  EXPECT_EQ(one->VolumeSerialNumber, other->VolumeSerialNumber);
  EXPECT_NE(0, std::memcmp(one->FileId, other->FileId, sizeof one->FileId));
  EXPECT_EQ(volumeSerial, static_cast<Dword>(one->VolumeSerialNumber));
}

}  // namespace vdksvc::contract
