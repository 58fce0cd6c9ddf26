// The disk queries the run asks before it downloads and while it checks.
#include "platform/disk_info.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/disk_info_test_hooks.h"
#include "support/test_support.h"

#if !defined(_WIN32)
#include "platform/posix/block_device.h"
#endif

namespace repair::platform {
namespace {

TEST(FreeDiskBytes, AnswersForAFolderAndAFileAndNotForNothing) {
  test::TempDir dir;
  test::WriteAll(dir.File("f"), std::string("x"));
  std::uint64_t folderBytes = 0;
  std::uint64_t fileBytes = 0;
  ASSERT_TRUE(FreeDiskBytes(dir.path().c_str(), folderBytes));
  EXPECT_GT(folderBytes, 0u);
#if !defined(_WIN32)
  // The Windows call takes folders only; the engine asks with one.
  ASSERT_TRUE(FreeDiskBytes(dir.File("f").c_str(), fileBytes));
  EXPECT_GT(fileBytes, 0u);
#endif
  std::uint64_t bytes = 1;
  EXPECT_FALSE(FreeDiskBytes(dir.File("missing/folder").c_str(), bytes));
  EXPECT_EQ(bytes, 0u);

  ForceFreeDiskBytes(12345);
  EXPECT_TRUE(FreeDiskBytes(dir.File("missing/folder").c_str(), bytes));
  EXPECT_EQ(bytes, 12345u);
  ForceFreeDiskBytes(-1);
  EXPECT_FALSE(FreeDiskBytes(dir.File("missing/folder").c_str(), bytes));
}

TEST(DiskKindOf, AMissingPathIsUnknown) {
  test::TempDir dir;
  EXPECT_EQ(DiskKindOf(dir.File("missing").c_str()), DiskKind::kUnknown);
}

#if !defined(_WIN32)

TEST(RotationalFlag, OnlyTheKernelsTwoAnswersCount) {
  const struct {
    const char* text;
    DiskKind kind;
  } cases[] = {
      {"1\n", DiskKind::kRotational}, {"1", DiskKind::kRotational}, {"0\n", DiskKind::kSolidState},
      {"0", DiskKind::kSolidState},   {"", DiskKind::kUnknown},     {"2\n", DiskKind::kUnknown},
      {"10\n", DiskKind::kUnknown},   {" 1\n", DiskKind::kUnknown}, {"1\n\n", DiskKind::kUnknown},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseRotationalFlag(c.text), c.kind) << c.text;
}

// A sysfs tree as the kernel lays it out: /dev/block/MAJ:MIN links into /devices, partitions
// are folders inside their disk's folder with a "partition" file and no queue of their own.
class FakeSysfs : public ::testing::Test {
 protected:
  void Device(const std::string& folder, const char* rotational, bool partition) {
    const std::filesystem::path path = root() + "/devices/" + folder;
    std::filesystem::create_directories(path);
    if (rotational != nullptr) {
      std::filesystem::create_directories(path / "queue");
      test::WriteAll((path / "queue" / "rotational").string(), std::string(rotational));
    }
    if (partition) test::WriteAll((path / "partition").string(), std::string("1\n"));
  }
  void Link(const std::string& number, const std::string& folder) {
    std::filesystem::create_directories(root() + "/dev/block");
    std::filesystem::create_symlink("../../devices/" + folder, root() + "/dev/block/" + number);
  }
  std::string root() const { return dir_.path() + "/sys"; }

  test::TempDir dir_;
};

TEST_F(FakeSysfs, APartitionIsJudgedByItsDiskAndAVolumeByItsOwnQueue) {
  Device("pci0/host0/block/sda", "1\n", false);
  Device("pci0/host0/block/sda/sda2", nullptr, true);
  Device("pci0/nvme/block/nvme0n1", "0\n", false);
  Device("pci0/nvme/block/nvme0n1/nvme0n1p1", nullptr, true);
  Device("virtual/block/dm-0", "0\n", false);
  Device("virtual/block/md0", "1\n", false);
  Device("pci0/host1/block/sdb", nullptr, false);  // no queue: nothing to go by
  Device("pci0/host2/block/sdc", "yes\n", false);
  Link("8:0", "pci0/host0/block/sda");
  Link("8:2", "pci0/host0/block/sda/sda2");
  Link("259:0", "pci0/nvme/block/nvme0n1");
  Link("259:1", "pci0/nvme/block/nvme0n1/nvme0n1p1");
  Link("253:0", "virtual/block/dm-0");
  Link("9:0", "virtual/block/md0");
  Link("8:16", "pci0/host1/block/sdb");
  Link("8:32", "pci0/host2/block/sdc");
  const struct {
    unsigned major, minor;
    DiskKind kind;
  } cases[] = {
      {8, 0, DiskKind::kRotational},   {8, 2, DiskKind::kRotational},
      {259, 0, DiskKind::kSolidState}, {259, 1, DiskKind::kSolidState},
      {253, 0, DiskKind::kSolidState}, {9, 0, DiskKind::kRotational},
      {8, 16, DiskKind::kUnknown},     {8, 32, DiskKind::kUnknown},
      {8, 48, DiskKind::kUnknown},  // no such device
      {0, 41, DiskKind::kUnknown},  // tmpfs, overlay: no block device at all
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RotationalKindOf(root(), c.major, c.minor), c.kind) << c.major << ":" << c.minor;
  }
}

#endif

}  // namespace
}  // namespace repair::platform
