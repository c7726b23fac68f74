// The Device drop-down: filling from the library, default supply, choice.
#include "ConsoleFixture.h"

#include "DeviceList.h"
#include "Station.h"

using ::testing::ElementsAre;

namespace {

std::vector<std::pair<std::string, intptr_t>> Entries(const QComboBox* list)
{
    std::vector<std::pair<std::string, intptr_t>> entries;
    for (int i = 0; i < GetCount(list); ++i)
        entries.emplace_back(GetLBText(list, i), GetItemData(list, i));
    return entries;
}

using Entry = std::pair<std::string, intptr_t>;

}  // namespace

TEST_F(ConsoleTest, ListIsSortedWithDeviceNumbersAsItemData)
{
    fake.Devices({CFakeDevice("C9"), CFakeDevice("A1"), CFakeDevice("B5"), CFakeDevice("abc1")});
    StoreValues({{"DeviceName", "b"}});
    ASSERT_TRUE(Start());
    EXPECT_THAT(Entries(console->DeviceList),
                ElementsAre(Entry{"A1", 1}, Entry{"ABC1", 3}, Entry{"B5", 2}, Entry{"C9", 0}));
    EXPECT_EQ(Text(IDC_DEVICE), "B5");  // first entry that begins with the stored name
}

TEST_F(ConsoleTest, SavedNameSelectsTheFirstEntryItBegins)
{
    fake.Devices({CFakeDevice("ABC12"), CFakeDevice("ABC10")});
    StoreValues({{"DeviceName", "ABC1"}});
    ASSERT_TRUE(Start());
    EXPECT_EQ(GetLBText(console->DeviceList, GetCurSel(console->DeviceList)), "ABC10");
    EXPECT_EQ(console->DeviceName, "ABC1");
    Click(IDC_EXIT);
    EXPECT_EQ(console->DeviceName, "ABC10");
}

TEST_F(ConsoleTest, ChoosingADeviceSetsItsDefaultSupply)
{
    ASSERT_TRUE(Start());
    PickDevice("MSP430F1232");
    EXPECT_EQ(Text(IDC_VCC), "1.9");
    EXPECT_EQ(console->DeviceName, "MSP430F1232");
    fake.ClearLog();
    Click(IDC_RUN_BATCH);
    EXPECT_EQ(fake.CallsTo("SetVcc")[0].Args[0], 1900);  // read back from the field
    EXPECT_EQ(fake.CallsTo("SetDeviceType")[0].Text, "MSP430F1232");

    PickDevice("MSP430F112");
    EXPECT_EQ(Text(IDC_VCC), "3.3");
}

TEST_F(ConsoleTest, LowerCaseLibraryNameIsShownAndChosenInCapitals)
{
    fake.Devices({CFakeDevice("abc1", 2500)});
    ASSERT_TRUE(Start());
    PickDevice("ABC1");
    EXPECT_EQ(Text(IDC_DEVICE), "ABC1");
    EXPECT_EQ(console->DeviceName, "ABC1");
    EXPECT_EQ(Text(IDC_VCC), "2.5");
}

TEST_F(ConsoleTest, DefaultSupplyOfTheChosenDevice)
{
    struct Row {
        int32_t millivolts;
        bool unreadable;
        const char* shown;
        int64_t sent;   // the batch's supply, mV
    };
    const Row rows[] = {
        {2500, false, "2.5", 2500},
        {0, false, "0.0", 0},
        {3000, true, "0.0", 0},
        {-700, false, "3.3", 3300},        // names no supply: Vcc stays
        {INT32_MIN, false, "3.3", 3300},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.millivolts);
        ClearStore();
        fake.Devices({CFakeDevice("MSP430F112", 3300), CFakeDevice("MSP430F149", r.millivolts)});
        ASSERT_TRUE(Start());
        if (r.unreadable)
            fake.ScriptConfig(10, {-1});
        PickDevice("MSP430F149");
        EXPECT_EQ(Text(IDC_VCC), r.shown);
        fake.ClearLog();
        Click(IDC_RUN_BATCH);
        EXPECT_TRUE(boxes.Boxes.empty());
        ASSERT_FALSE(fake.CallsTo("SetVcc").empty());
        EXPECT_EQ(fake.CallsTo("SetVcc")[0].Args[0], r.sent);
        console->DestroyWindow();
    }
}

TEST_F(ConsoleTest, InvalidFieldStopsTheDeviceChoice)
{
    ASSERT_TRUE(Start());
    fake.ClearLog();
    SetText(IDC_COUNT, "x");
    PickDevice("MSP430F1232");
    EXPECT_THAT(boxes.Texts(), ElementsAre("Please enter an integer."));
    EXPECT_DOUBLE_EQ(console->Vcc, 3.3);
    EXPECT_EQ(Text(IDC_VCC), "3.3");
    EXPECT_EQ(Text(IDC_DEVICE), "MSP430F1232");  // the new selection stays
    EXPECT_EQ(fake.Count("GetDeviceCfgInfo"), 0u);
}

TEST_F(ConsoleTest, SelectionChangeWithNothingSelectedReadsNoItem)
{
    StoreValues({{"DeviceName", "XYZ"}});
    ASSERT_TRUE(Start());
    fake.ClearLog();
    console->SendMessage(WM_COMMAND, IDC_DEVICE | (CBN_SELCHANGE << 16));
    EXPECT_EQ(fake.Count("GetDeviceCfgInfo"), 0u);
    EXPECT_EQ(console->DeviceName, "XYZ");
    EXPECT_TRUE(boxes.Boxes.empty());
}

TEST_F(ConsoleTest, FailingNameQueryKeepsTheFirstDeviceAndEndsTheConsole)
{
    fake.Devices({CFakeDevice("B2"), CFakeDevice("A1")});
    fake.SetOverride([n = 0](const CFakeCall& call, size_t) mutable -> std::optional<int32_t> {
        if (call.Function == "GetDeviceCfgInfo" && call.Args[0] == 3 && ++n == 2)
            return -1;
        return std::nullopt;
    });
    std::vector<Entry> listed;
    boxes.OnShow = [&](const CMessageBoxRecorder::Box&) {
        listed = Entries(console->GetDlgItemAs<QComboBox>(IDC_DEVICE));
    };
    EXPECT_FALSE(Start());
    EXPECT_THAT(listed, ElementsAre(Entry{"B2", 0}));
    EXPECT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_EQ(GetCount(console->GetDlgItemAs<QComboBox>(IDC_DEVICE)), 0);  // emptied at destruction
    EXPECT_EQ(console->GetResult(), IDCANCEL);
}

TEST(DeviceList, FillStopsAtTheFirstFailingQuery)
{
    CFakeVelk& fake = CFakeVelk::Instance();
    fake.Reset();
    QComboBox list;
    AddString(&list, "OLD");
    fake.Devices({});
    EXPECT_FALSE(FillDeviceNames(&list));
    EXPECT_EQ(GetCount(&list), 0);  // emptied first

    fake.Devices({CFakeDevice("X1"), CFakeDevice("X2")});
    fake.SetOverride([](const CFakeCall& call, size_t) -> std::optional<int32_t> {
        if (call.Function == "GetDeviceCfgInfo" && call.Args[0] == 2 && call.Args[1] == 1)
            return 5;
        return std::nullopt;
    });
    EXPECT_FALSE(FillDeviceNames(&list));
    EXPECT_EQ(GetCount(&list), 1);
    fake.SetOverride(nullptr);

    EXPECT_TRUE(FillDeviceNames(&list));
    EXPECT_EQ(GetCount(&list), 2);
    ClearDeviceNames(&list);
    EXPECT_EQ(GetCount(&list), 0);
    EXPECT_FALSE(FillDeviceNames(nullptr));
    fake.Reset();
}

TEST(DeviceList, DefaultVccIsTheThirdValue)
{
    CFakeVelk& fake = CFakeVelk::Instance();
    fake.Reset();
    fake.Devices({CFakeDevice("X1", 1800), CFakeDevice("X2", 3600)});
    int32_t millivolts = -1;
    EXPECT_TRUE(GetDefaultVcc(1, millivolts));
    EXPECT_EQ(millivolts, 3600);
    EXPECT_FALSE(GetDefaultVcc(7, millivolts));
    EXPECT_EQ(millivolts, 0);
    fake.ScriptConfig(10, {3});
    EXPECT_FALSE(GetDefaultVcc(0, millivolts));
    EXPECT_EQ(millivolts, 0);
    fake.Reset();
}
