#include "services/scm_handles.h"

namespace vdksvc {

bool ScmHandles::openManager(Platform& platform, Dword access) {
  manager.reset(platform.OpenSCManagerA(nullptr, nullptr, access));
  if (manager) return true;
  failedCall = "OpenSCManagerA";
  error = platform.GetLastError();
  return false;
}

bool ScmHandles::open(Platform& platform, const std::string& serviceName,
                      const AccessRights& rights) {
  if (!openManager(platform, rights.manager)) return false;
  service.reset(platform.OpenServiceA(manager.get(), serviceName.c_str(), rights.service));
  if (service) return true;
  failedCall = "OpenServiceA";
  error = platform.GetLastError();
  manager.reset();
  return false;
}

}  // namespace vdksvc
