#include "Application.h"

#include <QApplication>
#include <QStyleFactory>

void Enable3dControls()
{
    if (QStyle* style = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(style);
}
