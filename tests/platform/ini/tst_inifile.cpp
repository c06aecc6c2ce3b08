#include "EnforcedPermissions.h"
#include "IniFile.h"
#include "TextFile.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <functional>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Bytes(const QByteArray& a)
{
    return a.toStdString();
}

QByteArray Q(const std::string& s)
{
    return QByteArray::fromStdString(s);
}

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Golden(const char* name)
{
    return ReadBytes(std::string(LODRIN_GOLDEN_DIR) + "/" + name);
}

mode_t ModeOf(const std::string& path)
{
    struct stat st
    {
    };
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

QStringList EntriesIn(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                               QDir::NoDotAndDotDot);
}

QStringList ToList(const std::vector<std::string>& names)
{
    QStringList list;
    for (const std::string& name : names)
        list << QString::fromStdString(name);
    return list;
}

// A settings file in a directory of its own.
struct Fixture
{
    QTemporaryDir dir;
    std::string path = dir.filePath("Lodrin.ini").toStdString();
    TIniFile ini{path};

    explicit Fixture(const std::optional<std::string>& bytes = std::nullopt)
    {
        if (bytes)
            WriteBytes(path, *bytes);
    }
    std::string Contents() const { return ReadBytes(path); }
};

using Operation = std::function<void(TIniFile&)>;

} // namespace

Q_DECLARE_METATYPE(Operation)

class TestIniFile : public QObject
{
    Q_OBJECT

private slots:
    void goldenWriteChangesOnlyItsBytes_data();
    void goldenWriteChangesOnlyItsBytes();
    void goldenReads();
    void utf8FallbackRoundTrip();

    void readString_data();
    void readString();
    void readInteger_data();
    void readInteger();
    void readBool_data();
    void readBool();
    void writeReadsBackExactly_data();
    void writeReadsBackExactly();
    void oneWayCharactersStayCp932();
    void utf8FileStaysUtf8();

    void writeLayout_data();
    void writeLayout();
    void readSections();
    void eraseSection();
    void nothingIsCached();
    void modes();

    void failedWriteRaisesAndKeepsTheFile_data();
    void failedWriteRaisesAndKeepsTheFile();
    void unstorableWritesRaise_data();
    void unstorableWritesRaise();
    void badInputGivesDefaults_data();
    void badInputGivesDefaults();
    void oversizedFileIsLeftAlone();
};

void TestIniFile::goldenWriteChangesOnlyItsBytes_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QString>("expected");
    QTest::newRow("replace a key in a section with trail bytes 0x5C")
        << Operation([](TIniFile& ini) { ini.WriteString("表示ソフト", "DIR", "/htdocs/表"); })
        << "replace.ini";
    QTest::newRow("replace with other letter case")
        << Operation([](TIniFile& ini) { ini.WriteInteger("current", "formtop", 64); })
        << "replace_case.ini";
    QTest::newRow("replace keeps the blanks around =")
        << Operation([](TIniFile& ini) { ini.WriteString("CURRENT", "HOST", "ftp.example.com"); })
        << "replace_spaced.ini";
    QTest::newRow("new key after the last key of its section")
        << Operation([](TIniFile& ini) { ini.WriteString("CURRENT", "PORT", "21"); })
        << "new_key.ini";
    QTest::newRow("new key in the last section, no final break")
        << Operation([](TIniFile& ini) { ini.WriteString("ヂア", "DIR", "/x"); })
        << "new_key_last.ini";
    QTest::newRow("new section at the end")
        << Operation([](TIniFile& ini) { ini.WriteString("新規", "HOST", "h"); })
        << "new_section.ini";
    QTest::newRow("erase a section")
        << Operation([](TIniFile& ini) { ini.EraseSection("UNKNOWN"); }) << "erase.ini";
    QTest::newRow("UTF-8 fallback")
        << Operation([](TIniFile& ini) { ini.WriteString("CURRENT", "HOST", "café.example"); })
        << "utf8_fallback.ini";
}

void TestIniFile::goldenWriteChangesOnlyItsBytes()
{
    QFETCH(Operation, operation);
    QFETCH(QString, expected);
    Fixture f(Golden("settings.ini"));
    operation(f.ini);
    QCOMPARE(Q(f.Contents()), Q(Golden(expected.toUtf8().constData())));
    QCOMPARE(EntriesIn(f.dir.path()), QStringList{"Lodrin.ini"});
}

void TestIniFile::goldenReads()
{
    Fixture f(Golden("settings.ini"));
    QCOMPARE(ToList(f.ini.ReadSections()),
             (QStringList{"CURRENT", "表示ソフト", "Unknown", "ヂア"}));
    QCOMPARE(Q(f.ini.ReadString("CURRENT", "PROFILE", "")), QByteArray("表示ソフト"));
    QCOMPARE(Q(f.ini.ReadString("CURRENT", "HOST", "")), QByteArray("ftp.example.jp"));
    QCOMPARE(Q(f.ini.ReadString("CURRENT", "TIMEOUT", "60")), QByteArray("abc"));
    QCOMPARE(f.ini.ReadInteger("CURRENT", "TIMEOUT", 60), 60);
    QCOMPARE(f.ini.ReadInteger("Current", "FormTop", 1), 120);
    QCOMPARE(Q(f.ini.ReadString("表示ソフト", "DIR", "")), QByteArray("/public_html/ソフト"));
    QCOMPARE(Q(f.ini.ReadString("ヂア", "LOCDIR", "")), QByteArray("C:\\Web\\表"));
    QCOMPARE(Q(f.ini.ReadString("ヂア", "PWD", "")), QByteArray("secret"));
    QCOMPARE(Q(f.ini.ReadString("Unknown", "RAW", "def")), QByteArray("def"));
    QCOMPARE(Q(f.ini.ReadString("CURRENT", "STRAY", "def")), QByteArray("def"));
    QCOMPARE(Q(f.ini.ReadString("CURRENT", "; a comment inside", "def")), QByteArray("def"));
}

void TestIniFile::utf8FallbackRoundTrip()
{
    Fixture f(Golden("settings.ini"));
    f.ini.WriteString("CURRENT", "HOST", "café.example");
    QCOMPARE(Q(f.ini.ReadString("CURRENT", "HOST", "")), QByteArray("café.example"));
    // The rest of the file reads as before, now from UTF-8.
    QCOMPARE(ToList(f.ini.ReadSections()),
             (QStringList{"CURRENT", "表示ソフト", "Unknown", "ヂア"}));
    QCOMPARE(Q(f.ini.ReadString("表示ソフト", "DIR", "")), QByteArray("/public_html/ソフト"));
    QCOMPARE(Q(f.ini.ReadString("ヂア", "LOCDIR", "")), QByteArray("C:\\Web\\表"));
    // And it stays UTF-8 with later writes that CP932 could hold.
    f.ini.WriteString("ヂア", "UID", "表");
    QVERIFY(Q(f.Contents()).startsWith("\xEF\xBB\xBF"));
    QCOMPARE(Q(f.ini.ReadString("ヂア", "UID", "")), QByteArray("表"));
    QCOMPARE(Q(f.ini.ReadString("CURRENT", "HOST", "")), QByteArray("café.example"));
}

void TestIniFile::readString_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("expected");
    // The default is always "def".
    const auto row = [](const char* name, const QByteArray& file, const char* section,
                        const char* key, const char* expected) {
        QTest::newRow(name) << file << QByteArray(section) << QByteArray(key)
                            << QByteArray(expected);
    };
    const QByteArray s = "[S]\r\n";
    row("absent key", s + "A=1\r\n", "S", "B", "def");
    row("absent section", s + "A=1\r\n", "T", "A", "def");
    row("empty value is not absent", s + "A=\r\n", "S", "A", "");
    row("empty file", QByteArray(), "S", "A", "def");
    row("blanks around names and =", QByteArray("  [ S ]  \r\n\t A \t=  x y \t\r\n"), "S", "A",
        "x y");
    row("blanks around the asked names", s + "A=1\r\n", " S ", "\tA ", "1");
    row("quoted blanks", s + "A=\" x \"\r\n", "S", "A", " x ");
    row("quoted quotes", s + "A=\"\"q\"\"\r\n", "S", "A", "\"q\"");
    row("one quote", s + "A=\"\r\n", "S", "A", "\"");
    row("quote on one side", s + "A=\"x\r\n", "S", "A", "\"x");
    row("= in the value", s + "A=b=c\r\n", "S", "A", "b=c");
    row("ASCII case", QByteArray("[Current]\r\nhost=h\r\n"), "CURRENT", "HoSt", "h");
    row("LF and no final break", QByteArray("[S]\nA=1"), "S", "A", "1");
    row("CR before CR LF", QByteArray("[S]\r\r\nA=1\r\r\n"), "S", "A", "1");
    row("first of two keys", s + "A=1\r\nA=2\r\n", "S", "A", "1");
    row("a section given twice", QByteArray("[S]\r\nA=1\r\n[T]\r\nB=3\r\n[s]\r\nB=2\r\n"), "S", "B",
        "2");
    row("keys before the first section", QByteArray("A=1\r\n[S]\r\n"), "S", "A", "def");
    row("comment ;", s + ";A=1\r\n", "S", ";A", "def");
    row("comment #", s + "  #A=1\r\n", "S", "#A", "def");
    row("text after the header", QByteArray("[S] ; note\r\nA=1\r\n"), "S", "A", "1");
    row("] inside a name", QByteArray("[a]b]\r\nA=1\r\n"), "a]b", "A", "1");
    row("unclosed header is junk", QByteArray("[S]\r\n[T\r\nA=1\r\n"), "S", "A", "1");
    row("trail byte 0x5D is not ]", QByteArray("[S]\r\n[x\x81\x5D\r\nA=1\r\n"), "S", "A", "1");
    row("section name ending in trail byte 0x5D", QByteArray("[\x81\x5D]\r\nA=1\r\n"), "‐", "A",
        "1");
    row("trail byte 0x5C names", QByteArray("[\x95\x5C]\r\n\x83\x5C=\x95\x5C\r\n"), "表", "ソ",
        "表");
    row("trail byte letters not folded: ヂ is not ア",
        QByteArray("[\x83\x41]\r\nA=1\r\n[\x83\x61]\r\nA=2\r\n"), "ヂ", "A", "2");
    row("trail byte letters not folded: ア is not ヂ",
        QByteArray("[\x83\x61]\r\nA=2\r\n[\x83\x41]\r\nA=1\r\n"), "ア", "A", "1");
    row("trail byte letters in keys", s + "\x83\x41=1\r\n\x83\x61=2\r\n", "S", "ヂ", "2");
    row("fullwidth letters are not folded", QByteArray("[\x82\x93]\r\nA=1\r\n"), "Ｓ", "A", "def");
    row("a wave dash finds the CP932 name", QByteArray("[a\x81\x60]\r\nA=1\r\n"), "a〜", "A", "1");
    row("value not valid CP932", s + "A=\x80\r\n", "S", "A", "def");
    row("after a value not valid CP932", s + "A=\x80\r\nB=ok\r\n", "S", "B", "ok");
    row("CP932 value", s + "A=C:\\\x95\x5C\r\n", "S", "A", "C:\\表");
    row("name CP932 cannot hold", s + "A=1\r\n", "é", "A", "def");
    row("UTF-8 after BOM", QByteArray("\xEF\xBB\xBF[表]\r\nA=é\r\n"), "表", "A", "é");
    row("BOM only in the first line",
        QByteArray("[S]\r\n\xEF\xBB\xBF"
                   "A=1\r\n"),
        "S", "A", "def");
}

void TestIniFile::readString()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, section);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, expected);
    Fixture f(Bytes(file));
    QCOMPARE(Q(f.ini.ReadString(Bytes(section), Bytes(key), "def")), expected);
}

void TestIniFile::readInteger_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("expected");
    // The default is always 7.
    QTest::newRow("decimal") << QByteArray("K=120") << 120;
    QTest::newRow("negative") << QByteArray("K=-1") << -1;
    QTest::newRow("0x40") << QByteArray("K=0x40") << 64;
    QTest::newRow("0X40") << QByteArray("K=0X40") << 64;
    QTest::newRow("$1F") << QByteArray("K=$1F") << 31;
    QTest::newRow("x10, as the integer conversion reads it") << QByteArray("K=x10") << 16;
    QTest::newRow("x") << QByteArray("K=x") << 7;
    QTest::newRow("abc") << QByteArray("K=abc") << 7;
    QTest::newRow("empty") << QByteArray("K=") << 7;
    QTest::newRow("absent") << QByteArray("L=1") << 7;
    QTest::newRow(" 12") << QByteArray("K= 12") << 12;
    QTest::newRow("\" 12\"") << QByteArray("K=\" 12\"") << 12;
    QTest::newRow("\"12 \"") << QByteArray("K=\"12 \"") << 7;
    QTest::newRow("2147483647") << QByteArray("K=2147483647") << 2147483647;
    QTest::newRow("2147483648") << QByteArray("K=2147483648") << 7;
    QTest::newRow("12abc") << QByteArray("K=12abc") << 7;
}

void TestIniFile::readInteger()
{
    QFETCH(QByteArray, line);
    QFETCH(int, expected);
    Fixture f(Bytes("[CURRENT]\r\n" + line + "\r\n"));
    QCOMPARE(f.ini.ReadInteger("CURRENT", "K", 7), expected);
}

void TestIniFile::readBool_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("defaultValue");
    QTest::addColumn<bool>("expected");
    QTest::newRow("2 is true") << QByteArray("K=2") << false << true;
    QTest::newRow("-1 is true") << QByteArray("K=-1") << false << true;
    QTest::newRow("1 is true") << QByteArray("K=1") << false << true;
    QTest::newRow("0 is false") << QByteArray("K=0") << true << false;
    QTest::newRow("0x0 is false") << QByteArray("K=0x0") << true << false;
    QTest::newRow("yes gives the default false") << QByteArray("K=yes") << false << false;
    QTest::newRow("yes gives the default true") << QByteArray("K=yes") << true << true;
    QTest::newRow("true gives the default") << QByteArray("K=true") << false << false;
    QTest::newRow("empty gives the default") << QByteArray("K=") << true << true;
    QTest::newRow("absent gives the default") << QByteArray("L=0") << true << true;
}

void TestIniFile::readBool()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, defaultValue);
    QFETCH(bool, expected);
    Fixture f(Bytes("[CURRENT]\r\n" + line + "\r\n"));
    QCOMPARE(f.ini.ReadBool("CURRENT", "K", defaultValue), expected);
}

void TestIniFile::writeReadsBackExactly_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("staysCp932");
    QTest::newRow("empty") << QByteArray("") << true;
    QTest::newRow("plain") << QByteArray("ftp.example.jp") << true;
    QTest::newRow("leading blank") << QByteArray(" pass") << true;
    QTest::newRow("trailing blank") << QByteArray("pass ") << true;
    QTest::newRow("tab") << QByteArray("\tpass") << true;
    QTest::newRow("blanks only") << QByteArray("   ") << true;
    QTest::newRow("in quotes") << QByteArray("\"quoted\"") << true;
    QTest::newRow("two quotes") << QByteArray("\"\"") << true;
    QTest::newRow("one quote") << QByteArray("\"") << true;
    QTest::newRow("quote at the start") << QByteArray("\"start") << true;
    QTest::newRow("= and ;") << QByteArray("a=b;c") << true;
    QTest::newRow("brackets") << QByteArray("[CURRENT]") << true;
    QTest::newRow("trail bytes") << QByteArray("表ソアヂー‐") << true;
    QTest::newRow("half-width katakana") << QByteArray("ｱｲｳ") << true;
    QTest::newRow("backslash path") << QByteArray("C:\\Web\\表") << true;
    QTest::newRow("e acute") << QByteArray("é") << false;
    QTest::newRow("outside the BMP") << QByteArray("𠮷") << false;
    QTest::newRow("yen sign") << QByteArray("/home/¥") << false;
    QTest::newRow("quoted UTF-8 with blanks") << QByteArray("\" é \"") << false;
}

void TestIniFile::writeReadsBackExactly()
{
    QFETCH(QByteArray, value);
    QFETCH(bool, staysCp932);
    Fixture f(std::string("[CURRENT]\r\nHOST=h\r\n"));
    f.ini.WriteString("CURRENT", "PWD", Bytes(value));
    QCOMPARE(Q(f.ini.ReadString("CURRENT", "PWD", "def")), value);
    QCOMPARE(Q(f.ini.ReadString("CURRENT", "HOST", "def")), QByteArray("h"));
    QCOMPARE(Q(f.Contents()).startsWith("\xEF\xBB\xBF"), !staysCp932);
    // The same through a section name.
    f.ini.WriteString(Bytes(value.trimmed().isEmpty() ? "x" : value.trimmed()), "K", "v");
    QCOMPARE(Q(f.ini.ReadString(Bytes(value.trimmed().isEmpty() ? "x" : value.trimmed()), "K", "")),
             QByteArray("v"));
}

void TestIniFile::oneWayCharactersStayCp932()
{
    Fixture f;
    f.ini.WriteString("CURRENT", "DIR", "/a〜b−c‖");
    QCOMPARE(Q(f.Contents()), QByteArray("[CURRENT]\r\nDIR=/a\x81\x60"
                                         "b\x81\x7C"
                                         "c\x81\x61\r\n"));
    QCOMPARE(Q(f.ini.ReadString("CURRENT", "DIR", "")), QByteArray("/a～b－c∥"));
}

void TestIniFile::utf8FileStaysUtf8()
{
    Fixture f(std::string("\xEF\xBB\xBF[CURRENT]\nHOST=é\n"));
    f.ini.WriteString("CURRENT", "HOST", "plain");
    f.ini.WriteString("表", "DIR", "ソ");
    QCOMPARE(Q(f.Contents()), QByteArray("\xEF\xBB\xBF[CURRENT]\nHOST=plain\n[表]\nDIR=ソ\n"));
}

void TestIniFile::writeLayout_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QByteArray>("after");
    const Operation writeAB = [](TIniFile& ini) { ini.WriteString("A", "B", "v"); };
    QTest::newRow("new file") << QByteArray() << writeAB << QByteArray("[A]\r\nB=v\r\n");
    QTest::newRow("LF file gets LF")
        << QByteArray("[X]\nY=1\n") << writeAB << QByteArray("[X]\nY=1\n[A]\nB=v\n");
    QTest::newRow("LF file without final break")
        << QByteArray("[X]\nY=1") << writeAB << QByteArray("[X]\nY=1\n[A]\nB=v");
    QTest::newRow("section without keys")
        << QByteArray("[A]\r\n\r\n[X]\r\n") << writeAB << QByteArray("[A]\r\nB=v\r\n\r\n[X]\r\n");
    QTest::newRow("header is the last line")
        << QByteArray("[X]\r\n[A]") << writeAB << QByteArray("[X]\r\n[A]\r\nB=v");
    QTest::newRow("after the last key, before junk and blank lines")
        << QByteArray("[A]\r\nK=1\r\n; note\r\njunk\r\n\r\n[X]\r\n") << writeAB
        << QByteArray("[A]\r\nK=1\r\nB=v\r\n; note\r\njunk\r\n\r\n[X]\r\n");
    QTest::newRow("into the first of two sections of that name")
        << QByteArray("[A]\r\nK=1\r\n[X]\r\n[a]\r\nL=2\r\n") << writeAB
        << QByteArray("[A]\r\nK=1\r\nB=v\r\n[X]\r\n[a]\r\nL=2\r\n");
    QTest::newRow("replace in the second section of that name")
        << QByteArray("[A]\r\nK=1\r\n[a]\r\nb=old\r\n") << writeAB
        << QByteArray("[A]\r\nK=1\r\n[a]\r\nb=v\r\n");
    QTest::newRow("replace a quoted value, keep trailing blanks")
        << QByteArray("[A]\r\nB = \"old\"  \r\n") << writeAB << QByteArray("[A]\r\nB = v  \r\n");
    QTest::newRow("replace an empty value")
        << QByteArray("[A]\r\nB=\r\nC=1") << writeAB << QByteArray("[A]\r\nB=v\r\nC=1");
    QTest::newRow("quoted when needed")
        << QByteArray("[A]\r\nB=x\r\n")
        << Operation([](TIniFile& ini) { ini.WriteString("A", "B", " v "); })
        << QByteArray("[A]\r\nB=\" v \"\r\n");
    QTest::newRow("integer and bool") << QByteArray() << Operation([](TIniFile& ini) {
        ini.WriteInteger("A", "I", -1);
        ini.WriteBool("A", "T", true);
        ini.WriteBool("A", "F", false);
    }) << QByteArray("[A]\r\nI=-1\r\nT=1\r\nF=0\r\n");
    QTest::newRow("blanks around the names given")
        << QByteArray("[A]\r\nB=1\r\n")
        << Operation([](TIniFile& ini) { ini.WriteString(" A ", " B ", "2"); })
        << QByteArray("[A]\r\nB=2\r\n");
    QTest::newRow("file of blank lines only")
        << QByteArray("\r\n\r\n") << writeAB << QByteArray("\r\n\r\n[A]\r\nB=v\r\n");
}

void TestIniFile::writeLayout()
{
    QFETCH(QByteArray, before);
    QFETCH(Operation, operation);
    QFETCH(QByteArray, after);
    Fixture f(before.isEmpty() ? std::nullopt : std::optional(Bytes(before)));
    operation(f.ini);
    QCOMPARE(Q(f.Contents()), after);
}

void TestIniFile::readSections()
{
    Fixture f(std::string("K=0\r\n[CURRENT]\r\n[Zeta]\r\n[]\r\n[ alpha ]\r\n[current]\r\n"
                          "[\x80]\r\n[\x95\x5C]\r\n[ZETA]\r\n"));
    QCOMPARE(ToList(f.ini.ReadSections()), (QStringList{"CURRENT", "Zeta", "alpha", "表"}));
    Fixture missing;
    QVERIFY(missing.ini.ReadSections().empty());
}

void TestIniFile::eraseSection()
{
    Fixture f(std::string("; top\r\n[CURRENT]\r\nHOST=h\r\n[Old]\r\nHOST=o\r\n; about old\r\n\r\n"
                          "[Keep]\r\nHOST=k\r\n[OLD]\r\nPWD=p"));
    f.ini.EraseSection("old");
    QCOMPARE(Q(f.Contents()), QByteArray("; top\r\n[CURRENT]\r\nHOST=h\r\n[Keep]\r\nHOST=k\r\n"));
    QCOMPARE(Q(f.ini.ReadString("Old", "HOST", "gone")), QByteArray("gone"));
    QCOMPARE(Q(f.ini.ReadString("OLD", "PWD", "gone")), QByteArray("gone"));
    QCOMPARE(ToList(f.ini.ReadSections()), (QStringList{"CURRENT", "Keep"}));

    const std::string before = f.Contents();
    f.ini.EraseSection("None");
    QCOMPARE(Q(f.Contents()), Q(before));

    Fixture missing;
    missing.ini.EraseSection("CURRENT");
    QVERIFY(EntriesIn(missing.dir.path()).isEmpty()); // no file made for nothing
}

void TestIniFile::nothingIsCached()
{
    Fixture f(std::string("[CURRENT]\r\nHOST=one\r\n"));
    TIniFile other(f.path);
    QCOMPARE(Q(other.ReadString("CURRENT", "HOST", "")), QByteArray("one"));
    f.ini.WriteString("CURRENT", "HOST", "two");
    QCOMPARE(Q(other.ReadString("CURRENT", "HOST", "")), QByteArray("two"));
    WriteBytes(f.path, "[CURRENT]\r\nHOST=three\r\n");
    QCOMPARE(Q(other.ReadString("CURRENT", "HOST", "")), QByteArray("three"));
    other.WriteString("CURRENT", "UID", "u");
    QCOMPARE(Q(f.Contents()), QByteArray("[CURRENT]\r\nHOST=three\r\nUID=u\r\n"));
    QCOMPARE(Q(f.ini.FileName()), Q(f.path));
}

void TestIniFile::modes()
{
    const mode_t oldMask = ::umask(022);
    Fixture fresh;
    fresh.ini.WriteString("CURRENT", "PWD", "secret");
    ::umask(oldMask);
    QCOMPARE(ModeOf(fresh.path), mode_t(0600));

    Fixture kept(std::string("[CURRENT]\r\n"));
    ::chmod(kept.path.c_str(), 0640);
    kept.ini.WriteString("CURRENT", "PWD", "secret");
    QCOMPARE(ModeOf(kept.path), mode_t(0640));

    // Through a symbolic link the target is replaced and the link stays.
    Fixture target(std::string("[CURRENT]\r\n"));
    const std::string link = target.dir.filePath("link.ini").toStdString();
    QCOMPARE(::symlink(target.path.c_str(), link.c_str()), 0);
    TIniFile(link).WriteString("CURRENT", "HOST", "h");
    struct stat st
    {
    };
    QCOMPARE(::lstat(link.c_str(), &st), 0);
    QVERIFY(S_ISLNK(st.st_mode));
    QCOMPARE(Q(target.Contents()), QByteArray("[CURRENT]\r\nHOST=h\r\n"));
}

void TestIniFile::failedWriteRaisesAndKeepsTheFile_data()
{
    QTest::addColumn<QString>("what");
    QTest::newRow("read-only directory") << "readonly dir";
    QTest::newRow("read-only file") << "readonly file";
    QTest::newRow("unreadable file") << "unreadable file";
    QTest::newRow("path is a directory") << "directory";
    QTest::newRow("no such directory") << "no dir";
}

void TestIniFile::failedWriteRaisesAndKeepsTheFile()
{
    QFETCH(QString, what);
    const std::string old = Golden("settings.ini");
    Fixture f(what == "directory" || what == "no dir" ? std::nullopt : std::optional(old));
    std::string path = f.path;
    if (what == "directory")
        QVERIFY(QDir(f.dir.path()).mkdir("Lodrin.ini"));
    if (what == "no dir")
        path = f.dir.filePath("gone/Lodrin.ini").toStdString();
    if (what == "readonly dir")
        ::chmod(f.dir.path().toLocal8Bit().constData(), 0555);
    if (what == "readonly file")
        ::chmod(path.c_str(), 0444);
    if (what == "unreadable file")
        ::chmod(path.c_str(), 0200);
    TIniFile ini(path);
    const std::string message = path + " に書き込めません";
    {
        EnforcedPermissions permissions;
        if (!permissions.Active())
            QSKIP("cannot make file permissions apply");
        std::vector<Operation> operations{
            [](TIniFile& i) { i.WriteString("CURRENT", "FORMTOP", "1"); },
            [](TIniFile& i) { i.WriteInteger("新規", "FORMTOP", 1); },
        };
        if (what != "no dir") // with no file there is nothing to erase, and no error
            operations.push_back([](TIniFile& i) { i.EraseSection("Unknown"); });
        for (const Operation& operation : operations) {
            try {
                operation(ini);
                QFAIL("no EIniFileException");
            } catch (const EIniFileException& e) {
                QCOMPARE(QByteArray(e.what()), Q(message));
            }
        }
        if (what == "readonly dir" || what == "readonly file")
            QCOMPARE(ini.ReadInteger("CURRENT", "FORMTOP", 1), 120);
        if (what == "directory" || what == "unreadable file")
            QCOMPARE(ini.ReadInteger("CURRENT", "FORMTOP", 1), 1);
    }
    ::chmod(f.dir.path().toLocal8Bit().constData(), 0700);
    if (what.startsWith("readonly") || what == "unreadable file") {
        ::chmod(path.c_str(), 0600);
        QCOMPARE(Q(f.Contents()), Q(old));
        QCOMPARE(EntriesIn(f.dir.path()), QStringList{"Lodrin.ini"});
    }
}

void TestIniFile::unstorableWritesRaise_data()
{
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("value");
    QTest::newRow("LF in a value")
        << QByteArray("S") << QByteArray("K") << QByteArray("a\n[CURRENT]");
    QTest::newRow("CR in a value") << QByteArray("S") << QByteArray("K") << QByteArray("a\rb");
    QTest::newRow("NUL in a value") << QByteArray("S") << QByteArray("K") << QByteArray("a\0b", 3);
    QTest::newRow("empty key") << QByteArray("S") << QByteArray(" ") << QByteArray("v");
    QTest::newRow("= in a key") << QByteArray("S") << QByteArray("K=L") << QByteArray("v");
    QTest::newRow("key like a header") << QByteArray("S") << QByteArray("[K]") << QByteArray("v");
    QTest::newRow("key like a comment") << QByteArray("S") << QByteArray(";K") << QByteArray("v");
    QTest::newRow("empty section") << QByteArray("") << QByteArray("K") << QByteArray("v");
    QTest::newRow("LF in a section") << QByteArray("S\nK=v") << QByteArray("K") << QByteArray("v");
}

void TestIniFile::unstorableWritesRaise()
{
    QFETCH(QByteArray, section);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, value);
    Fixture f(std::string("[S]\r\nK=old\r\n"));
    QVERIFY_THROWS_EXCEPTION(EIniFileException,
                             f.ini.WriteString(Bytes(section), Bytes(key), Bytes(value)));
    QCOMPARE(Q(f.Contents()), QByteArray("[S]\r\nK=old\r\n"));
}

void TestIniFile::badInputGivesDefaults_data()
{
    QTest::addColumn<QByteArray>("file");
    std::mt19937 random(20240601);
    QByteArray noise(256 * 1024, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    QTest::newRow("random bytes") << noise;

    QByteArray big("[BIG]\r\n");
    for (int i = 0; big.size() < 10 * 1024 * 1024; ++i)
        big += "KEY" + QByteArray::number(i) + "=value " + QByteArray::number(i) + "\r\n";
    QTest::newRow("10 MB") << big;

    QTest::newRow("1 MB value") << "[CURRENT]\r\nHOST=" + QByteArray(1024 * 1024, 'h') +
                                       "\r\nFORMTOP=5\r\n";
    QTest::newRow("1 MB junk line") << QByteArray(1024 * 1024, 'j') + "\r\n[CURRENT]\r\nFORMTOP=5";
    QTest::newRow("1 MB of lead bytes")
        << "[" + QByteArray(1024 * 1024, '\x81') + "]\r\n[CURRENT]\r\nFORMTOP=5";
    QTest::newRow("1 MB header") << "[" + QByteArray(1024 * 1024, 'H') +
                                        "\r\n[CURRENT]\r\nFORMTOP=5";
    static const char withNul[] = "\0[CURRENT]\0\r\nHOST=a\0b\r\n\0\0FORMTOP=5\0\r\n\0";
    QTest::newRow("NUL bytes") << QByteArray(withNul, sizeof withNul - 1);
    QTest::newRow("lone CRs") << QByteArray("[CURRENT]\rHOST=a\rFORMTOP=5\r");
    QTest::newRow("BOM and garbage") << QByteArray("\xEF\xBB\xBF\xFF\xFE[\x80\r\n=\r\n[]\r\n");
}

void TestIniFile::badInputGivesDefaults()
{
    QFETCH(QByteArray, file);
    Fixture f(Bytes(file));
    // Whatever can be read is; the rest gives the defaults.
    const std::string host = f.ini.ReadString("CURRENT", "HOST", "def");
    QVERIFY(host == "def" || host == std::string(1024 * 1024, 'h'));
    const int top = f.ini.ReadInteger("CURRENT", "FORMTOP", 1);
    QVERIFY(top == 1 || top == 5);
    QVERIFY(!f.ini.ReadBool("CURRENT", "SEARCH_PROFILE", false));
    f.ini.ReadSections();
    if (QTest::currentDataTag() == QByteArrayLiteral("10 MB"))
        QCOMPARE(Q(f.ini.ReadString("BIG", "key12345", "")), QByteArray("value 12345"));

    // A write keeps every byte that was there and reads back.
    f.ini.WriteString("LODRIN_TEST", "HOST", "new");
    QVERIFY(Q(f.Contents()).startsWith(file));
    QCOMPARE(Q(f.ini.ReadString("LODRIN_TEST", "HOST", "")), QByteArray("new"));
    f.ini.EraseSection("LODRIN_TEST");
    QVERIFY(Q(f.Contents()).startsWith(file));
}

void TestIniFile::oversizedFileIsLeftAlone()
{
    Fixture f(std::string("[CURRENT]\r\nFORMTOP=5\r\n"));
    QCOMPARE(::truncate(f.path.c_str(), kMaxFileBytes + 1), 0); // sparse: costs no disk
    QCOMPARE(f.ini.ReadInteger("CURRENT", "FORMTOP", 1), 1);
    QVERIFY(f.ini.ReadSections().empty());
    QVERIFY_THROWS_EXCEPTION(EIniFileException, f.ini.WriteString("CURRENT", "FORMTOP", "2"));
    struct stat st
    {
    };
    ::stat(f.path.c_str(), &st);
    QCOMPARE(static_cast<std::size_t>(st.st_size), kMaxFileBytes + 1);
}

QTEST_APPLESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
