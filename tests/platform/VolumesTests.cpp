#include "platform/Volumes.h"

#include <gtest/gtest.h>

namespace vp {
namespace {

// Recorded from a desktop with a USB stick, a network share and a label with a blank.
constexpr const char* recordedMountInfo =
    "26 1 254:1 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw\n"
    "40 26 254:3 / /home rw,relatime shared:20 - ext4 /dev/nvme0n1p3 rw\n"
    "90 26 8:17 / /media/ana/Holiday\\040Pics rw,nosuid,nodev shared:60 - vfat /dev/sdb1 rw,fmask=0022\n"
    "91 26 0:55 / /mnt/nas rw,relatime shared:61 - nfs4 nas:/photos rw,vers=4.2\n"
    "92 40 0:56 / /home/ana/Remote rw,nosuid,nodev,relatime shared:62 - fuse.sshfs ana@box:/ rw\n"
    "garbage line\n";

TEST(Volumes, MountInfoIsParsedWithEscapes) {
    const auto mounts = parseMountInfo(recordedMountInfo);
    ASSERT_EQ(mounts.size(), 5u);
    EXPECT_EQ(mounts[2].mountPoint, "/media/ana/Holiday Pics");
    EXPECT_EQ(mounts[2].fileSystemType, "vfat");
    EXPECT_EQ(mounts[2].source, "/dev/sdb1");
    EXPECT_EQ(mounts[2].major, 8u);
    EXPECT_EQ(mounts[2].minor, 17u);
    EXPECT_EQ(mounts[3].fileSystemType, "nfs4");
}

TEST(Volumes, TheClosestMountHoldsAPath) {
    const auto mounts = parseMountInfo(recordedMountInfo);
    EXPECT_EQ(mountContaining(mounts, "/home/ana/Pictures")->mountPoint, "/home");
    EXPECT_EQ(mountContaining(mounts, "/home/ana/Remote/x")->fileSystemType, "fuse.sshfs");
    EXPECT_EQ(mountContaining(mounts, "/homework")->mountPoint, "/");
}

TEST(Volumes, DecisionsOnRecordedValues) {
    const auto mounts = parseMountInfo(recordedMountInfo);
    const auto internal = decideVolume(mounts[1], std::nullopt, false, false);
    EXPECT_TRUE(internal.isLocal);
    EXPECT_EQ(internal.name, "home");
    EXPECT_EQ(internal.isInternal, true);

    const auto stick = decideVolume(mounts[2], std::string("HOLIDAY"), true, false);
    EXPECT_EQ(stick.name, "HOLIDAY");
    EXPECT_EQ(stick.isInternal, false);
    EXPECT_EQ(stick.isEjectable, true);

    // Mounted under /media: external even when the disk does not say it is removable.
    EXPECT_EQ(decideVolume(mounts[2], std::nullopt, false, true).isInternal, false);
    EXPECT_EQ(decideVolume(mounts[2], std::nullopt, false, true).name, "Holiday Pics");
    EXPECT_EQ(decideVolume(mounts[2], std::nullopt, false, true).isReadOnly, true);

    EXPECT_FALSE(decideVolume(mounts[3], std::nullopt, std::nullopt, false).isLocal);
    EXPECT_FALSE(decideVolume(mounts[4], std::nullopt, std::nullopt, false).isLocal);
}

TEST(Volumes, ThisMachinesTemporaryFolderIsLocal) {
    const auto facts = volumeFacts("/tmp");
    EXPECT_TRUE(facts.isLocal);
    EXPECT_TRUE(facts.name.has_value());
}

} // namespace
} // namespace vp
