// The help page F1 opens names every control the operator meets on the main
// window and the Port dialog, and every port text the README documents.
#include "ConsoleFixture.h"

#include "PortSelectDlg.h"

#include <QFile>
#include <QGroupBox>
#include <QRegularExpression>
#include <QTest>
#include <QTextBrowser>

namespace {

// What the dialog's shown controls say, as the operator reads it: button,
// label and group texts, and the items of lists that cannot be typed into.
QStringList Labels(const QWidget& dialog)
{
    QStringList labels;
    for (const QWidget* w : dialog.findChildren<QWidget*>()) {
        if (w->isHidden())
            continue;  // the main window's hidden OK and Cancel
        QStringList texts;
        if (const auto* button = qobject_cast<const QAbstractButton*>(w))
            texts << button->text();
        else if (const auto* label = qobject_cast<const QLabel*>(w))
            texts << label->text();
        else if (const auto* group = qobject_cast<const QGroupBox*>(w))
            texts << group->title();
        else if (const auto* list = qobject_cast<const QComboBox*>(w); list && !list->isEditable())
            for (int i = 0; i < list->count(); ++i)
                texts << list->itemText(i);
        for (QString text : texts)
            if (!(text = text.remove(QLatin1Char('&')).trimmed()).isEmpty())
                labels << text;
    }
    return labels;
}

// Every `mspdebug:...` port text in the README.
QStringList ReadmePortTexts()
{
    QFile readme(QStringLiteral(CORV_SOURCE_DIR "/README.md"));
    EXPECT_TRUE(readme.open(QIODevice::ReadOnly));
    QStringList texts;
    static const QRegularExpression portText(QStringLiteral("`(mspdebug:[^`]+)`"));
    for (auto it = portText.globalMatch(QString::fromUtf8(readme.readAll())); it.hasNext();)
        texts << it.next().captured(1);
    return texts;
}

}  // namespace

TEST_F(ConsoleTest, HelpPageNamesEveryControlAndEveryPortText)
{
    // F1 opens <program>.HLP beside the program: here, the station's page.
    const QString page = QString::fromStdString(CDialog::HelpFilePath());
    QFile::remove(page);
    ASSERT_TRUE(QFile::copy(QStringLiteral(CORV_HELP_FILE), page));
    ASSERT_TRUE(Start());

    QStringList labels = Labels(*console);
    ASSERT_GE(labels.size(), 20) << labels.join(", ").toStdString();
    for (const auto& item : console->SysMenuItems())
        labels << QString::fromStdString(item.text).remove(QLatin1Char('&'));
    CPortSelectDlg port;
    ASSERT_TRUE(port.Create());
    const QStringList portLabels = Labels(port);
    EXPECT_TRUE(portLabels.contains(QStringLiteral("Baud"))) << portLabels.join(", ").toStdString();
    labels << portLabels;
    port.DestroyWindow();
    const QStringList portTexts = ReadmePortTexts();
    EXPECT_GE(portTexts.size(), 8);

    QTest::keyClick(console->GetDlgItem(IDC_RUN_BATCH), Qt::Key_F1);
    EXPECT_TRUE(boxes.Boxes.empty()) << "the help page was not found";
    const auto* browser = console->findChild<QTextBrowser*>();
    ASSERT_NE(browser, nullptr);
    EXPECT_TRUE(browser->isVisible());
    const QString help = browser->toPlainText().simplified();
    for (const QString& text : labels + portTexts)
        EXPECT_TRUE(help.contains(text)) << "the help page does not mention \"" << text.toStdString() << "\"";
    QFile::remove(page);
}
