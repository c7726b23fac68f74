#pragma once
// The console in-process (offscreen, boxes recorded) against libVELK430.so
// in fast timing, with its own simulator folder (a unique scratch folder,
// removed after the test) and settings file per test.
#include "ConsoleProbe.h"
#include "MessageBox.h"
#include "ScratchDir.h"
#include "SettingsStore.h"

#include "SimStore.h"

#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

class CDrillFixture {
protected:
    void SetUpDrill()
    {
        const char* base = std::getenv("VELK430_SIM_DIR");
        Base = base ? base : "";
        SimDir = Scratch.Path();
        setenv("VELK430_SIM_DIR", SimDir.c_str(), 1);
        // The production record of this test alone.
        RecordFile = (SimDir / "data/Quillfern/Corvantis/production.db").string();
        setenv("XDG_DATA_HOME", (SimDir / "data").c_str(), 1);
        setenv("VELK430_SIM_TIMING", "fast", 1);
        ASSERT_TRUE(velk::LoadDefaultDeviceTable(Table));
        Sim.emplace(SimDir.string());
        velk::CSimSettings settings;
        settings.Timing = velk::ETiming::Fast;
        ASSERT_TRUE(Sim->SaveSettings(settings));
        ASSERT_TRUE(Sim->SaveUnit(velk::CUnit(*Table.Find("MSP430F112"))));
        // The file the console's store reads and writes.
        Conf = CMainConsoleDlg::OpenSettingsStore().Location();
        std::filesystem::remove_all(Conf);
        std::filesystem::create_directories(std::filesystem::path(Conf).parent_path());
    }

    void TearDownDrill()
    {
        if (Console && !Console->IsEnded())
            Console->DestroyWindow();
        Console.reset();
        std::filesystem::remove_all(Conf);
        setenv("VELK430_SIM_DIR", Base.c_str(), 1);
    }

    // Written behind the console's back. The process's settings cache reads
    // a file again only when its size or modification time changed: a
    // rewrite of the same size within one tick of the file system's clock
    // (the last row's 501 and Count=1 against this row's 500 and Count=0)
    // would start the console on the old values. Each write gets a time of
    // its own, apart from any the console gives the file.
    void WriteConf(const std::string& text) const
    {
        std::ofstream(Conf, std::ios::binary) << text;
        static int writes = 0;
        std::filesystem::last_write_time(Conf, std::filesystem::file_time_type::clock::now() + std::chrono::hours(24) +
                                                   std::chrono::seconds(++writes));
    }

    // A full batch: erase on, a WORD serial at 1000, the fuse.
    static std::string FullBatchConf(uint32_t serial)
    {
        return "[Options]\nCommPort=COM1\nBaud=115200\nDeviceName=MSP430F112\nFileName=" CORV_SOURCE_DIR
               "/examples/blink-f112.txt\nVCC=3.3\nBlowFuse=1\nEraseFlash=1\nSerialNumber=" +
               std::to_string(serial) + "\nSerialAddress=1000\nSerialType=2\nCount=0\nCountUp=1\n";
    }

    // The console's store, read as a restarted station would.
    std::string Stored(const char* name) const
    {
        return CSettingsStore::AtFile(Conf).GetProfileString("Options", name, "(absent)");
    }

    bool Start()
    {
        Console = std::make_unique<CConsoleProbe>();
        return Console->Create() && !Console->IsEnded();
    }

    bool Shows(const std::unique_ptr<QPixmap>& bitmap) const
    {
        return bitmap && Console->StatusPicture->pixmap().cacheKey() == bitmap->cacheKey();
    }

    std::string Base;
    const CScratchDir Scratch{"drill"};
    std::filesystem::path SimDir;
    std::string Conf;
    std::string RecordFile;
    velk::CDeviceTable Table;
    std::optional<velk::CSimStore> Sim;
    CMessageBoxRecorder Boxes;
    std::unique_ptr<CConsoleProbe> Console;
};
