// Each of the three templates builds into the right controls, in the right
// tab order, at the pixel positions its dialog units give.
#include "Resources.h"
#include "ControlHelpers.h"
#include "Dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

const char* KindName(const QWidget* w)
{
    if (qobject_cast<const QPushButton*>(w)) return "PushButton";
    if (qobject_cast<const QCheckBox*>(w)) return "CheckBox";
    if (qobject_cast<const QLineEdit*>(w)) return "Edit";
    if (qobject_cast<const QComboBox*>(w)) return "ComboBox";
    if (qobject_cast<const QProgressBar*>(w)) return "ProgressBar";
    if (qobject_cast<const QGroupBox*>(w)) return "GroupBox";
    if (qobject_cast<const QLabel*>(w)) return "Label";
    return "?";
}

int Units(int dlu, int base) { return static_cast<int>(std::lround(dlu * base / 4.0)); }
int UnitsY(int dlu, int base) { return static_cast<int>(std::lround(dlu * base / 8.0)); }

std::vector<int> TabIds(const CDialog& dlg)
{
    std::vector<int> ids;
    for (QWidget* w : dlg.TabOrder())
        ids.push_back(ControlId(w));
    return ids;
}

TEST(Templates, BaseUnitsComeFromTheDialogFont)
{
    CDialog dlg(*GetDialogTemplate(IDD_CONSOLE));
    const QFontMetrics fm(dlg.DialogFont());
    const int width = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    EXPECT_EQ(dlg.BaseUnitX(), (width / 26 + 1) / 2);
    EXPECT_EQ(dlg.BaseUnitY(), fm.height());
    // "MS Sans Serif" 8 pt is not installed here: a metrically close font
    // stands in, with units close to 6 x 13 pixels at 96 dpi.
    EXPECT_GE(dlg.BaseUnitX(), 5);
    EXPECT_LE(dlg.BaseUnitX(), 8);
    EXPECT_GE(dlg.BaseUnitY(), 11);
    EXPECT_LE(dlg.BaseUnitY(), 16);
    EXPECT_NE(dlg.DialogFont().family(), QStringLiteral("MS Sans Serif"));
}

TEST(Templates, ConsoleControlsAndGeometry)
{
    const DialogTemplate& t = *GetDialogTemplate(IDD_CONSOLE);
    CDialog dlg(t);
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("MSP430 VELK Serializing Shell"));
    const int bx = dlg.BaseUnitX(), by = dlg.BaseUnitY();
    EXPECT_EQ(dlg.width(), Units(256, bx));
    EXPECT_EQ(dlg.height(), UnitsY(202, by));

    struct Expect { int id; const char* kind; };
    const Expect ids[] = {
        {IDC_RUN_BATCH, "PushButton"}, {IDC_CHECK_FUSE, "PushButton"}, {IDC_EXIT, "PushButton"},
        {IDC_PORT, "PushButton"}, {IDC_BROWSE, "PushButton"}, {IDOK, "PushButton"},
        {IDC_LOGO, "Label"}, {IDC_FILENAME, "Edit"}, {IDC_VCC, "Edit"},
        {IDC_STATUS_PICTURE, "Label"}, {IDC_PROGRESS, "ProgressBar"}, {IDC_OPERATION, "Edit"},
        {IDCANCEL, "PushButton"}, {IDC_BLOW_FUSE, "CheckBox"}, {IDC_ERASE_INFO, "CheckBox"},
        {IDC_SERIAL_NUMBER, "Edit"}, {IDC_SERIAL_ADDRESS, "Edit"}, {IDC_SERIAL_TYPE, "ComboBox"},
        {IDC_DEVICE, "ComboBox"}, {IDC_COUNT, "Edit"}, {IDC_COUNT_UP, "CheckBox"},
    };
    for (const auto& e : ids) {
        QWidget* w = dlg.GetDlgItem(e.id);
        ASSERT_NE(w, nullptr) << e.id;
        EXPECT_STREQ(KindName(w), e.kind) << e.id;
    }
    EXPECT_EQ(t.controls.size(), 33u);

    // Every control sits where its dialog units say; a closed combo is one
    // edit line high, an uncentred picture takes its bitmap's size.
    for (const ControlTemplate& row : t.controls) {
        if (row.id == IDC_STATIC)
            continue;
        const QRect g = dlg.GetDlgItem(row.id)->geometry();
        EXPECT_EQ(g.x(), Units(row.x, bx)) << row.id;
        EXPECT_EQ(g.y(), UnitsY(row.y, by)) << row.id;
        if (row.kind == ControlKind::ComboBox) {
            EXPECT_EQ(g.width(), Units(row.cx, bx)) << row.id;
            EXPECT_EQ(g.height(), by + 8) << row.id;
        } else if (row.id == IDC_LOGO) {
            EXPECT_EQ(g.size(), QSize(206 + 2, 57 + 2));
        } else {
            EXPECT_EQ(g.size(), QSize(Units(row.cx, bx), UnitsY(row.cy, by))) << row.id;
        }
    }
    // Run Batch: 199, 89, 50, 14 dialog units.
    EXPECT_EQ(dlg.GetDlgItem(IDC_RUN_BATCH)->geometry(),
              dlg.MapDialogRect(199, 89, 50, 14));

    // Tab order = template order of the tab stops; labels, pictures and the
    // progress bar are not stops.
    EXPECT_EQ(TabIds(dlg), (std::vector<int>{IDC_RUN_BATCH, IDC_CHECK_FUSE, IDC_EXIT, IDC_PORT,
                                             IDC_BROWSE, IDOK, IDC_FILENAME, IDC_VCC,
                                             IDC_OPERATION, IDCANCEL, IDC_BLOW_FUSE,
                                             IDC_ERASE_INFO, IDC_SERIAL_NUMBER,
                                             IDC_SERIAL_ADDRESS, IDC_SERIAL_TYPE, IDC_DEVICE,
                                             IDC_COUNT, IDC_COUNT_UP}));
    EXPECT_EQ(dlg.GetDlgItem(IDC_PROGRESS)->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(dlg.GetDlgItem(IDC_STATUS_PICTURE)->focusPolicy(), Qt::NoFocus);

    // Styles acted on.
    EXPECT_TRUE(dlg.GetDlgItem(IDOK)->isHidden());
    EXPECT_TRUE(dlg.GetDlgItem(IDCANCEL)->isHidden());
    EXPECT_TRUE(dlg.GetDlgItemAs<QPushButton>(IDC_RUN_BATCH)->isDefault());
    EXPECT_TRUE(dlg.GetDlgItemAs<QLineEdit>(IDC_FILENAME)->isReadOnly());
    EXPECT_TRUE(dlg.GetDlgItemAs<QLineEdit>(IDC_OPERATION)->isReadOnly());
    EXPECT_FALSE(dlg.GetDlgItemAs<QLineEdit>(IDC_VCC)->isReadOnly());
    auto* type = dlg.GetDlgItemAs<QComboBox>(IDC_SERIAL_TYPE);
    EXPECT_FALSE(type->isEditable());
    ASSERT_EQ(type->count(), 4);
    EXPECT_EQ(type->itemText(0), QStringLiteral("(none)"));
    EXPECT_EQ(type->itemText(3), QStringLiteral("DWORD"));
    EXPECT_EQ(type->currentIndex(), -1);
    auto* device = dlg.GetDlgItemAs<QComboBox>(IDC_DEVICE);
    EXPECT_TRUE(device->isEditable());
    auto* logo = dlg.GetDlgItemAs<QLabel>(IDC_LOGO);
    EXPECT_FALSE(logo->pixmap().isNull());
    EXPECT_EQ(logo->frameShadow(), QFrame::Sunken);
    auto* status = dlg.GetDlgItemAs<QLabel>(IDC_STATUS_PICTURE);
    EXPECT_TRUE(status->alignment() & Qt::AlignHCenter);
    EXPECT_FALSE(HasPicture(status));
}

TEST(Templates, PortDialog)
{
    const DialogTemplate& t = *GetDialogTemplate(IDD_PORT);
    CDialog dlg(t);
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Port Selection"));
    EXPECT_EQ(dlg.size(), QSize(Units(127, dlg.BaseUnitX()), UnitsY(79, dlg.BaseUnitY())));
    EXPECT_EQ(TabIds(dlg), (std::vector<int>{IDOK, IDCANCEL, IDC_PORT_LIST, IDC_BAUD}));
    auto* port = dlg.GetDlgItemAs<QComboBox>(IDC_PORT_LIST);
    ASSERT_NE(port, nullptr);
    EXPECT_TRUE(port->isEditable());
    ASSERT_EQ(port->count(), 8);
    EXPECT_EQ(port->itemText(0), QStringLiteral("COM1"));
    EXPECT_EQ(port->itemText(7), QStringLiteral("COM8"));
    auto* baud = dlg.GetDlgItemAs<QLineEdit>(IDC_BAUD);
    ASSERT_NE(baud, nullptr);
    ASSERT_NE(baud->validator(), nullptr);
    QString typed = QStringLiteral("96a");
    int pos = 3;
    EXPECT_EQ(baud->validator()->validate(typed, pos), QValidator::Invalid);
    EXPECT_EQ(dlg.GetDlgItem(IDC_BAUD)->geometry(), dlg.MapDialogRect(71, 28, 40, 12));
    EXPECT_EQ(dlg.GetDlgItem(IDOK)->geometry(), dlg.MapDialogRect(9, 58, 50, 14));
    EXPECT_TRUE(dlg.GetDlgItemAs<QPushButton>(IDOK)->isDefault());

    // The group box must not sit above the controls it frames.
    QGroupBox* group = dlg.findChild<QGroupBox*>();
    ASSERT_NE(group, nullptr);
    EXPECT_LT(dlg.children().indexOf(group), dlg.children().indexOf(port));
    EXPECT_LT(dlg.children().indexOf(group), dlg.children().indexOf(dlg.GetDlgItem(IDOK)));
}

TEST(Templates, AboutBox)
{
    const DialogTemplate& t = *GetDialogTemplate(IDD_ABOUT);
    CDialog dlg(t);
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("About Corvantis"));
    EXPECT_EQ(dlg.size(), QSize(Units(235, dlg.BaseUnitX()), UnitsY(108, dlg.BaseUnitY())));
    EXPECT_EQ(TabIds(dlg), std::vector<int>{IDOK});
    ASSERT_EQ(t.controls.size(), 4u);
    // Static controls have no id; find them by template order.
    const auto labels = dlg.findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly);
    ASSERT_EQ(labels.size(), 3);
    EXPECT_EQ(labels[0]->pixmap().size(), QSize(32, 32));  // icon 128
    EXPECT_EQ(labels[1]->text(), QStringLiteral("Corvantis"));
    EXPECT_EQ(labels[2]->pixmap().size(), QSize(206, 57));  // logo 129
    EXPECT_EQ(labels[1]->geometry(), dlg.MapDialogRect(40, 10, 119, 8));
}

TEST(Templates, LabelAmpersands)
{
    DialogTemplate t;
    t.cx = 100;
    t.cy = 40;
    t.controls = {{10, ControlKind::Label, "Save && &Exit", 1, 1, 90, 8, 0, 0, {}},
                  {11, ControlKind::Label, "Save && &Exit", 1, 12, 90, 8, Style::NoPrefix, 0, {}}};
    CDialog dlg(t);
    EXPECT_EQ(dlg.GetDlgItemAs<QLabel>(10)->text(), QStringLiteral("Save & Exit"));
    EXPECT_EQ(dlg.GetDlgItemAs<QLabel>(11)->text(), QStringLiteral("Save && &Exit"));
}

TEST(Resources, StringTable)
{
    EXPECT_EQ(LoadString(IDS_ABOUTBOX), "&About Corvantis...");
    EXPECT_EQ(LoadString(IDS_COMPANY), "Quillfern");
    EXPECT_EQ(LoadString(IDS_SECTION), "Options");
    EXPECT_EQ(LoadString(104), "CommPort");
    EXPECT_EQ(LoadString(108), "VCC");
    EXPECT_EQ(LoadString(113), "SerialType");
    EXPECT_EQ(LoadString(115), "Count");
    EXPECT_EQ(LoadString(116), "CountUp");
    EXPECT_EQ(LoadString(114), "");
    EXPECT_EQ(LoadString(9999), "");
    EXPECT_EQ(GetDialogTemplate(101), nullptr);
}

TEST(Resources, Images)
{
    struct { int id; QSize size; } bitmaps[] = {
        {IDB_LOGO, {206, 57}}, {IDB_PASS, {48, 48}}, {IDB_FAIL, {48, 48}}, {IDB_PENDING, {48, 48}}};
    for (const auto& b : bitmaps) {
        const QPixmap p = LoadBitmap(b.id);
        ASSERT_FALSE(p.isNull()) << b.id;
        EXPECT_EQ(p.size(), b.size) << b.id;
        // 16 colours at most.
        const QImage img = p.toImage();
        QSet<QRgb> colours;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                colours.insert(img.pixel(x, y));
        EXPECT_LE(colours.size(), 16) << b.id;
    }
    // Status pictures: grey corners, and each its own colour in the middle.
    const QImage pass = LoadBitmap(IDB_PASS).toImage();
    const QImage fail = LoadBitmap(IDB_FAIL).toImage();
    const QColor corner = pass.pixelColor(0, 0);
    EXPECT_LT(std::abs(corner.red() - corner.green()), 16);
    EXPECT_LT(std::abs(corner.red() - corner.blue()), 24);
    const QColor mid = fail.pixelColor(24, 24);
    EXPECT_GT(mid.red(), mid.green() + 80);
    int green = 0;
    for (int y = 0; y < pass.height(); ++y)
        for (int x = 0; x < pass.width(); ++x)
            if (pass.pixelColor(x, y).green() > pass.pixelColor(x, y).red() + 60)
                ++green;
    EXPECT_GT(green, 100);
    const QIcon icon = LoadIcon(IDI_MAIN);
    EXPECT_TRUE(icon.availableSizes().contains(QSize(16, 16)));
    EXPECT_TRUE(icon.availableSizes().contains(QSize(32, 32)));
    EXPECT_TRUE(LoadBitmap(4242).isNull());
}

}  // namespace
