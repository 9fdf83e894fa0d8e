#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "UiTestSupport.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/DeviceHome.h"
#include "platform/ui/MailComposeViewController.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TextRenderer.h"

using namespace platform;

namespace {

class MailRecorder : public MailComposeViewControllerDelegate {
public:
    std::vector<MailComposeResult> results;
    std::optional<Error> error;
    void mailComposeController(MailComposeViewController& c, MailComposeResult result,
                               const std::optional<Error>& e) override {
        results.push_back(result);
        error = e;
        c.dismissModalViewControllerAnimated(false);
    }
};

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Header block and body of a message (split at the first empty line).
std::pair<std::string, std::string> splitMessage(const std::string& m) {
    auto end = m.find("\r\n\r\n");
    return {m.substr(0, end + 2), m.substr(end + 4)};
}

std::string headerValue(const std::string& headers, const std::string& name) {
    auto start = headers.find(name + ": ");
    if (start == std::string::npos)
        return {};
    start += name.size() + 2;
    std::string value;
    // Unfold continuation lines.
    while (true) {
        auto end = headers.find("\r\n", start);
        value += headers.substr(start, end - start);
        if (end + 2 < headers.size() && (headers[end + 2] == ' ' || headers[end + 2] == '\t')) {
            start = end + 3;
            value += " ";
        } else {
            break;
        }
    }
    return value;
}

std::string decodeBase64Block(const std::string& block) {
    auto data = base64Decode(block);
    return data ? std::string(data->begin(), data->end()) : "<undecodable>";
}

class Mail : public uitest::UiTest {
protected:
    std::shared_ptr<MailComposeViewController> composer = MailComposeViewController::create();
    std::shared_ptr<MailRecorder> recorder = std::make_shared<MailRecorder>();

    std::vector<std::filesystem::path> outbox() {
        std::vector<std::filesystem::path> files;
        std::error_code ec;
        for (auto& e : std::filesystem::directory_iterator(home_ / kOutboxFolderName, ec))
            files.push_back(e.path());
        return files;
    }
};

} // namespace

TEST_F(Mail, SendingWritesAWellFormedMessageWithItsAttachment) {
    composer->setMailComposeDelegate(recorder);
    composer->setSubject("Ferro Wick");
    composer->setBccRecipients({"friends@example.com"});
    composer->setToRecipients({"Ann Example <ann@example.com>", "bob@example.com"});
    composer->setMessageBody("<p>Hello,</p><p>Check out this cool app.</p>", true);
    Data picture{0x89, 'P', 'N', 'G', 0, 1, 2, 3, 0xFF};
    composer->addAttachmentData(picture, "image/jpg", "Default.png");

    EXPECT_TRUE(composer->send());
    EXPECT_TRUE(recorder->results.empty()); // the result comes on a later turn
    clock_.drain();
    ASSERT_EQ(recorder->results, (std::vector<MailComposeResult>{MailComposeResult::Sent}));
    EXPECT_FALSE(recorder->error);
    EXPECT_FALSE(composer->send()); // decided once

    auto files = outbox();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].extension(), ".eml");
    EXPECT_EQ(composer->writtenFile(), files[0]);
    std::string message = readFile(files[0]);
    auto [headers, body] = splitMessage(message);
    EXPECT_EQ(headerValue(headers, "To"), "\"Ann Example\" <ann@example.com>, bob@example.com");
    EXPECT_EQ(headerValue(headers, "Bcc"), "friends@example.com");
    EXPECT_EQ(headerValue(headers, "Subject"), "Ferro Wick");
    EXPECT_EQ(headerValue(headers, "From"), kDefaultSenderAddress);
    EXPECT_EQ(headerValue(headers, "MIME-Version"), "1.0");
    EXPECT_EQ(headerValue(headers, "Date"), "Tue, 14 Nov 2023 22:13:20 +0000"); // the manual clock's date
    EXPECT_FALSE(headerValue(headers, "Message-ID").empty());
    std::string type = headerValue(headers, "Content-Type");
    ASSERT_EQ(type.rfind("multipart/mixed; boundary=\"", 0), 0u);
    std::string boundary = type.substr(type.find('"') + 1);
    boundary.pop_back();

    // Every line ends in CRLF and stays within the line limit.
    for (std::size_t pos = 0; pos < message.size();) {
        auto end = message.find("\r\n", pos);
        ASSERT_NE(end, std::string::npos);
        EXPECT_LE(end - pos, 78u);
        EXPECT_EQ(message.substr(pos, end - pos).find('\n'), std::string::npos);
        pos = end + 2;
    }

    // Two parts: the HTML body and the attachment, each Base64 encoded.
    std::vector<std::string> parts;
    std::string delimiter = "--" + boundary + "\r\n";
    for (auto pos = body.find(delimiter); pos != std::string::npos;) {
        auto next = body.find("\r\n--" + boundary, pos + delimiter.size());
        parts.push_back(body.substr(pos + delimiter.size(), next - pos - delimiter.size() + 2));
        pos = body.find(delimiter, next);
    }
    EXPECT_NE(body.find("--" + boundary + "--\r\n"), std::string::npos);
    ASSERT_EQ(parts.size(), 2u);
    auto [bodyHeaders, bodyContent] = splitMessage(parts[0]);
    EXPECT_EQ(headerValue(bodyHeaders, "Content-Type"), "text/html; charset=utf-8");
    EXPECT_EQ(decodeBase64Block(bodyContent), "<p>Hello,</p><p>Check out this cool app.</p>");
    auto [fileHeaders, fileContent] = splitMessage(parts[1]);
    EXPECT_EQ(headerValue(fileHeaders, "Content-Type"), "image/jpg; name=\"Default.png\"");
    EXPECT_EQ(headerValue(fileHeaders, "Content-Disposition"), "attachment; filename=\"Default.png\"");
    EXPECT_EQ(decodeBase64Block(fileContent), std::string(picture.begin(), picture.end()));
}

TEST_F(Mail, HeaderValuesCannotInjectHeadersAndNonAsciiIsEncoded) {
    composer->setSubject("Hi\r\nBcc: victim@example.com");
    composer->setToRecipients({"ann@example.com"});
    composer->setMessageBody("plain", false);
    auto [headers, body] = splitMessage(composer->composeMessage());
    EXPECT_EQ(headerValue(headers, "Subject"), "Hi  Bcc: victim@example.com");
    EXPECT_EQ(headers.find("\r\nBcc:"), std::string::npos);
    EXPECT_EQ(headerValue(headers, "Content-Type"), "text/plain; charset=utf-8");

    composer->setSubject("Grüße aus Köln");
    auto [encoded, unused] = splitMessage(composer->composeMessage());
    std::string subject = headerValue(encoded, "Subject");
    ASSERT_EQ(subject.rfind("=?UTF-8?B?", 0), 0u);
    EXPECT_EQ(decodeBase64Block(subject.substr(10, subject.size() - 12)), "Grüße aus Köln");
}

TEST_F(Mail, BadRecipientsAndAMissingMailSetupFail) {
    struct Case {
        const char* name;
        std::vector<std::string> to;
        bool canSend;
    };
    const Case cases[] = {
        {"not an address", {"friends at example"}, true},
        {"line break inside", {"a@example.com\r\nBcc: b@example.com"}, true},
        {"no recipients", {}, true},
        {"mail not set up", {"ann@example.com"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto mail = MailComposeViewController::create();
        auto rec = std::make_shared<MailRecorder>();
        mail->setMailComposeDelegate(rec);
        mail->setToRecipients(c.to);
        MailComposeViewController::setCanSendMailForTesting(c.canSend);
        EXPECT_EQ(MailComposeViewController::canSendMail(), c.canSend);
        mail->send();
        clock_.drain();
        ASSERT_EQ(rec->results, (std::vector<MailComposeResult>{MailComposeResult::Failed}));
        ASSERT_TRUE(rec->error);
        EXPECT_EQ(rec->error->domain, kMailComposeErrorDomain);
        EXPECT_EQ(rec->error->code, kMailComposeErrorSendFailed);
        MailComposeViewController::setCanSendMailForTesting(true);
    }
    EXPECT_TRUE(outbox().empty());
}

TEST_F(Mail, PresentedModallyTheUserCanCancelOrSendFromItsBar) {
    auto window = makeKeyWindow();
    auto root = std::make_shared<ViewController>();
    auto nav = NavigationController::create(root);
    window->setRootViewController(nav);
    composer->setMailComposeDelegate(recorder);
    composer->setSubject("Ferro Wick");
    composer->setToRecipients({"ann@example.com"});
    composer->navigationBar().setTintColor(Color::grayColor());
    root->presentModalViewController(composer, true);
    clock_.advance(kModalTransitionDuration);

    auto screen = TextRenderer::renderScreen();
    EXPECT_NE(screen.find("Subject: Ferro Wick"), std::string::npos);
    EXPECT_NE(screen.find("[Send]"), std::string::npos);
    EXPECT_TRUE(TextRenderer::tap("Cancel"));
    clock_.drain();
    EXPECT_EQ(recorder->results, (std::vector<MailComposeResult>{MailComposeResult::Cancelled}));
    EXPECT_EQ(nav->presentedViewController(), nullptr); // the delegate dismissed it
    EXPECT_TRUE(outbox().empty());
}

TEST_F(Mail, SavingADraftWritesIntoDrafts) {
    composer->setMailComposeDelegate(recorder);
    composer->setSubject("later");
    EXPECT_TRUE(composer->saveDraft());
    clock_.drain();
    EXPECT_EQ(recorder->results, (std::vector<MailComposeResult>{MailComposeResult::Saved}));
    ASSERT_TRUE(composer->writtenFile());
    EXPECT_EQ(composer->writtenFile()->parent_path(), home_ / kDraftsFolderName);
}
