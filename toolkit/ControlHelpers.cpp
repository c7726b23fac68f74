#include "ControlHelpers.h"

#include "DialogTemplate.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>

uint32_t ControlStyles(const QWidget* control)
{
    return control ? control->property("corvStyles").toUInt() : 0;
}

int ControlId(const QWidget* control)
{
    const QVariant id = control ? control->property("corvId") : QVariant();
    return id.isValid() ? id.toInt() : -1;
}

int AddString(QComboBox* combo, const std::string& text)
{
    if (!combo)
        return CB_ERR;
    const uint32_t styles = ControlStyles(combo);
    QString entry = QString::fromStdString(text);
    if (styles & Style::UpperCase)
        entry = entry.toUpper();
    int index = combo->count();
    if (styles & Style::Sort) {
        // After the last entry that sorts at or before it. The entries are
        // kept in order, so a binary search finds the place: a list of
        // hundreds of devices fills in a fraction of the linear scan's time.
        int low = 0, high = combo->count();
        while (low < high) {
            const int middle = low + (high - low) / 2;
            if (QString::compare(combo->itemText(middle), entry, Qt::CaseInsensitive) <= 0)
                low = middle + 1;
            else
                high = middle;
        }
        index = low;
    }
    // Inserting must not move the edit field's text or the selection.
    const QString editText = combo->isEditable() ? combo->currentText() : QString();
    const bool hadSelection = combo->currentIndex() >= 0;
    combo->insertItem(index, entry);
    if (!hadSelection && combo->currentIndex() >= 0)
        combo->setCurrentIndex(-1);
    if (combo->isEditable() && combo->currentText() != editText)
        combo->setEditText(editText);
    return index;
}

int DeleteString(QComboBox* combo, int index)
{
    if (!combo || index < 0 || index >= combo->count())
        return CB_ERR;
    combo->removeItem(index);
    return combo->count();
}

int GetCount(const QComboBox* combo) { return combo ? combo->count() : CB_ERR; }

int GetCurSel(const QComboBox* combo)
{
    return combo && combo->currentIndex() >= 0 ? combo->currentIndex() : CB_ERR;
}

int SetCurSel(QComboBox* combo, int index)
{
    if (!combo)
        return CB_ERR;
    if (index < 0 || index >= combo->count()) {
        combo->setCurrentIndex(-1);
        if (combo->isEditable())
            combo->setEditText(QString());
        return CB_ERR;
    }
    combo->setCurrentIndex(index);
    return index;
}

int FindString(const QComboBox* combo, const std::string& prefix)
{
    if (!combo)
        return CB_ERR;
    const QString p = QString::fromStdString(prefix);
    for (int i = 0; i < combo->count(); ++i)
        if (combo->itemText(i).startsWith(p, Qt::CaseInsensitive))
            return i;
    return CB_ERR;
}

int SelectString(QComboBox* combo, const std::string& prefix)
{
    const int index = FindString(combo, prefix);
    if (index != CB_ERR) {
        combo->setCurrentIndex(index);
        if (combo->isEditable())
            combo->setEditText(combo->itemText(index));
    }
    return index;
}

std::string GetLBText(const QComboBox* combo, int index)
{
    if (!combo || index < 0 || index >= combo->count())
        return {};
    return combo->itemText(index).toStdString();
}

int SetItemData(QComboBox* combo, int index, intptr_t data)
{
    if (!combo || index < 0 || index >= combo->count())
        return CB_ERR;
    combo->setItemData(index, QVariant::fromValue<qlonglong>(data));
    return 0;
}

intptr_t GetItemData(const QComboBox* combo, int index)
{
    if (!combo || index < 0 || index >= combo->count())
        return CB_ERR;
    const QVariant v = combo->itemData(index);
    return v.isValid() ? static_cast<intptr_t>(v.toLongLong()) : 0;
}

void SetEditText(QComboBox* combo, const std::string& text)
{
    if (!combo || !combo->isEditable())
        return;
    QString q = QString::fromStdString(text);
    if (ControlStyles(combo) & Style::UpperCase)
        q = q.toUpper();
    combo->setEditText(q);
}

void SetPicture(QLabel* picture, const QPixmap* pixmap)
{
    if (!picture)
        return;
    if (pixmap && !pixmap->isNull())
        picture->setPixmap(*pixmap);
    else
        picture->clear();
    picture->repaint();
}

bool HasPicture(const QLabel* picture) { return picture && !picture->pixmap().isNull(); }

QPixmap LoadBitmap(int id) { return QPixmap(QStringLiteral(":/bitmaps/%1").arg(id)); }

QIcon LoadIcon(int id)
{
    QIcon icon;
    for (int size : {16, 32, 48}) {
        const QString path = QStringLiteral(":/icons/%1/%2").arg(id).arg(size);
        if (QFile::exists(path))
            icon.addFile(path, QSize(size, size));
    }
    return icon;
}
