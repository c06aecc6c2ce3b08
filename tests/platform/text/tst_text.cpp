#include "Cp932.h"
#include "EnforcedPermissions.h"
#include "Exception.h"
#include "IntConv.h"
#include "TextFile.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fstream>
#include <sys/stat.h>

namespace {

std::string Bytes(const QByteArray& a)
{
    return a.toStdString();
}

// std::string and optional results as QByteArray, so that a failed comparison shows them.
QByteArray Q(const std::string& s)
{
    return QByteArray::fromStdString(s);
}

QByteArray Q(const std::optional<std::string>& s)
{
    return s ? QByteArray::fromStdString(*s) : QByteArray("<nullopt>");
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

mode_t ModeOf(const std::string& path)
{
    struct stat st
    {
    };
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

int EntriesIn(const QString& dir)
{
    return static_cast<int>(
        QDir(dir)
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
            .size());
}

} // namespace

class TestText : public QObject
{
    Q_OBJECT

private slots:
    void cp932BothWays_data();
    void cp932BothWays();
    void cp932OneWay_data();
    void cp932OneWay();
    void utf8NotHeldByCp932_data();
    void utf8NotHeldByCp932();
    void invalidCp932_data();
    void invalidCp932();

    void tryStrToInt_data();
    void tryStrToInt();
    void strToIntRaisesWithTheText_data();
    void strToIntRaisesWithTheText();

    void loadTextFile_data();
    void loadTextFile();
    void saveTextFile_data();
    void saveTextFile();
    void loadFailsWithThePath_data();
    void loadFailsWithThePath();
    void saveFailsAndKeepsTheOldFile_data();
    void saveFailsAndKeepsTheOldFile();
    void saveModes();
    void replaceFollowsSymlink();
    void readFileBytesNeverBlocksOrOverreads();
};

void TestText::cp932BothWays_data()
{
    QTest::addColumn<QByteArray>("utf8");
    QTest::addColumn<QByteArray>("cp932");
    QTest::newRow("ascii") << QByteArray("Lodrin.ini") << QByteArray("Lodrin.ini");
    QTest::newRow("backslash stays 0x5C") << QByteArray("C:\\Web") << QByteArray("C:\\Web");
    QTest::newRow("tilde stays 0x7E") << QByteArray("~user") << QByteArray("~user");
    QTest::newRow("trail byte 0x5C") << QByteArray("表ソ") << QByteArray("\x95\x5C\x83\x5C");
    QTest::newRow("trail bytes that are letters")
        << QByteArray("アヂ") << QByteArray("\x83\x41\x83\x61");
    QTest::newRow("trail bytes [ ]") << QByteArray("ー‐") << QByteArray("\x81\x5B\x81\x5D");
    QTest::newRow("half-width katakana") << QByteArray("ｱｲｳ") << QByteArray("\xB1\xB2\xB3");
    QTest::newRow("NEC special") << QByteArray("①") << QByteArray("\x87\x40");
    QTest::newRow("IBM extension") << QByteArray("纊") << QByteArray("\xFA\x5C");
    QTest::newRow("fullwidth tilde") << QByteArray("～") << QByteArray("\x81\x60");
    QTest::newRow("NUL") << QByteArray("a\0b", 3) << QByteArray("a\0b", 3);
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void TestText::cp932BothWays()
{
    QFETCH(QByteArray, utf8);
    QFETCH(QByteArray, cp932);
    QCOMPARE(Q(Utf8ToCp932(Bytes(utf8))), cp932);
    QCOMPARE(Q(Cp932ToUtf8(Bytes(cp932))), utf8);
    QCOMPARE(Q(Cp932ToUtf8Lossy(Bytes(cp932))), utf8);
}

void TestText::cp932OneWay_data()
{
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QByteArray>("cp932");
    QTest::addColumn<QByteArray>("readBack");
    QTest::newRow("wave dash") << QByteArray("〜") << QByteArray("\x81\x60") << QByteArray("～");
    QTest::newRow("minus sign") << QByteArray("−") << QByteArray("\x81\x7C") << QByteArray("－");
    QTest::newRow("double vertical line")
        << QByteArray("‖") << QByteArray("\x81\x61") << QByteArray("∥");
    QTest::newRow("em dash") << QByteArray("—") << QByteArray("\x81\x5C") << QByteArray("―");
    QTest::newRow("cent, pound, not")
        << QByteArray("¢£¬") << QByteArray("\x81\x91\x81\x92\x81\xCA") << QByteArray("￠￡￢");
    QTest::newRow("among other text") << QByteArray("a〜b−c")
                                      << QByteArray("a\x81\x60"
                                                    "b\x81\x7C"
                                                    "c")
                                      << QByteArray("a～b－c");
}

void TestText::cp932OneWay()
{
    QFETCH(QByteArray, written);
    QFETCH(QByteArray, cp932);
    QFETCH(QByteArray, readBack);
    QCOMPARE(Q(Utf8ToCp932(Bytes(written))), cp932);
    QCOMPARE(Q(Cp932ToUtf8(Bytes(cp932))), readBack);
}

void TestText::utf8NotHeldByCp932_data()
{
    QTest::addColumn<QByteArray>("utf8");
    QTest::newRow("e acute") << QByteArray("café");
    QTest::newRow("outside the BMP") << QByteArray("𠮷野家");
    QTest::newRow("yen sign is not 0x5C") << QByteArray("C:¥Web");
    QTest::newRow("overline is not 0x7E") << QByteArray("‾");
    QTest::newRow("tag character is not dropped") << QByteArray("a\xF3\xA0\x81\x81");
    QTest::newRow("cut-off sequence") << QByteArray("ab\xE8\xA1");
    QTest::newRow("not UTF-8") << QByteArray("a\xFF");
}

void TestText::utf8NotHeldByCp932()
{
    QFETCH(QByteArray, utf8);
    QCOMPARE(Q(Utf8ToCp932(Bytes(utf8))), QByteArray("<nullopt>"));
}

void TestText::invalidCp932_data()
{
    QTest::addColumn<QByteArray>("cp932");
    QTest::addColumn<QByteArray>("lossy");
    QTest::newRow("0x80") << QByteArray("a\x80"
                                        "b")
                          << QByteArray("a\xEF\xBF\xBD"
                                        "b");
    QTest::newRow("0xA0 and 0xFD")
        << QByteArray("\xA0\xFD") << QByteArray("\xEF\xBF\xBD\xEF\xBF\xBD");
    QTest::newRow("lead byte before a blank")
        << QByteArray("\x81 x") << QByteArray("\xEF\xBF\xBD x");
    QTest::newRow("lead byte at the end") << QByteArray("ok\x95") << QByteArray("ok\xEF\xBF\xBD");
}

void TestText::invalidCp932()
{
    QFETCH(QByteArray, cp932);
    QFETCH(QByteArray, lossy);
    QCOMPARE(Q(Cp932ToUtf8(Bytes(cp932))), QByteArray("<nullopt>"));
    QCOMPARE(Q(Cp932ToUtf8Lossy(Bytes(cp932))), lossy);
}

void TestText::tryStrToInt_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("isInteger");
    QTest::addColumn<int>("value");
    QTest::newRow("zero") << QByteArray("0") << true << 0;
    QTest::newRow("decimal") << QByteArray("60") << true << 60;
    QTest::newRow("leading zeros") << QByteArray("000000000000000000000042") << true << 42;
    QTest::newRow("plus") << QByteArray("+12") << true << 12;
    QTest::newRow("minus") << QByteArray("-1") << true << -1;
    QTest::newRow("leading blanks") << QByteArray("  \t12") << true << 12;
    QTest::newRow("$ hex") << QByteArray("$1F") << true << 31;
    QTest::newRow("$ hex lower case") << QByteArray("$ff") << true << 255;
    QTest::newRow("x hex") << QByteArray("x1F") << true << 31;
    QTest::newRow("X hex") << QByteArray("X10") << true << 16;
    QTest::newRow("0x hex") << QByteArray("0x40") << true << 64;
    QTest::newRow("0X hex") << QByteArray("0X40") << true << 64;
    QTest::newRow("negative hex") << QByteArray(" -$10") << true << -16;
    QTest::newRow("largest") << QByteArray("2147483647") << true << 2147483647;
    QTest::newRow("smallest") << QByteArray("-2147483648") << true << (-2147483647 - 1);
    QTest::newRow("largest hex") << QByteArray("$7FFFFFFF") << true << 2147483647;
    QTest::newRow("smallest hex") << QByteArray("-0x80000000") << true << (-2147483647 - 1);
    QTest::newRow("overflow") << QByteArray("2147483648") << false << 0;
    QTest::newRow("underflow") << QByteArray("-2147483649") << false << 0;
    QTest::newRow("hex overflow") << QByteArray("$80000000") << false << 0;
    QTest::newRow("long overflow") << QByteArray("99999999999999999999") << false << 0;
    QTest::newRow("empty") << QByteArray("") << false << 0;
    QTest::newRow("blanks only") << QByteArray("   ") << false << 0;
    QTest::newRow("sign only") << QByteArray("-") << false << 0;
    QTest::newRow("$ only") << QByteArray("$") << false << 0;
    QTest::newRow("x only") << QByteArray("x") << false << 0;
    QTest::newRow("0x only") << QByteArray("0x") << false << 0;
    QTest::newRow("text") << QByteArray("abc") << false << 0;
    QTest::newRow("trailing blank") << QByteArray("12 ") << false << 0;
    QTest::newRow("inner blank") << QByteArray("1 2") << false << 0;
    QTest::newRow("blank after sign") << QByteArray("- 1") << false << 0;
    QTest::newRow("trailing letters") << QByteArray("12abc") << false << 0;
    QTest::newRow("hex digit in decimal") << QByteArray("1F") << false << 0;
    QTest::newRow("two prefixes") << QByteArray("0x0x1") << false << 0;
    QTest::newRow("two signs") << QByteArray("--1") << false << 0;
    QTest::newRow("decimal point") << QByteArray("1.5") << false << 0;
    QTest::newRow("fullwidth digits") << QByteArray("１２") << false << 0;
    QTest::newRow("NUL after digits") << QByteArray("12\0", 3) << false << 0;
}

void TestText::tryStrToInt()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, isInteger);
    QFETCH(int, value);
    const std::optional<std::int32_t> result = TryStrToInt(Bytes(text));
    QCOMPARE(result.has_value(), isInteger);
    if (isInteger)
        QCOMPARE(*result, value);
    QCOMPARE(StrToIntDef(Bytes(text), -7), isInteger ? value : -7);
}

void TestText::strToIntRaisesWithTheText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("letters") << QByteArray("abc");
    QTest::newRow("empty") << QByteArray("");
    QTest::newRow("Japanese") << QByteArray("六十");
}

void TestText::strToIntRaisesWithTheText()
{
    QFETCH(QByteArray, text);
    QCOMPARE(StrToInt("-$1f"), -31);
    try {
        StrToInt(Bytes(text));
        QFAIL("no EConvertError");
    } catch (const EConvertError& e) {
        QCOMPARE(QByteArray(e.what()), "'" + text + "' は整数ではありません");
    }
}

void TestText::loadTextFile_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("CR LF") << QByteArray(".htm\r\n.css\r\n") << QByteArray(".htm\n.css\n");
    QTest::newRow("LF") << QByteArray(".htm\n.css") << QByteArray(".htm\n.css");
    QTest::newRow("CR") << QByteArray(".htm\r.css\r") << QByteArray(".htm\n.css\n");
    QTest::newRow("mixed") << QByteArray("a\r\nb\nc\rd") << QByteArray("a\nb\nc\nd");
    QTest::newRow("CR CR LF") << QByteArray("a\r\r\nb") << QByteArray("a\n\nb");
    QTest::newRow("empty file") << QByteArray() << QByteArray();
    QTest::newRow("CP932") << QByteArray(".\x95\x5C\r\n.\x83\x5C") << QByteArray(".表\n.ソ");
    QTest::newRow("UTF-8 after BOM")
        << QByteArray("\xEF\xBB\xBF.café\r\n") << QByteArray(".café\n");
    QTest::newRow("invalid CP932")
        << QByteArray(".htm\r\n.\x80\r\n") << QByteArray(".htm\n.\xEF\xBF\xBD\n");
}

void TestText::loadTextFile()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, text);
    QTemporaryDir dir;
    const std::string path = dir.filePath("TextExt.txt").toStdString();
    WriteBytes(path, Bytes(bytes));
    QCOMPARE(Q(LoadTextFile(path)), text);
}

void TestText::saveTextFile_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("final break") << QByteArray("a\nb\n") << QByteArray("a\r\nb\r\n");
    QTest::newRow("no final break") << QByteArray("a\nb") << QByteArray("a\r\nb");
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("CR LF and CR given") << QByteArray("a\r\nb\rc") << QByteArray("a\r\nb\r\nc");
    QTest::newRow("CP932") << QByteArray(".表\n.ｱ") << QByteArray(".\x95\x5C\r\n.\xB1");
    QTest::newRow("UTF-8 when CP932 cannot hold it")
        << QByteArray(".htm\n.é") << QByteArray("\xEF\xBB\xBF.htm\r\n.é");
}

void TestText::saveTextFile()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    const std::string path = dir.filePath("TextExt.txt").toStdString();
    WriteBytes(path, "old contents that are longer than the new ones\r\n");
    SaveTextFile(path, Bytes(text));
    QCOMPARE(Q(ReadBytes(path)), bytes);
    QCOMPARE(EntriesIn(dir.path()), 1); // no temporary left behind
    // What was saved loads back as the same lines.
    QCOMPARE(Q(LoadTextFile(path)), QByteArray(text).replace("\r\n", "\n").replace('\r', '\n'));
}

void TestText::loadFailsWithThePath_data()
{
    QTest::addColumn<QString>("what");
    QTest::newRow("missing") << "missing";
    QTest::newRow("directory") << "directory";
    QTest::newRow("no read permission") << "unreadable";
    QTest::newRow("too large") << "large";
}

void TestText::loadFailsWithThePath()
{
    QFETCH(QString, what);
    QTemporaryDir dir;
    const std::string path = dir.filePath("TextExt.txt").toStdString();
    if (what == "directory")
        QVERIFY(QDir(dir.path()).mkdir("TextExt.txt"));
    if (what == "unreadable") {
        WriteBytes(path, ".htm\r\n");
        ::chmod(path.c_str(), 0200);
    }
    if (what == "large") {
        WriteBytes(path, "");
        QCOMPARE(::truncate(path.c_str(), kMaxFileBytes + 1), 0); // sparse: costs no disk
    }
    EnforcedPermissions permissions;
    if (!permissions.Active())
        QSKIP("cannot make file permissions apply");
    try {
        LoadTextFile(path);
        QFAIL("no EFOpenError");
    } catch (const EFOpenError& e) {
        QCOMPARE(QByteArray(e.what()), Q("ファイル " + path + " は開けません"));
    }
}

void TestText::saveFailsAndKeepsTheOldFile_data()
{
    QTest::addColumn<QString>("what");
    QTest::newRow("read-only directory") << "readonly dir";
    QTest::newRow("read-only file") << "readonly file";
    QTest::newRow("path is a directory") << "directory";
    QTest::newRow("no such directory") << "no dir";
}

void TestText::saveFailsAndKeepsTheOldFile()
{
    QFETCH(QString, what);
    QTemporaryDir dir;
    std::string path = dir.filePath("TextExt.txt").toStdString();
    const std::string old = ".htm\r\n.\x95\x5C";
    if (what == "directory")
        QVERIFY(QDir(dir.path()).mkdir("TextExt.txt"));
    else if (what == "no dir")
        path = dir.filePath("missing/TextExt.txt").toStdString();
    else
        WriteBytes(path, old);
    if (what == "readonly dir")
        ::chmod(dir.path().toLocal8Bit().constData(), 0555);
    if (what == "readonly file")
        ::chmod(path.c_str(), 0444);

    {
        EnforcedPermissions permissions;
        if (!permissions.Active())
            QSKIP("cannot make file permissions apply");
        try {
            SaveTextFile(path, ".css\n");
            QFAIL("no EFCreateError");
        } catch (const EFCreateError& e) {
            QCOMPARE(QByteArray(e.what()), Q("ファイル " + path + " を作成できません"));
        }
    }
    ::chmod(dir.path().toLocal8Bit().constData(), 0700);
    if (what.startsWith("readonly")) {
        QCOMPARE(Q(ReadBytes(path)), Q(old));
        QCOMPARE(EntriesIn(dir.path()), 1);
    }
}

void TestText::saveModes()
{
    QTemporaryDir dir;
    const std::string fresh = dir.filePath("fresh.txt").toStdString();
    const mode_t oldMask = ::umask(022);
    SaveTextFile(fresh, "a");
    ::umask(oldMask);
    QCOMPARE(ModeOf(fresh), mode_t(0644));

    const std::string kept = dir.filePath("kept.txt").toStdString();
    WriteBytes(kept, "old");
    ::chmod(kept.c_str(), 0640);
    SaveTextFile(kept, "new");
    QCOMPARE(ModeOf(kept), mode_t(0640));
    QCOMPARE(Q(ReadBytes(kept)), QByteArray("new"));

    QVERIFY(ReplaceFileBytes(dir.filePath("secret").toStdString(), "x", 0600));
    QCOMPARE(ModeOf(dir.filePath("secret").toStdString()), mode_t(0600));
}

void TestText::replaceFollowsSymlink()
{
    QTemporaryDir dir;
    const std::string target = dir.filePath("real.txt").toStdString();
    const std::string link = dir.filePath("link.txt").toStdString();
    WriteBytes(target, "old");
    QCOMPARE(::symlink(target.c_str(), link.c_str()), 0);
    SaveTextFile(link, "new");
    struct stat st
    {
    };
    QCOMPARE(::lstat(link.c_str(), &st), 0);
    QVERIFY(S_ISLNK(st.st_mode));
    QCOMPARE(Q(ReadBytes(target)), QByteArray("new"));
}

void TestText::readFileBytesNeverBlocksOrOverreads()
{
    QTemporaryDir dir;
    const std::string fifo = dir.filePath("fifo").toStdString();
    QCOMPARE(::mkfifo(fifo.c_str(), 0600), 0);
    QCOMPARE(ReadFileBytes(fifo).status, FileBytes::Unreadable);
    QCOMPARE(ReadFileBytes(dir.path().toStdString()).status, FileBytes::Unreadable);
    QCOMPARE(ReadFileBytes(dir.filePath("none").toStdString()).status, FileBytes::Absent);
    QCOMPARE(ReadFileBytes(fifo + "/below").status, FileBytes::Absent);
    QVERIFY(!ReplaceFileBytes(fifo, "x", 0600)); // not a regular file: left alone

    const std::string file = dir.filePath("file").toStdString();
    WriteBytes(file, std::string("a\0b", 3));
    const FileBytes read = ReadFileBytes(file);
    QCOMPARE(read.status, FileBytes::Read);
    QCOMPARE(Q(read.bytes), QByteArray("a\0b", 3));
}

QTEST_APPLESS_MAIN(TestText)
#include "tst_text.moc"
