// Reads ImgEngine.dll's own image as the Windows loader mapped it: its export
// directory must be the checked-in export list exactly (not the table the build
// generated it from), its imports system DLLs only; and this program binds
// ordinals 2, 226 and 240 by ordinal, the way the wedge application does.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <set>
#include <string>

#include "ImgEngine.h"

namespace {

// The checked-in list: "ordinal name" lines, '#' comments.
std::map<int, std::string> expectedExports() {
  std::map<int, std::string> table;
  std::ifstream list(VEL_EXPORT_LIST);
  std::string line;
  while (std::getline(list, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t space = line.find(' ');
    std::string name = line.substr(space + 1);
    while (!name.empty() && (name.back() == '\r' || name.back() == ' ')) name.pop_back();
    table[std::stoi(line.substr(0, space))] = name;
  }
  return table;
}

template <typename T>
const T* at(HMODULE module, DWORD rva) {
  return reinterpret_cast<const T*>(reinterpret_cast<const BYTE*>(module) + rva);
}

const IMAGE_DATA_DIRECTORY& directory(HMODULE module, int index) {
  const auto* dos = at<IMAGE_DOS_HEADER>(module, 0);
  const auto* nt = at<IMAGE_NT_HEADERS>(module, dos->e_lfanew);  // this build's own width
  return nt->OptionalHeader.DataDirectory[index];
}

struct Dll {
  HMODULE module = LoadLibraryA("ImgEngine.dll");
  ~Dll() {
    if (module) FreeLibrary(module);
  }
};

}  // namespace

TEST(DllImage, ExportDirectoryIsTheTableExactly) {
  Dll dll;
  ASSERT_NE(dll.module, nullptr);
  const auto& dir = directory(dll.module, IMAGE_DIRECTORY_ENTRY_EXPORT);
  ASSERT_NE(dir.VirtualAddress, 0u);
  const auto* exp = at<IMAGE_EXPORT_DIRECTORY>(dll.module, dir.VirtualAddress);
  EXPECT_EQ(exp->Base, 1u);
  EXPECT_EQ(exp->NumberOfFunctions, 359u);
  EXPECT_EQ(exp->NumberOfNames, 359u);
  const auto expected = expectedExports();
  ASSERT_EQ(expected.size(), 359u) << "export list " << VEL_EXPORT_LIST;

  const auto* names = at<DWORD>(dll.module, exp->AddressOfNames);
  const auto* ordinals = at<WORD>(dll.module, exp->AddressOfNameOrdinals);
  const auto* functions = at<DWORD>(dll.module, exp->AddressOfFunctions);
  std::map<int, std::string> found;
  for (DWORD i = 0; i < exp->NumberOfNames; ++i) {
    const int ordinal = ordinals[i] + static_cast<int>(exp->Base);
    EXPECT_TRUE(found.emplace(ordinal, at<char>(dll.module, names[i])).second) << "ordinal " << ordinal << " twice";
    EXPECT_NE(functions[ordinals[i]], 0u) << "ordinal " << ordinal << " has no code";
  }
  EXPECT_EQ(found, expected);
}

TEST(DllImage, ExportedNamesResolveToTheirOrdinals) {
  Dll dll;
  ASSERT_NE(dll.module, nullptr);
  const auto expected = expectedExports();
  ASSERT_EQ(expected.size(), 359u);
  for (const auto& [ordinal, name] : expected) {
    FARPROC byName = GetProcAddress(dll.module, name.c_str());
    FARPROC byOrdinal = GetProcAddress(dll.module, MAKEINTRESOURCEA(ordinal));
    ASSERT_NE(byName, nullptr) << name;
    EXPECT_EQ(byName, byOrdinal) << name;
  }
  // Functions exported twice share one body.
  EXPECT_EQ(GetProcAddress(dll.module, "VelGetTriggerBeeperEnabled"), GetProcAddress(dll.module, "VelGetBeeperEnabled"));
  EXPECT_EQ(GetProcAddress(dll.module, "_VelGetGreyImageBuffer@0"),
            GetProcAddress(dll.module, "VelGetGreyImageBitmapFileData"));
}

TEST(DllImage, ImportsSystemDllsOnly) {
  const std::set<std::string> system = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "msvcrt.dll",
                                        "shell32.dll",  "ole32.dll",  "ws2_32.dll", "oleaut32.dll"};
  Dll dll;
  ASSERT_NE(dll.module, nullptr);
  const auto& dir = directory(dll.module, IMAGE_DIRECTORY_ENTRY_IMPORT);
  ASSERT_NE(dir.VirtualAddress, 0u);
  int count = 0;
  for (const auto* d = at<IMAGE_IMPORT_DESCRIPTOR>(dll.module, dir.VirtualAddress); d->Name != 0; ++d, ++count) {
    std::string name = at<char>(dll.module, d->Name);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    EXPECT_TRUE(system.count(name)) << "imports " << name;
  }
  EXPECT_GT(count, 0);
}

TEST(OrdinalBinding, ThisProgramImportsImgEngineByOrdinalOnly) {
  HMODULE self = GetModuleHandleA(nullptr);
  const auto& dir = directory(self, IMAGE_DIRECTORY_ENTRY_IMPORT);
  std::set<int> ordinals;
  for (const auto* d = at<IMAGE_IMPORT_DESCRIPTOR>(self, dir.VirtualAddress); d->Name != 0; ++d) {
    if (_stricmp(at<char>(self, d->Name), "ImgEngine.dll") != 0) continue;
    for (const auto* thunk = at<IMAGE_THUNK_DATA>(self, d->OriginalFirstThunk); thunk->u1.Ordinal; ++thunk) {
      ASSERT_TRUE(IMAGE_SNAP_BY_ORDINAL(thunk->u1.Ordinal)) << "bound by name";
      ordinals.insert(static_cast<int>(IMAGE_ORDINAL(thunk->u1.Ordinal)));
    }
  }
  EXPECT_EQ(ordinals, (std::set<int>{2, 226, 240}));
}

TEST(OrdinalBinding, CallsThroughTheOrdinalsAnswerAsNotConnected) {
  VelDeviceDisconnect();  // harmless when not connected
  EXPECT_EQ(VelGetCommunicationStatus(), -4);
  unsigned char buffer[8] = {7, 7, 7, 7, 7, 7, 7, 7};
  EXPECT_EQ(VelGetBarcodeData(0, 8, buffer), 0);
  EXPECT_EQ(buffer[0], 7);
}
