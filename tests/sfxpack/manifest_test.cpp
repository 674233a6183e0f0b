// Unit tests of the manifest reader on malformed input and of edits the CLI tests do not
// reach (prefixed names, CRLF lines, an element already declared).
#include <gtest/gtest.h>

#include "branding/manifest.h"
#include "fakes.h"

TEST(Manifest, RefusesWhatIsNotWellFormed) {
    const struct {
        const char* xml;
        const char* why;
    } cases[] = {
        {"", "no root element"},
        {"<assembly>", "is not closed"},
        {"<assembly></dependency>", "closes no open element"},
        {"<dependency/>", "not assembly"},
        {"<assembly/><assembly/>", "a second root element"},
        {"<!DOCTYPE assembly><assembly/>", "declaration"},
        {"<assembly a='1' a='2'/>", "given twice"},
        {"<assembly a=1/>", "unquoted"},
        {"<assembly>&nbsp;</assembly>", "unknown reference"},
        {"<assembly>&#0;</assembly>", "unknown reference"},
        {"text<assembly/>", "outside the root"},
        {"<assembly>\xff</assembly>", "not UTF-8"},
    };
    for (const auto& c : cases) {
        ManifestSummary s;
        Problems error;
        EXPECT_FALSE(ReadManifest(c.xml, &s, &error)) << c.xml;
        EXPECT_NE(ErrorText(error).find(c.why), std::string::npos)
            << c.xml << ": " << ErrorText(error);
    }
}

TEST(Manifest, ReadsPrefixedNamesAndReferences) {
    const std::string xml =
        "\xef\xbb\xbf<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<!-- x -->\r\n"
        "<v1:assembly xmlns:v1=\"urn:schemas-microsoft-com:asm.v1\" "
        "xmlns:v3=\"urn:schemas-microsoft-com:asm.v3\">\r\n"
        "<v3:trustInfo><v3:security><v3:requestedPrivileges>"
        "<v3:requestedExecutionLevel level='as&#x49;nvoker'/>"
        "</v3:requestedPrivileges></v3:security></v3:trustInfo>\r\n"
        "<v3:application><v3:windowsSettings><dpiAware> true/pm </dpiAware>"
        "<longPathAware><![CDATA[true]]></longPathAware></v3:windowsSettings>"
        "</v3:application>\r\n"
        "</v1:assembly>\r\n";
    ManifestSummary s;
    Problems error;
    ASSERT_TRUE(ReadManifest(xml, &s, &error)) << ErrorText(error);
    EXPECT_EQ(s.executionLevel, "asInvoker");
    EXPECT_EQ(s.dpiAware, "true/pm");
    EXPECT_EQ(s.longPathAware, "true");
    EXPECT_TRUE(s.hasTrustInfo && s.hasApplication && !s.hasCompatibility);

    ManifestOptions level;
    level.executionLevel = "requireAdministrator";
    std::string edited = xml;
    EXPECT_FALSE(EditManifest(level, &edited, &error));
    EXPECT_EQ(ErrorText(error), "it already declares <trustInfo>\n");
    EXPECT_EQ(edited, xml);

    ManifestOptions os;
    os.supportedOs = true;
    ASSERT_TRUE(EditManifest(os, &edited, &error)) << ErrorText(error);
    ASSERT_TRUE(ReadManifest(edited, &s, &error)) << ErrorText(error);
    EXPECT_EQ(s.supportedOs.size(), 5u);
    EXPECT_EQ(edited.find('\n'), edited.find("\r\n") + 1);
    for (size_t at = edited.find('\n'); at != std::string::npos; at = edited.find('\n', at + 1))
        EXPECT_EQ(edited[at - 1], '\r') << at; // every line ended as the document's
    const std::string end = "</application>\r\n  </compatibility>\r\n</v1:assembly>\r\n";
    EXPECT_EQ(edited.substr(edited.size() - end.size()), end);
}
