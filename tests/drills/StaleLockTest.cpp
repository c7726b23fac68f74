// A station killed while it wrote its settings can leave an empty lock file
// beside them; the next start must write at once instead of waiting for
// the lock to age.
#include "ScratchDir.h"
#include "SettingsStore.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

TEST(StaleLock, EmptyLockLeftByAKilledWriterDoesNotStallAWrite)
{
    const CScratchDir scratch("stale-lock");
    const fs::path dir = scratch.Path();
    const fs::path conf = dir / "Corvantis.conf";
    const fs::path lock = dir / "Corvantis.conf.lock";
    std::ofstream(lock).flush();
    fs::last_write_time(lock, fs::last_write_time(lock) - std::chrono::seconds(2));

    CSettingsStore store = CSettingsStore::AtFile(conf.string());
    store.WriteProfileInt("Options", "SerialNumber", uint32_t{501});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(store.Flush());
    // QSettings alone waits 30 s for an empty lock to turn stale.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(CSettingsStore::AtFile(conf.string()).GetProfileInt("Options", "SerialNumber", 0), 501u);
}
