#include "CriticalError.h"
#include "Application.h"
#include "FileDialog.h"
#include "MessageBox.h"

#include <QApplication>
#include <QStyle>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

TEST(MessageBox, RecorderCatchesBothBoxesAndRestores)
{
    QWidget owner;
    {
        CMessageBoxRecorder outer;
        {
            CMessageBoxRecorder inner;
            EXPECT_EQ(MessageBox(&owner, "Fuse is blown"), IDOK);
            CriticalBox("CVELK Critical Error", "Out of memory");
            ASSERT_EQ(inner.Boxes.size(), 2u);
            EXPECT_FALSE(inner.Boxes[0].critical);
            EXPECT_EQ(inner.Boxes[0].owner, &owner);
            EXPECT_EQ(inner.Boxes[0].caption, "Corvantis");  // the application's name
            EXPECT_EQ(inner.Boxes[0].text, "Fuse is blown");
            EXPECT_TRUE(inner.Boxes[1].critical);
            EXPECT_EQ(inner.Boxes[1].owner, nullptr);
            EXPECT_EQ(inner.Boxes[1].caption, "CVELK Critical Error");
        }
        MessageBox(nullptr, "after inner");
        EXPECT_EQ(outer.Texts(), std::vector<std::string>{"after inner"});
    }
    // A custom handler sees the call and what it gets back is returned.
    auto previous = SetMessageBoxHandler([](QWidget*, const std::string&) { return 42; });
    EXPECT_EQ(MessageBox(nullptr, "x"), 42);
    SetMessageBoxHandler(previous);
}

TEST(MessageBox, CriticalBoxFitsTheSessionHook)
{
    CriticalErrorHook hook = CriticalBox;
    CMessageBoxRecorder boxes;
    hook("CVELK Critical Error", "Unable to allocate");
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_TRUE(boxes.Boxes[0].critical);
    EXPECT_EQ(boxes.Boxes[0].text, "Unable to allocate");
}

TEST(FileDialog, ClassicFilterAndReplaceableDialog)
{
    EXPECT_EQ(ClassicFilterToQt("TI Text Files (*.txt)|*.txt||"), "TI Text Files (*.txt)");
    EXPECT_EQ(ClassicFilterToQt("Images|*.png;*.xpm|All Files (*.*)|*.*||"),
              "Images (*.png *.xpm);;All Files (*.*)");

    std::string seenFilter;
    uint32_t seenFlags = 0;
    auto previous = SetFileOpenHandler(
        [&](QWidget*, std::string& path, const std::string& filter, uint32_t flags) {
            seenFilter = filter;
            seenFlags = flags;
            if (path == "cancel")
                return false;
            path = "/fw/new.txt";
            return true;
        });
    std::string path = "/fw/old.txt";
    EXPECT_TRUE(FileOpenDialog(nullptr, path, "TI Text Files (*.txt)|*.txt||", 4102));
    EXPECT_EQ(path, "/fw/new.txt");
    EXPECT_EQ(seenFlags, 4102u);
    EXPECT_TRUE(seenFlags & OFN_FILEMUSTEXIST);
    EXPECT_EQ(seenFilter, "TI Text Files (*.txt)|*.txt||");
    path = "cancel";
    EXPECT_FALSE(FileOpenDialog(nullptr, path, "", 0));
    EXPECT_EQ(path, "cancel");
    SetFileOpenHandler(previous);
}

TEST(Application, ThreeDimensionalControls)
{
    Enable3dControls();
    EXPECT_EQ(QApplication::style()->name().toLower(), QStringLiteral("fusion"));
}

}  // namespace
