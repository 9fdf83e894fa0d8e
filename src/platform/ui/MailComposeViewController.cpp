#include "platform/ui/MailComposeViewController.h"

#include <gumbo.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <ctime>
#include <mutex>

#include "platform/foundation/Base64.h"
#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Strings.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/FileSupport.h"
#include "platform/ui/Label.h"

namespace platform {
namespace {

constexpr const char* kCRLF = "\r\n";
constexpr std::size_t kBase64LineLength = 76;
constexpr std::size_t kHeaderLineLength = 78;
// Bytes of UTF-8 text per encoded word: 45 bytes make 60 Base64 characters, which with the
// "=?UTF-8?B?" and "?=" framing stays within a 78-character header line.
constexpr std::size_t kEncodedWordBytes = 45;
constexpr const char* kDefaultMimeType = "application/octet-stream";
constexpr const char* kFormTitle = "New Message";
constexpr const char* kCancelTitle = "Cancel";
constexpr const char* kSendTitle = "Send";
constexpr const char* kNotSetUpReason = "Mail is not set up on this device";
constexpr const char* kNoRecipientReason = "The message has no recipient";
constexpr int kFormLabelHeight = 24;

// An HTML body as the composer shows it: the text of the markup, without tags; runs of
// white space as one space, a blank line between paragraphs, a line break for <br> and
// between other blocks; scripts, styles and the head left out.
class HTMLBodyText {
public:
    explicit HTMLBodyText(const std::string& html) {
        GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, html.data(), html.size());
        walk(output->root);
        gumbo_destroy_output(&kGumboDefaultOptions, output);
    }
    const std::string& text() const { return text_; }

private:
    void walk(const GumboNode* node) {
        if (node->type == GUMBO_NODE_TEXT || node->type == GUMBO_NODE_WHITESPACE || node->type == GUMBO_NODE_CDATA) {
            addText(node->v.text.text);
            return;
        }
        if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_DOCUMENT)
            return;
        int breaks = 0;
        if (node->type == GUMBO_NODE_ELEMENT) {
            switch (node->v.element.tag) {
            case GUMBO_TAG_HEAD:
            case GUMBO_TAG_SCRIPT:
            case GUMBO_TAG_STYLE:
            case GUMBO_TAG_TITLE:
            case GUMBO_TAG_TEMPLATE:
                return;
            case GUMBO_TAG_BR:
                pendingBreaks_ = std::min(pendingBreaks_ + 1, kMostBreaks);
                return;
            case GUMBO_TAG_P:
            case GUMBO_TAG_H1:
            case GUMBO_TAG_H2:
            case GUMBO_TAG_H3:
            case GUMBO_TAG_H4:
            case GUMBO_TAG_H5:
            case GUMBO_TAG_H6:
            case GUMBO_TAG_BLOCKQUOTE:
            case GUMBO_TAG_UL:
            case GUMBO_TAG_OL:
            case GUMBO_TAG_TABLE:
                breaks = 2;
                break;
            case GUMBO_TAG_DIV:
            case GUMBO_TAG_LI:
            case GUMBO_TAG_TR:
            case GUMBO_TAG_HR:
                breaks = 1;
                break;
            default:
                break;
            }
        }
        const GumboVector& children =
            node->type == GUMBO_NODE_DOCUMENT ? node->v.document.children : node->v.element.children;
        blockBreak(breaks);
        for (unsigned i = 0; i < children.length; ++i)
            walk(static_cast<const GumboNode*>(children.data[i]));
        blockBreak(breaks);
    }

    void blockBreak(int breaks) {
        pendingBreaks_ = std::max(pendingBreaks_, breaks);
    }

    void addText(const char* s) {
        for (; *s; ++s) {
            if (std::isspace(static_cast<unsigned char>(*s))) {
                pendingSpace_ = true;
                continue;
            }
            if (!text_.empty()) {
                if (pendingBreaks_ > 0)
                    text_.append(std::size_t(pendingBreaks_), '\n');
                else if (pendingSpace_)
                    text_ += ' ';
            }
            pendingBreaks_ = 0;
            pendingSpace_ = false;
            text_ += *s;
        }
    }

    static constexpr int kMostBreaks = 2;
    std::string text_;
    int pendingBreaks_ = 0;
    bool pendingSpace_ = false;
};

std::atomic<bool> gCanSendMail{true};
std::mutex gSenderMutex;
std::string gSender = kDefaultSenderAddress;

bool isAscii(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80)
            return false;
    return true;
}

// A header value kept on one line: CR, LF and other control characters become blanks.
std::string oneLine(std::string_view s) {
    std::string out;
    for (char c : s)
        out.push_back(static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c);
    return std::string(trim(out));
}

// An unstructured header value: plain when it is ASCII, else RFC 2047 encoded words that
// never split a UTF-8 sequence.
std::string encodeHeaderText(std::string_view raw) {
    std::string text = oneLine(raw);
    if (isAscii(text))
        return text;
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t end = std::min(text.size(), i + kEncodedWordBytes);
        while (end < text.size() && end > i && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
            --end;
        if (!out.empty())
            out += std::string(kCRLF) + " ";
        out += "=?UTF-8?B?" + base64Encode(std::string_view(text).substr(i, end - i)) + "?=";
        i = end;
    }
    return out;
}

bool isAddressCharacter(char c) {
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F)
        return false;
    return std::string_view("<>()[]\\,;:\"").find(c) == std::string_view::npos;
}

// "local@domain": one "@", both sides present, no blanks or specials.
bool isPlainAddress(std::string_view a) {
    auto at = a.find('@');
    if (at == std::string_view::npos || at == 0 || at + 1 >= a.size() ||
        a.find('@', at + 1) != std::string_view::npos)
        return false;
    for (char c : a)
        if (!isAddressCharacter(c))
            return false;
    return true;
}

// A recipient as it goes into a header ("a@b" or "Name <a@b>"), or nullopt when it is not
// an address.
std::optional<std::string> formatRecipient(std::string_view raw) {
    std::string r(trim(raw));
    if (r.find_first_of("\r\n") != std::string::npos)
        return std::nullopt;
    auto lt = r.rfind('<');
    if (lt != std::string::npos && !r.empty() && r.back() == '>') {
        std::string address = r.substr(lt + 1, r.size() - lt - 2);
        if (!isPlainAddress(address))
            return std::nullopt;
        std::string name(trim(std::string_view(r).substr(0, lt)));
        if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
            name = name.substr(1, name.size() - 2);
        if (name.empty())
            return address;
        if (!isAscii(name))
            return encodeHeaderText(name) + " <" + address + ">";
        std::string quoted;
        for (char c : oneLine(name)) {
            if (c == '"' || c == '\\')
                quoted.push_back('\\');
            quoted.push_back(c);
        }
        return "\"" + quoted + "\" <" + address + ">";
    }
    if (!isPlainAddress(r))
        return std::nullopt;
    return r;
}

// "Name: a, b, c" folded before any line would pass kHeaderLineLength.
std::string addressHeader(const char* name, const std::vector<std::string>& addresses) {
    std::string out = std::string(name) + ": ";
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        std::string piece = addresses[i] + (i + 1 < addresses.size() ? "," : "");
        if (i > 0) {
            if (out.size() - lineStart + 1 + piece.size() > kHeaderLineLength) {
                out += kCRLF;
                lineStart = out.size();
            }
            out += " ";
        }
        out += piece;
    }
    return out + kCRLF;
}

std::string base64Lines(std::string_view bytes) {
    std::string encoded = base64Encode(bytes);
    std::string out;
    for (std::size_t i = 0; i < encoded.size(); i += kBase64LineLength)
        out += encoded.substr(i, kBase64LineLength) + kCRLF;
    return out;
}

std::string rfc5322Date(double secondsSince1970) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::time_t t = std::time_t(secondsSince1970);
    std::tm tm{};
    gmtime_r(&t, &tm);
    return formatString("%s, %02d %s %04d %02d:%02d:%02d +0000", kDays[tm.tm_wday], tm.tm_mday,
                        kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

// "type/subtype" made of token characters, else the generic binary type.
std::string safeMimeType(std::string_view raw) {
    std::string t = toLower(trim(raw));
    auto slash = t.find('/');
    bool ok = slash != std::string::npos && slash > 0 && slash + 1 < t.size() &&
              t.find('/', slash + 1) == std::string::npos;
    for (char c : t)
        ok = ok && (std::isalnum(static_cast<unsigned char>(c)) ||
                    std::string_view("/!#$&^_.+-").find(c) != std::string_view::npos);
    return ok ? t : kDefaultMimeType;
}

// The file-name parameters of an attachment, quoted safely; non-ASCII names use the
// extended form of RFC 2231 with a plain fallback.
std::string fileNameParameter(const char* parameter, std::string_view raw) {
    std::string name = oneLine(raw);
    std::string plain;
    for (char c : name)
        plain.push_back(c == '"' || c == '\\' || c == '/' || static_cast<unsigned char>(c) >= 0x80 ? '_' : c);
    if (plain.empty())
        plain = "attachment";
    std::string out = std::string(parameter) + "=\"" + plain + "\"";
    if (!isAscii(name)) {
        std::string encoded;
        for (unsigned char c : name) {
            if (std::isalnum(c) || std::string_view("!#$&+-.^_`|~").find(char(c)) != std::string_view::npos)
                encoded.push_back(char(c));
            else
                encoded += formatString("%%%02X", c);
        }
        out += std::string(";") + kCRLF + " " + parameter + "*=UTF-8''" + encoded;
    }
    return out;
}

std::string domainOf(const std::string& address) {
    auto at = address.rfind('@');
    std::string domain = at == std::string::npos ? "" : address.substr(at + 1);
    if (!domain.empty() && domain.back() == '>')
        domain.pop_back();
    return domain.empty() ? "device.invalid" : domain;
}

// The form the composer shows: recipients, subject and body as text.
class MailComposeForm : public ViewController {
public:
    void loadView() override {
        ViewController::loadView();
        auto v = view();
        double width = v->bounds().width();
        for (int i = 0; i < 4; ++i) {
            auto label =
                std::make_shared<Label>(Rect(8, 8 + i * kFormLabelHeight, width - 16, kFormLabelHeight));
            label->setAutoresizingMask(Autoresizing::FlexibleWidth);
            labels_.push_back(label);
            v->addSubview(label);
        }
        body_ = std::make_shared<Label>(
            Rect(8, 8 + 4 * kFormLabelHeight, width - 16, v->bounds().height() - 120));
        body_->setNumberOfLines(0);
        body_->setAutoresizingMask(Autoresizing::FlexibleWidth | Autoresizing::FlexibleHeight);
        v->addSubview(body_);
    }
    void show(const std::vector<std::string>& to, const std::vector<std::string>& cc,
              const std::vector<std::string>& bcc, const std::string& subject, const std::string& body,
              bool isHTML, std::size_t attachments) {
        view();
        labels_[0]->setText("To: " + join(to, ", "));
        labels_[1]->setText("Cc: " + join(cc, ", "));
        labels_[2]->setText("Bcc: " + join(bcc, ", "));
        labels_[3]->setText("Subject: " + subject);
        std::string text = isHTML ? HTMLBodyText(body).text() : body;
        // The count of attachments as plain text: brackets on the text screen mark what `tap`
        // can press.
        if (attachments > 0)
            text += "\n" + std::to_string(attachments) + " attachment" + (attachments == 1 ? "" : "s");
        body_->setText(text);
    }

private:
    std::vector<std::shared_ptr<Label>> labels_;
    std::shared_ptr<Label> body_;
};

} // namespace

std::shared_ptr<MailComposeViewController> MailComposeViewController::create() {
    auto composer = std::make_shared<MailComposeViewController>();
    auto form = std::make_shared<MailComposeForm>();
    form->setTitle(kFormTitle);
    std::weak_ptr<MailComposeViewController> weak = composer;
    form->navigationItem().setLeftBarButtonItem(
        BarButtonItem::withTitle(kCancelTitle, BarButtonItemStyle::Bordered, [weak](BarButtonItem&) {
            if (auto c = weak.lock())
                c->cancel();
        }));
    form->navigationItem().setRightBarButtonItem(
        BarButtonItem::withTitle(kSendTitle, BarButtonItemStyle::Done, [weak](BarButtonItem&) {
            if (auto c = weak.lock())
                c->send();
        }));
    composer->form_ = form;
    composer->setViewControllers({form});
    return composer;
}

MailComposeViewController::MailComposeViewController() = default;
MailComposeViewController::~MailComposeViewController() = default;

bool MailComposeViewController::canSendMail() {
    return gCanSendMail;
}
void MailComposeViewController::setCanSendMailForTesting(bool can) {
    gCanSendMail = can;
}

void MailComposeViewController::setSenderAddress(std::string address) {
    std::lock_guard lock(gSenderMutex);
    gSender = std::move(address);
}

std::string MailComposeViewController::senderAddress() {
    std::lock_guard lock(gSenderMutex);
    return gSender;
}

void MailComposeViewController::setToRecipients(std::vector<std::string> recipients) {
    to_ = std::move(recipients);
    refreshForm();
}
void MailComposeViewController::setCcRecipients(std::vector<std::string> recipients) {
    cc_ = std::move(recipients);
    refreshForm();
}
void MailComposeViewController::setBccRecipients(std::vector<std::string> recipients) {
    bcc_ = std::move(recipients);
    refreshForm();
}
void MailComposeViewController::setSubject(std::string subject) {
    subject_ = std::move(subject);
    refreshForm();
}
void MailComposeViewController::setMessageBody(std::string body, bool isHTML) {
    body_ = std::move(body);
    isHTML_ = isHTML;
    refreshForm();
}
void MailComposeViewController::addAttachmentData(Data data, std::string mimeType, std::string fileName) {
    attachments_.push_back(MailAttachment{std::move(data), std::move(mimeType), std::move(fileName)});
    refreshForm();
}

void MailComposeViewController::loadView() {
    NavigationController::loadView();
    refreshForm();
}

void MailComposeViewController::refreshForm() {
    auto form = std::dynamic_pointer_cast<MailComposeForm>(form_);
    // The form is filled once it is on screen (or about to be); until then only the fields change.
    if (form && (form->isViewLoaded() || isViewLoaded()))
        form->show(to_, cc_, bcc_, subject_, body_, isHTML_, attachments_.size());
}

std::string MailComposeViewController::composeMessage() const {
    std::string sender = senderAddress();
    std::string from = formatRecipient(sender).value_or(kDefaultSenderAddress);
    auto list = [](const std::vector<std::string>& raw) {
        std::vector<std::string> out;
        for (const auto& r : raw)
            if (auto f = formatRecipient(r))
                out.push_back(*f);
        return out;
    };
    std::string m;
    m += "From: " + from + kCRLF;
    if (auto to = list(to_); !to.empty())
        m += addressHeader("To", to);
    if (auto cc = list(cc_); !cc.empty())
        m += addressHeader("Cc", cc);
    if (auto bcc = list(bcc_); !bcc.empty())
        m += addressHeader("Bcc", bcc);
    m += "Subject: " + encodeHeaderText(subject_) + kCRLF;
    m += "Date: " + rfc5322Date(Clock::current().now()) + kCRLF;
    m += "Message-ID: <" + hexString(detail::randomBytes(16)) + "@" + domainOf(from) + ">" + kCRLF;
    m += std::string("MIME-Version: 1.0") + kCRLF;
    std::string bodyType = std::string(isHTML_ ? "text/html" : "text/plain") + "; charset=utf-8";
    if (attachments_.empty()) {
        m += "Content-Type: " + bodyType + kCRLF;
        m += std::string("Content-Transfer-Encoding: base64") + kCRLF + kCRLF;
        m += base64Lines(body_);
        return m;
    }
    // Base64 never contains "-" or "_", so this boundary cannot occur inside a part.
    std::string boundary = "----=_Part_" + hexString(detail::randomBytes(12));
    m += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"" + kCRLF + kCRLF;
    m += std::string("This is a multi-part message in MIME format.") + kCRLF;
    m += "--" + boundary + kCRLF;
    m += "Content-Type: " + bodyType + kCRLF;
    m += std::string("Content-Transfer-Encoding: base64") + kCRLF + kCRLF;
    m += base64Lines(body_);
    for (const auto& a : attachments_) {
        m += "--" + boundary + kCRLF;
        m += "Content-Type: " + safeMimeType(a.mimeType) + "; " + fileNameParameter("name", a.fileName) +
             kCRLF;
        m += std::string("Content-Transfer-Encoding: base64") + kCRLF;
        m += "Content-Disposition: attachment; " + fileNameParameter("filename", a.fileName) + kCRLF + kCRLF;
        m += base64Lines(std::string_view(reinterpret_cast<const char*>(a.data.data()), a.data.size()));
    }
    m += "--" + boundary + "--" + kCRLF;
    return m;
}

std::optional<Error> MailComposeViewController::writeMessage(const std::filesystem::path& folder) {
    std::string text = composeMessage();
    std::time_t t = std::time_t(Clock::current().now());
    std::tm tm{};
    gmtime_r(&t, &tm);
    std::string stamp = formatString("%04d%02d%02d-%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                                     tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    std::filesystem::path path;
    std::error_code ec;
    do {
        path = folder / (stamp + "-" + hexString(detail::randomBytes(4)) + ".eml");
    } while (std::filesystem::exists(path, ec));
    std::string reason;
    if (!detail::writeFileAtomically(path, text, &reason))
        return Error{kMailComposeErrorDomain, 0, "The message could not be written: " + reason, {}};
    written_ = path;
    return std::nullopt;
}

bool MailComposeViewController::send() {
    if (finished_)
        return false;
    if (!canSendMail())
        return finish(MailComposeResult::Failed,
                      Error{kMailComposeErrorDomain, kMailComposeErrorSendFailed, kNotSetUpReason, {}});
    std::size_t count = 0;
    for (const auto* list : {&to_, &cc_, &bcc_}) {
        for (const auto& r : *list) {
            if (!formatRecipient(r))
                return finish(MailComposeResult::Failed, Error{kMailComposeErrorDomain,
                                                               kMailComposeErrorSendFailed,
                                                               "Not a mail address: \"" + oneLine(r) + "\"",
                                                               {}});
            ++count;
        }
    }
    if (count == 0)
        return finish(MailComposeResult::Failed,
                      Error{kMailComposeErrorDomain, kMailComposeErrorSendFailed, kNoRecipientReason, {}});
    if (auto error = writeMessage(DeviceHome::root() / kOutboxFolderName)) {
        error->code = kMailComposeErrorSendFailed;
        return finish(MailComposeResult::Failed, error);
    }
    return finish(MailComposeResult::Sent, std::nullopt);
}

bool MailComposeViewController::cancel() {
    if (finished_)
        return false;
    return finish(MailComposeResult::Cancelled, std::nullopt);
}

bool MailComposeViewController::saveDraft() {
    if (finished_)
        return false;
    if (auto error = writeMessage(DeviceHome::root() / kDraftsFolderName)) {
        error->code = kMailComposeErrorSaveFailed;
        return finish(MailComposeResult::Failed, error);
    }
    return finish(MailComposeResult::Saved, std::nullopt);
}

bool MailComposeViewController::finish(MailComposeResult result, std::optional<Error> error) {
    finished_ = true;
    if (error)
        logLine("MailComposeViewController: " + error->localizedDescription);
    // The composer stays alive until its delegate has heard the result.
    auto self = std::static_pointer_cast<MailComposeViewController>(sharedController());
    RunLoop::main().perform([self, result, error] {
        if (!self)
            return;
        if (auto d = self->mailComposeDelegate())
            d->mailComposeController(*self, result, error);
    });
    return true;
}

} // namespace platform
