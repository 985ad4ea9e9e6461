#include "services/access_rights.h"

namespace vdksvc {
namespace {

struct RightName {
  Dword right;
  const char* name;
};
constexpr RightName kManagerRights[] = {
    {svc::kManagerConnect, "SC_MANAGER_CONNECT"},
    {svc::kManagerCreateService, "SC_MANAGER_CREATE_SERVICE"},
};
constexpr RightName kServiceRights[] = {
    {svc::kServiceQueryConfig, "SERVICE_QUERY_CONFIG"},
    {svc::kServiceChangeConfig, "SERVICE_CHANGE_CONFIG"},
    {svc::kServiceQueryStatus, "SERVICE_QUERY_STATUS"},
    {svc::kServiceStart, "SERVICE_START"},
    {svc::kServiceStop, "SERVICE_STOP"},
    {svc::kServicePauseContinue, "SERVICE_PAUSE_CONTINUE"},
    {svc::kDelete, "DELETE"},
};

template <std::size_t N>
std::string names(Dword rights, const RightName (&known)[N]) {
  std::string text;
  for (const RightName& right : known) {
    if ((rights & right.right) == 0) continue;
    if (!text.empty()) text += ", ";
    text += right.name;
  }
  return text;
}

}  // namespace

std::string rightsText(const AccessRights& rights) {
  return names(rights.manager, kManagerRights) + " on the manager and " +
         names(rights.service, kServiceRights) + " on each service";
}

}  // namespace vdksvc
