#pragma once
// Recipes: named, versioned production setups that an engineer approves and
// a station in production mode runs with, whatever its own settings say.
//
// A version never changes once made; retiring a recipe marks its name (every
// version), so that no station loads it any more, while the record's rows
// keep naming it. A recipe lives in one of two books:
//
// - the line database (tables recipe and recipe_retired, owned and written
//   by the line's administrator; a station's login may only read them);
// - a recipe folder for a station on its own (/etc/corvantis/recipes, say):
//   FOLDER/NAME/N.recipe (the setup as Key=Value lines) beside N.firmware
//   (the image's bytes), and FOLDER/NAME/retired once the name is retired.
//
// Operations return false with ErrorText() on failure; nothing is changed then.

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

class CLineDatabase;

class QSqlQuery;

struct CRecipe {
    QString Name;              // letters, digits, '.', '_', '-'; 1 to 64 characters
    int Version = 0;           // from 1; 0: not made yet
    QString Device;
    double Vcc = 0.0;          // volts
    QByteArray Firmware;       // the image's bytes (empty in List)
    QString FirmwareName;      // the file name it was made from, without folders
    QString FirmwareSha256;    // lower-case hex of Firmware
    bool EraseInfo = false;
    bool BlowFuse = false;
    int32_t SerialType = 0;    // 0 none, 1 BYTE, 2 WORD, 3 DWORD
    QString SerialAddress;     // hexadecimal text, "%04X"; empty without a serial number
    QString Pool;              // the line's pool it belongs to; empty: none
    QString CreatedAt;         // UTC ISO 8601
    QString CreatedBy;         // login
    bool Retired = false;

    // "NAME version N"
    QString Title() const;
};

// Lower-case hex SHA-256 of bytes.
QString Sha256Hex(const QByteArray& bytes);

// Empty when name may name a recipe, else why not.
QString RecipeNameProblem(const QString& name);

class CRecipeBook {
public:
    explicit CRecipeBook(CLineDatabase& line);
    explicit CRecipeBook(const QString& folder);

    const QString& ErrorText() const { return m_error; }
    bool InLine() const { return m_line != nullptr; }
    const QString& Folder() const { return m_folder; }

    // Makes the next version of recipe.Name (Version, CreatedAt, CreatedBy
    // and FirmwareSha256 are set here). Refused for a retired name, and in a
    // line for a pool that another recipe in use already holds.
    bool Create(CRecipe& recipe);
    // One version with its image (version 0: the newest); Retired tells
    // whether the name is retired. found false (and true returned) when
    // there is no such recipe or version.
    bool Load(const QString& name, int version, CRecipe& recipe, bool& found);
    // In a line: the newest version of the recipe in use that pool P
    // belongs to (the one whose newest version names P); found false when
    // P has none.
    bool ForPool(const QString& pool, CRecipe& recipe, bool& found);
    // Every version of every recipe (images left out), by name and version.
    bool List(QList<CRecipe>& recipes);
    // Marks the name retired; retiring it again is no change.
    bool Retire(const QString& name);

    // In a folder: where a version's files are.
    QString RecipePath(const QString& name, int version) const;
    QString FirmwarePath(const QString& name, int version) const;
    QString RetiredPath(const QString& name) const;

private:
    bool Fail(const QString& text);
    bool FolderVersions(const QString& name, QList<int>& versions);
    bool TakeOne(QSqlQuery* q, CRecipe& r, bool& found);

    CLineDatabase* m_line = nullptr;
    QString m_folder;
    QString m_error;
};
