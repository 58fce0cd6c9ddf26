// What repair.exe carries: the two icon groups at the sizes the window class asks for, the
// application manifest and the version block, read through the system's resource calls.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/win32_test_util.h"

namespace {

#pragma pack(push, 2)
struct GroupIconEntry {
  BYTE width;
  BYTE height;
  BYTE colorCount;
  BYTE reserved;
  WORD planes;
  WORD bitCount;
  DWORD bytesInRes;
  WORD id;
};
struct GroupIconHeader {
  WORD reserved;
  WORD type;
  WORD count;
};
#pragma pack(pop)

class ProgramResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string path = repair::test::WinePath(REPAIR_PROGRAM_EXE);
    module_ = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module_, nullptr) << path;
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }

  // The resource's bytes; empty when it is missing.
  std::vector<BYTE> Resource(LPCSTR type, LPCSTR name) const {
    HRSRC found = FindResourceA(module_, name, type);
    if (found == nullptr) return {};
    HGLOBAL loaded = LoadResource(module_, found);
    const auto* data = static_cast<const BYTE*>(LockResource(loaded));
    if (data == nullptr) return {};
    return std::vector<BYTE>(data, data + SizeofResource(module_, found));
  }

  std::vector<GroupIconEntry> Group(int id) const {
    const std::vector<BYTE> bytes = Resource(RT_GROUP_ICON, MAKEINTRESOURCEA(id));
    if (bytes.size() < sizeof(GroupIconHeader)) return {};
    GroupIconHeader header;
    std::memcpy(&header, bytes.data(), sizeof(header));
    if (header.type != 1 || bytes.size() < sizeof(header) + header.count * sizeof(GroupIconEntry)) {
      return {};
    }
    std::vector<GroupIconEntry> entries(header.count);
    std::memcpy(entries.data(), bytes.data() + sizeof(header),
                header.count * sizeof(GroupIconEntry));
    return entries;
  }

  // Checks one image: a 24-bit DIB of the group's size whose corners are transparent and
  // whose centre is drawn.
  void ExpectImage(const GroupIconEntry& entry, int size) const {
    SCOPED_TRACE(size);
    EXPECT_EQ(entry.width, size);
    EXPECT_EQ(entry.height, size);
    EXPECT_EQ(entry.bitCount, 24);
    EXPECT_EQ(entry.colorCount, 0);
    const std::vector<BYTE> image = Resource(RT_ICON, MAKEINTRESOURCEA(entry.id));
    ASSERT_EQ(image.size(), entry.bytesInRes);
    BITMAPINFOHEADER header;
    ASSERT_GE(image.size(), sizeof(header));
    std::memcpy(&header, image.data(), sizeof(header));
    EXPECT_EQ(header.biWidth, size);
    EXPECT_EQ(header.biHeight, size * 2);  // colours and mask
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
    const std::size_t colourStride = (size * 3 + 3) & ~3;
    const std::size_t maskStride = ((size + 31) / 32) * 4;
    ASSERT_EQ(image.size(), sizeof(header) + colourStride * size + maskStride * size);
    const BYTE* mask = image.data() + sizeof(header) + colourStride * size;
    auto transparent = [&](int x, int y) {  // rows bottom-up
      return (mask[(size - 1 - y) * maskStride + x / 8] & (0x80 >> (x % 8))) != 0;
    };
    EXPECT_TRUE(transparent(0, 0));
    EXPECT_TRUE(transparent(size - 1, size - 1));
    EXPECT_FALSE(transparent(size / 2, size / 2));

    HICON icon =
        CreateIconFromResourceEx(const_cast<BYTE*>(image.data()), static_cast<DWORD>(image.size()),
                                 TRUE, 0x00030000, size, size, LR_DEFAULTCOLOR);
    EXPECT_NE(icon, nullptr);
    if (icon != nullptr) DestroyIcon(icon);
  }

  HMODULE module_ = nullptr;
};

TEST_F(ProgramResourcesTest, LargeIconGroupHolds64And48And16Pixels) {
  const std::vector<GroupIconEntry> group = Group(103);
  ASSERT_EQ(group.size(), 3u);
  ExpectImage(group[0], 64);
  ExpectImage(group[1], 48);
  ExpectImage(group[2], 16);
}

TEST_F(ProgramResourcesTest, SmallIconGroupHoldsOne16PixelImage) {
  const std::vector<GroupIconEntry> group = Group(104);
  ASSERT_EQ(group.size(), 1u);
  ExpectImage(group[0], 16);
}

TEST_F(ProgramResourcesTest, ManifestAsksForAdministratorAndCommonControls6) {
  const std::vector<BYTE> bytes = Resource(RT_MANIFEST, MAKEINTRESOURCEA(1));
  const std::string manifest(bytes.begin(), bytes.end());
  EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
  EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
            std::string::npos);
  EXPECT_NE(manifest.find("publicKeyToken=\"6595b64144ccf1df\""), std::string::npos);
}

TEST_F(ProgramResourcesTest, VersionBlockNamesTheProductAndVersion) {
  const std::vector<BYTE> block = Resource(RT_VERSION, MAKEINTRESOURCEA(VS_VERSION_INFO));
  ASSERT_FALSE(block.empty());
  std::vector<BYTE> copy(block);  // VerQueryValue may write into its buffer
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(copy.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  char* text = nullptr;
  ASSERT_TRUE(VerQueryValueA(copy.data(), "\\StringFileInfo\\040904b0\\ProductName",
                             reinterpret_cast<void**>(&text), &length));
  EXPECT_STREQ(text, "Client Repair Tool");
  ASSERT_TRUE(VerQueryValueA(copy.data(), "\\StringFileInfo\\040904b0\\OriginalFilename",
                             reinterpret_cast<void**>(&text), &length));
  EXPECT_STREQ(text, "repair.exe");
}

}  // namespace
