// Line lists, numbers, the error box text, pictures.
#include "runtime/Application.h"
#include "runtime/Exceptions.h"
#include "runtime/Picture.h"
#include "runtime/StringList.h"
#include "runtime/SysUtils.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>

#include <jpeglib.h>
#include <jerror.h>

TEST(StringList, LoadsEveryLineEndAndSavesCrLf)
{
    TStringList list;
    list.SetText("a\r\nb\nc\rd\r\n\r\ne");
    EXPECT_EQ(std::vector<std::string>(list.begin(), list.end()),
              (std::vector<std::string>{"a", "b", "c", "d", "", "e"}));
    list.SetText("one\r\n"); // a final line end adds no empty line
    EXPECT_EQ(list.Count(), 1);
    list.SetText("");
    EXPECT_EQ(list.Count(), 0);
    list.SetText(std::string("x\0y", 3));
    EXPECT_EQ(list[0].size(), 3u);

    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("l.txt")).toStdString();
    TStringList out;
    out.Add("first");
    out.Add("");
    out.Add("日本語");
    out.SaveToFile(path);
    EXPECT_EQ(ReadWholeFile(path), "first\r\n\r\n日本語\r\n");
    TStringList in;
    in.LoadFromFile(path);
    EXPECT_EQ(in.Lines(), out.Lines());

    try {
        (void)in[3];
        FAIL();
    } catch (const EStringListError& e) {
        EXPECT_STREQ(e.what(), "リストのインデックスが範囲を超えています (3)");
    }
    EXPECT_THROW(in.Delete(-1), EStringListError);
    EXPECT_THROW(in.LoadFromFile(path + ".missing"), EFOpenError);
    try {
        in.SaveToFile(dir.path().toStdString() + "/no/such/folder");
        FAIL();
    } catch (const EFCreateError& e) {
        EXPECT_NE(std::string(e.what()).find("を作成できません"), std::string::npos);
    }

    TStringList sorted;
    for (const char* s : {"beta", "Alpha", "gamma", "ALPHA2"})
        sorted.Add(s);
    sorted.Sort();
    EXPECT_EQ(sorted.Lines(), (std::vector<std::string>{"Alpha", "ALPHA2", "beta", "gamma"}));
    EXPECT_EQ(sorted.IndexOf("BETA"), 2);
}

TEST(SysUtils, IntegersAndThousands)
{
    EXPECT_EQ(StrToInt("1722267"), 1722267);
    EXPECT_EQ(StrToInt("-16777216"), -16777216);
    EXPECT_EQ(StrToInt("  12"), 12);
    EXPECT_EQ(StrToInt("$FF"), 255);
    EXPECT_EQ(StrToInt64("3221225472"), 3221225472LL);
    for (const char* bad : {"", "12 ", "1e3", "red", "2147483648", "-", "0x"}) {
        try {
            StrToInt(bad);
            ADD_FAILURE() << bad;
        } catch (const EConvertError& e) {
            EXPECT_EQ(std::string(e.what()), std::string("'") + bad + "' は整数ではありません");
        }
    }
    EXPECT_EQ(StrToIntDef("x", 5), 5);
    EXPECT_EQ(FormatThousands(0), "0");
    EXPECT_EQ(FormatThousands(999), "999");
    EXPECT_EQ(FormatThousands(1048576), "1,048,576");
    EXPECT_EQ(FormatThousands(-1234), "-1,234");
    EXPECT_EQ(FormatThousands(2147483649LL), "2,147,483,649");
    EXPECT_EQ(ExtractFileName("/a/b/c.lzh"), "c.lzh");
    EXPECT_EQ(ExtractFilePath("/a/b/c.lzh"), "/a/b/");
    EXPECT_EQ(ExtractFileExt("/a.b/c"), "");
    EXPECT_EQ(ExtractFileExt("x.tar.gz"), ".gz");
    EXPECT_EQ(ExpandFileName("/a/./b/../c/"), "/a/c/");
}

TEST(Application, ErrorBoxTextGetsAFullStopUnlessPunctuated)
{
    EXPECT_EQ(TApplication::ErrorBoxText("'x' は整数ではありません"), QStringLiteral("'x' は整数ではありません."));
    EXPECT_EQ(TApplication::ErrorBoxText("Connection Failed"), QStringLiteral("Connection Failed."));
    EXPECT_EQ(TApplication::ErrorBoxText("done."), QStringLiteral("done."));
    EXPECT_EQ(TApplication::ErrorBoxText("書庫の形式を判別できません。"), QStringLiteral("書庫の形式を判別できません。"));
    EXPECT_EQ(TApplication::ErrorBoxText("index (3)"), QStringLiteral("index (3)"));
    EXPECT_EQ(TApplication::ErrorBoxText(""), QString());
}

TEST(Picture, JpegThroughLibjpegAndClearErrors)
{
    const QImage skin = LoadPictureFile(SKIN_JPEG);
    EXPECT_EQ(skin.size(), QSize(350, 250));
    EXPECT_EQ(skin.format(), QImage::Format_RGB32);

    QTemporaryDir dir;
    const std::string bad = dir.filePath(QStringLiteral("bad.jpg")).toStdString();
    std::string truncated = ReadWholeFile(SKIN_JPEG).substr(0, 40);
    WriteWholeFile(bad, truncated);
    try {
        LoadPictureFile(bad);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()).rfind("JPEG エラー #", 0), 0u) << e.what();
    }
    // A header that declares 60,000 x 60,000 pixels (14 GB decoded) is
    // refused before anything is allocated, as Qt's readers refuse theirs.
    std::string huge = ReadWholeFile(SKIN_JPEG);
    const std::size_t sof = huge.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    huge[sof + 5] = huge[sof + 7] = static_cast<char>(60000 >> 8);
    huge[sof + 6] = huge[sof + 8] = static_cast<char>(60000 & 0xFF);
    WriteWholeFile(bad, huge);
    try {
        LoadPictureFile(bad);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()), "JPEG エラー #" + std::to_string(JERR_IMAGE_TOO_BIG));
    }
    WriteWholeFile(bad, "not a picture");
    EXPECT_THROW(LoadPictureFile(bad), Exception);
    EXPECT_THROW(LoadIconFile(bad), Exception);
    EXPECT_THROW(LoadPictureFile(bad + ".missing"), EFOpenError);

    QImage small(3, 2, QImage::Format_RGB32);
    small.fill(qRgb(10, 20, 30));
    const std::string bmp = dir.filePath(QStringLiteral("s.bmp")).toStdString();
    ASSERT_TRUE(small.save(QString::fromStdString(bmp), "BMP"));
    EXPECT_EQ(LoadPictureFile(bmp).pixel(2, 1), qRgb(10, 20, 30));
}
