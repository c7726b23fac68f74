#pragma once
// A recipe folder with one approved recipe and the station file that names
// it, as an engineer would set up a station on its own: recipe "f149", the
// whole F149 batch (erase information flash, the 60 KB fill image, a WORD
// serial number at 1080) at 3.0 V. Header only; needs corv_record.

#include "Recipe.h"

#include <QFile>
#include <QString>

// Makes the recipe in folder and writes conf; the made recipe (its
// FirmwareSha256 set), or one with Version 0 and error set.
inline CRecipe MakeF149Recipe(const QString& folder, const QString& conf, QString& error)
{
    CRecipe recipe;
    recipe.Name = QStringLiteral("f149");
    recipe.Device = QStringLiteral("MSP430F149");
    recipe.Vcc = 3.0;
    QFile image(QStringLiteral(CORV_SOURCE_DIR "/examples/fill-f149.txt"));
    if (!image.open(QIODevice::ReadOnly)) {
        error = image.fileName() + ": " + image.errorString();
        return recipe;
    }
    recipe.Firmware = image.readAll();
    recipe.FirmwareName = QStringLiteral("fill-f149.txt");
    recipe.EraseInfo = true;
    recipe.SerialType = 2;
    recipe.SerialAddress = QStringLiteral("1080");
    CRecipeBook book(folder);
    if (!book.Create(recipe)) {
        error = book.ErrorText();
        recipe.Version = 0;
        return recipe;
    }
    QFile file(conf);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(("Recipes=" + folder + "\nRecipe=f149\n").toUtf8()) < 0) {
        error = conf + ": " + file.errorString();
        recipe.Version = 0;
    }
    return recipe;
}
