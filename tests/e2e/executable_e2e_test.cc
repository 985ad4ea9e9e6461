// vdksvc.exe carries what a Windows program is expected to: a version resource
// that names the product, its maker and its version, and an embedded manifest
// that runs it with the rights of whoever starts it.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_support.h"

namespace vdksvc::e2e {
namespace {

/// The version resource of \a path, whole; empty when it has none.
std::vector<char> versionInfoOf(const std::string& path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  std::vector<char> data(size);
  if (size == 0 || !GetFileVersionInfoA(path.c_str(), 0, size, data.data())) data.clear();
  return data;
}

std::string versionString(std::vector<char>& info, const char* name) {
  void* text = nullptr;
  UINT length = 0;
  const std::string query = std::string("\\StringFileInfo\\040904E4\\") + name;
  if (!VerQueryValueA(info.data(), query.c_str(), &text, &length) || length == 0) return "(none)";
  return std::string(static_cast<const char*>(text));
}

BOOL CALLBACK countName(HMODULE, LPCSTR, LPSTR, LONG_PTR count) {
  ++*reinterpret_cast<int*>(count);
  return TRUE;
}

TEST(ExecutableE2e, VersionResourceNamesProductMakerAndVersion) {
  std::vector<char> info = versionInfoOf(vdksvcPath());
  ASSERT_FALSE(info.empty()) << "no version resource, error " << GetLastError();

  void* block = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", &block, &length));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(block);
  EXPECT_EQ(0xFEEF04BDu, fixed->dwSignature);
  const DWORD versionMs = MAKELONG(VDKSVC_VERSION_MINOR, VDKSVC_VERSION_MAJOR);
  const DWORD versionLs = MAKELONG(0, VDKSVC_VERSION_PATCH);
  EXPECT_EQ(versionMs, fixed->dwFileVersionMS);
  EXPECT_EQ(versionLs, fixed->dwFileVersionLS);
  EXPECT_EQ(versionMs, fixed->dwProductVersionMS);
  EXPECT_EQ(versionLs, fixed->dwProductVersionLS);
  EXPECT_EQ(static_cast<DWORD>(VFT_APP), fixed->dwFileType);

  EXPECT_EQ("Corvane", versionString(info, "CompanyName"));
  EXPECT_EQ("Vardeck", versionString(info, "ProductName"));
  EXPECT_EQ("Vardeck service control", versionString(info, "FileDescription"));
  EXPECT_EQ(VDKSVC_VERSION, versionString(info, "FileVersion"));
  EXPECT_EQ(VDKSVC_VERSION, versionString(info, "ProductVersion"));
  EXPECT_EQ("vdksvc.exe", versionString(info, "OriginalFilename"));
}

TEST(ExecutableE2e, ManifestRunsAsInvokerOnWindows7To11AndKeepsTheAnsiCodePage) {
  const HMODULE image = LoadLibraryExA(vdksvcPath().c_str(), nullptr,
                                       LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(nullptr, image) << "error " << GetLastError();
  int manifests = 0;
  EnumResourceNamesA(image, MAKEINTRESOURCEA(24), countName,
                     reinterpret_cast<LONG_PTR>(&manifests));
  EXPECT_EQ(1, manifests) << "one manifest, the process's own (resource 1)";

  const HRSRC found = FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  ASSERT_NE(nullptr, found);
  const HGLOBAL loaded = LoadResource(image, found);
  const auto* bytes = static_cast<const char*>(LockResource(loaded));
  ASSERT_NE(nullptr, bytes);
  const std::string manifest(bytes, SizeofResource(image, found));
  FreeLibrary(image);

  EXPECT_NE(std::string::npos, manifest.find("level=\"asInvoker\""));
  EXPECT_NE(std::string::npos, manifest.find("uiAccess=\"false\""));
  const char* const supportedOs[] = {
      "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // Windows 7
      "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // Windows 8
      "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // Windows 8.1
      "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // Windows 10 and 11
  };
  for (const char* id : supportedOs) EXPECT_NE(std::string::npos, manifest.find(id)) << id;
  EXPECT_EQ(std::string::npos, manifest.find("activeCodePage"))
      << "list files and names stay in the ANSI code page";
}

}  // namespace
}  // namespace vdksvc::e2e
