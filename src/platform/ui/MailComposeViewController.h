#pragma once
// The mail composer: a screen (a navigation controller with the message form and "Cancel"
// and "Send" buttons in its bar) that the application fills in (recipients, subject, body,
// attachments) and presents modally. The user's decision is simulated: the buttons can be
// tapped, or send(), cancel() and saveDraft() called. The form shows an HTML body as the
// composer renders it: its text without markup, paragraphs and line breaks kept.
//
// Sending writes the message as an RFC 5322 file with MIME parts (the body as text/plain or
// text/html, each attachment Base64-encoded) into "<device home>/Outbox" under a new unique
// name ending in ".eml"; saving a draft writes it into "<device home>/Drafts". The file is
// written under a temporary name and renamed, so the folder never holds half a message.
// Header values are kept on one line (line breaks become blanks), non-ASCII text in headers
// is encoded, and a recipient that is not an address makes sending fail.
//
// The result (cancelled, saved, sent or failed, with the error when failed) reaches the
// delegate, held weakly, on a later turn of the main run loop; the delegate then dismisses
// the composer. After a result is delivered the composer takes no further decision.
// `canSendMail()` answers true unless a test says otherwise. Main thread only.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"
#include "platform/ui/NavigationController.h"

namespace platform {

// The platform's numbers.
enum class MailComposeResult { Cancelled = 0, Saved = 1, Sent = 2, Failed = 3 };

inline constexpr const char* kMailComposeErrorDomain = "MailComposeErrorDomain";
enum MailComposeErrorCode : std::int64_t { kMailComposeErrorSaveFailed = 0, kMailComposeErrorSendFailed = 1 };
inline constexpr const char* kOutboxFolderName = "Outbox";
inline constexpr const char* kDraftsFolderName = "Drafts";
inline constexpr const char* kDefaultSenderAddress = "owner@device.invalid";

class MailComposeViewControllerDelegate {
public:
    virtual ~MailComposeViewControllerDelegate() = default;
    // Selector mailComposeController:didFinishWithResult:error:.
    virtual void mailComposeController(MailComposeViewController& controller, MailComposeResult result,
                                       const std::optional<Error>& error) = 0;
};

struct MailAttachment {
    Data data;
    std::string mimeType;
    std::string fileName;
};

class MailComposeViewController : public NavigationController {
public:
    static std::shared_ptr<MailComposeViewController> create();
    MailComposeViewController();
    ~MailComposeViewController() override;

    static bool canSendMail();
    static void setCanSendMailForTesting(bool can);
    // The sender written into "From"; kDefaultSenderAddress unless set.
    static void setSenderAddress(std::string address);
    static std::string senderAddress();

    std::shared_ptr<MailComposeViewControllerDelegate> mailComposeDelegate() const {
        return delegate_.lock();
    }
    void setMailComposeDelegate(std::weak_ptr<MailComposeViewControllerDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    void setToRecipients(std::vector<std::string> recipients);
    void setCcRecipients(std::vector<std::string> recipients);
    void setBccRecipients(std::vector<std::string> recipients);
    void setSubject(std::string subject);
    void setMessageBody(std::string body, bool isHTML);
    void addAttachmentData(Data data, std::string mimeType, std::string fileName);

    const std::vector<std::string>& toRecipients() const { return to_; }
    const std::vector<std::string>& ccRecipients() const { return cc_; }
    const std::vector<std::string>& bccRecipients() const { return bcc_; }
    const std::string& subject() const { return subject_; }
    const std::string& messageBody() const { return body_; }
    bool isHTML() const { return isHTML_; }
    const std::vector<MailAttachment>& attachments() const { return attachments_; }

    // The user's decisions; each answers false when a result was already given.
    bool send();
    bool cancel();
    bool saveDraft();
    // The file the last send or save wrote.
    const std::optional<std::filesystem::path>& writtenFile() const { return written_; }

    // The message text as it would be written (for tests and the runner).
    std::string composeMessage() const;

    void loadView() override;

private:
    bool finish(MailComposeResult result, std::optional<Error> error);
    std::optional<Error> writeMessage(const std::filesystem::path& folder);
    void refreshForm();

    std::weak_ptr<MailComposeViewControllerDelegate> delegate_;
    std::vector<std::string> to_, cc_, bcc_;
    std::string subject_;
    std::string body_;
    bool isHTML_ = false;
    std::vector<MailAttachment> attachments_;
    std::optional<std::filesystem::path> written_;
    bool finished_ = false;
    std::shared_ptr<ViewController> form_;
};

} // namespace platform
