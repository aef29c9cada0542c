// Addresses: redirect targets resolved as RFC 3986 resolves them, what goes
// on the wire, and the name a download is saved under.
#include "net/Url.h"

#include <gtest/gtest.h>

TEST(Url, ReferencesResolveAsRfc3986SaysIncludingItsAbnormalExamples)
{
    // RFC 3986 section 5.4, base "http://a/b/c/d;p?q" (fragments are dropped here).
    const std::string base = "http://a/b/c/d;p?q";
    const std::pair<const char*, const char*> examples[] = {
        {"g:h", "g:h"},
        {"g", "http://a/b/c/g"},
        {"./g", "http://a/b/c/g"},
        {"g/", "http://a/b/c/g/"},
        {"/g", "http://a/g"},
        {"//g", "http://g"},
        {"?y", "http://a/b/c/d;p?y"},
        {"g?y", "http://a/b/c/g?y"},
        {"#s", "http://a/b/c/d;p?q"},
        {"g#s", "http://a/b/c/g"},
        {"g?y#s", "http://a/b/c/g?y"},
        {";x", "http://a/b/c/;x"},
        {"", "http://a/b/c/d;p?q"},
        {".", "http://a/b/c/"},
        {"./", "http://a/b/c/"},
        {"..", "http://a/b/"},
        {"../", "http://a/b/"},
        {"../g", "http://a/b/g"},
        {"../..", "http://a/"},
        {"../../g", "http://a/g"},
        {"../../../g", "http://a/g"},
        {"../../../../g", "http://a/g"},
        {"/./g", "http://a/g"},
        {"/../g", "http://a/g"},
        {"g.", "http://a/b/c/g."},
        {".g", "http://a/b/c/.g"},
        {"g..", "http://a/b/c/g.."},
        {"..g", "http://a/b/c/..g"},
        {"./../g", "http://a/b/g"},
        {"./g/.", "http://a/b/c/g/"},
        {"g/./h", "http://a/b/c/g/h"},
        {"g/../h", "http://a/b/c/h"},
        {"g;x=1/./y", "http://a/b/c/g;x=1/y"},
        {"g;x=1/../y", "http://a/b/c/y"},
        {"g?y/./x", "http://a/b/c/g?y/./x"},
        {"g#s/../x", "http://a/b/c/g"},
        {"http:g", "http:g"},
    };
    for (const auto& [reference, expected] : examples)
        EXPECT_EQ(ResolveReference(base, reference), expected) << reference;

    // What servers send: a base with a port and no path, an upper-case
    // scheme, a blank in the path, text before a colon that is no scheme.
    EXPECT_EQ(ResolveReference("http://h:8080", "x/y"), "http://h:8080/x/y");
    EXPECT_EQ(ResolveReference("http://h:8080/d/f", "HTTPS://other/z#top"), "https://other/z");
    EXPECT_EQ(ResolveReference("https://h/d/f", "//cdn/f.zip"), "https://cdn/f.zip");
    EXPECT_EQ(ResolveReference("http://h/d/f", "x y/../z"), "http://h/d/z");
    EXPECT_EQ(ResolveReference("http://h/d/f", "a b:c"), "http://h/d/a b:c");
    EXPECT_EQ(ResolveReference("http://h/d/f", "1x:y"), "http://h/d/1x:y");
    EXPECT_EQ(ResolveReference("http://h/d/f", "javascript:alert(1)"), "javascript:alert(1)");
}

TEST(Url, RequestTargetsCarryOnlyWhatARequestLineMay)
{
    EXPECT_EQ(EncodeRequestTarget("/d/my app.zip?token=a b"), "/d/my%20app.zip?token=a%20b");
    EXPECT_EQ(EncodeRequestTarget("/\xE3\x82\xA2.zip"), "/%E3%82%A2.zip");
    EXPECT_EQ(EncodeRequestTarget("/a\tb\x7F\x01\"<>`{}"), "/a%09b%7F%01%22%3C%3E%60%7B%7D");
    // An existing escape stays; a "%" that begins none is encoded itself.
    EXPECT_EQ(EncodeRequestTarget("/my%20app%e3.zip"), "/my%20app%e3.zip");
    EXPECT_EQ(EncodeRequestTarget("/100%.zip?x=%zz&y=%4"), "/100%25.zip?x=%25zz&y=%254");
    // What a request-target may hold stays as it is, and encoding is stable.
    const std::string plain = "/a-b_c.d~e!$&'()*+,;=:@/f?g=h/i?j";
    EXPECT_EQ(EncodeRequestTarget(plain), plain);
    const std::string once = EncodeRequestTarget("/x y/%41%/\xC3\xA9");
    EXPECT_EQ(EncodeRequestTarget(once), once);
    EXPECT_EQ(PercentDecode(once), "/x y/A%/\xC3\xA9");

    EXPECT_EQ(PercentDecode("%e3%82%a2%2F%zz%4"), "\xE3\x82\xA2/%zz%4");
}

TEST(Url, TheFileNameIsTheLastSegmentDecodedAndOnlyAPlainOneIsUsable)
{
    const std::pair<const char*, const char*> names[] = {
        {"http://h/d/my%20app.zip", "my app.zip"},
        {"http://h/d/%E3%82%A2.zip", "\xE3\x82\xA2.zip"},
        {"http://h/d/app.zip?token=abc&x=/y", "app.zip"},
        {"http://h/d/app.zip#part/2", "app.zip"},
        {"http://h:8080/x y/../../f.lzh", "f.lzh"},
        {"h/d/f.zip", "f.zip"},
        {"[::1]:8080/f.zip", "f.zip"},
        {"http://h/", ""},
        {"http://h", ""},
        {"http://h/d/..", ".."},
        {"http://h/d/%2E%2E", ".."},
        {"http://h/d/..%2F..%2Fetc", "../../etc"},
    };
    for (const auto& [address, name] : names)
        EXPECT_EQ(TargetFileName(address), name) << address;
    EXPECT_EQ(TargetFileName("http://h/d/a%00b"), std::string("a\0b", 3));

    for (const char* good : {"my app.zip", "\xE3\x82\xA2.zip", "...", ".hidden", "a\\b"})
        EXPECT_TRUE(IsPlainFileName(good)) << good;
    for (const std::string& bad : {std::string(), std::string("."), std::string(".."), std::string("../../etc"),
                                  std::string("a/b"), std::string("a\0b", 3)})
        EXPECT_FALSE(IsPlainFileName(bad)) << bad;
}
