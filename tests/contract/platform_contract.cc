#include "platform_contract.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/handles.h"
#include "services/pending_wait.h"

namespace vdksvc::contract {
namespace {

/// The manager and the service \a name, opened to stop, start and query it, and
/// the service asked to stop: whether it accepted, its answer, the error if not.
struct AskedToStop {
  AskedToStop(Platform& platform, const std::string& name)
      : manager(platform, platform.OpenSCManagerA(nullptr, nullptr, svc::kManagerConnect)),
        service(platform, platform.OpenServiceA(
                              manager.get(), name.c_str(),
                              svc::kServiceStop | svc::kServiceStart | svc::kServiceQueryStatus)),
        accepted(service && platform.ControlService(service.get(), svc::kControlStop, &answer)),
        error(accepted ? 0 : platform.GetLastError()) {}
  ScHandle manager;
  ScHandle service;
  ServiceStatus answer;
  bool accepted;
  Dword error;
};

/// The state of \a service after it was asked to stop, a second later, with its
/// checkpoint then and before.
struct StopProgress {
  Dword state = 0;
  Dword checkPointBefore = 0;
  Dword checkPointAfter = 0;
  Dword waitHint = 0;
};

StopProgress oneSecondOfStop(Platform& platform, RawScHandle service) {
  StopProgress progress;
  ServiceStatus status;
  // The service's own report of STOP_PENDING comes after the control's answer.
  platform.Sleep(200);
  if (!platform.QueryServiceStatus(service, &status)) return progress;
  progress.checkPointBefore = status.dwCheckPoint;
  platform.Sleep(1000);
  if (!platform.QueryServiceStatus(service, &status)) return progress;
  progress.state = status.dwCurrentState;
  progress.checkPointAfter = status.dwCheckPoint;
  progress.waitHint = status.dwWaitHint;
  return progress;
}

/// FILE_ID_INFO of the file at \a path, and the volume serial number
/// GetFileInformationByHandle gives for it; a failure is recorded.
FileIdInfo fileIdOf(Platform& platform, const std::string& path, Dword& volumeSerial) {
  const FileHandle file(platform, platform.CreateFileA(path.c_str(), 0, file::kShareRead, nullptr,
                                                       file::kOpenExisting, 0, nullptr));
  FileIdInfo id;
  ByHandleFileInformation info;
  EXPECT_TRUE(
      file &&
      platform.GetFileInformationByHandleEx(file.get(), file::kFileIdInfo, &id, sizeof id) &&
      platform.GetFileInformationByHandle(file.get(), &info))
      << path << ": " << platform.GetLastError();
  volumeSerial = info.dwVolumeSerialNumber;
  return id;
}

}  // namespace

void stopThatMakesProgress(Platform& platform, const std::string& name) {
  const AskedToStop stop(platform, name);
  ASSERT_TRUE(stop.accepted) << stop.error;
  EXPECT_EQ(svc::kStopPending, stop.answer.dwCurrentState);
  EXPECT_GT(stop.answer.dwWaitHint, 0u);
  EXPECT_FALSE(platform.StartServiceA(stop.service.get(), 0, nullptr));
  EXPECT_EQ(winerr::kServiceAlreadyRunning, platform.GetLastError());
  ServiceStatus status;
  EXPECT_FALSE(platform.ControlService(stop.service.get(), svc::kControlStop, &status));
  EXPECT_EQ(winerr::kServiceCannotAcceptCtrl, platform.GetLastError());

  const StopProgress progress = oneSecondOfStop(platform, stop.service.get());
  EXPECT_EQ(svc::kStopPending, progress.state);
  EXPECT_GT(progress.checkPointAfter, progress.checkPointBefore) << "a stop making progress";
}

void hungStop(Platform& platform, const std::string& name) {
  const AskedToStop stop(platform, name);
  ASSERT_TRUE(stop.accepted) << stop.error;
  const StopProgress progress = oneSecondOfStop(platform, stop.service.get());
  EXPECT_EQ(svc::kStopPending, progress.state);
  EXPECT_EQ(progress.checkPointBefore, progress.checkPointAfter) << "a hung stop's checkpoint";
  EXPECT_GT(progress.waitHint, 0u);
}

void waitEndsSoonAfterTheStop(Platform& platform, const std::string& name,
                              std::uint64_t stopsAfterMs) {
  const AskedToStop stop(platform, name);
  const std::uint64_t answered = platform.GetTickCount64();
  ASSERT_TRUE(stop.accepted) << stop.error;
  WaitBudget noLimit(0);
  EXPECT_EQ(svc::kStopped,
            pollWhilePending(platform, stop.service.get(), svc::kStopPending, noLimit).lastState);
  EXPECT_LE(platform.GetTickCount64() - answered, stopsAfterMs + 300);
}

void fileIdentity(Platform& platform, const std::string& path, const std::string& samePath,
                  const std::string& otherPath) {
  Dword serial = 0;
  const FileIdInfo one = fileIdOf(platform, path, serial);
  const FileIdInfo same = fileIdOf(platform, samePath, serial);
  const FileIdInfo other = fileIdOf(platform, otherPath, serial);
  EXPECT_EQ(serial, static_cast<Dword>(one.VolumeSerialNumber));
  EXPECT_TRUE(one.VolumeSerialNumber == same.VolumeSerialNumber &&
              one.VolumeSerialNumber == other.VolumeSerialNumber);
  EXPECT_EQ(0, std::memcmp(one.FileId, same.FileId, sizeof one.FileId)) << "one file";
  EXPECT_NE(0, std::memcmp(one.FileId, other.FileId, sizeof one.FileId)) << "two files";
}

}  // namespace vdksvc::contract
