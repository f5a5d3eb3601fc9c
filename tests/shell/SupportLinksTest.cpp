#include <gtest/gtest.h>
#include <QUrlQuery>

#include "shell/SupportLinks.h"

using namespace tavrolin;

TEST(FeedbackMail, ExactLinkNamesVersionBuildAndSystemAndNoTextEscapesItsQueryItem) {
    const QUrl url = makeFeedbackMailURL(
        FeedbackFacts{"1.2.3", "45", "Debian GNU/Linux 12 (bookworm) 6.1.0-18-amd64"});
    EXPECT_EQ(url.toEncoded(),
              "mailto:support@tavrolin.app?subject=Tavrolin%20Feedback&body=Please%20describe%"
              "20what%20happened%20and%20what%20you%20expected.%0A%0A%0A---%0ATavrolin%201.2.3%"
              "20(45)%0ADebian%20GNU/Linux%2012%20(bookworm)%206.1.0-18-amd64");
    EXPECT_EQ(url.scheme(), "mailto");
    EXPECT_EQ(url.path(), "support@tavrolin.app");

    // Missing versions fall back.
    const QUrl odd = makeFeedbackMailURL(FeedbackFacts{std::nullopt, QString(), "Linux & Co=1+1#"});
    const QString body = QUrlQuery(odd).queryItemValue("body", QUrl::FullyDecoded);
    EXPECT_TRUE(body.endsWith("\n---\nTavrolin Development (Unknown)\nLinux & Co=1+1#"))
        << body.toStdString();
    EXPECT_EQ(QUrlQuery(odd).queryItems().size(), 2);
    EXPECT_EQ(odd.fragment(), QString());
}

TEST(FeedbackMail, OsReleaseQuotingAndFallbacks) {
    EXPECT_EQ(operatingSystemText("NAME=\"Debian GNU/Linux\"\n"
                                  "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"
                                  "VERSION_ID=\"12\"\n",
                                  "6.1.0-18-amd64"),
              "Debian GNU/Linux 12 (bookworm) 6.1.0-18-amd64");
    EXPECT_EQ(operatingSystemText("PRETTY_NAME='Arch Linux'\n", "6.6.1"), "Arch Linux 6.6.1");
    EXPECT_EQ(operatingSystemText("PRETTY_NAME=Plain\n", ""), "Plain");
    EXPECT_EQ(operatingSystemText("PRETTY_NAME=\"Say \\\"hi\\\"\"\n", "1"), "Say \"hi\" 1");
    EXPECT_EQ(operatingSystemText("", "6.1"), "Linux 6.1");
    // The running system gives a non-empty text that ends with the kernel release.
    EXPECT_FALSE(operatingSystemText().isEmpty());
    EXPECT_TRUE(supportPageURL().isValid());
    EXPECT_EQ(supportPageURL().scheme(), "https");
}
